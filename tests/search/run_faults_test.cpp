// Runs over trees that once gave wrong or dangerous results: links, files seen twice, sizes read
// late or not at all, sizes beyond 32 bits, very many rows, names that are not UTF-8.

#include "search/engineview.h"
#include "search/oracle.h"
#include "search/parallel.h"
#include "search/recordinghost.h"
#include "search/scan.h"
#include "search/searchrun.h"
#include "search/testtree.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tunesift::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

Mp3Content mp3(std::size_t bodyBytes = 300)
{
    Mp3Content content;
    content.bodyBytes = bodyBytes;
    return content;
}

std::vector<std::string> rowPaths(const SearchSession& session)
{
    std::vector<std::string> paths;
    for (std::size_t k = 0; k < session.results().size(); ++k)
        paths.push_back(session.results().path(k));
    return paths;
}

struct EngineRun
{
    SearchSession session;
    RecordingHost host;

    void operator()(const std::vector<std::string>& folders) { RunSearch(session, folders, host); }
};

// Deleting "one of two copies" must never delete the only copy: within one criterion no two
// rows may name the same file, whatever paths lead to it.
std::string sameFileTwice(const SearchSession& session)
{
    const ResultList& list = session.results();
    for (std::size_t a = 0; a < list.size(); ++a) {
        struct stat sa
        {};
        if (::stat(list.path(a).c_str(), &sa) != 0)
            continue;
        for (std::size_t b = a + 1; b < list.size(); ++b) {
            struct stat sb
            {};
            if (list.row(a).criterion == list.row(b).criterion &&
                ::stat(list.path(b).c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
                sa.st_ino == sb.st_ino)
                return list.path(a) + " and " + list.path(b);
        }
    }
    return {};
}

TEST(Links, LoopsBelowAListedFolderAreNotFollowed)
{
    TempDir dir;
    WriteMp3File(dir / "top/a.mp3", mp3());
    WriteMp3File(dir / "top/sub/a.mp3", mp3());
    MakeSymlink("..", dir / "top/sub/up");
    MakeSymlink(".", dir / "top/sub/self");
    MakeSymlink(dir / "top", dir / "top/sub/deeper/back");
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename, Criterion::ExactFilesize});
    run({dir / "top"});

    std::vector<std::string> catalogue = CataloguePaths(run.session);
    std::sort(catalogue.begin(), catalogue.end());
    EXPECT_THAT(catalogue, ElementsAre(dir / "top/a.mp3", dir / "top/sub/a.mp3"));
    EXPECT_THAT(rowPaths(run.session), ElementsAre(dir / "top/a.mp3", dir / "top/sub/a.mp3",
                                                   dir / "top/a.mp3", dir / "top/sub/a.mp3"));
    EXPECT_EQ(sameFileTwice(run.session), "");
}

TEST(Links, ALinkToAFileIsNotCatalogued)
{
    TempDir dir;
    WriteMp3File(dir / "music/song.mp3", mp3());
    MakeSymlink("song.mp3", dir / "music/alias.mp3");
    MakeSymlink(dir / "music/song.mp3", dir / "music/other/song.mp3");
    EngineRun run;
    run.host.tickOnly(
        {Criterion::ExactFilename, Criterion::ExactFilesize, Criterion::SimilarFilename});
    run({dir / "music"});

    EXPECT_THAT(CataloguePaths(run.session), ElementsAre(dir / "music/song.mp3"));
    EXPECT_THAT(rowPaths(run.session), IsEmpty());
    EXPECT_EQ(run.host.messages(),
              std::vector<HostCall>({HostCall::message(kNoDupesMessage, "No dupes")}));
}

TEST(Links, AListedFolderThatIsALinkIsScanned)
{
    TempDir dir;
    WriteMp3File(dir / "real/x.mp3", mp3());
    WriteMp3File(dir / "other/x.mp3", mp3());
    MakeSymlink(dir / "real", dir / "link");
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename});
    run({dir / "link", dir / "other"});

    EXPECT_THAT(rowPaths(run.session), ElementsAre(dir / "link/x.mp3", dir / "other/x.mp3"));
}

