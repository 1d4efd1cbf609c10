// The run as its host sees it: exact captions, progress values, questions and messages, the
// stop protocol, and the rows of small hand-made trees.

#include "search/engineview.h"
#include "search/oracle.h"
#include "search/recordinghost.h"
#include "search/searchrun.h"
#include "search/testtree.h"

#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tunesift::test {
namespace {

using ::testing::ElementsAre;
using Calls = std::vector<HostCall>;
using Kind = HostCall::Kind;

constexpr Criterion kAllCriteria[] = {Criterion::ExactFilename, Criterion::ExactFilesize,
                                      Criterion::SimilarFilename, Criterion::ExactTag,
                                      Criterion::SimilarTag};

HostCall caption(const std::string& text)
{
    return HostCall::caption(text);
}
HostCall progress(int percent)
{
    return HostCall::progressTo(percent);
}
HostCall call(Kind kind)
{
    return HostCall::of(kind);
}

Calls operator+(Calls a, const Calls& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Calls kStart = {call(Kind::ResetStop), call(Kind::RunStarted)};
// The find button comes back first, then the idle caption and progress.
const Calls kClosing = {call(Kind::RunFinished), caption("Tunesift"), progress(0)};

// The calls of the scan of one listed folder whose walk queued the given progress values.
Calls scanCalls(const std::string& folder, const std::vector<int>& steps)
{
    Calls calls = {progress(0), caption(AnalyzingCaption(folder))};
    for (int step : steps)
        calls.push_back(progress(step));
    calls.push_back(progress(100));
    calls.push_back(caption("Tunesift"));
    return calls;
}

Calls noDupesEnd()
{
    return Calls({HostCall::message(kNoDupesMessage, "No dupes"), caption("Tunesift")}) + kClosing;
}

Calls resultsEnd()
{
    return Calls({call(Kind::ShowResults), caption("Tunesift")}) + kClosing;
}

std::size_t indexOf(const Calls& calls, const HostCall& wanted, int occurrence = 1)
{
    for (std::size_t k = 0; k < calls.size(); ++k)
        if (calls[k] == wanted && --occurrence == 0)
            return k;
    ADD_FAILURE() << "no call " << wanted;
    return calls.size();
}

Mp3Content mp3(std::size_t bodyBytes = 300, std::optional<std::string> rawTitle = {})
{
    Mp3Content content;
    content.bodyBytes = bodyBytes;
    content.rawTitle = std::move(rawTitle);
    return content;
}

// Directory entries in listing order, for trees whose sibling order the test cannot choose.
std::vector<std::string> listingOf(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    return names;
}

std::vector<std::string> rowPaths(const SearchSession& session)
{
    std::vector<std::string> paths;
    for (std::size_t k = 0; k < session.results().size(); ++k)
        paths.push_back(session.results().path(k));
    return paths;
}

std::vector<std::string> rowColours(const SearchSession& session)
{
    std::vector<std::string> colours;
    for (std::size_t k = 0; k < session.results().size(); ++k)
        colours.emplace_back(ColorGroupName(session.results().color(k)));
    return colours;
}

// A run of the engine with a fresh host on which the test set the boxes.
struct EngineRun
{
    SearchSession session;
    RecordingHost host;

    void operator()(const std::vector<std::string>& folders) { RunSearch(session, folders, host); }
};

TEST(RunProtocol, EmptyFolderListShowsOneMessageAndKeepsThePreviousResults)
{
    TempDir dir;
    WriteMp3File(dir / "a/x.mp3", mp3());
    WriteMp3File(dir / "b/x.mp3", mp3());
    SearchSession session;
    RecordingHost first;
    first.tickOnly({Criterion::ExactFilename});
    RunSearch(session, {dir / "a", dir / "b"}, first);
    ASSERT_EQ(session.results().size(), 2u);

    RecordingHost host;
    host.tickOnly({Criterion::ExactFilename});
    RunSearch(session, {}, host);

    EXPECT_EQ(host.calls(), Calls({HostCall::message(kNoFoldersMessage, "Tunesift")}) + kClosing);
    EXPECT_THAT(rowPaths(session), ElementsAre(dir / "a/x.mp3", dir / "b/x.mp3"));
    EXPECT_EQ(session.catalogue().count(), 2u);
}

TEST(RunProtocol, NothingTickedScansEveryFolderFirstAndEmptiesTheResults)
{
    TempDir dir;
    WriteMp3File(dir / "a/x.mp3", mp3());
    WriteMp3File(dir / "a/sub/x.mp3", mp3());
    MakeFolder(dir / "b");
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename});
    run({dir / "a"});
    ASSERT_EQ(run.session.results().size(), 2u);

