// The cache never changes a result: on a random library, after one random change between runs,
// runs with the cache give exactly the rows of a run that reads every file.

#include "cache/sqlitecache.h"
#include "search/engineview.h"
#include "search/randomtree.h"
#include "search/recordinghost.h"
#include "search/scan.h"
#include "search/searchrun.h"
#include "search/testtree.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <thread>

namespace tunesift::test {
namespace {

enum class Change
{
    NewCopy,         // a copy of a file under another name
    RetagInPlace,    // the title rewritten in place, the modification time put back
    ReplaceByRename, // a new version written beside the file and renamed over it
    Removal,
    DamagedCache,        // bytes of the cache file overwritten, or the file cut short
    ChangedWithinASecond // rewritten in place at the same length right after the run read it
};
constexpr int kChangeKinds = 6;

std::ostream& operator<<(std::ostream& out, Change change)
{
    static const char* const names[] = {"new copy", "retag in place", "replace by rename",
                                        "removal",  "damaged cache",  "changed within a second"};
    return out << names[static_cast<int>(change)];
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes the bytes over the file in place (the same inode) and puts its modification time back.
void rewriteInPlace(const std::string& path, const std::string& bytes)
{
    struct stat before
    {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    {
        std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::trunc);
        out << bytes;
    }
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Another title of the same length in the file's ID3v1 tag, or a tag where it had none.
std::string retagged(std::string bytes, Random& random)
{
    const std::string title = TitleField(pick(random, kTitles) + " (again)", ' ');
    if (bytes.size() >= 128 && bytes.compare(bytes.size() - 128, 3, "TAG") == 0)
        bytes.replace(bytes.size() - 125, 30, title);
    else
        bytes += ("TAG" + title + std::string(95, '\0'));
    return bytes;
}

void changeLibrary(Change change, Random& random, const TempDir& dir, const Tree& tree,
                   const std::string& cacheFile)
{
    const std::string file = dir / pick(random, tree.mp3Files);
    const std::string folder = dir / pick(random, tree.walkableFolders);
    switch (change) {
    case Change::NewCopy:
        std::filesystem::copy_file(file,
                                   folder + "/copy " + std::to_string(random() % 100) +
                                       (chance(random, 0.5) ? ".mp3" : ".MP3"),
                                   std::filesystem::copy_options::overwrite_existing);
        break;
    case Change::RetagInPlace:
        rewriteInPlace(file, retagged(readAll(file), random));
        break;
    case Change::ReplaceByRename: {
        const std::string beside = file + ".new";
        if (chance(random, 0.5))
            WriteBytes(beside, retagged(readAll(file), random));
        else
            WriteMp3File(beside, pick(random, tree.steps).content);
        std::filesystem::rename(beside, file);
        break;
    }
    case Change::Removal:
        RemovePath(file);
        break;
    case Change::DamagedCache: {
        const auto size = static_cast<std::size_t>(std::filesystem::file_size(cacheFile));
        if (chance(random, 0.3)) {
            std::filesystem::resize_file(cacheFile, between(random, 0, size));
            break;
        }
        std::fstream out(cacheFile, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(between(random, 0, size - 1)));
        for (std::size_t k = between(random, 1, 64); k > 0; --k)
            out.put(static_cast<char>(random()));
        break;
    }
    case Change::ChangedWithinASecond: {
        std::string bytes = readAll(file);
        for (char& byte : bytes)
            byte = static_cast<char>(byte ^ 0x01);
        rewriteInPlace(file, bytes);
        break;
    }
    }
}

TEST(CacheAgainstNoCache, RandomLibrariesAndOneChangeBetweenRuns)
{
    // Files are kept once they are older than settle when the cache opens; the test waits that
    // long where it wants the files written so far kept.
    constexpr auto kSettle = std::chrono::milliseconds(30);
    const auto settle = [&] {
        std::this_thread::sleep_for(kSettle + std::chrono::milliseconds(5));
    };
    TempDir dir(TempDir::Storage::Memory);
    for (std::uint32_t seed = 7100; seed < 7100 + 60; ++seed) {
        Random random(seed);
        const Tree tree = makeRandomTree(random, between(random, 2, 30));
        Scenario scenario = makeScenario(random, dir, tree);
        scenario.flips.clear();
        scenario.deleteAtFirstCriterion.clear();
        if (tree.mp3Files.empty())
            continue;
        const auto change = static_cast<Change>(seed % kChangeKinds);
        const bool id3v2Titles = chance(random, 0.5);
        // A third of the libraries are taken to lie on a distant share (stamps taken while
        // listing, each file looked at once per run).
        const bool distant = seed % 3 == 0;
        TempDir cacheFolder;
        const std::string cacheFile = cacheFolder / "tunesift/files.sqlite3";
        const auto run = [&](bool cached) {
            std::optional<SqliteFileCache> cache;
            if (cached)
                cache.emplace(cacheFile, nullptr, kSettle);
            SearchSession session;
            RecordingHost host;
            scenario.apply(host, dir);
            host.id3v2Titles = id3v2Titles;
            host.cache = cached ? &*cache : nullptr;
            SetDistantFilesForTesting(distant);
            RunSearch(session, scenario.folders, host);
            SetDistantFilesForTesting(false);
            return RowsOf(session);
        };
        SCOPED_TRACE("seed " + std::to_string(seed) + "\n" + scenario.describe() +
                     "\nid3v2 titles " + std::to_string(id3v2Titles) +
                     (distant ? "\ndistant" : ""));

        materialise(dir, tree);
        settle();
        const std::vector<ExpectedRow> before = run(false);
        ASSERT_EQ(run(true), before) << "cold cache";
        ASSERT_EQ(run(true), before) << "warm cache";

        SCOPED_TRACE(::testing::Message() << "change: " << change);
        changeLibrary(change, random, dir, tree, cacheFile);
        const std::vector<ExpectedRow> after = run(false);
        if (change != Change::ChangedWithinASecond)
            settle();
        const std::vector<ExpectedRow> firstAfter = run(true);
        ASSERT_EQ(firstAfter, after) << firstDifference(firstAfter, after);
        settle();
        ASSERT_EQ(run(true), after) << "the second run after the change";
    }
}

} // namespace
} // namespace tunesift::test
