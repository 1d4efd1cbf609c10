#include "files/fileaccess.h"
#include "mp3/id3v1.h"
#include "mp3/literalsearch.h"
#include "mp3/mp3analysis.h"
#include "mp3/mp3testutil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace tunesift {
namespace {

using test::Bytes;
using test::put;

// Sync bytes and tag identifiers sprinkled over filler. In a dense file nearly every candidate
// is hopeless and they stand a few bytes apart, so the search runs far and crosses the ends of
// its read blocks with candidates all around, wherever those ends happen to be.
Bytes randomFile(std::mt19937& random, bool dense)
{
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::size_t size =
        percent(random) < 30 ? std::uniform_int_distribution<std::size_t>(0, 400)(random)
                             : std::uniform_int_distribution<std::size_t>(60000, 200000)(random);
    Bytes bytes(size);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(byte(random) % 0x49); // no 0xFF, no 'I'
    }
    const auto randomHeader = [&] {
        Bytes tag =
            test::id3v2Header(std::uniform_int_distribution<std::uint32_t>(0, 80000)(random), false,
                              static_cast<unsigned char>(byte(random) & 0x10),
                              static_cast<unsigned char>(percent(random) < 80 ? 3 : byte(random)),
                              static_cast<unsigned char>(percent(random) < 80 ? 0 : byte(random)));
        if (percent(random) < 15) {
            tag[6 + static_cast<std::size_t>(byte(random) % 4)] |= 0x80;
        }
        return tag;
    };
    const auto sprinkle = [&](std::size_t at) {
        if (at >= bytes.size()) {
            return;
        }
        if (percent(random) < 85) {
            bytes[at] = 0xFF;
            if (at + 1 < bytes.size()) {
                bytes[at + 1] = static_cast<unsigned char>(byte(random) | 0xC0);
            }
            if (at + 2 < bytes.size()) {
                bytes[at + 2] = static_cast<unsigned char>(byte(random));
            }
        } else {
            const Bytes tag = randomHeader();
            for (std::size_t i = 0; i < tag.size() && at + i < bytes.size(); ++i) {
                bytes[at + i] = tag[i];
            }
        }
    };
    const auto hopeless = [&](std::size_t at) {
        const Bytes candidate =
            percent(random) < 70
                ? Bytes{0xFF, 0xFF, static_cast<unsigned char>(0xF0 | (byte(random) & 0x0F))}
                : test::id3v2Header(0x80 + static_cast<std::uint32_t>(byte(random)), false, 0,
                                    0xFF); // version word 255
        for (std::size_t i = 0; i < candidate.size() && at + i < bytes.size(); ++i) {
            bytes[at + i] = candidate[i];
        }
    };
    if (dense) {
        std::uniform_int_distribution<std::size_t> gap(1, 40);
        for (std::size_t at = gap(random); at < size; at += gap(random)) {
            if (percent(random) < 99) {
                hopeless(at);
            } else {
                sprinkle(at);
            }
        }
    } else {
        const std::size_t sprinkles = size / 700 + 1;
        for (std::size_t i = 0; i < sprinkles && size > 0; ++i) {
            sprinkle(std::uniform_int_distribution<std::size_t>(0, size - 1)(random));
        }
    }
    if (percent(random) < 20 && size >= 10) {
        put(bytes, 0, randomHeader());
    }
    if (percent(random) < 30 && size > 128) {
        put(bytes, size - 128, test::id3v1Tag({}));
    }
    if (percent(random) < 15 && size > 140) {
        const bool tagged = percent(random) < 50;
        const std::size_t end = size - (tagged ? 128 : 0);
        if (tagged) {
            put(bytes, size - 128, test::id3v1Tag({}));
        }
        Bytes footer = randomHeader();
        footer[0] = '3';
        footer[1] = 'D';
        footer[2] = 'I';
        put(bytes, end - 10, footer);
    }
    return bytes;
}