    RecordingHost host;
    RunSearch(run.session, {dir / "a", dir / "b/"}, host);

    EXPECT_EQ(host.calls(), kStart + scanCalls(dir / "a", {0, 50}) + scanCalls(dir / "b/", {0}) +
                                Calls({HostCall::message(kNoCriterionMessage, "Tunesift")}) +
                                kClosing);
    EXPECT_TRUE(run.session.results().empty());
    EXPECT_EQ(run.session.catalogue().count(), 2u);
}

TEST(RunProtocol, NoFilesMeansNoDupesAfterEveryTickedCriterionHadItsTurn)
{
    TempDir dir;
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename, Criterion::SimilarTag});
    run({dir.path()});

    EXPECT_EQ(run.host.calls(), kStart + scanCalls(dir.path(), {0}) +
                                    Calls({caption(CriterionCaption(Criterion::ExactFilename)),
                                           caption(CriterionCaption(Criterion::SimilarTag))}) +
                                    noDupesEnd());
}

TEST(RunProtocol, OneFileSetsTheProgressTo100OncePerCriterion)
{
    TempDir dir;
    WriteMp3File(dir / "only.mp3", mp3());
    EngineRun run;
    for (Criterion criterion : kAllCriteria)
        run.host.setTicked(criterion, true);
    run({dir.path()});

    Calls criteria;
    for (Criterion criterion : kAllCriteria)
        criteria = criteria + Calls({caption(CriterionCaption(criterion)), progress(100)});
    EXPECT_EQ(run.host.calls(), kStart + scanCalls(dir.path(), {0}) + criteria + noDupesEnd());
}

// The line under the bar: the phases in the order the run takes them (how often each one is
// said depends on the clock).
TEST(RunProtocol, TheWorkLineFollowsThePhasesOfTheRun)
{
    TempDir dir;
    WriteMp3File(dir / "A/song.mp3", mp3());
    WriteMp3File(dir / "B/song.mp3", mp3());
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename, Criterion::ExactFilesize, Criterion::ExactAudio});
    run({dir.path()});

    std::vector<std::string> phases;
    for (const RunProgress& work : run.host.work()) {
        std::string phase(work.phase == WorkPhase::Scanning  ? "scan"
                          : work.phase == WorkPhase::Reading ? "read"
                                                             : CriterionName(work.criterion));
        if (work.unit == WorkUnit::Bytes)
            phase += " bytes";
        if (phases.empty() || phases.back() != phase)
            phases.push_back(phase);
        if (work.phase != WorkPhase::Scanning) {
            EXPECT_LE(work.done, work.total) << phase;
        }
    }
    // The scan's last counts are said before anything else happens (a question may wait).
    const auto compared =
        std::find_if(run.host.work().begin(), run.host.work().end(),
                     [](const RunProgress& w) { return w.phase == WorkPhase::Comparing; });
    ASSERT_NE(compared, run.host.work().begin());
    EXPECT_EQ(std::prev(compared)->done, 2u);
    EXPECT_EQ(phases,
              (std::vector<std::string>{"scan", "read", "Exact Filename", "read", "Exact Filesize",
                                        "Exact Audio", "Exact Audio bytes", "Exact Audio"}));
    EXPECT_EQ(run.session.results().size(), 6u);
}

