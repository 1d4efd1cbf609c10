#include "keep/keepbest.h"
#include "resultsfixture.h"
#include "search/catalogue.h"
#include "search/searchrun.h"

#include <algorithm>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <unistd.h>

using namespace tunesift;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using tunesift::test::ResultsFixture;
using tunesift::test::RowFacts;

namespace {

constexpr Criterion kAudio = Criterion::ExactAudio;
constexpr Criterion kName = Criterion::ExactFilename;
constexpr Criterion kSize = Criterion::ExactFilesize;
constexpr Criterion kTitle = Criterion::ExactTag;

// Tags and modification times by path, as the window's readers would find them.
struct FileFacts
{
    std::map<std::string, int> tags;
    std::map<std::string, std::int64_t> modified;
    std::vector<std::size_t> tagReads;
    std::vector<std::size_t> timeReads;

    void attach(KeepInputs& inputs)
    {
        const ResultList* list = inputs.list;
        inputs.tagFields = [this, list](const std::vector<std::size_t>& rows) {
            std::vector<int> values;
            for (const std::size_t row : rows) {
                tagReads.push_back(list->row(row).pathId);
                const auto at = tags.find(list->path(row));
                values.push_back(at == tags.end() ? 0 : at->second);
            }
            return values;
        };
        inputs.modifiedTimes = [this, list](const std::vector<std::size_t>& rows) {
            std::vector<std::optional<std::int64_t>> values;
            for (const std::size_t row : rows) {
                timeReads.push_back(list->row(row).pathId);
                const auto at = modified.find(list->path(row));
                values.push_back(at == modified.end() ? std::nullopt : std::optional(at->second));
            }
            return values;
        };
    }
};

// The ticks of every row once the outcome is applied to an unticked list, as 0/1 per row.
std::vector<int> ticksOf(const ResultList& list, const TickOutcome& outcome)
{
    std::vector<int> ticks;
    for (const char tick : RowTicks(list, outcome.files))
        ticks.push_back(tick);
    return ticks;
}

} // namespace

TEST(KeepRules, ReadBackFromTheirTextWithNewRulesInTheirDefaultPlace)
{
    const KeepRules rules = KeepRulesFromText(" Size ,Bogus,Size,Path", "Path,Nothing");
    std::vector<KeepRule> order;
    for (const KeepRuleSetting& setting : rules) {
        order.push_back(setting.rule);
        EXPECT_EQ(setting.enabled, setting.rule != KeepRule::ShortestPath);
    }
    EXPECT_THAT(order, ElementsAre(KeepRule::InPreferredFolder, KeepRule::HighestBitRate,
                                   KeepRule::LongestPlayingTime, KeepRule::LargestFile,
                                   KeepRule::MostCompleteTags, KeepRule::OldestModification,
                                   KeepRule::ShortestPath));
    EXPECT_EQ(KeepRulesFromText(KeepRuleOrderText(rules), KeepRulesOffText(rules)), rules);
    EXPECT_EQ(KeepRulesFromText("", ""), DefaultKeepRules());
    EXPECT_EQ(KeepRuleOrderText(DefaultKeepRules()),
              "Preferred,Bitrate,Length,Size,Tags,Oldest,Path");
    // A stored order that names every rule keeps it as it is.
    EXPECT_EQ(
        KeepRuleOrderText(KeepRulesFromText("Path,Oldest,Tags,Size,Length,Bitrate,Preferred", "")),
        "Path,Oldest,Tags,Size,Length,Bitrate,Preferred");
}

// One group of three copies of a song; the table names the rule order and the row kept.
struct RuleCase
{
    const char* name;
    const char* order;
    const char* off;
    int best;
    const char* protectedFolder = nullptr;
};

void PrintTo(const RuleCase& rule, std::ostream* out)
{
    *out << rule.name;
}

class KeepRulesPick : public ::testing::TestWithParam<RuleCase>
{};