// The same folder reached through a listed link and through its real path: one file under two
// path texts.
TEST(Links, AFileReachedThroughAListedLinkAndItsRealPathIsNotItsOwnDuplicate)
{
    TempDir dir;
    WriteMp3File(dir / "real/x.mp3", mp3());
    MakeSymlink(dir / "real", dir / "link");
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename, Criterion::ExactFilesize});
    run({dir / "real", dir / "link"});

    EXPECT_THAT(rowPaths(run.session), IsEmpty());
}

// Two names of one file are two files, in one folder or in two.
TEST(Links, TwoHardLinksAreTwoFiles)
{
    TempDir dir;
    WriteMp3File(dir / "a/song.mp3", mp3());
    MakeFolder(dir / "b");
    ASSERT_EQ(::link((dir / "a/song.mp3").c_str(), (dir / "b/song.mp3").c_str()), 0);
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename, Criterion::ExactFilesize});
    run({dir / "a", dir / "b"});

    EXPECT_THAT(rowPaths(run.session), ElementsAre(dir / "a/song.mp3", dir / "b/song.mp3",
                                                   dir / "a/song.mp3", dir / "b/song.mp3"));
}

// A file reached twice (its folder listed twice, under another spelling, inside another listed
// folder or through a listed link) is never its own partner; with a real partner it stands once
// per criterion, under the text met first.
TEST(RepeatedFolders, AFileReachedTwiceIsNotItsOwnPartner)
{
    TempDir dir;
    WriteMp3File(dir / "top/a.mp3", mp3());
    WriteMp3File(dir / "top/sub/b.mp3", mp3(400));
    WriteMp3File(dir / "other/b.mp3", mp3(500));
    MakeSymlink(dir / "top", dir / "link");
    for (const std::string& spelling :
         {dir / "top/", dir / "top//", dir / "top/./", dir / "./top", dir / "link"}) {
        SCOPED_TRACE(spelling);
        EngineRun run;
        run.host.tickOnly({Criterion::ExactFilename, Criterion::ExactFilesize});
        run({dir / "top/sub/", dir / "top", spelling});
        EXPECT_EQ(run.session.catalogue().count(), 5u);
        EXPECT_THAT(rowPaths(run.session), IsEmpty());
        EXPECT_EQ(run.host.messages(),
                  std::vector<HostCall>({HostCall::message(kNoDupesMessage, "No dupes")}));

        run({dir / "top/sub/", dir / "top", spelling, dir / "other"});
        EXPECT_THAT(rowPaths(run.session), ElementsAre(dir / "top/sub/b.mp3", dir / "other/b.mp3"));
    }
}

TEST(ExactFilesize, BoxTickedAfterTheScanReadsTheSizesAtItsTurn)
{
    TempDir dir;
    std::vector<std::string> folders;
    for (std::size_t size : {300, 417, 300, 0, 417, 128}) {
        std::string name = "f";
        name += std::to_string(folders.size());
        folders.push_back(dir / name);
        WriteMp3File(folders.back() + "/x.mp3", mp3(size));
    }
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename});
    run.host.tickAfterCaption(CriterionCaption(Criterion::ExactFilename), Criterion::ExactFilesize,
                              true);
    run(folders);

    std::vector<std::string> sizeRows;
    std::vector<std::string> sizeColours;
    for (std::size_t k = 0; k < run.session.results().size(); ++k) {
        if (run.session.results().row(k).criterion != Criterion::ExactFilesize)
            continue;
        sizeRows.push_back(run.session.results().path(k));
        sizeColours.emplace_back(ColorGroupName(run.session.results().color(k)));
    }
    EXPECT_THAT(sizeRows, ElementsAre(folders[0] + "/x.mp3", folders[2] + "/x.mp3",
                                      folders[1] + "/x.mp3", folders[4] + "/x.mp3"));
    // The shade carries over from the Exact Filename group.
    EXPECT_THAT(sizeColours, ElementsAre("red", "red", "light red", "light red"));
}

