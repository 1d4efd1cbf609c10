#include "mp3/id3v1.h"
#include "mp3/mp3analysis.h"
#include "mp3/mp3testutil.h"
#include "text/latin1.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tunesift {
namespace {

using namespace std::string_literals;
using test::Bytes;
using test::ScopedDir;

TEST(Latin1, EveryByteSurvivesTheRoundTripThroughUtf8)
{
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    const std::string utf8 = Latin1ToUtf8(all);
    EXPECT_EQ(utf8.size(), 128u + 2 * 128u);
    EXPECT_EQ(Utf8ToLatin1(utf8), all);
    EXPECT_EQ(Latin1ToUtf8("Caf\xE9"), "Caf\xC3\xA9");
}

TEST(Latin1, CharactersOutsideLatin1AndBrokenUtf8BecomeOneQuestionMarkEach)
{
    EXPECT_EQ(Utf8ToLatin1("\xE2\x82\xAC"
                           "5"),
              "?5");                                  // euro sign
    EXPECT_EQ(Utf8ToLatin1("\xF0\x9F\x8E\xB5"), "?"); // outside the BMP
    EXPECT_EQ(Utf8ToLatin1("a\xFF"
                           "b"),
              "a?b");
    EXPECT_EQ(Utf8ToLatin1("\xC3"), "?"); // cut short
}

TEST(Genres, TableKeepsTheShiftedNumberingAfterTheSecondRock)
{
    EXPECT_EQ(GenreName(0), "Blues");
    EXPECT_EQ(GenreName(17), "Rock");
    EXPECT_EQ(GenreName(39), "Noise");
    EXPECT_EQ(GenreName(40), "Rock");
    EXPECT_EQ(GenreName(41), "Alt");
    EXPECT_EQ(GenreName(42), "Bass");
    EXPECT_EQ(GenreName(79), "Rock & Roll");
    EXPECT_EQ(GenreName(124), "A Cappella");
    EXPECT_EQ(GenreName(137), "Christian Gangsta Rap");
    EXPECT_EQ(GenreName(147), "JPop");
    EXPECT_EQ(GenreName(148), "Synthpop");
    EXPECT_EQ(GenreName(149), "");
    EXPECT_EQ(GenreName(255), "");
}

TEST(Genres, EveryNameFindsItsOwnIndexExceptTheSecondRock)
{
    for (int i = 0; i < kGenreCount; ++i) {
        const std::string name = GenreName(static_cast<std::uint8_t>(i));
        ASSERT_FALSE(name.empty()) << i;
        EXPECT_EQ(GenreIndexOfName(name), i == 40 ? 17 : i) << name;
    }
}

TEST(Genres, LookupIgnoresCaseAndSurroundingSpacesOnly)
{
    Mp3Analysis info;
    EXPECT_EQ(info.genreIdOf("  jazz+funk  "), 29);
    EXPECT_EQ(info.genreIdOf("ROCK"), 17);
    EXPECT_EQ(info.genreIdOf("synthPOP"), 148);
    EXPECT_EQ(info.genreIdOf("Drum & Bass"), 128);
    EXPECT_EQ(info.genreIdOf("Drum  & Bass"), 255);
    EXPECT_EQ(info.genreIdOf("Rock "s + '\0'), 255);
    EXPECT_EQ(info.genreIdOf("Jazz Funk"), 255);
    EXPECT_EQ(info.genreIdOf(""), 255);
    EXPECT_EQ(info.genreIdOf("    "), 255);
    EXPECT_EQ(info.genreIdOf("\tRock"), 255);
    EXPECT_EQ(info.genreIdOf("Ro"), 255);
    EXPECT_EQ(info.genreIdOf("Rocks"), 255);
    EXPECT_EQ(info.genreIdOf("Ro\xFF"
                             "ck"),
              255);
#ifndef _WIN32 // ICU's special cases; the Windows system mapping leaves these letters alone
    // A letter outside ASCII matches when its lower case is the ASCII letter (Kelvin sign, k).
    EXPECT_EQ(info.genreIdOf("FOL\xE2\x84\xAA"), 81);
#endif
}

TEST(TagMembers, NewObjectHasTheEmptyTag)
{
    const Mp3Analysis info;
    EXPECT_FALSE(info.hasId3v1Tag());
    EXPECT_EQ(info.title(), "");
    EXPECT_EQ(info.artist(), "");
    EXPECT_EQ(info.album(), "");
    EXPECT_EQ(info.year(), "");
    EXPECT_EQ(info.comment(), "");
    EXPECT_EQ(info.genreId(), 0);
    EXPECT_EQ(info.genreName(), "Blues");
    EXPECT_EQ(info.trackNumber(), 0);
    EXPECT_EQ(info.genreCount(), 149);
}

TEST(TagMembers, TextIsCutToThirtyCharactersAndAtAnEmbeddedNul)
{
    Mp3Analysis info;
    info.setTitle("123456789012345678901234567890EXTRA");
    EXPECT_EQ(info.title(), "123456789012345678901234567890");
    info.setArtist("Art\0ist"s);
    EXPECT_EQ(info.artist(), "Art");
    info.setAlbum("  spaced  ");
    EXPECT_EQ(info.album(), "  spaced  ");
    info.setComment("");
    EXPECT_EQ(info.comment(), "");
}

TEST(TagMembers, WidthCountsCharactersNotUtf8Bytes)
{
    Mp3Analysis info;
    const std::string thirtyAccents = [] {
        std::string s;
        for (int i = 0; i < 31; ++i) {
            s += "\xC3\xA9"; // é
        }
        return s;
    }();
    info.setTitle(thirtyAccents);
    EXPECT_EQ(info.title(), thirtyAccents.substr(0, 60));
    info.setArtist("\xE2\x82\xAC"
                   "uro"); // the euro sign has no Latin-1 byte
    EXPECT_EQ(info.artist(), "?uro");
}

TEST(TagMembers, YearAcceptsOnlyDigitsInItsFirstFourCharacters)
{
    Mp3Analysis info;
    info.setYear("1999abc");
    EXPECT_EQ(info.year(), "1999");
    info.setYear("85");
    EXPECT_EQ(info.year(), "85");
    info.setYear("19x9");
    EXPECT_EQ(info.year(), "85") << "a letter among the first four leaves the year alone";
    info.setYear(" 199");
    EXPECT_EQ(info.year(), "85");
    info.setYear("\xC2\xB2"
                 "000"); // superscript two is not a digit
    EXPECT_EQ(info.year(), "85");
    info.setYear("");
    EXPECT_EQ(info.year(), "");
    info.setYear("2024");
    info.setYear("1"s + '\0' + "99");
    EXPECT_EQ(info.year(), "2024") << "NUL is not a digit";
}

TEST(TagMembers, TrackNumberAndGenreByte)
{
    Mp3Analysis info;
    info.setTrackNumber(12);
    EXPECT_EQ(info.trackNumber(), 12);
    info.setTrackNumber(0);
    EXPECT_EQ(info.trackNumber(), 0);
    info.setGenreId(148);
    EXPECT_EQ(info.genreName(), "Synthpop");
    info.setGenreId(149);
    EXPECT_EQ(info.genreId(), 149);
    EXPECT_EQ(info.genreName(), "");
    info.setGenreId(255);
    EXPECT_EQ(info.genreName(), "");
}

TEST(TagImage, TrackVariantIsDetectedOnlyWithByte28ZeroAndByte29Set)
{
    const auto parse = [](const std::string& comment) {
        const Bytes tag = test::id3v1Tag({.comment = comment});
        return ParseID3v1Tag(std::span<const unsigned char, 128>(tag.data(), 128));
    };
    const ID3v1Tag withTrack = parse(std::string(28, 'c') + '\0' + '\x07');
    EXPECT_TRUE(withTrack.hasTrack);
    EXPECT_EQ(withTrack.track, 7);
    EXPECT_EQ(std::string(withTrack.comment.data(), 30), std::string(28, 'c') + '\0' + '\x07');

    const ID3v1Tag noTrackNumber = parse(std::string(28, 'c') + '\0' + '\0');
    EXPECT_FALSE(noTrackNumber.hasTrack);
    EXPECT_EQ(noTrackNumber.track, 0);

    const ID3v1Tag fullComment = parse(std::string(30, 'c'));
    EXPECT_FALSE(fullComment.hasTrack);
    EXPECT_EQ(fullComment.track, 0);
}

TEST(TagImage, TrackBytesOverrideTheCommentWhenWriting)
{
    ID3v1Tag tag;
    tag.comment = PadField<30>(std::string(30, 'x'));
    tag.hasTrack = true;
    tag.track = 5;
    const auto image = ID3v1TagImage(tag);
    EXPECT_EQ(std::string(image.begin() + 97, image.begin() + 125), std::string(28, 'x'));
    EXPECT_EQ(image[125], 0);
    EXPECT_EQ(image[126], 5);

    tag.hasTrack = false;
    const auto plain = ID3v1TagImage(tag);
    EXPECT_EQ(plain[125], 'x');
    EXPECT_EQ(plain[126], 'x');
}

class ReadTagTitleTest : public ::testing::Test
{
protected:
    std::string make(const std::string& name, const Bytes& bytes)
    {
        const std::string path = m_dir.file(name);
        test::writeFile(path, bytes);
        return path;
    }