// A message waits for the user: the work line says what was found up to it.
TEST(RunProtocol, TheWorkLineIsUpToDateWhileAMessageWaits)
{
    TempDir dir;
    WriteMp3File(dir / "A/one.mp3", mp3());
    WriteMp3File(dir / "A/two.mp3", mp3());
    WriteMp3File(dir / "B/bad\xFF.mp3", mp3());
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename});
    std::optional<RunProgress> shown;
    run.host.after([](const HostCall& c, std::size_t) { return c.title == "Skip"; },
                   [&](RecordingHost& host) { shown = host.work().back(); });
    run({dir / "A", dir / "B"});
    ASSERT_TRUE(shown);
    EXPECT_EQ(ProgressText(*shown).substr(0, 30), "Scanning: 2 files in 1 folder ");
}

TEST(RunProtocol, CaptionsNameTheFolderAsListedAndEachCriterion)
{
    TempDir dir;
    WriteMp3File(dir / "a/x.mp3", mp3());
    WriteMp3File(dir / "a/y.mp3", mp3());
    EngineRun run;
    for (Criterion criterion : kAllCriteria)
        run.host.setTicked(criterion, true);
    run({dir / "a/", dir / "a"});

    EXPECT_THAT(run.host.captions(),
                ElementsAre(AnalyzingCaption(dir / "a/"), "Tunesift", AnalyzingCaption(dir / "a"),
                            "Tunesift", "Tunesift [Finding duplicates - Exact Filename]",
                            "Tunesift [Finding duplicates - Exact Filesize]",
                            "Tunesift [Finding duplicates - Similar Filename]",
                            "Tunesift [Finding duplicates - Exact Tag]",
                            "Tunesift [Finding duplicates - Similar Tag]", "Tunesift", "Tunesift"));
    EXPECT_EQ(AnalyzingCaption(dir / "a/"), "Tunesift [Analyzing " + dir / "a/" + " folder]");
    // The folder with and without its trailing separator gave the same entries.
    ASSERT_EQ(run.session.catalogue().count(), 4u);
    EXPECT_EQ(run.session.catalogue().path(0), run.session.catalogue().path(2));
    EXPECT_EQ(run.session.catalogue().path(1), run.session.catalogue().path(3));
    EXPECT_EQ(run.session.catalogue().folder(0), dir / "a/");
}

TEST(RunProtocol, ScanQueuesSubfoldersDepthFirstInListingOrder)
{
    TempDir dir;
    const std::string p = dir / "P";
    WriteMp3File(p + "/p.mp3", mp3());
    WriteMp3File(p + "/Q/q.mp3", mp3());
    WriteMp3File(p + "/Q/R/r.mp3", mp3());
    WriteMp3File(p + "/S/s.mp3", mp3());
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename});
    run({p});

    std::vector<std::string> expected = {p + "/p.mp3"};
    for (const std::string& child : listingOf(p)) {
        if (child == "Q") {
            expected.push_back(p + "/Q/q.mp3");
            expected.push_back(p + "/Q/R/r.mp3");
        } else if (child == "S") {
            expected.push_back(p + "/S/s.mp3");
        }
    }
    EXPECT_EQ(CataloguePaths(run.session), expected);
    EXPECT_EQ(run.host.calls(),
              kStart + scanCalls(p, {0, 25, 50, 75}) +
                  Calls({caption(CriterionCaption(Criterion::ExactFilename)), progress(25),
                         progress(50), progress(75), progress(100)}) +
                  noDupesEnd());
}

// Both progress bars use a division in double precision, rounded down: 29 / 100 * 100 is a
// little less than 29.
TEST(RunProtocol, ProgressIsTheWholePartOfADoublePrecisionShare)
{
    TempDir dir(TempDir::Storage::Memory);
    for (int k = 0; k < 99; ++k)
        MakeFolder(dir / ("sub" + std::to_string(k)));
    for (int k = 0; k < 100; ++k)
        WriteMp3File(dir / ("song " + std::to_string(k) + ".mp3"), mp3(300 + k));
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilesize});
    run({dir.path()});

    std::vector<int> scan = {0};
    std::vector<int> walk;
    for (int k = 0; k < 100; ++k) {
        scan.push_back(static_cast<int>(static_cast<double>(k) / 100.0 * 100.0));
        walk.push_back(static_cast<int>(static_cast<double>(k + 1) / 100.0 * 100.0));
    }
    scan.push_back(100);
    ASSERT_EQ(scan[30], 28);
    ASSERT_EQ(walk[28], 28);
    std::vector<int> expected = scan;
    expected.insert(expected.end(), walk.begin(), walk.end());
    expected.push_back(0);
    EXPECT_EQ(run.host.progressValues(), expected);
}

