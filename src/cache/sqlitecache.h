#pragma once

#include "search/filecache.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tunesift {

// Where the cache lives for this user: tunesift/ in the platform's cache folder
// ($XDG_CACHE_HOME or ~/.cache, ~/Library/Caches, %LOCALAPPDATA%). Nothing when it cannot be told.
std::optional<std::filesystem::path> DefaultCacheFile();

// The facts cache in an SQLite file (write-ahead log, writes batched in transactions). Entries
// of files not seen for 90 days are dropped. A file that cannot be used (it cannot be created,
// is no database, is read-only or locked by another program) is reported once through the
// report function; from then on the cache gives and keeps nothing, so the run reads every file.
class SqliteFileCache final : public FileCache
{
public:
    using Report = std::function<void(const std::string& text)>;

    // Files changed less than settle before the cache was opened are not kept: a file replaced
    // within one tick of the file system's clock could otherwise share a key with its
    // predecessor.
    SqliteFileCache(std::filesystem::path file, Report report,
                    std::chrono::nanoseconds settle = std::chrono::seconds(2));
    ~SqliteFileCache() override;
    SqliteFileCache(const SqliteFileCache&) = delete;
    SqliteFileCache& operator=(const SqliteFileCache&) = delete;

    bool usable() const;

    std::optional<FileFacts> find(const FileStamp& key) override;
    void store(const FileStamp& key, const FileFacts& facts) override;
    void flush() override;
    bool empty() override;
    std::optional<std::vector<std::uint32_t>> findPrint(const FileStamp& key,
                                                        std::string_view pipeline) override;
    void storePrint(const FileStamp& key, std::string_view pipeline,
                    const std::vector<std::uint32_t>& print) override;
    std::optional<FileFacts>
    findWithPrint(const FileStamp& key, std::string_view pipeline,
                  std::optional<std::vector<std::uint32_t>>& print) override;

private:
    bool open();
    void fail(const std::string& what);
    bool exec(const char* sql);
    sqlite3_stmt* prepare(const char* sql);
    void closeAll();
    bool commitIfOpen();
    // Begins the read transaction the finds share where neither it nor a write transaction is
    // open; false when it failed (then reported).
    bool beginRead();
    // Ends the read transaction, if one is open.
    void endRead();
    // Steps a bound statement that writes, in the open transaction (begun when none is open,
    // committed after every so many writes), and resets it. False when it failed (then reported).
    bool write(sqlite3_stmt* statement);
    // What a look-up's row holds under the key: the facts from its first column on, the print
    // from column first on (then the pipeline must be the one asked for). touch: the row was
    // not marked seen today.
    std::optional<FileFacts> takeFacts(sqlite3_stmt* row, const FileStamp& key, bool& touch);
    std::optional<std::vector<std::uint32_t>> takePrint(sqlite3_stmt* row, int first,
                                                        const FileStamp& key,
                                                        std::string_view pipeline, bool& touch);
    template <typename Take>
    bool lookUp(sqlite3_stmt* statement, const FileStamp& key, Take take);
    using Pending = std::vector<std::pair<FileStamp, FileFacts>>;
    void writeAll(const Pending& batch);

    std::filesystem::path m_file;
    Report m_report;
    std::int64_t m_keepBeforeNs = 0;
    std::int64_t m_today = 0;
    mutable std::mutex m_mutex;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_find = nullptr;
    sqlite3_stmt* m_store = nullptr;
    sqlite3_stmt* m_touch = nullptr;
    sqlite3_stmt* m_any = nullptr;
    sqlite3_stmt* m_findPrint = nullptr;
    sqlite3_stmt* m_storePrint = nullptr;
    sqlite3_stmt* m_touchPrint = nullptr;
    sqlite3_stmt* m_findWithPrint = nullptr; // files joined with prints
    std::mutex m_pendingMutex;               // guards m_pending; never held with m_mutex
    Pending m_pending;                       // stored, not yet written
    bool m_inTransaction = false;
    // Finds outside a write transaction share one read transaction, begun by the first of them
    // and ended before a write transaction begins and at flush: one snapshot and one lock of
    // the log instead of one per find.
    bool m_inRead = false;
    std::size_t m_writesInTransaction = 0;
    bool m_failed = false;
};

} // namespace tunesift