    ScopedDir m_dir;
};

TEST_F(ReadTagTitleTest, TrailingSpacesGoNulsStay)
{
    const Bytes audio(1000, 0x55);
    EXPECT_EQ(ReadTagTitle(make("spaces.mp3",
                                test::concat({audio, test::id3v1Tag({.title = "Song  "}, ' ')}))),
              "Song");
    EXPECT_EQ(
        ReadTagTitle(make("nuls.mp3", test::concat({audio, test::id3v1Tag({.title = "Abcd"})}))),
        "Abcd" + std::string(26, '\0'));
    EXPECT_EQ(ReadTagTitle(make("blank.mp3", test::concat({audio, test::id3v1Tag({}, ' ')}))), "");
    EXPECT_EQ(ReadTagTitle(make("inner.mp3",
                                test::concat({audio, test::id3v1Tag({.title = " a b "}, ' ')}))),
              " a b");
    EXPECT_EQ(ReadTagTitle(make("latin1.mp3",
                                test::concat({audio, test::id3v1Tag({.title = "Caf\xE9"}, ' ')}))),
              "Caf\xC3\xA9");
}

TEST_F(ReadTagTitleTest, OnlyTheExactIdentifierAtTheVeryEndCounts)
{
    const Bytes audio(300, 0);
    EXPECT_FALSE(ReadTagTitle(
        make("lower.mp3", test::concat({audio, test::id3v1Tag({.title = "x"}, ' ', "tag")}))));
    EXPECT_FALSE(ReadTagTitle(
        make("mixed.mp3", test::concat({audio, test::id3v1Tag({.title = "x"}, ' ', "Tag")}))));
    // A tag followed by one more byte is not at the end any more.
    Bytes shifted = test::concat({audio, test::id3v1Tag({.title = "x"}, ' ')});
    shifted.push_back(0);
    EXPECT_FALSE(ReadTagTitle(make("shifted.mp3", shifted)));
}

TEST_F(ReadTagTitleTest, ShortAndExactly128ByteFiles)
{
    EXPECT_FALSE(ReadTagTitle(make("empty.mp3", {})));
    EXPECT_FALSE(ReadTagTitle(make("three.mp3", {'T', 'A', 'G'})));
    Bytes almost = test::id3v1Tag({.title = "Short"}, ' ');
    almost.pop_back();
    EXPECT_FALSE(ReadTagTitle(make("127.mp3", almost)));
    EXPECT_EQ(ReadTagTitle(make("128.mp3", test::id3v1Tag({.title = "Whole"}, ' '))), "Whole");

    Mp3Analysis info;
    info.analyse(m_dir.file("128.mp3"));
    EXPECT_FALSE(info.hasId3v1Tag()) << "the analysis looks for a tag only beyond 128 bytes";
}

TEST_F(ReadTagTitleTest, UnreadableThingsHaveNoTitle)
{
    EXPECT_FALSE(ReadTagTitle(m_dir.file("missing.mp3")));
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("missing.mp3"))) << "reading never creates";
    EXPECT_FALSE(ReadTagTitle(""));
    EXPECT_FALSE(ReadTagTitle(make("x.mp3", test::id3v1Tag({.title = "t"})) + '\0' + "junk"));

    std::filesystem::create_directory(m_dir.file("folder.mp3"));
    EXPECT_FALSE(ReadTagTitle(m_dir.file("folder.mp3")));

#ifndef _WIN32 // no FIFOs in Windows folders
    // Nobody writes to this FIFO: opening it for a plain read would wait forever.
    ASSERT_EQ(::mkfifo(m_dir.file("fifo.mp3").c_str(), 0600), 0);
    EXPECT_FALSE(ReadTagTitle(m_dir.file("fifo.mp3")));
#endif
}

#ifndef _WIN32 // POSIX permission bits
TEST_F(ReadTagTitleTest, FileWithoutReadPermission)
{
    const std::string path = make("locked.mp3", test::concat({Bytes(10, 0), test::id3v1Tag({})}));
    ::chmod(path.c_str(), 0);
    test::asUnprivilegedUser([&] { EXPECT_FALSE(ReadTagTitle(path)); });
}
#endif

TEST_F(ReadTagTitleTest, FileThatVanishesBetweenTwoCalls)
{
    const std::string path =
        make("gone.mp3", test::concat({Bytes(10, 0), test::id3v1Tag({.title = "Here"}, ' ')}));
    EXPECT_EQ(ReadTagTitle(path), "Here");
    std::filesystem::remove(path);
    EXPECT_FALSE(ReadTagTitle(path));
}

} // namespace
} // namespace tunesift
