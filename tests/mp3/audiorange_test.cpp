// The audio range: from the first frame to the end less the trailing tags, peeled one by one.
// Files are byte-built here; real taggers' output is checked in encoder_test.cpp.

#include "mp3/audiorange.h"
#include "mp3/mp3analysis.h"
#include "mp3/mp3testutil.h"

#include <gtest/gtest.h>

namespace tunesift {
namespace {

using test::Bytes;
using test::concat;

Bytes audio(std::size_t size)
{
    Bytes bytes(size, 0x55);
    test::put(bytes, 0, test::frameHeader({}));
    return bytes;
}

Bytes lastBytes(const Bytes& bytes, std::size_t count)
{
    return Bytes(bytes.end() - static_cast<std::ptrdiff_t>(count), bytes.end());
}

Bytes id3v1()
{
    return test::id3v1Tag({.title = "Title"});
}

struct RangeCase
{
    const char* name;
    Bytes before; // bytes ahead of the audio
    Bytes audio;
    Bytes after;               // everything behind the audio
    std::size_t keptAfter = 0; // bytes of it that still count as audio
};

TEST(AudioRange, TrailingTagsArePeeledWhereTheyFit)
{
    Bytes shortApeSize = test::apeTag(0, false);
    shortApeSize[12] = 8; // counts less than its own footer
    const RangeCase cases[] = {
        {"no tags", {}, audio(1000), {}, 0},
        {"ID3v1", {}, audio(1000), id3v1(), 0},
        {"leading ID3v2 and ID3v1", concat({test::id3v2Header(30), Bytes(30, 0)}), audio(900),
         id3v1(), 0},
        {"Enhanced TAG before ID3v1",
         {},
         audio(1000),
         concat({test::enhancedTag("T"), id3v1()}),
         0},
        {"Enhanced TAG alone is audio", {}, audio(1000), test::enhancedTag("T"), 227},
        {"APEv2 with header, then ID3v1",
         {},
         audio(1000),
         concat({test::apeTag(100, true), id3v1()}),
         0},
        {"APEv2 footer only", {}, audio(1000), test::apeTag(50, false), 0},
        {"APEv2 reaching beyond the tail read",
         {},
         audio(1000),
         concat({test::apeTag(10000, true), id3v1()}),
         0},
        {"Lyrics3v2 then ID3v1",
         {},
         audio(1000),
         concat({test::lyrics3v2Tag("IND0000210"), id3v1()}),
         0},
        {"appended ID3v2", {}, audio(1000), test::appendedId3v2Tag(64), 0},
        {"every kind stacked",
         {},
         audio(1000),
         concat({test::appendedId3v2Tag(20), test::lyrics3v2Tag("EAL00004Gold"),
                 test::apeTag(7, true), test::enhancedTag("T"), id3v1()}),
         0},
        {"APEv2 counting more than there is",
         {},
         audio(1000),
         lastBytes(test::apeTag(5000, false), 32),
         32},
        {"APEv2 counting less than its footer", {}, audio(1000), shortApeSize, 32},
        {"Lyrics3v2 size not in digits",
         {},
         audio(1000),
         [] {
             const std::string text = "LYRICSBEGINab00001xLYRICS200";
             return Bytes(text.begin(), text.end());
         }(),
         28},
        {"a tag stops the peeling of those before it",
         {},
         audio(1000),
         concat({id3v1(), Bytes(5, 0x55), id3v1()}),
         133},
        {"a tag larger than the audio before it",
         {},
         audio(100),
         lastBytes(test::apeTag(200, false), 32),
         32},
    };
    test::ScopedDir dir;
    Mp3Analysis info;
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("case.mp3");
        test::writeFile(path, concat({c.before, c.audio, c.after}));
        info.analyse(path);
        EXPECT_EQ(info.audioRange(),
                  (AudioRange{static_cast<std::int64_t>(c.before.size()),
                              static_cast<std::int64_t>(c.audio.size() + c.keptAfter)}));
    }
}

TEST(AudioRange, EmptyWithoutFrameOrWhenTagsTakeEverything)
{
    test::ScopedDir dir;
    Mp3Analysis info;
    const std::string path = dir.file("case.mp3");
    // Tags only: no frame at all.
    test::writeFile(path, concat({test::id3v2Header(40), Bytes(40, 0), id3v1()}));
    info.analyse(path);
    EXPECT_TRUE(info.audioRange().empty());
    // The only frame lies inside an APEv2 tag that fills the file.
    Bytes tag = test::apeTag(300, false);
    test::put(tag, 0, test::frameHeader({}));
    test::writeFile(path, tag);
    info.analyse(path);
    EXPECT_EQ(info.firstFrameOffset(), 0);
    EXPECT_TRUE(info.audioRange().empty());
    // A file that cannot be read.
    info.analyse(dir.file("missing.mp3"));
    EXPECT_TRUE(info.audioRange().empty());
}

TEST(AudioRange, HashesCoverExactlyTheBytesAsked)
{
    test::ScopedDir dir;
    const std::string path = dir.file("bytes.bin");
    Bytes bytes(3 * 1024 * 1024 + 17);
    for (std::size_t k = 0; k < bytes.size(); ++k)
        bytes[k] = static_cast<unsigned char>(k * 7 + k / 251);
    test::writeFile(path, bytes);
    std::vector<unsigned char> block(1024 * 1024);
    std::vector<unsigned char> small(4096);
    const auto whole = HashFileBytes(path, 5, static_cast<std::int64_t>(bytes.size()) - 5, block);
    ASSERT_TRUE(whole);
    // Block size does not matter; one more or one less byte, or another start, does.
    EXPECT_EQ(HashFileBytes(path, 5, static_cast<std::int64_t>(bytes.size()) - 5, small), whole);
    EXPECT_NE(HashFileBytes(path, 5, static_cast<std::int64_t>(bytes.size()) - 6, block), whole);
    EXPECT_NE(HashFileBytes(path, 4, static_cast<std::int64_t>(bytes.size()) - 5, block), whole);
    // Past the end, or no file: nothing.
    EXPECT_FALSE(HashFileBytes(path, 5, static_cast<std::int64_t>(bytes.size()), block));
    EXPECT_FALSE(HashFileBytes(dir.file("missing"), 0, 10, block));
    bytes[2 * 1024 * 1024] ^= 1;
    test::writeFile(path, bytes);
    EXPECT_NE(HashFileBytes(path, 5, static_cast<std::int64_t>(bytes.size()) - 5, block), whole);
}

} // namespace
} // namespace tunesift