TEST(FrameSearch, BlockWiseSearchFindsWhatTheLiteralSearchFinds)
{
    test::ScopedDir dir;
    const std::string path = dir.file("random.mp3");
    std::mt19937 random(20240611);
    Mp3Analysis info;
    int found = 0;
    int skipped = 0;
    for (int round = 0; round < 300; ++round) {
        const Bytes bytes = randomFile(random, round % 4 == 1);
        const bool headerTest = round % 3 != 0;
        test::writeFile(path, bytes);
        info.setSkipsEmbeddedID3v2(headerTest);
        info.analyse(path);
        const test::SearchOutcome expected = test::literalSearch(bytes, headerTest);
        SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(bytes.size()) +
                     " bytes");
        ASSERT_EQ(info.path().empty(), !expected.found);
        EXPECT_EQ(info.firstFrameOffset(), expected.headerOffset);
        EXPECT_EQ(info.hasId3v2Tag(), expected.id3v2Present);
        EXPECT_EQ(info.id3v2Offset(), expected.id3v2Offset);
        EXPECT_EQ(info.id3v2Size(), expected.id3v2Size);
        found += expected.found ? 1 : 0;
        skipped += expected.found && expected.id3v2Present && expected.id3v2Offset > 0 ? 1 : 0;
    }
    // The generator must exercise both outcomes and the embedded skip, or the test proves little.
    EXPECT_GT(found, 50);
    EXPECT_LT(found, 290);
    EXPECT_GT(skipped, 5);
}

class BadInputTest : public ::testing::Test
{
protected:
    std::string make(const std::string& name, const Bytes& bytes)
    {
        const std::string path = m_dir.file(name);
        test::writeFile(path, bytes);
        return path;
    }

    static void expectNothingFound(const Mp3Analysis& info)
    {
        EXPECT_FALSE(info.isValidMp3());
        EXPECT_EQ(info.bitRate(), 0);
        EXPECT_EQ(info.formattedSongLength(), "00:00");
        EXPECT_FALSE(info.hasId3v1Tag());
        EXPECT_EQ(info.title(), "");
    }

    test::ScopedDir m_dir;
};

TEST_F(BadInputTest, TinyFilesAreNotValid)
{
    Mp3Analysis info;
    for (std::size_t size = 0; size <= 7; ++size) {
        info.analyse(make("tiny" + std::to_string(size) + ".mp3", Bytes(size, 0xFF)));
        expectNothingFound(info);
        EXPECT_FALSE(ReadTagTitle(m_dir.file("tiny" + std::to_string(size) + ".mp3")));
    }
}

TEST_F(BadInputTest, SyncBytesEverywhere)
{
    Mp3Analysis info;
    info.analyse(make("ff.mp3", Bytes(100000, 0xFF))); // FF FF: Layer I, bit-rate index 15
    expectNothingFound(info);
    EXPECT_EQ(info.path(), "");

    Bytes frames;
    for (int i = 0; i < 1000; ++i) {
        frames.insert(frames.end(), {0xFF, 0xFB, 0x90, 0x64});
    }
    info.analyse(make("frames.mp3", frames));
    EXPECT_TRUE(info.isValidMp3());
    EXPECT_EQ(info.firstFrameOffset(), 0);
}

TEST_F(BadInputTest, FailedSearchResetsEverythingButTheEmbeddedTagSetting)
{
    Bytes good(5000, 0);
    put(good, 10, test::frameHeader({}));
    good = test::concat({good, test::id3v1Tag({.title = "Kept?", .genre = 7})});
    Mp3Analysis info;
    info.setSkipsEmbeddedID3v2(false);
    info.analyse(make("good.mp3", good));
    ASSERT_TRUE(info.isValidMp3());
    ASSERT_EQ(info.title(), "Kept?");

    Bytes tagged(5000, 0);
    tagged = test::concat({tagged, test::id3v1Tag({.title = "No audio"})});
    info.analyse(make("noaudio.mp3", tagged));
    expectNothingFound(info);
    EXPECT_EQ(info.path(), "");
    EXPECT_EQ(info.fileSize(), 0);
    EXPECT_EQ(info.genreId(), 0);
    EXPECT_EQ(info.genreName(), "Blues");
    EXPECT_EQ(info.firstFrameOffset(), 0);
    EXPECT_EQ(info.mpegVersion(), 0.0f);
    EXPECT_EQ(info.layer(), 0);
    EXPECT_EQ(info.channelMode(), "");
    EXPECT_EQ(info.emphasis(), "");
    EXPECT_FALSE(info.skipsEmbeddedID3v2()) << "the one setting survives a reset";
}

