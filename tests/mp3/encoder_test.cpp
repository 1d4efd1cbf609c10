// Files from a real encoder and a real tag tool, made at test time: lame and id3v2 are installed
// by scripts/setup.sh. Expected values come from what was asked of the encoder (rate, mode,
// bit rate, three seconds of audio), not from the analysis itself.

#include "mp3/id3v1.h"
#include "mp3/mp3analysis.h"
#include "mp3/mp3testutil.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <numbers>

namespace tunesift {
namespace {

using test::Bytes;

constexpr double kSeconds = 3.0;

struct Encoding
{
    const char* name;
    int rate; // Hz, for both the input and the output
    int channels;
    const char* options; // mode and bit-rate options for lame
    float version;
    int constantBitRate; // 0 for VBR
    std::size_t xingAt;  // where lame puts its block (without the CRC gap); read from the file
    bool crc;
};

const Encoding kEncodings[] = {
    {"cbr44stereo", 44100, 2, "-m j -b 128", 1.0f, 128, 36, false},
    {"vbr44stereo", 44100, 2, "-m j -V 2", 1.0f, 0, 36, false},
    {"vbr44mono", 44100, 1, "-m m -V 4", 1.0f, 0, 21, false},
    {"vbr44monoCrc", 44100, 1, "-m m -V 4 -p", 1.0f, 0, 21, true},
    {"cbr44mono", 44100, 1, "-m m -b 64", 1.0f, 64, 21, false},
    {"vbr22stereo", 22050, 2, "-m j -V 5", 2.0f, 0, 21, false},
    {"vbr22stereoCrc", 22050, 2, "-m j -V 5 -p", 2.0f, 0, 21, true},
    {"vbr24mono", 24000, 1, "-m m -V 5", 2.0f, 0, 13, false},
    {"cbr16stereo", 16000, 2, "-m j -b 32", 2.0f, 32, 21, false},
    {"vbr11mono", 11025, 1, "-m m -V 6", 2.5f, 0, 13, false},
    {"vbr8stereo", 8000, 2, "-m j -V 6", 2.5f, 0, 21, false},
};

std::string quoted(const std::string& text)
{
    return "'" + text + "'";
}

// A sweep with a slowly changing level, so VBR has something to vary over.
void writePcm(const std::string& path, int rate, int channels)
{
    std::ofstream out(path, std::ios::binary);
    const auto samples = static_cast<int>(kSeconds * rate);
    double phase[2] = {0, 0};
    for (int i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double level = 6000 + 5000 * std::sin(2 * std::numbers::pi * 0.7 * t);
        for (int c = 0; c < channels; ++c) {
            const double hz = (c == 0 ? 200.0 : 330.0) + 1500.0 * t / kSeconds;
            phase[c] += 2 * std::numbers::pi * std::min(hz, rate / 2.5) / rate;
            const auto sample = static_cast<std::int16_t>(level * std::sin(phase[c]));
            const char bytes[2] = {static_cast<char>(sample & 0xFF),
                                   static_cast<char>((sample >> 8) & 0xFF)};
            out.write(bytes, 2);
        }
    }
}

class EncoderTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<test::ScopedDir>();
        const std::string log = s_dir->file("tools.log");
        for (const Encoding& e : kEncodings) {
            const std::string pcm = s_dir->file(std::string(e.name) + ".raw");
            writePcm(pcm, e.rate, e.channels);
            const std::string command =
                "lame --quiet -r --bitwidth 16 --signed --little-endian -s " +
                std::to_string(e.rate / 1000.0) + " --resample " + std::to_string(e.rate / 1000.0) +
                " " + e.options + " " + quoted(pcm) + " " + quoted(path(e.name)) + " 2>>" +
                quoted(log);
            s_ok = s_ok && std::system(command.c_str()) == 0;
        }
        s_ok = s_ok && run("cp " + quoted(path("cbr44stereo")) + " " + quoted(path("v1")), log) &&
               run("id3v2 -1 -t 'Caf\xE9 Title' -a Artist -A Album -y 1999 -c Comment -T 7 -g 9 " +
                       quoted(path("v1")),
                   log) &&
               run("cp " + quoted(path("vbr22stereo")) + " " + quoted(path("v2")), log) &&
               run("id3v2 -2 -t 'Only v2' -a Someone " + quoted(path("v2")), log) &&
               run("cp " + quoted(path("v2")) + " " + quoted(path("both")), log) &&
               run("id3v2 -1 -t 'Both Tags' " + quoted(path("both")), log) &&
               run("cp " + quoted(path("cbr44mono")) + " " + quoted(path("eyed3")), log) &&
               run("eyeD3 -Q --to-v2.3 --encoding utf16 -t '\xC3\x9Cn\xC3\xAF"
                   "code  ' " +
                       quoted(path("eyed3")),
                   log) &&
               run("cp " + quoted(path("cbr44mono")) + " " + quoted(path("mutagen")), log) &&
               run("/usr/bin/python3 -c 'import sys; from mutagen.id3 import ID3, TIT2; t = "
                   "ID3(); t.add(TIT2(encoding=3, text=[\"First\", \"Second\"])); "
                   "t.save(sys.argv[1])' " +
                       quoted(path("mutagen")),
                   log);
        if (!s_ok) {
            std::ifstream in(log);
            s_log.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }

    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override { ASSERT_TRUE(s_ok) << "lame or id3v2 failed:\n" << s_log; }