void createEmptyFiles(const std::string& folder, int count)
{
    MakeFolder(folder);
    for (int k = 0; k < count; ++k) {
        const std::string path = folder + "/" + std::to_string(k) + ".mp3";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
}

// A folder listed twice counts twice, so 10,000 files make a catalogue of 20,000 entries.
TEST(RunProtocol, MoreThan20000FilesAskFirst)
{
    TempDir dir(TempDir::Storage::Memory);
    createEmptyFiles(dir / "a", 10000);
    createEmptyFiles(dir / "c", 1);

    EngineRun atLimit;
    atLimit({dir / "a", dir / "a/"});
    ASSERT_EQ(atLimit.session.catalogue().count(), 20000u);
    EXPECT_THAT(atLimit.host.messages(),
                ElementsAre(HostCall::message(kNoCriterionMessage, "Tunesift")));

    const std::vector<std::string> folders = {dir / "a", dir / "c", dir / "a"};
    const std::string question =
        "The 3 folder(s) you've selected contains 20,001 files. This is over the recommended "
        "amount of 20,000. Please remove some folders from the list by selecting them and "
        "pressing 'Delete' on the keyboard or click 'Clear List'.\r\rYou can still proceed, but "
        "the duplicate finding process may take a long time. Would you like to proceed anyway?";
    ASSERT_EQ(question, LargeCatalogueQuestion(3, 20001));

    EngineRun no;
    no.host.tickOnly({Criterion::ExactFilename});
    no.host.setAnswer(MessageAnswer::No);
    no(folders);
    EXPECT_THAT(no.host.messages(),
                ElementsAre(HostCall::message(question, "Question", MessageButtons::YesNo)));
    const Calls& calls = no.host.calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(Calls(calls.end() - 4, calls.end()),
              Calls({HostCall::message(question, "Question", MessageButtons::YesNo)}) + kClosing);
    EXPECT_TRUE(no.session.results().empty());

    EngineRun yes;
    yes.host.setAnswer(MessageAnswer::Yes);
    yes(folders);
    EXPECT_THAT(yes.host.messages(),
                ElementsAre(HostCall::message(question, "Question", MessageButtons::YesNo),
                            HostCall::message(kNoCriterionMessage, "Tunesift")));
}

// Files in separate listed folders stand in the catalogue in folder-list order.
class OrderedTree
{
public:
    std::string add(const std::string& name, const Mp3Content& content)
    {
        std::string folder = m_dir / "f";
        folder.append(std::to_string(m_folders.size()));
        WriteMp3File(folder + "/" + name, content);
        m_folders.push_back(folder);
        return folder + "/" + name;
    }
    const std::vector<std::string>& folders() const { return m_folders; }
    const TempDir& dir() const { return m_dir; }

private:
    TempDir m_dir;
    std::vector<std::string> m_folders;
};

TEST(RunProtocol, StopDuringTheScanEndsTheRunWithoutScanningFurtherFolders)
{
    TempDir dir;
    WriteMp3File(dir / "a/x.mp3", mp3());
    WriteMp3File(dir / "a/sub/x.mp3", mp3());
    WriteMp3File(dir / "b/x.mp3", mp3());
    const std::vector<std::string> folders = {dir / "a", dir / "b"};
    EngineRun plain;
    plain.host.tickOnly({Criterion::ExactFilename});
    plain(folders);
    ASSERT_EQ(plain.session.results().size(), 3u);

    // The flag is set while the first of a's two folders is catalogued.
    EngineRun stopped;
    stopped.host.tickOnly({Criterion::ExactFilename});
    stopped.host.stopAfterCall(indexOf(plain.host.calls(), progress(0), 2));
    stopped(folders);
    EXPECT_EQ(stopped.host.calls(),
              kStart + Calls({progress(0), caption(AnalyzingCaption(dir / "a")), progress(0)}) +
                  kClosing);
    EXPECT_TRUE(stopped.session.results().empty());

    // Set while the last folder of a is catalogued: the scan of a ends normally, b is not
    // scanned.
    EngineRun late;
    late.host.tickOnly({Criterion::ExactFilename});
    late.host.stopAfterCall(indexOf(plain.host.calls(), progress(50)));
    late(folders);
    EXPECT_EQ(late.host.calls(), kStart + scanCalls(dir / "a", {0, 50}) + kClosing);
}

TEST(RunProtocol, StopDuringTheLastScanEndsTheRunAfterIt)
{
    TempDir dir;
    WriteMp3File(dir / "a/x.mp3", mp3());
    WriteMp3File(dir / "b/x.mp3", mp3(400));
    WriteMp3File(dir / "b/sub/y.mp3", mp3(500));
    const std::vector<std::string> folders = {dir / "a", dir / "b"};
    EngineRun plain;
    plain.host.tickOnly({Criterion::ExactFilesize});
    plain(folders);
    const std::size_t firstStepOfB = indexOf(plain.host.calls(), progress(0), 4);

    // Whether or not a pair would pass, no criterion begins.
    for (const Criterion criterion : {Criterion::ExactFilesize, Criterion::ExactFilename}) {
        EngineRun stopped;
        stopped.host.tickOnly({criterion});
        stopped.host.stopAfterCall(firstStepOfB);
        stopped(folders);
        EXPECT_EQ(stopped.host.calls(),
                  kStart + scanCalls(dir / "a", {0}) +
                      Calls({progress(0), caption(AnalyzingCaption(dir / "b")), progress(0)}) +
                      kClosing);
        EXPECT_THAT(CataloguePaths(stopped.session), ElementsAre(dir / "a/x.mp3", dir / "b/x.mp3"));
        EXPECT_TRUE(stopped.session.results().empty());
    }
}

TEST(RunProtocol, StopDuringAPassKeepsTheRowsWrittenSoFarAndShowsNothing)
{
    OrderedTree tree;
    tree.add("one.mp3", mp3());
    tree.add("two.mp3", mp3());
    tree.add("one.mp3", mp3());
    tree.add("two.mp3", mp3());
    EngineRun plain;
    plain.host.tickOnly({Criterion::ExactFilename});
    plain(tree.folders());
    ASSERT_EQ(plain.session.results().size(), 4u);

    EngineRun stopped;
    stopped.host.tickOnly({Criterion::ExactFilename});
    stopped.host.stopAfterCall(indexOf(plain.host.calls(), progress(50)));
    stopped(tree.folders());

    EXPECT_THAT(rowPaths(stopped.session),
                ElementsAre(tree.folders()[0] + "/one.mp3", tree.folders()[2] + "/one.mp3"));
    const Calls& calls = stopped.host.calls();
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(Calls(calls.end() - 5, calls.end()), Calls({progress(25), progress(50)}) + kClosing);
    EXPECT_EQ(stopped.host.count(Kind::ShowResults), 0u);
    EXPECT_TRUE(stopped.host.messages().empty());
}

TEST(RunProtocol, StopWithoutAPassingPairEndsTheRunWhenTheCriterionEnds)
{
    OrderedTree tree;
    tree.add("one.mp3", mp3(300));
    tree.add("two.mp3", mp3(300));
    const std::string filenameCaption = CriterionCaption(Criterion::ExactFilename);

    for (const bool another : {false, true}) {
        EngineRun run;
        run.host.tickOnly({Criterion::ExactFilename});
        if (another)
            run.host.setTicked(Criterion::ExactFilesize, true);
        run.host.afterCaption(filenameCaption, [](RecordingHost& host) { host.requestStop(); });
        run(tree.folders());
        EXPECT_TRUE(run.host.messages().empty()) << "no \"No dupes\"";
        EXPECT_TRUE(run.session.results().empty());
        EXPECT_EQ(run.host.count(Kind::ShowResults), 0u);
        const Calls& calls = run.host.calls();
        ASSERT_GE(calls.size(), 4u);
        EXPECT_EQ(Calls(calls.end() - 4, calls.end()), Calls({caption(filenameCaption)}) + kClosing)
            << "the criterion's pass does not begin, nor the next criterion";
    }
}

TEST(RunProtocol, ABoxChangedDuringAnEarlierCriterionCountsInTheSameRun)
{
    OrderedTree tree;
    tree.add("a.mp3", mp3(300, TitleField("Hey Jude", ' ')));
    tree.add("b.mp3", mp3(300, TitleField("hey jude", ' ')));
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename, Criterion::ExactTag});
    run.host.tickAfterCaption(CriterionCaption(Criterion::ExactFilename), Criterion::SimilarTag,
                              true);
    run.host.tickAfterCaption(CriterionCaption(Criterion::ExactFilename), Criterion::ExactTag,
                              false);
    run(tree.folders());

    EXPECT_THAT(run.host.captions(), ::testing::Contains(CriterionCaption(Criterion::SimilarTag)));
    EXPECT_THAT(run.host.captions(),
                ::testing::Not(::testing::Contains(CriterionCaption(Criterion::ExactTag))));
    EXPECT_THAT(RowsOf(run.session),
                ElementsAre(::testing::Field(&ExpectedRow::colour, "light purple"),
                            ::testing::Field(&ExpectedRow::colour, "light purple")));
}