TEST(ExactFilesize, AFileWhoseSizeCannotBeReadTakesNoPart)
{
    TempDir dir;
    const std::vector<std::string> folders = {dir / "a", dir / "b", dir / "c"};
    WriteMp3File(dir / "a/gone.mp3", mp3(300));
    WriteBytes(dir / "b/empty.mp3", "");
    WriteMp3File(dir / "c/gone too.mp3", mp3(300));
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename});
    run.host.tickAfterCaption(CriterionCaption(Criterion::ExactFilename), Criterion::ExactFilesize,
                              true);
    run.host.afterCaption(CriterionCaption(Criterion::ExactFilename), [&](RecordingHost&) {
        RemovePath(dir / "a/gone.mp3");
        RemovePath(dir / "c/gone too.mp3");
    });
    run(folders);

    EXPECT_THAT(rowPaths(run.session), IsEmpty());
    EXPECT_THAT(run.host.captions(),
                ::testing::Contains(CriterionCaption(Criterion::ExactFilesize)));
}

// The scan reads a title, and what the file's rows show, with the size it asks for; a file
// rewritten before its turn must be read anew, also where the length and the modification time
// stay as they were (a retag in place, an atomic rewrite), and a file gone by then has no title.
TEST(ExactTag, FilesChangedAfterTheScanAreReadAtTheirTurn)
{
    TempDir dir;
    const auto tagged = [](const std::string& title, std::uint32_t header = 0xFB9000) {
        Mp3Content content;
        content.rawTitle = TitleField(title, ' ');
        content.frameHeaderTail = header;
        return content;
    };
    constexpr std::uint32_t k320 = 0xFBE000; // 320 kbit/s, 44.1 kHz
    WriteMp3File(dir / "a/one.mp3", tagged("Same"));
    WriteMp3File(dir / "b/two.mp3", tagged("Same"));
    WriteMp3File(dir / "c/three.mp3", tagged("Other"));
    WriteMp3File(dir / "d/four.mp3", tagged("Else"));
    WriteMp3File(dir / "e/one.mp3", tagged("Alone"));
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename, Criterion::ExactFilesize, Criterion::ExactTag});
    run.host.afterCaption(CriterionCaption(Criterion::ExactFilename), [&](RecordingHost&) {
        // File times are kept in coarse steps: let the clock move past the scan's reads.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        // one.mp3 keeps its length and its time but gets another title; four.mp3 is replaced
        // by a file that matches three.mp3, with the old time and another bit rate; e/one.mp3
        // (a row of the criterion now starting) gets another bit rate in place.
        const auto oneTime = std::filesystem::last_write_time(dir / "a/one.mp3");
        WriteMp3File(dir / "a/one.mp3", tagged("Changed"));
        std::filesystem::last_write_time(dir / "a/one.mp3", oneTime);
        const auto fourTime = std::filesystem::last_write_time(dir / "d/four.mp3");
        WriteMp3File(dir / "d/new.tmp", tagged("Other", k320));
        std::filesystem::last_write_time(dir / "d/new.tmp", fourTime);
        std::filesystem::rename(dir / "d/new.tmp", dir / "d/four.mp3");
        WriteMp3File(dir / "e/one.mp3", tagged("Alone", k320));
        RemovePath(dir / "b/two.mp3");
    });
    run({dir / "a", dir / "b", dir / "c", dir / "d", dir / "e"});

    std::vector<std::string> tagRows;
    std::map<std::string, std::int32_t> bitRates;
    for (std::size_t k = 0; k < run.session.results().size(); ++k) {
        const ResultRow& row = run.session.results().row(k);
        bitRates[run.session.results().path(k)] = row.bitRate;
        if (row.criterion == Criterion::ExactTag)
            tagRows.push_back(run.session.results().path(k));
    }
    EXPECT_THAT(tagRows, ElementsAre(dir / "c/three.mp3", dir / "d/four.mp3"));
    EXPECT_EQ(run.session.titles()[0], "Changed");
    EXPECT_EQ(run.session.titles()[1], "");
    EXPECT_EQ(bitRates[dir / "a/one.mp3"], 128);
    EXPECT_EQ(bitRates[dir / "e/one.mp3"], 320);
    EXPECT_EQ(bitRates[dir / "c/three.mp3"], 128);
    EXPECT_EQ(bitRates[dir / "d/four.mp3"], 320);
}

constexpr std::int64_t kGiB = 1024LL * 1024 * 1024;

