// Titles of leading ID3v2 tags, byte-built, above all where TagLib on its own would answer
// differently: several values, an empty first value, a tag not at byte 0, a version 2.3
// extended header.

#include "files/fileaccess.h"
#include "mp3/id3v2title.h"
#include "mp3/mp3testutil.h"

#include <gtest/gtest.h>

namespace tunesift {
namespace {

using test::Bytes;

// Appending byte by byte: GCC 12 warns wrongly about inserting ranges into short vectors.
Bytes operator+(Bytes a, const Bytes& b)
{
    a.reserve(a.size() + b.size());
    for (const unsigned char byte : b)
        a.push_back(byte);
    return a;
}

Bytes firstBytes(const Bytes& bytes, std::size_t count)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

Bytes text(std::string_view s)
{
    return Bytes(s.begin(), s.end());
}

// One frame: identifier, size (plain in 2.3, synchsafe in 2.4, three bytes in 2.2), flags.
Bytes frame(std::string_view id, const Bytes& payload, unsigned major = 3,
            unsigned char secondFlags = 0)
{
    Bytes out = text(id);
    const auto size = static_cast<std::uint32_t>(payload.size());
    if (major == 2) {
        out.insert(out.end(),
                   {static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 8),
                    static_cast<unsigned char>(size)});
    } else {
        const unsigned shift = major == 4 ? 7 : 8;
        const unsigned mask = major == 4 ? 0x7F : 0xFF;
        for (int k = 3; k >= 0; --k)
            out.push_back(static_cast<unsigned char>((size >> (shift * k)) & mask));
        out.insert(out.end(), {0, secondFlags});
    }
    return out + payload;
}

// The tag: header, then the body (extended header and frames as given), then padding.
Bytes tag(const Bytes& body, unsigned char major = 3, unsigned char flags = 0,
          std::size_t padding = 16)
{
    Bytes out =
        test::id3v2Header(static_cast<std::uint32_t>(body.size() + padding), false, flags, major);
    return out + body + Bytes(padding, 0);
}

Bytes encoded(unsigned char encoding, const Bytes& bytes)
{
    return Bytes{encoding} + bytes;
}

struct TitleCase
{
    const char* name;
    Bytes bytes;
    std::optional<std::string> title;
};

TEST(ID3v2Title, TitlesOfByteBuiltTags)
{
    if (!ID3v2TitlesAvailable())
        GTEST_SKIP() << "built without an ID3v2 parser";
    const Bytes audio = {0xFF, 0xFB, 0x90, 0x00};
    const Bytes other = frame("TPE1", encoded(0, text("Artist")));
    const TitleCase cases[] = {
        {"latin1, trailing spaces go", tag(frame("TIT2", encoded(0, text("Caf\xE9 Tune  ")))),
         "Caf\xC3\xA9 Tune"},
        {"after another frame", tag(other + frame("TIT2", encoded(0, text("Second")))), "Second"},
        {"several values: the first only",
         tag(frame("TIT2", encoded(3, text(std::string_view("First\0Second\0", 13)))), 4), "First"},
        {"an empty first value is an empty title",
         tag(frame("TIT2", encoded(0, text(std::string_view("\0Second", 7))))), std::nullopt},
        {"utf-16 with a little-endian mark, cut at NUL",
         tag(frame("TIT2",
                   encoded(1, Bytes{0xFF, 0xFE, 'H', 0, 0xE9, 0, 0x3A, 0x04, 0, 0, 'x', 0}))),
         "H\xC3\xA9\xD0\xBA"},
        {"utf-16 with a big-endian mark",
         tag(frame("TIT2", encoded(1, Bytes{0xFE, 0xFF, 0, 'O', 0, 'k'}))), "Ok"},
        {"utf-16be, a surrogate pair",
         tag(frame("TIT2", encoded(2, Bytes{0xD8, 0x3C, 0xDF, 0xB5, 0, ' '})), 4),
         "\xF0\x9F\x8E\xB5"},
        {"utf-8", tag(frame("TIT2", encoded(3, text("\xC3\x9C"))), 4), "\xC3\x9C"},
        {"version 2.2", tag(frame("TT2", encoded(0, text("Old Style")), 2), 2), "Old Style"},
        {"version 2.3 extended header",
         tag(Bytes{0, 0, 0, 6, 0, 0, 0, 0, 0, 0} + frame("TIT2", encoded(0, text("Extended"))), 3,
             0x40),
         "Extended"},
        {"version 2.4 extended header",
         tag(Bytes{0, 0, 0, 6, 1, 0} + frame("TIT2", encoded(0, text("Four")), 4), 4, 0x40),
         "Four"},
        {"version 2.3 unsynchronised tag",
         tag(frame("TIT2", encoded(0, Bytes{'A', 0xFF, 0x00, 0xE0, 'B'})), 3, 0x80),
         "A\xC3\xBF\xC3\xA0"
         "B"},
        {"version 2.4 unsynchronised frame",
         tag(frame("TIT2", encoded(0, Bytes{'A', 0xFF, 0x00, 0xE0}), 4, 0x02), 4),
         "A\xC3\xBF\xC3\xA0"},
        {"only spaces", tag(frame("TIT2", encoded(0, text("   ")))), std::nullopt},
        {"no title frame", tag(other), std::nullopt},
        {"unknown encoding", tag(frame("TIT2", encoded(7, text("Seven")))), std::nullopt},
        {"tag not at byte 0", Bytes{0} + tag(frame("TIT2", encoded(0, text("Late")))),
         std::nullopt},
    };
    for (const TitleCase& c : cases) {
        const Bytes file = c.bytes + audio;
        EXPECT_EQ(ID3v2TitleOf(file), c.title) << c.name;
    }
}

TEST(ID3v2Title, TagSizeCountsHeaderAndFooter)
{
    EXPECT_EQ(LeadingID3v2TagSize(test::id3v2Header(100)), 110u);
    EXPECT_EQ(LeadingID3v2TagSize(test::id3v2Header(100, false, 0x10, 4)), 120u);
    EXPECT_EQ(LeadingID3v2TagSize(test::id3v2Header(100, false, 0, 5)), 0u) << "unknown version";
    EXPECT_EQ(LeadingID3v2TagSize(Bytes{'I', 'D', '3', 3, 0, 0, 0x80, 0, 0, 0}), 0u);
    EXPECT_EQ(LeadingID3v2TagSize(text("ID3")), 0u);

    const Bytes whole = tag(frame("TIT2", encoded(0, text("Truncated"))));
    if (ID3v2TitlesAvailable()) {
        EXPECT_EQ(ID3v2TitleOf(whole), "Truncated");
    }
    EXPECT_EQ(ID3v2TitleOf(firstBytes(whole, 24)), std::nullopt) << "frame cut off";
}

TEST(ID3v2Title, FileReadBeyondTheHeadOnlyWhenTheTitleLiesThere)
{
    if (!ID3v2TitlesAvailable())
        GTEST_SKIP() << "built without an ID3v2 parser";
    const test::ScopedDir dir;
    const Bytes picture = frame("APIC", Bytes(9000, 0x55));
    const std::string late = dir.file("late.mp3");
    test::writeFile(late, tag(picture + frame("TIT2", encoded(0, text("Behind Art")))) +
                              Bytes{0xFF, 0xFB, 0x90, 0x00});
    ReadOnlyFile file;
    ASSERT_TRUE(file.open(late));
    EXPECT_EQ(ReadID3v2Title(file), "Behind Art");
    const Bytes head = test::readFile(late);
    EXPECT_EQ(ReadID3v2Title(file, std::span(head).first(100)), "Behind Art");
    // The head given is taken as the file's start: a head without a tag means no tag.
    EXPECT_EQ(ReadID3v2Title(file, std::span(head).subspan(1, 100)), std::nullopt);
}

} // namespace
} // namespace tunesift