TEST(ExactCriteria, NamesMatchOnlyWithEqualLetterCaseAndExtension)
{
    OrderedTree tree;
    const std::string song1 = tree.add("Song.mp3", mp3());
    tree.add("song.mp3", mp3());
    tree.add("a.mp3", mp3());
    tree.add("a.MP3", mp3());
    const std::string song2 = tree.add("Song.mp3", mp3());
    const std::string x1 = tree.add("x.mp3", mp3());
    const std::string x2 = tree.add("x.mp3", mp3());
    const std::string x3 = tree.add("x.mp3", mp3());
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename});
    run(tree.folders());

    EXPECT_THAT(rowPaths(run.session), ElementsAre(song1, song2, x1, x2, x3));
    EXPECT_THAT(rowColours(run.session),
                ElementsAre("light blue", "light blue", "blue", "blue", "blue"));
    for (std::size_t k = 0; k < run.session.results().size(); ++k)
        EXPECT_EQ(run.session.results().typeText(k), "Name");
    EXPECT_EQ(run.host.count(Kind::ShowResults), 1u);
    const Calls& calls = run.host.calls();
    EXPECT_EQ(Calls(calls.end() - 5, calls.end()), resultsEnd());
}

TEST(ExactCriteria, TitlesMatchOnlyWhenEqualNonEmptyAndNotStartingWithNul)
{
    OrderedTree tree;
    tree.add("1.mp3", mp3(300, TitleField("Jude", ' ')));
    tree.add("2.mp3", mp3(300, TitleField("Jude", '\0')));
    tree.add("3.mp3", mp3(300, std::string(30, '\0')));
    tree.add("4.mp3", mp3(300, std::string(30, '\0')));
    tree.add("5.mp3", mp3(300));
    tree.add("6.mp3", mp3(300));
    tree.add("7.mp3", mp3(300, std::string(30, ' ')));
    tree.add("8.mp3", mp3(300, std::string(30, ' ')));
    tree.add("9.mp3", mp3(300, std::string("\0ab", 3)));
    tree.add("10.mp3", mp3(300, std::string("\0ab", 3)));
    const std::string a = tree.add("11.mp3", mp3(300, TitleField("\xDC"
                                                                 "ber",
                                                                 ' ')));
    const std::string b = tree.add("12.mp3", mp3(300, TitleField("\xDC"
                                                                 "ber",
                                                                 ' ')));
    EngineRun run;
    run.host.tickOnly({Criterion::ExactTag});
    run(tree.folders());

    EXPECT_THAT(rowPaths(run.session), ElementsAre(a, b));
    EXPECT_THAT(rowColours(run.session), ElementsAre("light orange", "light orange"));
    EXPECT_EQ(run.session.results().typeText(0), "Exact Tag");
    ASSERT_EQ(run.session.titles().size(), 12u);
    EXPECT_EQ(run.session.titles()[0], "Jude");
    EXPECT_EQ(run.session.titles()[1], std::string("Jude") + std::string(26, '\0'));
    EXPECT_EQ(run.session.titles()[4], "");
    EXPECT_EQ(run.session.titles()[6], "");
    EXPECT_EQ(run.session.titles()[10], "\xC3\x9C"
                                        "ber");
}