TEST(ExactFilesize, SizesBeyond32BitsAreComparedWhole)
{
    TempDir dir;
    const std::vector<std::string> folders = {dir / "a", dir / "b", dir / "c", dir / "d"};
    WriteSparseMp3File(dir / "a/small.mp3", 300);
    WriteSparseMp3File(dir / "b/big.mp3", 4 * kGiB + 300); // same low 32 bits as 300
    WriteSparseMp3File(dir / "c/huge.mp3", 5 * kGiB + kGiB / 4);
    WriteSparseMp3File(dir / "d/huge.mp3", 5 * kGiB + kGiB / 4);
    for (bool tickedDuringScan : {true, false}) {
        SCOPED_TRACE(tickedDuringScan ? "ticked during the scan" : "ticked after the scan");
        EngineRun run;
        run.host.tickOnly({Criterion::ExactFilename});
        run.host.setTicked(Criterion::ExactFilesize, tickedDuringScan);
        run.host.tickAfterCaption(CriterionCaption(Criterion::ExactFilename),
                                  Criterion::ExactFilesize, true);
        run(folders);

        EXPECT_THAT(rowPaths(run.session), ElementsAre(dir / "c/huge.mp3", dir / "d/huge.mp3",
                                                       dir / "c/huge.mp3", dir / "d/huge.mp3"));
        ASSERT_EQ(run.session.results().size(), 4u);
        EXPECT_EQ(run.session.results().row(2).size, 5 * kGiB + kGiB / 4);
        EXPECT_EQ(run.session.results().sizeText(2, ",", "."), "5.25 GB");
        EXPECT_EQ(run.session.results().typeText(2), "Size");
    }
}

// 5,500 names in each of two folders, all files of equal size and title: 5,500 pairs under
// Exact Filename, and all 11,000 files in one group under Exact Filesize and one under Exact Tag.
TEST(ManyRows, ARunMayWriteMoreThan32767Rows)
{
    TempDir dir(TempDir::Storage::Memory);
    constexpr std::size_t kNames = 5500;
    constexpr std::size_t kFiles = 2 * kNames;
    Mp3Content content = mp3(200);
    content.rawTitle = TitleField("Same", ' ');
    for (const char* folder : {"a/", "b/"})
        for (std::size_t k = 0; k < kNames; ++k)
            WriteMp3File(dir / folder + std::to_string(k) + ".mp3", content);
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename, Criterion::ExactFilesize, Criterion::ExactTag});
    run({dir / "a", dir / "b"});

    const ResultList& rows = run.session.results();
    ASSERT_EQ(rows.size(), 3 * kFiles);
    EXPECT_EQ(run.host.count(HostCall::Kind::ShowResults), 1u);
    EXPECT_EQ(ColorGroupName(rows.color(1)), "light blue");
    EXPECT_EQ(ColorGroupName(rows.color(kFiles - 1)), "blue");
    EXPECT_EQ(ColorGroupName(rows.color(kFiles)), "light red");
    EXPECT_EQ(ColorGroupName(rows.color(2 * kFiles - 1)), "light red");
    for (std::size_t k : {2 * kFiles, std::size_t{32766}, std::size_t{32767}, 3 * kFiles - 1}) {
        EXPECT_EQ(rows.row(k).criterion, Criterion::ExactTag) << k;
        EXPECT_EQ(ColorGroupName(rows.color(k)), "orange") << k;
    }
    EXPECT_EQ(rows.path(32767), rows.path(kFiles + 32767 - 2 * kFiles));
}

