// tunesift-cli's options: what a run gets from its arguments, and the usage errors and help, as
// the program writes them.

#include "cli/options.h"
#include "clirun.h"
#include "mp3/audioprint.h"
#include "mp3/id3v2title.h"

#include <gmock/gmock.h>

namespace tunesift::test {
namespace {

using ::testing::HasSubstr;
using Outcome = ParsedArguments::Outcome;

struct ArgumentsCase
{
    std::vector<std::string> args;
    Outcome outcome;
    std::string problem; // of a usage error
};

// A build without a decoder or an ID3v2 reader refuses the options that need them.
const std::vector<ArgumentsCase> kArgumentCases = {
    AudioPrintsAvailable() ? ArgumentsCase{{"--similar-audio", "x"}, Outcome::Run, ""}
                           : ArgumentsCase{{"--similar-audio", "x"},
                                           Outcome::UsageError,
                                           "--similar-audio: this build decodes no audio"},
    ID3v2TitlesAvailable() ? ArgumentsCase{{"--id3v2-titles", "--exact-tag", "x"}, Outcome::Run, ""}
                           : ArgumentsCase{{"--id3v2-titles", "--exact-tag", "x"},
                                           Outcome::UsageError,
                                           "--id3v2-titles: this build reads no ID3v2 tags"},
    {{}, Outcome::UsageError, "no folder given"},
    {{"--exact-filename"}, Outcome::UsageError, "no folder given"},
    {{"--catalogue-only"}, Outcome::UsageError, "no folder given"},
    {{"/music"}, Outcome::UsageError, "no criterion given"},
    {{"--exact-filename", "--bogus", "/music"}, Outcome::UsageError, "unknown option '--bogus'"},
    {{"-x", "/music"}, Outcome::UsageError, "unknown option '-x'"},
    {{"---exact-filename", "/music"}, Outcome::UsageError, "unknown option '---exact-filename'"},
    {{"--Exact-Filename", "/music"}, Outcome::UsageError, "unknown option '--Exact-Filename'"},
    {{"--exact-filename=yes", "/music"},
     Outcome::UsageError,
     "unknown option '--exact-filename=yes'"},
    {{"--help=1"}, Outcome::UsageError, "unknown option '--help=1'"},
    {{"--bogus", "--help"}, Outcome::UsageError, "unknown option '--bogus'"},
    {{"--exact-filename", "--format", "xml", "/music"},
     Outcome::UsageError,
     "unknown format 'xml' (use tsv or jsonl)"},
    {{"--format=", "--exact-filename", "/music"},
     Outcome::UsageError,
     "unknown format '' (use tsv or jsonl)"},
    {{"--format", "--exact-filename", "/music"},
     Outcome::UsageError,
     "unknown format '--exact-filename' (use tsv or jsonl)"},
    {{"--exact-filename", "/music", "--format"},
     Outcome::UsageError,
     "--format needs a value: tsv or jsonl"},
    {{"--format", "xml", "--bogus"},
     Outcome::UsageError,
     "unknown format 'xml' (use tsv or jsonl)"},
    {{"--help", "--bogus"}, Outcome::Help, ""},
    {{"--exact-filename", "/music", "-h"}, Outcome::Help, ""},
};

// Every case as the parser reads it and, but for a run, as the program answers it: a usage error
// exits with 2 and explains on standard error, the help goes to standard output.
TEST(CliArguments, UsageErrorsAndHelpAsTheProgramWritesThem)
{
    for (const ArgumentsCase& c : kArgumentCases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const ParsedArguments parsed = ParseArguments(c.args);
        EXPECT_EQ(parsed.outcome, c.outcome);
        EXPECT_EQ(parsed.problem, c.problem);
        if (c.outcome == Outcome::Run)
            continue;
        const CliResult result = runCli(c.args);
        EXPECT_TRUE(result.exited);
        if (c.outcome == Outcome::Help) {
            EXPECT_EQ(result.status, 0);
            EXPECT_EQ(result.out, kCliUsage);
            EXPECT_EQ(result.err, "");
        } else {
            EXPECT_EQ(result.status, 2);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, "tunesift-cli: " + c.problem + "\n\n" + kCliUsage);
        }
    }
}

TEST(CliArguments, HelpNamesEveryOptionAndTheExitStatus)
{
    const std::string usage = kCliUsage;
    for (const std::string_view option : CliOptionNames())
        EXPECT_THAT(usage, HasSubstr("  " + std::string(option) + " ")) << option;
    for (const char* word : {"FOLDER", "tsv", "jsonl", "Ctrl-C", "Exit status"})
        EXPECT_THAT(usage, HasSubstr(word));
}

// Folders keep their order and their text; "-", the empty text and whatever follows "--" are
// folders; of --format and of --progress / --quiet the last one counts.
TEST(CliArguments, ARunGetsItsFoldersAndSettingsInOrder)
{
    const ParsedArguments parsed = ParseArguments(
        {"--exact-tag", "b/", "-", "--format", "jsonl", "--progress", "", "--no-cache", "--quiet",
         "--format=tsv", "--exact-tag", "--", "--exact-filename", "a"});
    ASSERT_EQ(parsed.outcome, Outcome::Run) << parsed.problem;
    const CliOptions& options = parsed.options;
    EXPECT_EQ(options.folders, std::vector<std::string>({"b/", "-", "", "--exact-filename", "a"}));
    std::array<bool, kCriterionCount> tagOnly{};
    tagOnly[static_cast<std::size_t>(Criterion::ExactTag)] = true;
    EXPECT_EQ(options.criteria, tagOnly);
    EXPECT_EQ(options.format, RowFormat::Tsv);
    EXPECT_EQ(options.work, WorkDisplay::Never);
    EXPECT_FALSE(options.useCache);
    EXPECT_FALSE(options.catalogueOnly);
    EXPECT_FALSE(options.id3v2Titles);

    const ParsedArguments jsonl =
        ParseArguments({"--format=jsonl", "--quiet", "--progress", "--catalogue-only", "x"});
    ASSERT_EQ(jsonl.outcome, Outcome::Run) << jsonl.problem;
    EXPECT_EQ(jsonl.options.format, RowFormat::Jsonl);
    EXPECT_EQ(jsonl.options.work, WorkDisplay::Always);
    EXPECT_TRUE(jsonl.options.catalogueOnly);
    EXPECT_TRUE(jsonl.options.useCache);

    // Each criterion option ticks its criterion alone.
    for (const auto& [option, criterion] : kCriterionOptions) {
        if (criterion == Criterion::SimilarAudio && !AudioPrintsAvailable())
            continue;
        const ParsedArguments one = ParseArguments({option, "x"});
        ASSERT_EQ(one.outcome, Outcome::Run) << option;
        std::array<bool, kCriterionCount> alone{};
        alone[static_cast<std::size_t>(criterion)] = true;
        EXPECT_EQ(one.options.criteria, alone) << option;
    }
}

} // namespace
} // namespace tunesift::test