TEST(ExactCriteria, AFileStandsOnceUnderEachCriterionItMatches)
{
    OrderedTree tree;
    const std::string a = tree.add("same.mp3", mp3(300, TitleField("t1", ' ')));
    const std::string b = tree.add("same.mp3", mp3(301, TitleField("t2", ' ')));
    const std::string c = tree.add("other.mp3", mp3(302, TitleField("t1", ' ')));
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename, Criterion::ExactTag});
    run(tree.folders());

    EXPECT_THAT(rowPaths(run.session), ElementsAre(a, b, a, c));
    EXPECT_THAT(rowColours(run.session),
                ElementsAre("light blue", "light blue", "orange", "orange"));
}

TEST(ExactCriteria, RowsOfFilesWithoutAFrameShowNoLengthAndNoBitRate)
{
    OrderedTree tree;
    Mp3Content noFrame = mp3(600);
    noFrame.frameHeaderTail.reset();
    tree.add("x.mp3", noFrame);
    tree.add("x.mp3", Mp3Content{0xFB5000, 5000, std::nullopt});
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename});
    run(tree.folders());

    ASSERT_EQ(run.session.results().size(), 2u);
    EXPECT_EQ(run.session.results().lengthText(0), "00:00");
    EXPECT_EQ(run.session.results().bitRateText(0), "0");
    EXPECT_EQ(run.session.results().sizeText(0, ",", "."), "600 Bytes");
    EXPECT_EQ(run.session.results().bitRateText(1), "64");
    EXPECT_EQ(run.session.results().sizeText(1, ",", "."), "5 KB");
}