TEST_P(KeepRulesPick, TheBestCopy)
{
    // Row 0 /a/x/s.mp3:       128 kbit/s, 200 s, 5000 bytes, 1 tag field,  modified at 30.
    // Row 1 /b/s.mp3:         320 kbit/s, 180 s, 4000 bytes, 3 tag fields, modified at 10.
    // Row 2 /pref/deep/s.mp3: 128 kbit/s, 200 s, 5000 bytes, 2 tag fields, modified at 20.
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRowIn(0, "/a/x/s.mp3", kAudio, {128, 200, 5000});
    fixture.addRowIn(0, "/b/s.mp3", kAudio, {320, 180, 4000});
    fixture.addRowIn(0, "/pref/deep/s.mp3", kAudio, {128, 200, 5000});
    FileFacts facts;
    facts.tags = {{"/a/x/s.mp3", 1}, {"/b/s.mp3", 3}, {"/pref/deep/s.mp3", 2}};
    facts.modified = {{"/a/x/s.mp3", 30}, {"/b/s.mp3", 10}, {"/pref/deep/s.mp3", 20}};
    KeepInputs inputs;
    inputs.list = &session.results();
    inputs.rules = KeepRulesFromText(GetParam().order, GetParam().off);
    inputs.preferred = FolderSet({"/pref"});
    if (GetParam().protectedFolder)
        inputs.protectedFolders = FolderSet({GetParam().protectedFolder});
    facts.attach(inputs);

    EXPECT_THAT(BestRowOfEachGroup(inputs), ElementsAre(GetParam().best));
    // Each file is read at most once per rule, and only when that rule is reached.
    for (const auto* reads : {&facts.tagReads, &facts.timeReads})
        EXPECT_EQ(std::set<std::size_t>(reads->begin(), reads->end()).size(), reads->size());
    std::vector<int> expected(3, 1);
    expected[static_cast<std::size_t>(GetParam().best)] = 0;
    EXPECT_EQ(ticksOf(session.results(), TickAllButBest(inputs)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, KeepRulesPick,
    ::testing::Values(
        RuleCase{"DefaultsPreferTheFolder", "", "", 2}, RuleCase{"ThenBitRate", "", "Preferred", 1},
        RuleCase{"LengthSizeThenPath", "Length,Size", "Preferred,Bitrate,Tags,Oldest", 0},
        RuleCase{"LengthSizeThenTags", "Length,Size,Tags", "Preferred,Bitrate", 2},
        RuleCase{"TagsFirst", "Tags", "Preferred,Bitrate,Length,Size", 1},
        RuleCase{"OldestFirst", "Oldest", "Preferred,Bitrate,Length,Size,Tags", 1},
        RuleCase{"LengthThenOldest", "Length,Oldest", "Preferred,Bitrate,Size,Tags", 2},
        RuleCase{"ShortestPath", "Path", "Preferred,Bitrate,Length,Size,Tags,Oldest", 1},
        RuleCase{"AllOffTheEarlierRow", "", "Preferred,Bitrate,Length,Size,Tags,Oldest,Path", 0},
        // A protected folder's file is the keeper whatever the rules say.
        RuleCase{"ProtectedBeatsTheRules", "Bitrate", "Preferred", 0, "/a"},
        RuleCase{"ProtectedWithEveryRuleOff", "", "Preferred,Bitrate,Length,Size,Tags,Oldest,Path",
                 2, "/pref/deep"}),
    [](const ::testing::TestParamInfo<RuleCase>& rule) { return std::string(rule.param.name); });

TEST(KeepRules, AgreeWithComparingEveryRow)
{
    // Random lists with few distinct values, so that rules tie often, and groups whose rows lie
    // apart (as after an undo), against the plain way: every row's values in rule order, the
    // first row with the largest wins; a protected row wins before any rule.
    std::mt19937 random(11);
    const auto pick = [&random](int n) { return static_cast<int>(random() % n); };
    for (int round = 0; round < 60; ++round) {
        SearchSession session;
        ResultsFixture fixture(session);
        FileFacts facts;
        std::vector<std::string> files;
        for (int file = 0; file < 30; ++file) {
            files.push_back(std::string(file % 2   ? "/p/"
                                        : file % 5 ? "/m/x/"
                                                   : "/keep/") +
                            std::string(static_cast<std::size_t>(file % 3), 'a') +
                            std::to_string(file) + ".mp3");
            facts.tags[files.back()] = pick(4);
            if (pick(3))
                facts.modified[files.back()] = pick(3);
        }
        std::map<std::string, RowFacts> rowFacts;
        for (int k = 0; k < 120; ++k) {
            const std::string& path = files[static_cast<std::size_t>(pick(30))];
            // A file has the same columns in every row.
            const RowFacts values =
                rowFacts.try_emplace(path, RowFacts{128 + pick(2), pick(2), pick(2)}).first->second;
            fixture.addRowIn(static_cast<std::uint32_t>(pick(25)), path, kAudio, values);
        }
        const ResultList& list = session.results();
        KeepRules rules = DefaultKeepRules();
        std::shuffle(rules.begin(), rules.end(), random);
        for (KeepRuleSetting& setting : rules)
            setting.enabled = pick(4) != 0;
        KeepInputs inputs;
        inputs.list = &list;
        inputs.rules = rules;
        inputs.preferred = FolderSet({"/p"});
        inputs.protectedFolders = FolderSet({"/keep"});
        facts.attach(inputs);

        const auto values = [&](std::size_t row) {
            const ResultRow& r = list.row(row);
            const std::string path = list.path(row);
            std::vector<std::int64_t> key{path.starts_with("/keep/")};
            const auto time = facts.modified.find(path);
            for (const KeepRuleSetting& setting : rules) {
                const std::array<std::int64_t, 7> byRule{
                    path.starts_with("/p/") || path.starts_with("/keep/"),
                    r.bitRate,
                    r.songLength,
                    r.size,
                    facts.tags[path],
                    time == facts.modified.end() ? INT64_MIN : -time->second,
                    -static_cast<std::int64_t>(path.size())};
                if (setting.enabled)
                    key.push_back(byRule[static_cast<std::size_t>(setting.rule)]);
            }
            return key;
        };
        std::map<std::uint32_t, std::size_t> expected;
        for (std::size_t row = 0; row < list.size(); ++row) {
            const auto [at, added] = expected.try_emplace(list.row(row).group, row);
            if (!added && values(at->second) < values(row))
                at->second = row;
        }
        std::vector<std::size_t> best;
        for (const auto& [group, row] : expected)
            best.push_back(row);
        ASSERT_EQ(BestRowOfEachGroup(inputs), best) << "round " << round;
        for (const auto* reads : {&facts.tagReads, &facts.timeReads})
            EXPECT_EQ(std::set<std::size_t>(reads->begin(), reads->end()).size(), reads->size());

        // No file kept in a group or inside a protected folder is ticked, and no group loses
        // every copy.
        const std::vector<char> ticks = RowTicks(list, TickAllButBest(inputs).files);
        for (const std::size_t row : best)
            EXPECT_EQ(ticks[row], 0);
        for (std::size_t row = 0; row < list.size(); ++row)
            EXPECT_TRUE(!list.path(row).starts_with("/keep/") || ticks[row] == 0);
        EXPECT_TRUE(GroupsLosingEveryCopy(list, ticks).empty());
    }
}

TEST(Evidence, AudioProvesACopyAndTheRestOnlySuggestsOne)
{
    EXPECT_EQ(EvidenceOf(Criterion::ExactAudio), Evidence::SameRecording);
    for (const Criterion criterion :
         {Criterion::ExactFilename, Criterion::ExactFilesize, Criterion::SimilarFilename,
          Criterion::ExactTag, Criterion::SimilarTag})
        EXPECT_EQ(EvidenceOf(criterion), Evidence::Resemblance);
}

// A library as a new user has it: Library/ organised, Backup/ a copy of part of it, Incoming/
// new files; two songs that only share a byte size or a title with another.
class HelpersOnEvidence : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fixture.addRowIn(0, "/Library/a.mp3", kAudio, {192, 200, 5000});  // 0
        fixture.addRowIn(0, "/Backup/a.mp3", kAudio, {192, 200, 5000});   // 1
        fixture.addRowIn(0, "/Incoming/a.mp3", kAudio, {320, 200, 9000}); // 2
        fixture.addRowIn(1, "/Library/b.mp3", kAudio, {128, 100, 3000});  // 3
        fixture.addRowIn(1, "/Backup/b.mp3", kAudio, {128, 100, 3000});   // 4
        fixture.addRowIn(2, "/Library/c.mp3", kSize, {128, 150, 7777});   // 5: size only
        fixture.addRowIn(2, "/Incoming/z.mp3", kSize, {128, 151, 7777});  // 6
        fixture.addRowIn(3, "/Library/d.mp3", kTitle, {128, 150, 6000});  // 7: title only
        fixture.addRowIn(3, "/Incoming/y.mp3", kTitle, {160, 150, 6100}); // 8
        fixture.addRowIn(4, "/Backup/a.mp3", kName, {192, 200, 5000});    // 9: names too
        fixture.addRowIn(4, "/Incoming/a.mp3", kName, {320, 200, 9000});  // 10
        fixture.addRowIn(4, "/Library/a.mp3", kName, {192, 200, 5000});   // 11
        inputs.list = &session.results();
    }

    SearchSession session;
    ResultsFixture fixture{session};
    KeepInputs inputs;
};