TEST_F(BadInputTest, UnopenablePathsKeepTheNameAndNothingElse)
{
    Bytes good(5000, 0);
    put(good, 0, test::frameHeader({}));
    Mp3Analysis info;
    info.analyse(make("good.mp3", good));
    ASSERT_TRUE(info.isValidMp3());

    const std::string missing = m_dir.file("missing.mp3");
    info.analyse(missing);
    expectNothingFound(info);
    EXPECT_EQ(info.path(), missing);
    EXPECT_EQ(info.fileSize(), 0);
    EXPECT_FALSE(std::filesystem::exists(missing)) << "analysis never creates a file";

    std::filesystem::create_directory(m_dir.file("folder.mp3"));
    info.analyse(m_dir.file("folder.mp3"));
    expectNothingFound(info);

#ifndef _WIN32 // no FIFOs in Windows folders
    ASSERT_EQ(::mkfifo(m_dir.file("fifo.mp3").c_str(), 0600), 0);
    info.analyse(m_dir.file("fifo.mp3")); // would wait for a writer if it were opened
    expectNothingFound(info);
#endif

    info.analyse("");
    expectNothingFound(info);

    // Names a folder listing showed as regular files are opened relative to the folder, and a
    // link put in their place is not followed.
#ifndef _WIN32 // links need a privilege on Windows; there the names are simply missing
    std::filesystem::create_symlink("fifo.mp3", m_dir.file("tofifo.mp3"));
    std::filesystem::create_symlink("good.mp3", m_dir.file("togood.mp3"));
#endif
    const FolderHandle folder(m_dir.file(""));
    ReadOnlyFile file;
    ASSERT_TRUE(file.open(folder, "good.mp3"));
    EXPECT_EQ(file.size(), 5000);
    EXPECT_EQ(ReadTagTitle(folder, "good.mp3"), std::nullopt);
    for (const std::string name :
         {"missing.mp3", "folder.mp3", "fifo.mp3", "tofifo.mp3", "togood.mp3", ""}) {
        EXPECT_FALSE(file.open(folder, name)) << name;
        EXPECT_FALSE(ReadSizeAndTagTitle(folder, name).size) << name;
        info.analyseListed(m_dir.file(name));
        expectNothingFound(info);
    }
}

TEST_F(BadInputTest, FileThatVanishesOrChangesBetweenTwoAnalyses)
{
    Bytes good(5000, 0);
    put(good, 0, test::frameHeader({}));
    good = test::concat({good, test::id3v1Tag({.title = "Here"})});
    const std::string path = make("changing.mp3", good);
    Mp3Analysis info;
    info.analyse(path);
    ASSERT_TRUE(info.hasId3v1Tag());

    // The same name again is a complete new analysis.
    Bytes moved(5000, 0);
    put(moved, 99, test::frameHeader({.bitRateIndex = 1}));
    test::writeFile(path, moved);
    info.analyse(path);
    EXPECT_EQ(info.firstFrameOffset(), 99);
    EXPECT_EQ(info.bitRate(), 32);
    EXPECT_FALSE(info.hasId3v1Tag());

    std::filesystem::remove(path);
    info.analyse(path);
    expectNothingFound(info);
}

#ifndef _WIN32 // POSIX permission bits
TEST_F(BadInputTest, FileWithoutReadPermission)
{
    Bytes good(5000, 0);
    put(good, 0, test::frameHeader({}));
    const std::string path = make("locked.mp3", good);
    ::chmod(path.c_str(), 0);
    test::asUnprivilegedUser([&] {
        Mp3Analysis info;
        info.analyse(path);
        expectNothingFound(info);
    });
}
#endif

TEST_F(BadInputTest, TruncatedHeadersAtTheEnd)
{
    Mp3Analysis info;
    for (std::size_t cut = 1; cut < 10; ++cut) {
        Bytes bytes(300, 0);
        put(bytes, 0, test::id3v2Header(100));
        bytes.resize(cut);
        info.analyse(make("cut" + std::to_string(cut) + ".mp3", bytes));
        expectNothingFound(info);
        EXPECT_FALSE(ReadTagTitle(m_dir.file("cut" + std::to_string(cut) + ".mp3")));
    }
    Bytes tagEnd(200, 0);
    put(tagEnd, 197, Bytes{'T', 'A', 'G'});
    EXPECT_FALSE(ReadTagTitle(make("tagend.mp3", tagEnd)));
}

} // namespace
} // namespace tunesift