// Not transitive: the third file is similar only to the second, so it is written in the
// second's step with the shade of the next group, and the next group keeps that shade.
TEST(SimilarCriteria, APartnersPartnerTakesTheShadeOfTheNextGroup)
{
    OrderedTree tree;
    const std::string f0 = tree.add("w1 w2 w3 w4 w5 w6 w7 w8 w9 w10 X.mp3", mp3());
    const std::string f1 = tree.add("w1 w2 w3 w4 w5 w6 w7 w8 w9 w10 Y.mp3", mp3());
    const std::string f2 = tree.add("w1 w2 w3 w4 w5 w6 w7 w8 w9 Z Y.mp3", mp3());
    const std::string f3 = tree.add("Hey Jude.mp3", mp3());
    const std::string f4 = tree.add("hey jude.mp3", mp3());
    const std::string f5 = tree.add("The Long and Winding Road.mp3", mp3());
    tree.add("long  winding Road.mp3", mp3());
    const std::string f7 = tree.add("Long Winding Road.mp3", mp3());
    tree.add("Jude Hey.mp3", mp3());
    EngineRun run;
    run.host.tickOnly({Criterion::SimilarFilename});
    run(tree.folders());

    EXPECT_THAT(rowPaths(run.session), ElementsAre(f0, f1, f2, f3, f4, f5, f7));
    EXPECT_THAT(rowColours(run.session), ElementsAre("light green", "light green", "green", "green",
                                                     "green", "light green", "light green"));
    EXPECT_EQ(run.session.results().typeText(0), "Close");
}

} // namespace
} // namespace tunesift::test