// A failure on a worker thread must not take the process down: the other threads stop, all are
// joined, and the caller gets the exception.
TEST(RunFailures, AnExceptionOnAnyThreadReachesTheCaller)
{
    if (std::thread::hardware_concurrency() < 2)
        GTEST_SKIP() << "one core: no worker threads";
    const std::thread::id caller = std::this_thread::get_id();
    for (const bool onCaller : {false, true}) {
        SCOPED_TRACE(onCaller ? "thrown on the caller" : "thrown on a worker");
        std::atomic<bool> thrown{false};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        const auto work = [&](std::size_t) {
            const bool onThisThread = (std::this_thread::get_id() == caller) == onCaller;
            if (onThisThread) {
                thrown = true;
                throw std::runtime_error("failed");
            }
            // The other side waits for the failure, so that it surely happens.
            while (!thrown && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
        };
        EXPECT_THROW(ParallelFor(10'000, work), std::runtime_error);
    }
}

int g_listingError = 0;
std::string g_failingFolder;

int failingListing(const std::string& folder)
{
    return folder == g_failingFolder ? g_listingError : 0;
}

// Running out of memory or descriptors while listing a folder fails the run, with a message and
// the closing steps; a folder that is missing or may not be read stays quiet.
TEST(RunFailures, AFolderThatCannotBeListedForWantOfResourcesFailsTheRun)
{
    TempDir dir;
    WriteMp3File(dir / "a/x.mp3", mp3());
    WriteMp3File(dir / "a/sub/x.mp3", mp3());
    g_failingFolder = dir / "a/sub/";
    SetListingFaultForTesting(failingListing);
    struct Restore
    {
        ~Restore() { SetListingFaultForTesting(nullptr); }
    } restore;
    for (const int error : {ENOMEM, EMFILE, ENFILE, ENOENT, EACCES}) {
        SCOPED_TRACE(std::strerror(error));
        g_listingError = error;
        EngineRun run;
        run.host.tickOnly({Criterion::ExactFilename});
        const bool quiet = error == ENOENT || error == EACCES;
        EXPECT_EQ(RunSearch(run.session, {dir / "a"}, run.host), quiet);
        EXPECT_THAT(rowPaths(run.session), IsEmpty());
        EXPECT_EQ(run.host.messages(),
                  std::vector<HostCall>(
                      {quiet ? HostCall::message(kNoDupesMessage, "No dupes")
                             : HostCall::message("The search could not be completed: cannot "
                                                 "list " +
                                                     g_failingFolder + ": " + std::strerror(error),
                                                 "Tunesift")}));
        const std::vector<HostCall>& calls = run.host.calls();
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ(std::vector<HostCall>(calls.end() - 3, calls.end()),
                  std::vector<HostCall>({HostCall::of(HostCall::Kind::RunFinished),
                                         HostCall::caption("Tunesift"), HostCall::progressTo(0)}));
    }
}

TEST(Names, EntriesWhoseNamesAreNotUtf8AreSkippedWithOneMessageEach)
{
    TempDir dir;
    const std::string top = dir / "top";
    WriteMp3File(top + "/good.mp3", mp3());
    WriteMp3File(top + "/what?.mp3", mp3());
    WriteMp3File(top + "/bad\xFF.mp3", mp3());
    WriteMp3File(top + "/bad\xFE dir/inner.mp3", mp3());
    WriteBytes(top + "/notes\xC0.txt", "x");
    WriteBytes(top + "/surrogate\xED\xA0\x80.mp3", "x");
    WriteMp3File(top + "/.hidden\xFF.mp3", mp3());
    WriteMp3File(top + "/.hidden/x.mp3", mp3());
    WriteMp3File(top + "/.x.mp3", mp3());
    EngineRun run;
    run.host.tickOnly({Criterion::ExactFilename});
    run({top});

    std::vector<std::string> catalogue = CataloguePaths(run.session);
    std::sort(catalogue.begin(), catalogue.end());
    EXPECT_THAT(catalogue, ElementsAre(top + "/good.mp3", top + "/what?.mp3"));
    std::multiset<std::string> skipped;
    for (const HostCall& message : run.host.messages()) {
        if (message.title != "Skip")
            continue;
        EXPECT_EQ(message.buttons, MessageButtons::Ok);
        skipped.insert(message.text);
    }
    EXPECT_THAT(skipped,
                ElementsAre(SkipMessage(top + "/bad\xFE dir"), SkipMessage(top + "/bad\xFF.mp3"),
                            SkipMessage(top + "/notes\xC0.txt"),
                            SkipMessage(top + "/surrogate\xED\xA0\x80.mp3")));
    // The messages come while the folders are walked, before any file is catalogued.
    const auto& calls = run.host.calls();
    ASSERT_GE(calls.size(), 8u);
    EXPECT_EQ(calls[3], HostCall::caption(AnalyzingCaption(top)));
    for (std::size_t k = 4; k < 8; ++k)
        EXPECT_EQ(calls[k].title, "Skip") << k;
}

} // namespace
} // namespace tunesift::test