TEST_F(HelpersOnEvidence, TickAllButTheBestActsOnlyOnProof)
{
    // By default the best by bit rate (Incoming/a) is kept, and Backup/b for its shorter path:
    // the organised Library/ loses both, which is why the first use asks for a folder.
    TickOutcome outcome = TickAllButBest(inputs);
    EXPECT_EQ(outcome.provenGroups, 2u);
    EXPECT_EQ(outcome.unprovenGroups, 3u);
    EXPECT_THAT(ticksOf(session.results(), outcome),
                ElementsAre(1, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1));

    // The protected Library/ holds the keepers: every other copy of its songs is ticked.
    inputs.protectedFolders = FolderSet({"/Library"});
    outcome = TickAllButBest(inputs);
    EXPECT_THAT(ticksOf(session.results(), outcome),
                ElementsAre(0, 1, 1, 0, 1, 0, 0, 0, 0, 1, 1, 0));

    // Asked for, the groups of name, size or title are acted in as well.
    inputs.unprovenGroups = true;
    outcome = TickAllButBest(inputs);
    EXPECT_EQ(outcome.provenGroups, 5u);
    EXPECT_THAT(ticksOf(session.results(), outcome),
                ElementsAre(0, 1, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0));
}

TEST_F(HelpersOnEvidence, KeepThisOneAndTickAllInFolderActOnlyOnProof)
{
    TickOutcome outcome = KeepThisOne(inputs, 1); // Backup/a
    EXPECT_EQ(outcome.provenGroups, 1u);
    EXPECT_THAT(ticksOf(session.results(), outcome),
                ElementsAre(1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1));
    outcome = KeepThisOne(inputs, 5); // a size-only group
    EXPECT_EQ(outcome.provenGroups, 0u);
    EXPECT_EQ(outcome.unprovenGroups, 1u);
    EXPECT_THAT(ticksOf(session.results(), outcome), ::testing::Each(0));

    // Library/: its a and b are proven copies; c and d only resemble other files.
    outcome = TickAllInFolder(inputs, 0);
    EXPECT_EQ(outcome.provenGroups, 2u);
    EXPECT_EQ(outcome.unprovenGroups, 3u);
    EXPECT_THAT(ticksOf(session.results(), outcome),
                ElementsAre(1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1));
    inputs.unprovenGroups = true;
    EXPECT_THAT(ticksOf(session.results(), TickAllInFolder(inputs, 0)),
                ElementsAre(1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 1));
}

