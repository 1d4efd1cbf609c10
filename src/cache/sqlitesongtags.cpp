#include "cache/sqlitesongtags.h"

#include "cache/sqlitefile.h"

#include <chrono>
#include <mutex>
#include <sqlite3.h>
#include <string>

namespace tunesift {

namespace {

constexpr std::int64_t kKeepDays = 90;
constexpr std::size_t kWritesPerTransaction = 1000;
constexpr int kBusyTimeoutMs = 500;

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS song_tags("
    " device INTEGER NOT NULL, inode INTEGER NOT NULL,"
    " size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL, ctime_ns INTEGER NOT NULL,"
    " seen_day INTEGER NOT NULL, artist BLOB NOT NULL, album BLOB NOT NULL, title BLOB NOT NULL,"
    " PRIMARY KEY(device, inode)) WITHOUT ROWID";

std::string columnText(sqlite3_stmt* statement, int column)
{
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
    return std::string(bytes ? bytes : "",
                       static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

void bindText(sqlite3_stmt* statement, int column, const std::string& text)
{
    sqlite3_bind_blob(statement, column, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

class SqliteSongTagCache final : public SongTagCache
{
public:
    SqliteSongTagCache(const std::filesystem::path& file, std::chrono::nanoseconds settle)
    {
        const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
        m_keepBeforeNs = now - settle.count();
        m_today = now / (86400LL * 1'000'000'000);
        if (!open(file))
            close();
    }
    ~SqliteSongTagCache() override
    {
        flush();
        close();
    }
    SqliteSongTagCache(const SqliteSongTagCache&) = delete;
    SqliteSongTagCache& operator=(const SqliteSongTagCache&) = delete;

    bool usable() const { return m_db != nullptr; }

    std::optional<SongTags> find(const FileStamp& key) override
    {
        std::lock_guard lock(m_mutex);
        if (m_db == nullptr)
            return std::nullopt;
        sqlite3_bind_int64(m_find, 1, AsSqlInt(key.device));
        sqlite3_bind_int64(m_find, 2, AsSqlInt(key.inode));
        std::optional<SongTags> found;
        bool touch = false;
        const int step = sqlite3_step(m_find);
        if (step == SQLITE_ROW && sqlite3_column_int64(m_find, 0) == key.size &&
            sqlite3_column_int64(m_find, 1) == key.modifiedNs &&
            sqlite3_column_int64(m_find, 2) == key.changedNs) {
            found = SongTags{columnText(m_find, 4), columnText(m_find, 5), columnText(m_find, 6)};
            touch = sqlite3_column_int64(m_find, 3) < m_today;
        }
        sqlite3_reset(m_find);
        if (step != SQLITE_ROW && step != SQLITE_DONE) {
            close();
            return std::nullopt;
        }
        if (touch) { // seen today: kept for another 90 days
            BindSeen(m_touch, key, m_today);
            write(m_touch);
        }
        return found;
    }

    void store(const FileStamp& key, const SongTags& tags) override
    {
        std::lock_guard lock(m_mutex);
        if (m_db == nullptr || key.modifiedNs > m_keepBeforeNs || key.changedNs > m_keepBeforeNs)
            return;
        BindStamp(m_store, key, m_today);
        bindText(m_store, 7, tags.artist);
        bindText(m_store, 8, tags.album);
        bindText(m_store, 9, tags.title);
        write(m_store);
    }

    void flush() override
    {
        std::lock_guard lock(m_mutex);
        commit();
    }

private:
    bool exec(const char* sql) { return ExecSql(m_db, sql); }
    sqlite3_stmt* prepare(const char* sql) { return PreparePersistent(m_db, sql); }

    bool open(const std::filesystem::path& file)
    {
        if (PreparePrivateFile(file))
            return false;
        const std::string name = file.string();
        if (sqlite3_open_v2(name.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK)
            return false;
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        if (sqlite3_db_readonly(m_db, "main") != 0 || !exec("PRAGMA journal_mode=WAL") ||
            !exec("PRAGMA synchronous=NORMAL") || !exec(kSchema))
            return false;
        const std::string expire =
            "DELETE FROM song_tags WHERE seen_day<" + std::to_string(m_today - kKeepDays);
        if (!exec(expire.c_str()))
            return false;
        m_find = prepare("SELECT size, mtime_ns, ctime_ns, seen_day, artist, album, title"
                         " FROM song_tags WHERE device=?1 AND inode=?2");
        m_store = prepare("INSERT OR REPLACE INTO song_tags(device, inode, size, mtime_ns,"
                          " ctime_ns, seen_day, artist, album, title)"
                          " VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9)");
        m_touch = prepare("UPDATE song_tags SET seen_day=?3 WHERE device=?1 AND inode=?2");
        return m_find && m_store && m_touch;
    }

    void close()
    {
        sqlite3_finalize(m_find);
        sqlite3_finalize(m_store);
        sqlite3_finalize(m_touch);
        m_find = m_store = m_touch = nullptr;
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        m_inTransaction = false;
    }

    void commit()
    {
        if (m_db != nullptr && m_inTransaction && !exec("COMMIT"))
            close();
        m_inTransaction = false;
        m_writes = 0;
    }

    // Steps a bound statement that writes, in a transaction shared by a batch of writes.
    void write(sqlite3_stmt* statement)
    {
        if (!m_inTransaction) {
            if (!exec("BEGIN IMMEDIATE")) {
                sqlite3_reset(statement);
                sqlite3_clear_bindings(statement);
                return; // busy elsewhere: this one is not kept, the tags are read next time
            }
            m_inTransaction = true;
        }
        const int step = sqlite3_step(statement);
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        if (step != SQLITE_DONE) {
            close();
            return;
        }
        if (++m_writes >= kWritesPerTransaction)
            commit();
    }

    std::mutex m_mutex;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_find = nullptr;
    sqlite3_stmt* m_store = nullptr;
    sqlite3_stmt* m_touch = nullptr;
    bool m_inTransaction = false;
    std::size_t m_writes = 0;
    std::int64_t m_keepBeforeNs = 0;
    std::int64_t m_today = 0;
};

} // namespace

std::unique_ptr<SongTagCache> OpenSongTagCache(const std::filesystem::path& file,
                                               std::chrono::nanoseconds settle)
{
    auto cache = std::make_unique<SqliteSongTagCache>(file, settle);
    if (!cache->usable())
        return nullptr;
    return cache;
}

} // namespace tunesift