    static bool run(const std::string& command, const std::string& log)
    {
        return std::system((command + " >>" + quoted(log) + " 2>&1").c_str()) == 0;
    }

    static std::string path(const std::string& name) { return s_dir->file(name + ".mp3"); }

    static std::unique_ptr<test::ScopedDir> s_dir;
    static bool s_ok;
    static std::string s_log;
};

std::unique_ptr<test::ScopedDir> EncoderTest::s_dir;
bool EncoderTest::s_ok = true;
std::string EncoderTest::s_log;

std::uint32_t bigEndianAt(const Bytes& bytes, std::size_t at)
{
    return std::uint32_t{bytes.at(at)} << 24 | std::uint32_t{bytes.at(at + 1)} << 16 |
           std::uint32_t{bytes.at(at + 2)} << 8 | bytes.at(at + 3);
}

TEST_F(EncoderTest, LengthAndBitRateMatchWhatWasEncoded)
{
    Mp3Analysis info;
    for (const Encoding& e : kEncodings) {
        SCOPED_TRACE(e.name);
        const Bytes bytes = test::readFile(path(e.name));
        info.analyse(path(e.name));
        ASSERT_TRUE(info.isValidMp3());
        EXPECT_EQ(info.firstFrameOffset(), 0);
        EXPECT_EQ(info.sampleRate(), e.rate);
        EXPECT_EQ(info.mpegVersion(), e.version);
        EXPECT_EQ(info.layer(), 3);
        EXPECT_EQ(info.isProtected(), e.crc);
        EXPECT_EQ(info.channelMode() == "Single channel", e.channels == 1);
        const std::string identifier(bytes.begin() + static_cast<std::ptrdiff_t>(e.xingAt),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(e.xingAt) + 4);
        // lame adds under a tenth of a second of padding; the length is cut to whole seconds.
        EXPECT_GE(info.songLength(), 2);
        EXPECT_LE(info.songLength(), 3);
        if (e.constantBitRate != 0) {
            // lame leaves its "Info" block out of frames too small to hold it.
            EXPECT_NE(identifier, "Xing");
            EXPECT_FALSE(info.isVariableBitRate());
            EXPECT_EQ(info.bitRate(), e.constantBitRate);
        } else {
            ASSERT_EQ(identifier, "Xing");
            EXPECT_TRUE(info.isVariableBitRate());
            const std::uint32_t frames = bigEndianAt(bytes, e.xingAt + 8);
            EXPECT_EQ(info.frameCount(), frames);
            // The real average over the frames the stream holds; the analysis divides by 12 after
            // rounding, so it may be up to one step lower.
            const int samplesPerFrame = e.version == 1.0f ? 1152 : 576;
            const double seconds = static_cast<double>(frames) * samplesPerFrame / e.rate;
            const double kbps = static_cast<double>(bytes.size()) * 8 / seconds / 1000;
            EXPECT_NEAR(info.bitRate(), kbps, 1.0 + kbps * 0.02);
        }
    }
}

TEST_F(EncoderTest, Id3v1WrittenByATagTool)
{
    EXPECT_EQ(ReadTagTitle(path("v1")), "Caf\xC3\xA9 Title" + std::string(20, '\0'));
    Mp3Analysis info;
    info.analyse(path("v1"));
    EXPECT_TRUE(info.hasId3v1Tag());
    EXPECT_EQ(info.title(), "Caf\xC3\xA9 Title");
    EXPECT_EQ(info.artist(), "Artist");
    EXPECT_EQ(info.album(), "Album");
    EXPECT_EQ(info.year(), "1999");
    EXPECT_EQ(info.comment(), "Comment");
    EXPECT_EQ(info.trackNumber(), 7);
    EXPECT_EQ(info.genreId(), 9);
    EXPECT_EQ(info.genreName(), "Metal");

    Mp3Analysis untagged;
    untagged.analyse(path("cbr44stereo"));
    EXPECT_EQ(info.frameCount(), untagged.frameCount()) << "the tag is not audio";
    EXPECT_FALSE(ReadTagTitle(path("cbr44stereo")));
}

TEST_F(EncoderTest, Id3v2WrittenByATagTool)
{
    Mp3Analysis plain;
    plain.analyse(path("vbr22stereo"));
    Mp3Analysis info;
    info.analyse(path("v2"));
    EXPECT_TRUE(info.hasId3v2Tag());
    EXPECT_EQ(info.id3v2Offset(), 0);
    EXPECT_GT(info.id3v2Size(), 10);
    EXPECT_EQ(info.firstFrameOffset(), info.id3v2Size());
    EXPECT_EQ(info.fileSize(), plain.fileSize() + info.id3v2Size());
    EXPECT_TRUE(info.isVariableBitRate());
    EXPECT_EQ(info.frameCount(), plain.frameCount());
    EXPECT_FALSE(info.hasId3v1Tag());
    EXPECT_FALSE(ReadTagTitle(path("v2")));

    Mp3Analysis both;
    both.analyse(path("both"));
    EXPECT_TRUE(both.hasId3v2Tag());
    EXPECT_TRUE(both.hasId3v1Tag());
    EXPECT_EQ(both.title(), "Both Tags");
    EXPECT_EQ(ReadTagTitle(path("both")), "Both Tags" + std::string(21, '\0'));
}

TEST_F(EncoderTest, ID3v2TitlesOfTagTools)
{
    const auto titles = [&](const char* name) {
        const SizeAndTagTitle read = ReadSizeAndTagTitle(path(name), true);
        return ComparedTitle(read.title, read.id3v2Title);
    };
    EXPECT_EQ(titles("v2"), "Only v2");
    EXPECT_EQ(titles("both"), "Only v2") << "the ID3v2 title comes first";
    EXPECT_EQ(titles("v1"), "Caf\xC3\xA9 Title" + std::string(20, '\0'))
        << "no ID3v2 tag: the ID3v1 title";
    EXPECT_EQ(titles("eyed3"), "\xC3\x9Cn\xC3\xAF"
                               "code")
        << "version 2.3, UTF-16";
    EXPECT_EQ(titles("mutagen"), "First") << "version 2.4, two values";
    EXPECT_EQ(ReadSizeAndTagTitle(path("both")).id3v2Title, std::nullopt) << "not asked for";
}

TEST_F(EncoderTest, StrippingBothTagsGivesBackTheEncoderOutput)
{
    const std::string copy = s_dir->file("strip.mp3");
    std::filesystem::copy_file(path("both"), copy);
    Mp3Analysis info;
    info.analyse(copy);
    ASSERT_TRUE(info.removeTag(true));
    ASSERT_TRUE(info.removeBytesBeforeFirstFrame(true));
    EXPECT_EQ(test::readFile(copy), test::readFile(path("vbr22stereo")));
}

// The bytes of a file's audio range; empty when it has none.
Bytes audioBytes(const std::string& file)
{
    Mp3Analysis info;
    info.analyse(file);
    const AudioRange range = info.audioRange();
    if (range.empty())
        return {};
    const Bytes bytes = test::readFile(file);
    return Bytes(bytes.begin() + range.start, bytes.begin() + range.start + range.length);
}

TEST_F(EncoderTest, RetaggedCopiesKeepTheirAudioAndNearMissesDoNot)
{
    const std::string log = s_dir->file("retag.log");
    const std::string original = path("cbr44stereo");
    const auto copy = [&](const std::string& name) {
        EXPECT_TRUE(run("cp " + quoted(original) + " " + quoted(path(name)), log));
        return quoted(path(name));
    };
    // Every tagger as a user would run it; the APEv2 tag goes behind mutagen's ID3 tags.
    ASSERT_TRUE(run("eyeD3 --quiet -t Other -a Someone " + copy("eyed3"), log));
    ASSERT_TRUE(run("mid3v2 -t Mutagen -a Someone " + copy("mutagen"), log));
    ASSERT_TRUE(run("/usr/bin/python3 -c \"import sys; from mutagen.apev2 import APEv2; "
                    "t = APEv2(); t['Title'] = 'Ape'; t.save(sys.argv[1])\" " +
                        quoted(path("mutagen")),
                    log));
    ASSERT_TRUE(run("id3v2 -1 -2 -t 'Both Kinds' " + copy("id3v2"), log));
    ASSERT_TRUE(run("ffmpeg -loglevel error -y -i " + quoted(original) +
                        " -codec:a libmp3lame -b:a 96k " + quoted(path("reencoded")),
                    log));
    ASSERT_TRUE(run(
        ": > " + quoted(path("tagonly")) + " && mid3v2 -t Only " + quoted(path("tagonly")), log));
    const Bytes audio = test::readFile(original);
    ASSERT_EQ(audioBytes(original), audio) << "an untagged file is all audio";
    for (const char* name : {"v1", "eyed3", "mutagen", "id3v2"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(test::readFile(path(name)), audio);
        EXPECT_EQ(audioBytes(path(name)), audio);
    }

    Bytes flipped = audio;
    flipped[flipped.size() / 2] ^= 0x01;
    test::writeFile(path("flipped"), flipped);
    // One 128 kbit/s frame of 417 bytes fewer.
    test::writeFile(path("cut"), Bytes(audio.begin(), audio.end() - 417));
    for (const char* name : {"flipped", "cut", "reencoded"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(audioBytes(path(name)).empty());
        EXPECT_NE(audioBytes(path(name)), audio);
    }
    EXPECT_TRUE(audioBytes(path("tagonly")).empty());
}

} // namespace
} // namespace tunesift
