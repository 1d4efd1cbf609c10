// The facts cache only ever spares reading: rows are the same with it, without it, and with a
// cache file that cannot be used; a changed file is read again.

#include "cache/sqlitecache.h"
#include "cache/sqlitesongtags.h"
#include "mp3/audioprint.h"
#include "mp3/mp3testutil.h"
#include "search/engineview.h"
#include "search/recordinghost.h"
#include "search/scan.h"
#include "search/searchrun.h"
#include "search/testtree.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <set>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tunesift::test {
namespace {

// A leading ID3v2.3 tag holding one Latin-1 title frame.
std::string id3v2Tag(std::string_view title)
{
    const auto size = static_cast<unsigned char>(title.size() + 1);
    std::string frame = std::string("TIT2") + '\0' + '\0' + '\0' + static_cast<char>(size) + '\0' +
                        '\0' + '\0' + std::string(title);
    return std::string("ID3\x03", 4) + '\0' + '\0' + '\0' + '\0' + '\0' +
           static_cast<char>(frame.size()) + frame;
}

// Files for every criterion: equal names, sizes, ID3v1 titles, ID3v2 titles, near titles.
void writeLibrary(const TempDir& dir)
{
    Mp3Content plain;
    plain.rawTitle = TitleField("Blue Song", ' ');
    WriteMp3File(dir / "a/Blue Song.mp3", plain);
    WriteMp3File(dir / "b/Blue Song.mp3", plain);
    plain.rawTitle = TitleField("blue song live", ' ');
    plain.bodyBytes = 700;
    WriteMp3File(dir / "b/other.mp3", plain);
    const std::string body(2000, '\0');
    const std::string frame = "\xFF\xFB\x90\x00";
    WriteBytes(dir / "c/tagged one.mp3", id3v2Tag("Red Song") + frame + body);
    WriteBytes(dir / "c/tagged two.mp3", id3v2Tag("Red Song") + frame + body + "x");
    WriteBytes(dir / "c/notag.mp3", std::string(300, 'n'));
    // The audio of "tagged one" under another tag, and a long range: hashed in two steps.
    WriteBytes(dir / "c/retagged.mp3", id3v2Tag("Other") + frame + body);
    const std::string longBody(100'000, 'b');
    WriteBytes(dir / "a/long.mp3", frame + longBody);
    WriteBytes(dir / "b/long copy.mp3", id3v2Tag("Long") + frame + longBody);
}

struct Outcome
{
    std::vector<ExpectedRow> rows;
    std::size_t hits = 0;
    std::size_t stores = 0; // facts of files the run read anew
    std::size_t printsFound = 0;
    std::size_t printsStored = 0;      // files decoded anew
    std::size_t printLookUpsAlone = 0; // prints asked for apart from the facts
};

// Counts what the cache gives.
class CountingCache final : public FileCache
{
public:
    explicit CountingCache(FileCache& inner) : m_inner(inner) {}
    std::optional<FileFacts> find(const FileStamp& key) override
    {
        std::optional<FileFacts> found = m_inner.find(key);
        std::lock_guard lock(m_mutex);
        if (found)
            hits.insert(key.inode);
        return found;
    }
    void store(const FileStamp& key, const FileFacts& facts) override
    {
        {
            std::lock_guard lock(m_mutex);
            ++stores;
        }
        m_inner.store(key, facts);
    }
    void flush() override { m_inner.flush(); }
    bool empty() override { return m_inner.empty(); }
    std::optional<std::vector<std::uint32_t>> findPrint(const FileStamp& key,
                                                        std::string_view pipeline) override
    {
        std::optional<std::vector<std::uint32_t>> found = m_inner.findPrint(key, pipeline);
        std::lock_guard lock(m_mutex);
        printsFound += found ? 1 : 0;
        ++printLookUpsAlone;
        return found;
    }
    std::optional<FileFacts>
    findWithPrint(const FileStamp& key, std::string_view pipeline,
                  std::optional<std::vector<std::uint32_t>>& print) override
    {
        std::optional<FileFacts> found = m_inner.findWithPrint(key, pipeline, print);
        std::lock_guard lock(m_mutex);
        if (found)
            hits.insert(key.inode);
        printsFound += print ? 1 : 0;
        return found;
    }
    void storePrint(const FileStamp& key, std::string_view pipeline,
                    const std::vector<std::uint32_t>& print) override
    {
        {
            std::lock_guard lock(m_mutex);
            ++printsStored;
        }
        m_inner.storePrint(key, pipeline, print);
    }
    std::set<std::uint64_t> hits; // files found
    std::size_t stores = 0;
    std::size_t printsFound = 0;
    std::size_t printsStored = 0;
    std::size_t printLookUpsAlone = 0;

private:
    FileCache& m_inner;
    std::mutex m_mutex;
};

Outcome runAll(const TempDir& dir, FileCache* cache,
               std::initializer_list<Criterion> criteria = {
                   Criterion::ExactFilename, Criterion::ExactFilesize, Criterion::SimilarFilename,
                   Criterion::ExactTag, Criterion::SimilarTag, Criterion::ExactAudio})
{
    SearchSession session;
    RecordingHost host;
    host.tickOnly(criteria);
    host.id3v2Titles = true;
    std::optional<CountingCache> counting;
    if (cache) {
        counting.emplace(*cache);
        host.cache = &*counting;
    }
    RunSearch(session, {dir / "a", dir / "b", dir / "c"}, host);
    if (!counting)
        return {RowsOf(session)};
    return {RowsOf(session),       counting->hits.size(),  counting->stores,
            counting->printsFound, counting->printsStored, counting->printLookUpsAlone};
}

struct CacheFile
{
    TempDir folder;
    std::string path() const { return folder / "tunesift/files.sqlite3"; }
    std::vector<std::string> reports;

    // Keeps files however recently they changed: the test writes them just before.
    std::unique_ptr<SqliteFileCache> open()
    {
        return std::make_unique<SqliteFileCache>(
            path(), [this](const std::string& text) { reports.push_back(text); },
            std::chrono::nanoseconds(-std::chrono::seconds(1)));
    }
};

// Also with the files taken to lie on a distant share, whose stamps the scan takes while each
// folder's listing is fresh.
TEST(FileCache, RowsAreTheSameColdWarmAndWithout)
{
    for (const bool distant : {false, true}) {
        SCOPED_TRACE(distant ? "distant" : "local");
        SetDistantFilesForTesting(distant);
        const std::shared_ptr<void> local(nullptr, [](void*) { SetDistantFilesForTesting(false); });
        TempDir dir;
        writeLibrary(dir);
        const Outcome without = runAll(dir, nullptr);
        ASSERT_EQ(without.rows.size(), 14u)
            << "the ID3v2 titles make one group of Exact Tag, the same audio three of Exact Audio";

        CacheFile file;
        EXPECT_EQ(runAll(dir, file.open().get()).rows, without.rows);
        const Outcome warm = runAll(dir, file.open().get());
        EXPECT_EQ(warm.rows, without.rows);
        EXPECT_EQ(warm.hits, 9u) << "every readable file comes from the cache";
        EXPECT_EQ(warm.stores, 0u) << "nothing is read again: no size, title, row or audio";
        EXPECT_TRUE(file.reports.empty());

        // A file changed since is read again; its row and title follow the change.
        Mp3Content changed;
        changed.rawTitle = TitleField("Green", ' ');
        changed.bodyBytes = 700;
        WriteMp3File(dir / "b/other.mp3", changed);
        WriteBytes(dir / "c/tagged two.mp3", id3v2Tag("Gray Sky") + std::string(2005, '\0'));
        // Same length and first 64 KiB: only the whole range tells the copy apart now.
        WriteBytes(dir / "b/long copy.mp3",
                   id3v2Tag("Long") + "\xFF\xFB\x90\x00" + std::string(99'999, 'b') + "c");
        const Outcome afterChange = runAll(dir, file.open().get());
        EXPECT_EQ(afterChange.rows, runAll(dir, nullptr).rows);
        EXPECT_EQ(afterChange.rows.size(), without.rows.size() - 4)
            << "Red Song and long pairs gone";
        EXPECT_EQ(afterChange.hits, 6u);
    }
}

// Without Exact Filesize the tag criteria look the files up themselves, first in an empty cache
// (each file keyed as its read found it), then in a full one, then with one file changed.
TEST(FileCache, TheTagCriteriaAloneKeepAndFindTheTitles)
{
    TempDir dir;
    writeLibrary(dir);
    const auto tags = {Criterion::ExactTag, Criterion::SimilarTag};
    const Outcome without = runAll(dir, nullptr, tags);
    ASSERT_FALSE(without.rows.empty());
    CacheFile file;
    EXPECT_EQ(runAll(dir, file.open().get(), tags).rows, without.rows);
    const Outcome warm = runAll(dir, file.open().get(), tags);
    EXPECT_EQ(warm.rows, without.rows);
    EXPECT_EQ(warm.hits, 9u);
    EXPECT_EQ(warm.stores, 0u);
    WriteBytes(dir / "c/tagged two.mp3", id3v2Tag("Gray Sky") + std::string(2005, '\0'));
    const Outcome afterChange = runAll(dir, file.open().get(), tags);
    EXPECT_EQ(afterChange.rows, runAll(dir, nullptr, tags).rows);
    EXPECT_EQ(afterChange.hits, 8u);
    EXPECT_GT(afterChange.stores, 0u);
}

// Another program (another Tunesift) writes the cache in the middle of a run: this run still
// writes what it read, reports nothing, and between runs holds no snapshot that would keep the
// other from folding the log into the file.
TEST(FileCache, AnotherWriterDuringTheRunLeavesTheCacheUsable)
{
    TempDir dir;
    writeLibrary(dir);
    CacheFile file;
    runAll(dir, file.open().get());
    Mp3Content changed; // to be written by both runs
    changed.rawTitle = TitleField("Green", ' ');
    changed.bodyBytes = 700;
    WriteMp3File(dir / "b/other.mp3", changed);

    // Runs a whole search with its own connection once this run has begun reading the cache.
    class Meddling final : public FileCache
    {
    public:
        Meddling(FileCache& inner, std::function<void()> meddle)
            : m_inner(inner), m_meddle(std::move(meddle))
        {}
        std::optional<FileFacts> find(const FileStamp& key) override
        {
            std::optional<FileFacts> found = m_inner.find(key);
            std::call_once(m_once, m_meddle);
            return found;
        }
        void store(const FileStamp& key, const FileFacts& facts) override
        {
            m_inner.store(key, facts);
        }
        void flush() override { m_inner.flush(); }
        bool empty() override { return m_inner.empty(); }

    private:
        FileCache& m_inner;
        std::function<void()> m_meddle;
        std::once_flag m_once;
    };
    const std::unique_ptr<SqliteFileCache> cache = file.open();
    Outcome other;
    Meddling meddling(*cache, [&] { other = runAll(dir, file.open().get()); });
    const Outcome meddled = runAll(dir, &meddling);
    const std::vector<ExpectedRow> expected = runAll(dir, nullptr).rows;
    EXPECT_EQ(meddled.rows, expected);
    EXPECT_EQ(other.rows, expected);
    EXPECT_GT(other.stores, 0u) << "the other run wrote while this one read";
    EXPECT_GT(meddled.stores, 0u);
    EXPECT_TRUE(file.reports.empty());
    EXPECT_TRUE(cache->usable());

    const Outcome next = runAll(dir, cache.get()); // as the window runs again
    EXPECT_EQ(next.hits, 9u);
    EXPECT_EQ(next.stores, 0u);
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(file.path().c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "UPDATE files SET seen_day=seen_day", nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(
        sqlite3_wal_checkpoint_v2(writer, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr),
        SQLITE_OK)
        << "no reader of the cache left between runs";
    sqlite3_close(writer);
}

// Prints are kept under the file's stamp and the pipeline that made them: a second run decodes
// nothing unchanged, and a print of another pipeline or of a changed file is not taken.
TEST(FileCache, PrintsAreKeptForTheirFileAndPipeline)
{
    if (!AudioPrintsAvailable())
        GTEST_SKIP() << "built without the decoder and the fingerprinter";
    TempDir dir;
    writeLibrary(dir);
    ASSERT_TRUE(encodeTune(dir / "a/tune.mp3", 5, 30.0, "--resample 44.1 -b 128"));
    ASSERT_TRUE(encodeTune(dir / "c/tune again.mp3", 5, 30.0, "-b 64"));
    const Outcome without = runAll(dir, nullptr, {Criterion::SimilarAudio});
    ASSERT_EQ(without.rows.size(), 2u);
    CacheFile file;
    const Outcome cold = runAll(dir, file.open().get(), {Criterion::SimilarAudio});
    const Outcome warm = runAll(dir, file.open().get(), {Criterion::SimilarAudio});
    EXPECT_EQ(cold.rows, without.rows);
    EXPECT_EQ(warm.rows, without.rows);
    EXPECT_EQ(cold.printsFound, 0u);
    EXPECT_GE(cold.printsStored, 2u);
    EXPECT_EQ(warm.printsFound, cold.printsStored);
    EXPECT_EQ(warm.printsStored, 0u);
    // With the other criteria, each file's print comes with its first facts.
    const std::initializer_list<Criterion> seven = {
        Criterion::ExactFilename, Criterion::ExactFilesize, Criterion::SimilarFilename,
        Criterion::ExactTag,      Criterion::SimilarTag,    Criterion::ExactAudio,
        Criterion::SimilarAudio};
    const Outcome all = runAll(dir, file.open().get(), seven);
    EXPECT_EQ(all.rows, runAll(dir, nullptr, seven).rows);
    EXPECT_EQ(all.printsFound, cold.printsStored);
    EXPECT_EQ(all.printLookUpsAlone, 0u);
    EXPECT_EQ(all.printsStored, 0u);

    const std::unique_ptr<SqliteFileCache> cache = file.open();
    FileStamp key{1000, 1, 2, 3, 4};
    const std::vector<std::uint32_t> print = {1, 0xFFFFFFFF, 627964279, 0x80000000};
    FileFacts facts;
    facts.id3v1Read = true;
    facts.id3v1Title = "Title";
    cache->store(key, facts);
    cache->storePrint(key, "pipeline one", print);
    FileStamp silent{2000, 1, 2, 3, 5};
    cache->storePrint(silent, "pipeline one", {});
    cache->flush();
    EXPECT_EQ(cache->findPrint(key, "pipeline one"), print);
    EXPECT_EQ(cache->findPrint(silent, "pipeline one"), std::vector<std::uint32_t>());
    std::optional<std::vector<std::uint32_t>> found;
    EXPECT_EQ(cache->findWithPrint(key, "pipeline one", found)->id3v1Title, "Title");
    EXPECT_EQ(found, print);
    EXPECT_EQ(cache->findWithPrint(silent, "pipeline one", found), std::nullopt) << "no facts";
    EXPECT_EQ(found, std::nullopt);
    EXPECT_TRUE(file.reports.empty());
    EXPECT_EQ(cache->findPrint(key, "pipeline two"), std::nullopt);
    EXPECT_TRUE(cache->findWithPrint(key, "pipeline two", found).has_value());
    EXPECT_EQ(found, std::nullopt);
    key.modifiedNs += 1;
    EXPECT_EQ(cache->findPrint(key, "pipeline one"), std::nullopt);
    EXPECT_EQ(cache->findWithPrint(key, "pipeline one", found), std::nullopt);
    EXPECT_EQ(found, std::nullopt);
}

TEST(FileCache, FilesChangedJustBeforeTheCacheOpenedAreNotKept)
{
    TempDir dir;
    writeLibrary(dir);
    CacheFile file;
    runAll(dir, std::make_unique<SqliteFileCache>(file.path(), nullptr).get());
    EXPECT_EQ(runAll(dir, file.open().get()).hits, 0u);
}

TEST(FileCache, ACacheThatCannotBeUsedIsSaidOnceAndChangesNoRow)
{
    TempDir dir;
    writeLibrary(dir);
    const std::vector<ExpectedRow> expected = runAll(dir, nullptr).rows;

    const auto unusable = [&](const char* what, auto spoil) {
        SCOPED_TRACE(what);
        CacheFile file;
        file.open().reset(); // a good cache first
        runAll(dir, file.open().get());
        spoil(file);
        const std::unique_ptr<SqliteFileCache> cache = file.open();
        EXPECT_EQ(runAll(dir, cache.get()).rows, expected);
        EXPECT_EQ(runAll(dir, cache.get()).rows, expected);
        EXPECT_EQ(file.reports.size(), 1u);
        EXPECT_FALSE(cache->usable());
    };
    unusable("corrupt", [](CacheFile& file) {
        std::filesystem::remove(file.path() + "-wal");
        std::filesystem::remove(file.path() + "-shm");
        std::ofstream(file.path(), std::ios::binary | std::ios::trunc) << std::string(5000, 'x');
    });
    sqlite3* holder = nullptr;
    unusable("locked", [&](CacheFile& file) {
        ASSERT_EQ(sqlite3_open(file.path().c_str(), &holder), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(holder,
                               "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;"
                               " DELETE FROM files;",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
    });
    sqlite3_close(holder); // the transaction goes with it
    unusable("folder is a file", [](CacheFile& file) {
        std::filesystem::remove_all(file.folder / "tunesift");
        WriteBytes(file.folder / "tunesift", "not a folder");
    });
}

// The cache tells which music the user has: its folders and files are the user's alone, also
// where an earlier version made them readable by all.
TEST(FileCache, OnlyTheUserMayReadIt)
{
    TempDir dir;
    writeLibrary(dir);
    const auto mode = [](const std::string& path) {
        struct stat info
        {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
        return info.st_mode & 07777;
    };
    const mode_t mask = ::umask(022);
    CacheFile file;
    const std::string deep = file.folder / "missing/tunesift/files.sqlite3";
    {
        SqliteFileCache cache(deep, nullptr, std::chrono::nanoseconds(-std::chrono::seconds(1)));
        runAll(dir, &cache);
        EXPECT_EQ(mode(file.folder / "missing"), 0700u);
        EXPECT_EQ(mode(file.folder / "missing/tunesift"), 0700u);
        EXPECT_EQ(mode(deep), 0600u);
        EXPECT_EQ(mode(deep + "-wal"), 0600u);
    }
    MakeFolder(file.folder / "tunesift");
    ASSERT_EQ(::chmod((file.folder / "tunesift").c_str(), 0755), 0);
    file.open().reset();
    ASSERT_EQ(::chmod(file.path().c_str(), 0644), 0);
    {
        const std::unique_ptr<SqliteFileCache> cache = file.open();
        EXPECT_EQ(runAll(dir, cache.get()).hits, 0u) << "an empty cache";
        EXPECT_EQ(mode(file.folder / "tunesift"), 0700u);
        EXPECT_EQ(mode(file.path()), 0600u);
        EXPECT_TRUE(cache->usable());
    }
    // The song tags' table, the first in its file, keeps the same rights.
    const std::string tagsFirst = file.folder / "other/tunesift/files.sqlite3";
    EXPECT_TRUE(OpenSongTagCache(tagsFirst));
    EXPECT_EQ(mode(file.folder / "other"), 0700u);
    EXPECT_EQ(mode(file.folder / "other/tunesift"), 0700u);
    EXPECT_EQ(mode(tagsFirst), 0600u);
    ::umask(mask);
}

// A stop while files are read ends the reading at once: of a few thousand files, only those
// already being read when the flag was seen are read after it, and the run shows nothing. The
// files read before the stop stay in the cache.
TEST(FileCache, AStopWhileFilesAreReadEndsTheReading)
{
    TempDir dir(TempDir::Storage::Memory);
    constexpr std::size_t kFiles = 3000;
    Mp3Content content;
    content.rawTitle = TitleField("Same", ' ');
    for (std::size_t k = 0; k < kFiles; ++k)
        WriteMp3File(dir / (std::to_string(k % 30) + "/" + std::to_string(k) + ".mp3"), content);

    // Raises the flag once so many files were read and kept.
    class StoppingCache final : public FileCache
    {
    public:
        explicit StoppingCache(FileCache& inner) : m_inner(inner) {}
        std::optional<FileFacts> find(const FileStamp& key) override { return m_inner.find(key); }
        void store(const FileStamp& key, const FileFacts& facts) override
        {
            if (++stores == 100)
                stop = true;
            // Kept here until the flush: the count measures the reading, not the cache's writes.
            std::lock_guard lock(m_mutex);
            m_kept.emplace_back(key, facts);
        }
        void flush() override
        {
            for (const auto& [key, facts] : m_kept)
                m_inner.store(key, facts);
            m_kept.clear();
            m_inner.flush();
        }
        bool empty() override { return m_inner.empty(); }
        std::atomic<bool> stop{false};
        std::atomic<std::size_t> stores{0};

    private:
        FileCache& m_inner;
        std::mutex m_mutex;
        std::vector<std::pair<FileStamp, FileFacts>> m_kept;
    };
    // Notes how many files were kept when the run first saw the flag.
    class StopHost final : public RecordingHost
    {
    public:
        explicit StopHost(const StoppingCache& stopping) : m_cache(stopping) {}
        bool isStopRequested() override
        {
            if (!m_cache.stop.load())
                return false;
            if (!keptWhenSeen)
                keptWhenSeen = m_cache.stores.load();
            return true;
        }
        std::optional<std::size_t> keptWhenSeen;

    private:
        const StoppingCache& m_cache;
    };

    // The titles, the audio ranges, and the sizes with the titles read in the same visit.
    const std::initializer_list<Criterion> phases[] = {
        {Criterion::ExactTag},
        {Criterion::ExactAudio},
        {Criterion::ExactFilesize, Criterion::SimilarTag}};
    for (const auto& criteria : phases) {
        CacheFile file;
        std::size_t kept = 0;
        {
            const std::unique_ptr<SqliteFileCache> cache = file.open();
            StoppingCache stopping(*cache);
            SearchSession session;
            StopHost host(stopping);
            host.tickOnly(criteria);
            host.cache = &stopping;
            RunSearch(session, {dir.path()}, host);
            SCOPED_TRACE(static_cast<int>(*criteria.begin()));
            EXPECT_TRUE(stopping.stop.load());
            // The flag is asked every few milliseconds of work, so how many files that is depends
            // on the machine; what may not happen is a phase that reads on without asking, or a
            // file begun once the run has seen the stop (one in flight per reading thread).
            ASSERT_TRUE(host.keptWhenSeen.has_value());
            EXPECT_LT(*host.keptWhenSeen, kFiles) << "the stop was first seen after the reading";
            EXPECT_LE(stopping.stores.load() - *host.keptWhenSeen, 40u)
                << "read after the stop was seen, of " << kFiles;
            EXPECT_EQ(host.count(HostCall::Kind::ShowResults), 0u);
            EXPECT_TRUE(host.messages().empty());
            kept = stopping.stores.load();
        }
        const std::unique_ptr<SqliteFileCache> cache = file.open();
        CountingCache counting(*cache);
        SearchSession session;
        RecordingHost host;
        host.tickOnly(criteria);
        host.cache = &counting;
        RunSearch(session, {dir.path()}, host);
        EXPECT_GE(counting.hits.size(), kept - 1) << "what was read before the stop was kept";
    }
}

TEST(FileCache, AReadOnlyCacheIsNotUsed)
{
    TempDir dir;
    writeLibrary(dir);
    CacheFile file;
    runAll(dir, file.open().get());
    ASSERT_EQ(::chmod(file.path().c_str(), 0444), 0);
    // Permissions do not bind the superuser; the immutable attribute does.
    bool immutable = false;
    if (::geteuid() == 0)
        immutable = std::system(("chattr +i '" + file.path() + "' 2>/dev/null").c_str()) == 0;
    if (::geteuid() == 0 && !immutable)
        GTEST_SKIP() << "no way to make the file read-only for the superuser";
    const std::unique_ptr<SqliteFileCache> cache = file.open();
    EXPECT_EQ(runAll(dir, cache.get()).rows, runAll(dir, nullptr).rows);
    EXPECT_EQ(file.reports.size(), 1u);
    EXPECT_FALSE(cache->usable());
    if (immutable) {
        EXPECT_EQ(std::system(("chattr -i '" + file.path() + "'").c_str()), 0);
    }
}

} // namespace
} // namespace tunesift::test
