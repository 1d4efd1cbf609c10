// Prints of files made at test time by lame (installed by scripts/setup.sh): one tune in the
// encodings a library holds, at every rate the decoder is asked to reduce, must print alike;
// another tune, silence and a file without frames must not.

#include "files/fileaccess.h"
#include "mp3/audioprint.h"
#include "mp3/mp3analysis.h"
#include "mp3/mp3testutil.h"
#include "search/audiomatch.h"

#include <gtest/gtest.h>
#include <memory>

namespace tunesift {
namespace {

constexpr double kTuneSeconds = 25.0;

struct Encoding
{
    const char* name;
    const char* options;
};

// 44.1 and 22.05 kHz are decoded at a quarter and a half of their rate, 48, 32, 24 and 16 kHz
// at 11.025 kHz directly, 11.025 and 8 kHz as they are.
const Encoding kEncodings[] = {
    {"cbr44", "--resample 44.1 -b 128"},      {"vbr48", "--resample 48 -V 4"},
    {"cbr32", "--resample 32 -b 64"},         {"mono22", "-b 48"},
    {"mpeg2_24", "--resample 24 -b 64"},      {"mpeg2_16", "--resample 16 -b 32"},
    {"mpeg25_11", "--resample 11.025 -b 32"}, {"mpeg25_8", "--resample 8 -b 24"},
};

// Values a print of so many seconds holds: one per 1,365 samples at 11,025 Hz once the first
// window of 4,096 is full, less the 19 that the fingerprinter's filters need around each value.
std::size_t valuesFor(double seconds)
{
    return static_cast<std::size_t>((seconds * 11025 - 4096) / 1365) + 1 - 19;
}

AudioPrintResult printOf(const std::string& path)
{
    ReadOnlyFile file;
    if (!file.open(path))
        return {};
    Mp3Analysis analysis;
    analysis.analyseOpened(file, path);
    return MakeAudioPrint(file, analysis.audioRange(), analysis.sampleRate());
}

class AudioPrintTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!AudioPrintsAvailable())
            return;
        s_dir = std::make_unique<test::ScopedDir>();
        for (const Encoding& e : kEncodings)
            s_ok = s_ok && test::encodeTune(path(e.name), 1, kTuneSeconds, e.options);
        s_ok = s_ok && test::encodeTune(path("other"), 2, kTuneSeconds, "-b 128") &&
               test::encodeTune(path("silence"), 0, kTuneSeconds, "-b 128") &&
               test::encodeTune(path("long"), 3, 130.0, "--resample 11.025 -b 16");
    }

    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override
    {
        if (!AudioPrintsAvailable())
            GTEST_SKIP() << "built without the decoder and the fingerprinter";
        ASSERT_TRUE(s_ok) << "lame failed";
    }

    static std::string path(const std::string& name) { return s_dir->file(name + ".mp3"); }

    static std::unique_ptr<test::ScopedDir> s_dir;
    static bool s_ok;
};

std::unique_ptr<test::ScopedDir> AudioPrintTest::s_dir;
bool AudioPrintTest::s_ok = true;

TEST_F(AudioPrintTest, OneTuneInEveryEncodingPrintsAlike)
{
    const std::size_t expected = valuesFor(kTuneSeconds);
    std::vector<std::vector<std::uint32_t>> prints;
    for (const Encoding& e : kEncodings) {
        SCOPED_TRACE(e.name);
        const AudioPrintResult print = printOf(path(e.name));
        EXPECT_EQ(print.outcome, AudioPrintResult::Outcome::Made);
        EXPECT_NEAR(static_cast<double>(print.values.size()), expected, 2.0);
        EXPECT_TRUE(HasEnoughSound(print.values));
        prints.push_back(print.values);
    }
    const AudioMatchRules rules;
    for (std::size_t a = 0; a < prints.size(); ++a)
        for (std::size_t b = a + 1; b < prints.size(); ++b) {
            SCOPED_TRACE(std::string(kEncodings[a].name) + " ~ " + kEncodings[b].name);
            const PrintAlignment at = BestAlignmentNear(prints[a], prints[b], 0);
            EXPECT_TRUE(IsSameRecording(at, prints[a].size(), prints[b].size(), rules));
        }

    const std::vector<std::uint32_t> other = printOf(path("other")).values;
    for (int offset = -40; offset <= 40; ++offset)
        EXPECT_FALSE(IsSameRecording(AlignPrints(prints[0], other, offset), prints[0].size(),
                                     other.size(), rules));
}

TEST_F(AudioPrintTest, SilenceAndFilesWithoutAudioHoldTooLittleSound)
{
    const AudioPrintResult silence = printOf(path("silence"));
    EXPECT_EQ(silence.outcome, AudioPrintResult::Outcome::Made);
    EXPECT_FALSE(silence.values.empty());
    EXPECT_FALSE(HasEnoughSound(silence.values));

    const std::string junk = path("junk");
    test::writeFile(junk, test::Bytes(100000, 0x55));
    const AudioPrintResult none = printOf(junk);
    EXPECT_EQ(none.outcome, AudioPrintResult::Outcome::Made);
    EXPECT_TRUE(none.values.empty());
}

TEST_F(AudioPrintTest, OnlyTheFirstTwoMinutesArePrinted)
{
    const AudioPrintResult print = printOf(path("long"));
    EXPECT_NEAR(static_cast<double>(print.values.size()), valuesFor(kPrintSeconds), 2.0);
}

} // namespace
} // namespace tunesift