TEST_F(HelpersOnEvidence, GoingFilesAndSummaryCountFilesOnce)
{
    // Backup/a (two rows), Library/c: one proven copy, one only matched by size.
    const GoingFiles going = DescribeGoingFiles(session.results(), {1, 5, 9});
    EXPECT_EQ(going.provenCopies, 1u);
    EXPECT_EQ(going.unproven, 1u);
    EXPECT_EQ(going.bytes, 5000 + 7777);

    ResultsSummary summary = SummarizeResults(session.results());
    EXPECT_EQ(summary.groups, 5u);
    EXPECT_EQ(summary.files, 9u);
    EXPECT_TRUE(summary.fileInSeveralGroups);
    EXPECT_EQ(summary.tickedFiles, 0u);

    // Ticks count each file once; a group left with one file no longer counts, nor does its
    // file when it stands nowhere else.
    session.results().setChecked(1, true);
    session.results().setChecked(9, true);
    session.results().removeRows({7});
    summary = SummarizeResults(session.results());
    EXPECT_EQ(summary, (ResultsSummary{4, 7, true, 1, 5000}));
    session.results().removeRows({8, 9, 10}); // the name group goes
    summary = SummarizeResults(session.results());
    EXPECT_EQ(summary, (ResultsSummary{3, 7, false, 1, 5000}));
}

