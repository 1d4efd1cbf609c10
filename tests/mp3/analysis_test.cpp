#include "mp3/mp3analysis.h"
#include "mp3/mp3testutil.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace tunesift {
namespace {

using test::Bytes;
using test::frameHeader;
using test::HeaderBits;
using test::put;

// MPEG-1 Layer III, 128 kbit/s, 44100 Hz, stereo, no CRC, no padding: 417-byte frames.
constexpr HeaderBits kPlain{};

class AnalysisTest : public ::testing::Test
{
protected:
    Mp3Analysis& analyse(const Bytes& bytes)
    {
        const std::string path = m_dir.file("song" + std::to_string(m_count++) + ".mp3");
        test::writeFile(path, bytes);
        m_info.analyse(path);
        return m_info;
    }

    static Bytes fileWithHeaderAt(std::size_t size, std::size_t offset,
                                  const HeaderBits& bits = kPlain)
    {
        Bytes bytes(size, 0);
        put(bytes, offset, frameHeader(bits));
        return bytes;
    }

    test::ScopedDir m_dir;
    Mp3Analysis m_info;
    int m_count = 0;
};

TEST(FormatSongLength, MinutesBelowAnHourTotalHoursAbove)
{
    EXPECT_EQ(FormatSongLength(0), "00:00");
    EXPECT_EQ(FormatSongLength(75), "01:15");
    EXPECT_EQ(FormatSongLength(3599), "59:59");
    EXPECT_EQ(FormatSongLength(3600), "1:00:00");
    EXPECT_EQ(FormatSongLength(3725), "1:02:05");
    EXPECT_EQ(FormatSongLength(86399), "23:59:59");
    EXPECT_EQ(FormatSongLength(86400), "24:00:00");
    EXPECT_EQ(FormatSongLength(90000), "25:00:00");
    EXPECT_EQ(FormatSongLength(1000000), "277:46:40");
}

TEST_F(AnalysisTest, FourMillionByteConstantBitRateFile)
{
    const Mp3Analysis& info = analyse(fileWithHeaderAt(4'000'000, 0));
    EXPECT_TRUE(info.isValidMp3());
    EXPECT_EQ(info.fileSize(), 4'000'000);
    EXPECT_EQ(info.firstFrameOffset(), 0);
    EXPECT_EQ(info.frameLength(), 417);
    EXPECT_EQ(info.frameCount(), 9592);
    EXPECT_EQ(info.songLength(), 249);
    EXPECT_EQ(info.formattedSongLength(), "04:09");
    EXPECT_EQ(info.bitRate(), 128);
    EXPECT_EQ(info.sampleRate(), 44100);
    EXPECT_EQ(info.mpegVersion(), 1.0f);
    EXPECT_EQ(info.layer(), 3);
    EXPECT_EQ(info.channelMode(), "Stereo");
    EXPECT_EQ(info.emphasis(), "None");
    EXPECT_FALSE(info.isVariableBitRate());
    EXPECT_FALSE(info.isProtected());
    EXPECT_FALSE(info.hasId3v1Tag());
    EXPECT_FALSE(info.hasId3v2Tag());
}

struct HeaderCase
{
    const char* name;
    HeaderBits bits;
    float version;
    int layer;
    int bitRate;
    int frequency;
    int frameLength;
    std::int64_t numFrames; // in a 1,000,000-byte file with the header at 0
    std::int64_t songLength;
    const char* channelMode;
    const char* emphasis;
};

class HeaderFields : public AnalysisTest, public ::testing::WithParamInterface<HeaderCase>
{};

TEST_P(HeaderFields, DecodedAsTheStandardsTablesSay)
{
    const HeaderCase& c = GetParam();
    const Mp3Analysis& info = analyse(fileWithHeaderAt(1'000'000, 0, c.bits));
    ASSERT_TRUE(info.isValidMp3());
    EXPECT_EQ(info.mpegVersion(), c.version);
    EXPECT_EQ(info.layer(), c.layer);
    EXPECT_EQ(info.bitRate(), c.bitRate);
    EXPECT_EQ(info.sampleRate(), c.frequency);
    EXPECT_EQ(info.frameLength(), c.frameLength);
    EXPECT_EQ(info.frameCount(), c.numFrames);
    EXPECT_EQ(info.songLength(), c.songLength);
    EXPECT_EQ(info.channelMode(), c.channelMode);
    EXPECT_EQ(info.emphasis(), c.emphasis);
    EXPECT_EQ(info.padding(), c.bits.padding);
    EXPECT_EQ(info.isProtected(), c.bits.crc);
    EXPECT_EQ(info.privateBit(), c.bits.privateBit == 1);
    EXPECT_EQ(info.isCopyrighted(), c.bits.copyright == 1);
    EXPECT_EQ(info.isOriginal(), c.bits.original == 1);
}

// Audio bytes 999,999: length = 7999 div bit rate; frames = 999,999 div (rate·144000 div Hz).
INSTANTIATE_TEST_SUITE_P(
    Analysis, HeaderFields,
    ::testing::Values(HeaderCase{"Mpeg2Layer3EverythingSet",
                                 {.version = 2,
                                  .layer = 1,
                                  .crc = true,
                                  .bitRateIndex = 9,
                                  .frequencyIndex = 1,
                                  .padding = 1,
                                  .privateBit = 1,
                                  .mode = 3,
                                  .copyright = 1,
                                  .original = 1,
                                  .emphasis = 1},
                                 2.0f,
                                 3,
                                 80,
                                 24000,
                                 481,
                                 2083,
                                 99,
                                 "Single channel",
                                 "50/15 ms"},
                      HeaderCase{"Mpeg25Layer3Lowest",
                                 {.version = 0,
                                  .layer = 1,
                                  .bitRateIndex = 1,
                                  .frequencyIndex = 2,
                                  .mode = 2,
                                  .emphasis = 3},
                                 2.5f,
                                 3,
                                 8,
                                 8000,
                                 144,
                                 6944,
                                 999,
                                 "Dual channel",
                                 "CCIT j.17"},
                      HeaderCase{"Mpeg1Layer1",
                                 {.version = 3,
                                  .layer = 3,
                                  .bitRateIndex = 14,
                                  .frequencyIndex = 1,
                                  .padding = 1,
                                  .mode = 1,
                                  .emphasis = 2},
                                 1.0f,
                                 1,
                                 448,
                                 48000,
                                 452,
                                 744,
                                 17,
                                 "Joint stereo",
                                 "Reserved"},
                      HeaderCase{
                          "Mpeg1Layer2",
                          {.version = 3, .layer = 2, .bitRateIndex = 14, .frequencyIndex = 2},
                          1.0f,
                          2,
                          384,
                          32000,
                          1728,
                          578,
                          20,
                          "Stereo",
                          "None"},
                      HeaderCase{"Mpeg2Layer1",
                                 {.version = 2, .layer = 3, .bitRateIndex = 9, .frequencyIndex = 0},
                                 2.0f,
                                 1,
                                 144,
                                 22050,
                                 312,
                                 1063,
                                 55,
                                 "Stereo",
                                 "None"}),
    [](const auto& p) { return p.param.name; });

TEST_F(AnalysisTest, RejectedHeadersAreSkippedOneByteAtATime)
{
    Bytes bytes(2000, 0);
    put(bytes, 0, frameHeader({.bitRateIndex = 0}));   // free format
    put(bytes, 4, frameHeader({.bitRateIndex = 15}));  // forbidden
    put(bytes, 8, frameHeader({.frequencyIndex = 3})); // reserved rate
    put(bytes, 12, frameHeader({.version = 1}));       // reserved version
    put(bytes, 16, frameHeader({.layer = 0}));         // reserved layer
    put(bytes, 20, Bytes{0xFF, 0xDF, 0x90, 0x00});     // eleventh sync bit missing
    put(bytes, 25, Bytes{0xFF, 0xFF, 0xFB, 0x90});     // FF FF is not a valid header ...
    const Mp3Analysis& info = analyse(bytes);
    ASSERT_TRUE(info.isValidMp3());
    EXPECT_EQ(info.firstFrameOffset(), 26) << "... but one byte on FF FB 90 is";
}

TEST_F(AnalysisTest, FirstDecodableCandidateWinsEvenInsideJunk)
{
    Bytes bytes(10000, 0);
    put(bytes, 300, frameHeader({.bitRateIndex = 1})); // a false sync in an unknown block
    put(bytes, 5000, frameHeader(kPlain));
    const Mp3Analysis& info = analyse(bytes);
    EXPECT_EQ(info.firstFrameOffset(), 300);
    EXPECT_EQ(info.bitRate(), 32);
}

TEST_F(AnalysisTest, ShortestFilesWithAHeaderAtTheStart)
{
    const std::array<unsigned char, 4> header = frameHeader(kPlain);
    Bytes six(header.begin(), header.end());
    six.resize(6);
    const Mp3Analysis& failed = analyse(six);
    EXPECT_FALSE(failed.isValidMp3());
    EXPECT_EQ(failed.path(), "") << "no candidate offset below FileSize - 6";

    Bytes seven = six;
    seven.push_back(0);
    const Mp3Analysis& found = analyse(seven);
    EXPECT_TRUE(found.isValidMp3());
    EXPECT_EQ(found.firstFrameOffset(), 0);
    EXPECT_EQ(found.frameCount(), 0);
    EXPECT_EQ(found.songLength(), 0);
}

TEST_F(AnalysisTest, LeadingId3v2TagIsSkippedByItsSizeField)
{
    Bytes bytes = test::id3v2Header(1000);
    bytes.resize(200000, 0);
    put(bytes, 500, frameHeader({.bitRateIndex = 1})); // inside the tag: never looked at
    put(bytes, 1010, frameHeader(kPlain));
    const Mp3Analysis& info = analyse(bytes);
    EXPECT_TRUE(info.hasId3v2Tag());
    EXPECT_EQ(info.id3v2Offset(), 0);
    EXPECT_EQ(info.id3v2Size(), 1010);
    EXPECT_EQ(info.firstFrameOffset(), 1010);

    Bytes withFooterFlag = test::id3v2Header(1000, false, 0x10);
    withFooterFlag.resize(200000, 0);
    put(withFooterFlag, 1010, frameHeader({.bitRateIndex = 1}));
    put(withFooterFlag, 1020, frameHeader(kPlain));
    const Mp3Analysis& footer = analyse(withFooterFlag);
    EXPECT_EQ(footer.id3v2Size(), 1020);
    EXPECT_EQ(footer.firstFrameOffset(), 1020);
}

TEST_F(AnalysisTest, LeadingTagWithAWrongSizeStartsTheSearchWhereTheSizeSays)
{
    Bytes bytes = test::id3v2Header(500);
    bytes.resize(20000, 0);
    put(bytes, 600, frameHeader({.bitRateIndex = 2}));
    put(bytes, 1010, frameHeader(kPlain));
    EXPECT_EQ(analyse(bytes).firstFrameOffset(), 600);

    // Only the identifier is looked at in a leading tag: odd version and size bit 7 are fine.
    Bytes odd(5000, 0);
    put(odd, 0, Bytes{'I', 'D', '3', 0xFF, 0xFF, 0x00, 0x80, 0x80, 0x81, 0x00});
    put(odd, 138, frameHeader(kPlain));
    const Mp3Analysis& info = analyse(odd);
    EXPECT_EQ(info.id3v2Size(), 138);
    EXPECT_EQ(info.firstFrameOffset(), 138);
}

TEST_F(AnalysisTest, LeadingTagSizePastTheEndFindsNothing)
{
    Bytes bytes = test::id3v2Header(0x0FFFFFFF);
    bytes.resize(5000, 0);
    put(bytes, 100, frameHeader(kPlain));
    const Mp3Analysis& info = analyse(bytes);
    EXPECT_FALSE(info.isValidMp3());
    EXPECT_FALSE(info.hasId3v2Tag()) << "a failed search resets everything";
    EXPECT_EQ(info.id3v2Size(), 0);
    EXPECT_EQ(info.path(), "");
}

TEST_F(AnalysisTest, EmbeddedTagIsSkippedOnlyWhenAskedTo)
{
    Bytes bytes(20000, 0);
    put(bytes, 100, test::id3v2Header(200));
    put(bytes, 150, frameHeader({.bitRateIndex = 1}));
    put(bytes, 310, frameHeader(kPlain));

    const Mp3Analysis& skipped = analyse(bytes);
    EXPECT_EQ(skipped.firstFrameOffset(), 310);
    EXPECT_TRUE(skipped.hasId3v2Tag());
    EXPECT_EQ(skipped.id3v2Offset(), 100);
    EXPECT_EQ(skipped.id3v2Size(), 210);

    m_info.setSkipsEmbeddedID3v2(false);
    const Mp3Analysis& plain = analyse(bytes);
    EXPECT_FALSE(plain.skipsEmbeddedID3v2());
    EXPECT_EQ(plain.firstFrameOffset(), 150);
    EXPECT_FALSE(plain.hasId3v2Tag());
}

TEST_F(AnalysisTest, EmbeddedTagNeedsAPlausibleVersionAndSize)
{
    const auto headerOffsetWith = [&](unsigned char major, unsigned char revision,
                                      unsigned char sizeByte) {
        Bytes bytes(20000, 0);
        Bytes tag = test::id3v2Header(200, false, 0, major, revision);
        tag[8] |= sizeByte;
        put(bytes, 100, tag);
        put(bytes, 150, frameHeader({.bitRateIndex = 1}));
        put(bytes, 310, frameHeader(kPlain));
        return analyse(bytes).firstFrameOffset();
    };
    EXPECT_EQ(headerOffsetWith(4, 0, 0), 310);
    EXPECT_EQ(headerOffsetWith(254, 0, 0), 310);
    EXPECT_EQ(headerOffsetWith(255, 0, 0), 150) << "version word 255 is not below 255";
    EXPECT_EQ(headerOffsetWith(0, 1, 0), 150) << "version word 256";
    EXPECT_EQ(headerOffsetWith(0, 0x80, 0), 310) << "negative as a signed 16-bit word";
    EXPECT_EQ(headerOffsetWith(4, 0, 0x80), 150) << "size byte with bit 7 set";
}

TEST_F(AnalysisTest, OnlyTheFirstTagIsEverSkipped)
{
    Bytes bytes(20000, 0);
    put(bytes, 100, test::id3v2Header(50)); // ends at 160
    put(bytes, 160, test::id3v2Header(100));
    put(bytes, 180, frameHeader({.bitRateIndex = 1}));
    put(bytes, 400, frameHeader(kPlain));
    EXPECT_EQ(analyse(bytes).firstFrameOffset(), 180);

    Bytes leading = test::id3v2Header(90);
    leading.resize(20000, 0);
    put(leading, 200, test::id3v2Header(100));
    put(leading, 220, frameHeader({.bitRateIndex = 1}));
    put(leading, 400, frameHeader(kPlain));
    EXPECT_EQ(analyse(leading).firstFrameOffset(), 220);
}

TEST_F(AnalysisTest, AppendedTagIsFoundByItsFooterAndStaysInTheAudioBytes)
{
    // 32 kbit/s, 44100 Hz: frames of 104 bytes, so the frame count shows every byte counted.
    const HeaderBits slow{.bitRateIndex = 1};
    Bytes bytes(100000 - 128, 0);
    put(bytes, 0, frameHeader(slow));
    put(bytes, bytes.size() - 120, test::id3v2Header(100, false, 0x10));
    put(bytes, bytes.size() - 10, test::id3v2Header(100, true, 0x10));
    bytes = test::concat({bytes, test::id3v1Tag({.title = "T"})});
    const Mp3Analysis& info = analyse(bytes);
    EXPECT_TRUE(info.hasId3v1Tag());
    EXPECT_TRUE(info.hasId3v2Tag());
    EXPECT_EQ(info.id3v2Size(), 120);
    EXPECT_EQ(info.id3v2Offset(), 100000 - 128 - 120);
    EXPECT_EQ(info.firstFrameOffset(), 0);
    EXPECT_EQ(info.frameCount(), 960) << "(100000 - 1 - 128) div 104";
    EXPECT_EQ(info.songLength(), 24);

    // Without an ID3v1 tag the footer is the last ten bytes.
    Bytes bare(5000, 0);
    put(bare, 0, frameHeader(slow));
    put(bare, 4990, test::id3v2Header(30, true));
    const Mp3Analysis& noTag = analyse(bare);
    EXPECT_FALSE(noTag.hasId3v1Tag());
    EXPECT_EQ(noTag.id3v2Offset(), 5000 - 40);
}

TEST_F(AnalysisTest, LeadingId3v2AndId3v1BothLeaveTheAudioBytes)
{
    Bytes bytes = test::id3v2Header(4086);
    bytes.resize(50000 - 128, 0);
    put(bytes, 4096, frameHeader({.bitRateIndex = 1}));
    bytes = test::concat({bytes, test::id3v1Tag({.title = "Title",
                                                 .artist = "Artist",
                                                 .album = "Album",
                                                 .year = "2001",
                                                 .comment = std::string(28, 'c') + '\0' + '\x09',
                                                 .genre = 41})});
    const Mp3Analysis& info = analyse(bytes);
    EXPECT_EQ(info.firstFrameOffset(), 4096);
    EXPECT_EQ(info.frameCount(), 440) << "(50000 - 4096 - 1 - 128) div 104";
    EXPECT_EQ(info.songLength(), 11);
    EXPECT_TRUE(info.hasId3v1Tag());
    EXPECT_EQ(info.title(), "Title");
    EXPECT_EQ(info.artist(), "Artist");
    EXPECT_EQ(info.album(), "Album");
    EXPECT_EQ(info.year(), "2001");
    EXPECT_EQ(info.comment(), std::string(28, 'c'));
    EXPECT_EQ(info.trackNumber(), 9);
    EXPECT_EQ(info.genreId(), 41);
    EXPECT_EQ(info.genreName(), "Alt");
}

struct XingPlacement
{
    const char* name;
    HeaderBits bits;
    std::size_t blockAt;
};

class XingPosition : public AnalysisTest, public ::testing::WithParamInterface<XingPlacement>
{};

TEST_P(XingPosition, BlockIsFoundBehindTheSideInformation)
{
    const XingPlacement& p = GetParam();
    Bytes bytes = fileWithHeaderAt(20000, 0, p.bits);
    put(bytes, p.blockAt, test::xingBlock(1, 50));
    const Mp3Analysis& info = analyse(bytes);
    EXPECT_TRUE(info.isVariableBitRate());
    EXPECT_EQ(info.frameCount(), 50);
}

INSTANTIATE_TEST_SUITE_P(
    Analysis, XingPosition,
    ::testing::Values(
        XingPlacement{"Mpeg1Stereo", {}, 36}, XingPlacement{"Mpeg1Mono", {.mode = 3}, 21},
        XingPlacement{"Mpeg1StereoCrc", {.crc = true}, 38},
        XingPlacement{"Mpeg1MonoCrc", {.crc = true, .mode = 3}, 23},
        // Where the encoder left the CRC gap out: 2 bytes earlier.
        XingPlacement{"Mpeg1MonoCrcGapLeftOut", {.crc = true, .mode = 3}, 21},
        XingPlacement{
            "Mpeg2StereoCrcGapLeftOut", {.version = 2, .crc = true, .bitRateIndex = 8}, 21},
        XingPlacement{"Mpeg2Stereo", {.version = 2, .bitRateIndex = 8}, 21},
        XingPlacement{"Mpeg2Mono", {.version = 2, .bitRateIndex = 8, .mode = 3}, 13},
        XingPlacement{
            "Mpeg25JointStereoCrc", {.version = 0, .crc = true, .bitRateIndex = 8, .mode = 1}, 23},
        XingPlacement{"Mpeg25Mono", {.version = 0, .bitRateIndex = 8, .mode = 3}, 13},
        XingPlacement{"Layer2Mono", {.layer = 2, .mode = 3}, 36},
        XingPlacement{"Layer1Crc", {.layer = 3, .crc = true}, 36}),
    [](const auto& p) { return p.param.name; });

TEST_F(AnalysisTest, XingBlockElsewhereIsNotRecognised)
{
    Bytes monoAt36 = fileWithHeaderAt(20000, 0, {.mode = 3});
    put(monoAt36, 36, test::xingBlock(1, 50));
    EXPECT_FALSE(analyse(monoAt36).isVariableBitRate());

    Bytes unprotectedAt23 = fileWithHeaderAt(20000, 0, {.mode = 3});
    put(unprotectedAt23, 23, test::xingBlock(1, 50));
    EXPECT_FALSE(analyse(unprotectedAt23).isVariableBitRate());

    // Behind the CRC first: a block there wins over one 2 bytes earlier.
    Bytes both = fileWithHeaderAt(20000, 0, {.crc = true, .mode = 3});
    put(both, 21, test::xingBlock(1, 50));
    put(both, 23, test::xingBlock(1, 60));
    EXPECT_EQ(analyse(both).frameCount(), 60);

    // Layer I and II have no side information and no second place.
    Bytes layer2At34 = fileWithHeaderAt(20000, 0, {.layer = 2, .crc = true});
    put(layer2At34, 34, test::xingBlock(1, 50));
    EXPECT_FALSE(analyse(layer2At34).isVariableBitRate());

    Bytes info = fileWithHeaderAt(20000, 0);
    put(info, 36, Bytes{'I', 'n', 'f', 'o', 0, 0, 0, 1, 0, 0, 0, 50});
    const Mp3Analysis& cbr = analyse(info);
    EXPECT_FALSE(cbr.isVariableBitRate());
    EXPECT_EQ(cbr.bitRate(), 128);

    Bytes lowerCase = fileWithHeaderAt(20000, 0);
    put(lowerCase, 36, Bytes{'x', 'i', 'n', 'g', 0, 0, 0, 1, 0, 0, 0, 50});
    EXPECT_FALSE(analyse(lowerCase).isVariableBitRate());
}

TEST_F(AnalysisTest, XingBlockIsReadOnlyWithFortyEightBytesBehindTheHeader)
{
    Bytes tooShort = fileWithHeaderAt(49, 0);
    put(tooShort, 36, test::xingBlock(1, 50));
    tooShort.resize(49);
    EXPECT_FALSE(analyse(tooShort).isVariableBitRate());

    Bytes enough = tooShort;
    enough.push_back(0);
    EXPECT_TRUE(analyse(enough).isVariableBitRate());
}

TEST_F(AnalysisTest, Mpeg1AverageBitRateIsRoundedThenDividedByTwelve)
{
    Bytes bytes = fileWithHeaderAt(100000, 0);
    put(bytes, 36, test::xingBlock(0x0F, 200));
    const Mp3Analysis& info = analyse(bytes);
    EXPECT_TRUE(info.isVariableBitRate());
    EXPECT_TRUE(info.isValidMp3());
    EXPECT_EQ(info.frameCount(), 200);
    EXPECT_EQ(info.bitRate(), 153) << "100000 / 200 * 44100 / 12000 = 1837.5 -> 1838, div 12";
    EXPECT_EQ(info.songLength(), 5) << "(99999 * 8 div 1000) div 153";

    // 239 / 8 * 48000 / 12000 = 119.5: rounding gives 120 and 10; cutting off gives 9.
    Bytes half = fileWithHeaderAt(239, 0, {.frequencyIndex = 1});
    put(half, 36, test::xingBlock(1, 8));
    EXPECT_EQ(analyse(half).bitRate(), 10);

    // 359 / 10 * 48000 / 12000 = 143.6: rounded up to 144, so 12 rather than 11.
    Bytes up = fileWithHeaderAt(359, 0, {.frequencyIndex = 1});
    put(up, 36, test::xingBlock(1, 10));
    EXPECT_EQ(analyse(up).bitRate(), 12);
}

TEST_F(AnalysisTest, Mpeg2AndMpeg25Layer3AverageUsesHalfTheMpeg1Coefficient)
{
    // 22050 Hz, 576 samples a frame: 400 frames last 10.4 s.
    Bytes mpeg2 = fileWithHeaderAt(100000, 0, {.version = 2, .bitRateIndex = 8});
    put(mpeg2, 21, test::xingBlock(1, 400));
    const Mp3Analysis& info = analyse(mpeg2);
    EXPECT_EQ(info.bitRate(), 76) << "100000 / 400 * 22050 / 6000 = 918.75 -> 919, div 12";
    EXPECT_EQ(info.songLength(), 10);

    Bytes mpeg25 = fileWithHeaderAt(
        20000, 0, {.version = 0, .bitRateIndex = 8, .frequencyIndex = 2, .mode = 3});
    put(mpeg25, 13, test::xingBlock(1, 100));
    const Mp3Analysis& low = analyse(mpeg25);
    EXPECT_EQ(low.bitRate(), 22) << "20000 / 100 * 8000 / 6000 = 266.7 -> 267, div 12";
    EXPECT_EQ(low.songLength(), 7) << "(19999 * 8 div 1000) div 22";

    // Layer II frames hold 1152 samples in every version: the MPEG-1 coefficient.
    Bytes layer2 = fileWithHeaderAt(100000, 0, {.version = 2, .layer = 2, .bitRateIndex = 8});
    put(layer2, 36, test::xingBlock(1, 400));
    EXPECT_EQ(analyse(layer2).bitRate(), 38) << "100000 / 400 * 22050 / 12000 = 459.4, div 12";
}

TEST_F(AnalysisTest, XingWithoutFrameCountKeepsTheHeaderValues)
{
    Bytes bytes = fileWithHeaderAt(100000, 0);
    put(bytes, 36, test::xingBlock(0x0E, 200));
    const Mp3Analysis& info = analyse(bytes);
    EXPECT_TRUE(info.isVariableBitRate());
    EXPECT_FALSE(info.isValidMp3());
    EXPECT_EQ(info.bitRate(), 128);
    EXPECT_EQ(info.frameCount(), 239) << "99999 div 417";
    EXPECT_EQ(info.songLength(), 6);
    EXPECT_EQ(info.path(), m_dir.file("song0.mp3")) << "not a failed search";
}

TEST_F(AnalysisTest, XingArithmeticFailuresKeepTheHeaderValues)
{
    Bytes zero = fileWithHeaderAt(100000, 0);
    put(zero, 36, test::xingBlock(1, 0));
    const Mp3Analysis& noFrames = analyse(zero);
    EXPECT_TRUE(noFrames.isValidMp3());
    EXPECT_EQ(noFrames.frameCount(), 0);
    EXPECT_EQ(noFrames.bitRate(), 128);
    EXPECT_EQ(noFrames.songLength(), 6);

    Bytes huge = fileWithHeaderAt(100000, 0);
    put(huge, 36, test::xingBlock(1, 0xFFFFFFFF));
    const Mp3Analysis& tiny = analyse(huge);
    EXPECT_EQ(tiny.frameCount(), 4294967295) << "the count is an unsigned field";
    EXPECT_EQ(tiny.bitRate(), 0);
    EXPECT_EQ(tiny.songLength(), 6) << "the first header's length stays";
}

TEST_F(AnalysisTest, LargeFilesGetTheirRealPlayingTime)
{
    const std::string path = m_dir.file("large.mp3");
    const auto header = frameHeader(kPlain);
    test::writeFile(path, Bytes(header.begin(), header.end()));
    std::filesystem::resize_file(path, 314'572'800); // sparse: costs no disk space

    m_info.analyse(path);
    EXPECT_EQ(m_info.fileSize(), 314'572'800);
    EXPECT_EQ(m_info.frameCount(), 754371);
    EXPECT_EQ(m_info.songLength(), 19660) << "(314572799 * 8 div 1000) div 128";
    EXPECT_EQ(m_info.formattedSongLength(), "5:27:40");

    std::filesystem::resize_file(path, 5'368'709'120);
    m_info.analyse(path);
    EXPECT_EQ(m_info.fileSize(), 5'368'709'120);
    EXPECT_EQ(m_info.songLength(), 335544);
    EXPECT_EQ(m_info.formattedSongLength(), "93:12:24");
}

TEST_F(AnalysisTest, HeadersAcrossTheEndsOfTheReadBlocksAreFound)
{
    // The search reads 4 KiB first, then 64 KiB blocks that start 9 bytes before the end of the
    // previous one (an ID3v2 header is 10 bytes long): the first two blocks end at 4096 and
    // 69623. Both kinds of header slide across those ends.
    for (const std::size_t blockEnd : {4096u, 69623u}) {
        for (std::size_t at = blockEnd - 12; at <= blockEnd + 2; ++at) {
            Bytes frame(150000, 0x11);
            put(frame, at, frameHeader(kPlain));
            EXPECT_EQ(analyse(frame).firstFrameOffset(), static_cast<std::int64_t>(at)) << at;

            Bytes tag(150000, 0x11);
            put(tag, at, test::id3v2Header(200));
            put(tag, at + 50, frameHeader({.bitRateIndex = 1}));
            put(tag, at + 210, frameHeader(kPlain));
            const Mp3Analysis& info = analyse(tag);
            EXPECT_EQ(info.id3v2Offset(), static_cast<std::int64_t>(at)) << at;
            EXPECT_EQ(info.firstFrameOffset(), static_cast<std::int64_t>(at + 210)) << at;
        }
    }
}

TEST_F(AnalysisTest, EmbeddedTagHeaderCutByTheEndOfFile)
{
    // Accepted or not, a tag header running past the end leaves no room for a frame after it;
    // what matters is that nothing past the end is read as data.
    for (std::size_t at = 990; at <= 993; ++at) {
        Bytes bytes(1000, 0);
        put(bytes, at, Bytes{'I', 'D', '3', 4, 0, 0, 0});
        const Mp3Analysis& info = analyse(bytes);
        EXPECT_FALSE(info.isValidMp3()) << at;
        EXPECT_FALSE(info.hasId3v2Tag()) << at;
    }
}

} // namespace
} // namespace tunesift