TEST(LastCopies, GroupsLosingEveryCopyByTheirNumbers)
{
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRowIn(0, "/m/a.mp3", kName);
    fixture.addRowIn(0, "/n/a.mp3", kName);
    fixture.addRowIn(2, "/m/b.mp3", kName); // a later group written before an earlier one
    fixture.addRowIn(1, "/n/b.mp3", kName);
    fixture.addRowIn(1, "/o/b.mp3", kName);
    fixture.addRowIn(2, "/p/b.mp3", kName);
    const ResultList& list = session.results();
    EXPECT_THAT(GroupsLosingEveryCopy(list, {1, 0, 1, 1, 1, 1}), ElementsAre(1, 2));
    EXPECT_THAT(GroupsLosingEveryCopy(list, {1, 1, 0, 1, 0, 1}), ElementsAre(0));
    EXPECT_TRUE(GroupsLosingEveryCopy(list, std::vector<char>(6, 0)).empty());
}

#ifndef _WIN32
// Folders on disk, reached through links, as a user may list or protect them.
TEST(FolderSetOnDisk, FoldersAreKnownByIdentityNotText)
{
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/tunesift-keep-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path root(pattern);
    fs::create_directories(root / "music/Library/deep");
    fs::create_directories(root / "music/Libraryx");
    fs::create_directory_symlink(root / "music/Library", root / "lib-link");
    fs::create_directory_symlink(root / "music", root / "music-link");
    const std::string r = root.string();

    // Protected by its own path: a file reached through a link to it, or to a folder above it,
    // is inside; a sibling whose name only starts alike is not.
    const FolderSet byPath({r + "/music/Library"});
    EXPECT_TRUE(byPath.containsFolder(r + "/music/Library/"));
    EXPECT_TRUE(byPath.containsFolder(r + "/music/Library/deep/"));
    EXPECT_TRUE(byPath.containsFolder(r + "/lib-link/deep/"));
    EXPECT_TRUE(byPath.containsFolder(r + "/music-link/Library/"));
    EXPECT_TRUE(byPath.containsFolder(r + "//music/./Library/deep/"));
    EXPECT_FALSE(byPath.containsFolder(r + "/music/Libraryx/"));
    EXPECT_FALSE(byPath.containsFolder(r + "/music/"));

    // Protected through a link: the folder it leads to is protected, by any path.
    const FolderSet byLink({r + "/lib-link/"});
    EXPECT_TRUE(byLink.containsFolder(r + "/music/Library/deep/"));
    EXPECT_FALSE(byLink.containsFolder(r + "/music/Libraryx/"));

    // A folder gone from the disk still matches by its text.
    const FolderSet gone({"/no/such/folder"});
    EXPECT_TRUE(gone.containsFolder("/no/such/folder/x/"));
    EXPECT_FALSE(gone.containsFolder("/no/such/folderx/"));
    EXPECT_FALSE(FolderSet({""}).containsFolder("/"));
    fs::remove_all(root);
}
#endif
