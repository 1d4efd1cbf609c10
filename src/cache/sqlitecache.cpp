#include "cache/sqlitecache.h"

#include "cache/sqlitefile.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iterator>
#include <sqlite3.h>
#include <string>
#include <system_error>
#include <utility>

namespace tunesift {

namespace {

constexpr int kSchemaVersion = 4;
constexpr std::int64_t kKeepDays = 90;
constexpr std::size_t kWritesPerTransaction = 50'000;
constexpr std::size_t kWritesPerBatch = 256;
// SQLite's own: a commit merges the log into the file once it holds this many pages.
constexpr int kLogPagesBeforeMerge = 1000;
constexpr int kBusyTimeoutMs = 500;
// Pages kept in memory, at most 16 MiB (SQLite's default is 2 MiB): a run's writes then seldom
// push pages out to the log before they are changed again, nor read them back.
const char* const kCacheSize = "PRAGMA cache_size=-16384";

const char* const kSchema =
    "CREATE TABLE files("
    " device INTEGER NOT NULL, inode INTEGER NOT NULL,"
    " size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL, ctime_ns INTEGER NOT NULL,"
    " seen_day INTEGER NOT NULL,"
    // the analysis; NULL row_size: not analysed
    " row_size INTEGER, song_length INTEGER, bit_rate INTEGER, header_offset INTEGER,"
    // titles; NULL title with *_read 1: the file has none
    " id3v1_read INTEGER NOT NULL, id3v1_title BLOB, id3v2_read INTEGER NOT NULL, id3v2_title BLOB,"
    // the audio range and its hashes
    " audio_offset INTEGER, audio_length INTEGER, audio_head_hash BLOB, audio_hash BLOB,"
    // facts_check of the columns in kCheckedColumns
    " checksum INTEGER NOT NULL,"
    " PRIMARY KEY(device, inode)) WITHOUT ROWID;"
    // No index on seen_day: it made every write of a first run a quarter dearer, while the
    // entries are expired at most once a run that wrote, by one pass over the table.
    // Acoustic prints: large, and wanted by one criterion only, so a table of their own. A print
    // counts only under the same stamp and the same pipeline (decoder and fingerprinter).
    "CREATE TABLE prints("
    " device INTEGER NOT NULL, inode INTEGER NOT NULL,"
    " size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL, ctime_ns INTEGER NOT NULL,"
    " seen_day INTEGER NOT NULL, pipeline TEXT NOT NULL,"
    // the raw values, each as 4 bytes little-endian; the checksum as the facts' (all but seen_day)
    " print BLOB NOT NULL, checksum INTEGER NOT NULL,"
    " PRIMARY KEY(device, inode));"
    "CREATE INDEX prints_seen ON prints(seen_day);";

// The columns a row's checksum covers, in this order: all but seen_day, which a look-up
// updates. A row whose checksum does not match its columns (the file was damaged where SQLite
// cannot tell) is taken as unknown.
constexpr const char* kCheckedColumns[] = {
    "device",      "inode",        "size",          "mtime_ns",        "ctime_ns",    "row_size",
    "song_length", "bit_rate",     "header_offset", "id3v1_read",      "id3v1_title", "id3v2_read",
    "id3v2_title", "audio_offset", "audio_length",  "audio_head_hash", "audio_hash"};
constexpr int kCheckedCount = static_cast<int>(std::size(kCheckedColumns));
// A print's columns as a look-up reads them: those its checksum covers, then seen_day and the
// checksum.
constexpr const char* kPrintColumns[] = {"device",   "inode", "size",     "mtime_ns", "ctime_ns",
                                         "pipeline", "print", "seen_day", "checksum"};
constexpr int kPrintCheckedCount = 7;

std::uint64_t mixInto(std::uint64_t h, std::uint64_t word)
{
    // splitmix64's finaliser over the running value
    h ^= word + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
    h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ULL;
    h = (h ^ (h >> 27)) * 0x94D049BB133111EBULL;
    return h ^ (h >> 31);
}

// The checksum of a row's values, each with its type: SQL's facts_check() and find() both use it.
std::int64_t checksumOf(int count, sqlite3_value** values)
{
    std::uint64_t h = 0x54756E6573696674ULL;
    for (int k = 0; k < count; ++k) {
        sqlite3_value* value = values[k];
        const int type = sqlite3_value_type(value);
        h = mixInto(h, static_cast<std::uint64_t>(type));
        if (type == SQLITE_INTEGER) {
            h = mixInto(h, static_cast<std::uint64_t>(sqlite3_value_int64(value)));
        } else if (type == SQLITE_BLOB || type == SQLITE_TEXT) {
            const auto* bytes = static_cast<const unsigned char*>(sqlite3_value_blob(value));
            const auto length = static_cast<std::size_t>(sqlite3_value_bytes(value));
            h = mixInto(h, length);
            for (std::size_t at = 0; at < length; at += 8) {
                std::uint64_t word = 0;
                for (std::size_t b = at; b < std::min(length, at + 8); ++b)
                    word |= std::uint64_t{bytes[b]} << (8 * (b - at));
                h = mixInto(h, word);
            }
        } else if (type == SQLITE_FLOAT) {
            h = mixInto(h, static_cast<std::uint64_t>(sqlite3_value_double(value)));
        }
    }
    return static_cast<std::int64_t>(h);
}

void factsCheck(sqlite3_context* context, int count, sqlite3_value** values)
{
    sqlite3_result_int64(context, checksumOf(count, values));
}

// The store: a row under the same stamp keeps the groups that the new facts leave out (NULL, or
// a read flag of 0); under another stamp it is replaced as a whole. The checksum covers the row
// as it stands after the store.
std::string storeStatement()
{
    std::string sql =
        "INSERT INTO files(device, inode, size, mtime_ns, ctime_ns, seen_day, row_size,"
        " song_length, bit_rate, header_offset, id3v1_read, id3v1_title, id3v2_read, id3v2_title,"
        " audio_offset, audio_length, audio_head_hash, audio_hash, checksum)"
        " VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18,"
        " facts_check(?1,?2,?3,?4,?5,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18))"
        " ON CONFLICT(device, inode) DO UPDATE SET";
    const std::pair<const char*, const char*> kept[] = {
        {"row_size", "excluded.row_size IS NULL"},
        {"song_length", "excluded.row_size IS NULL"},
        {"bit_rate", "excluded.row_size IS NULL"},
        {"header_offset", "excluded.row_size IS NULL"},
        {"id3v1_read", "excluded.id3v1_read=0"},
        {"id3v1_title", "excluded.id3v1_read=0"},
        {"id3v2_read", "excluded.id3v2_read=0"},
        {"id3v2_title", "excluded.id3v2_read=0"},
        {"audio_offset", "excluded.audio_offset IS NULL"},
        {"audio_length", "excluded.audio_offset IS NULL"},
        {"audio_head_hash", "excluded.audio_head_hash IS NULL"},
        {"audio_hash", "excluded.audio_hash IS NULL"},
    };
    // Every SET expression sees the row as it was, so the checksum repeats the merged values.
    std::string checked = "excluded.device, excluded.inode, excluded.size, excluded.mtime_ns,"
                          " excluded.ctime_ns";
    for (const auto& [column, absent] : kept) {
        const std::string merged = std::string("CASE WHEN ") + absent +
                                   " AND size=excluded.size AND mtime_ns=excluded.mtime_ns"
                                   " AND ctime_ns=excluded.ctime_ns THEN " +
                                   column + " ELSE excluded." + column + " END";
        sql += std::string(" ") + column + "=" + merged + ",";
        checked += ", " + merged;
    }
    return sql +
           " size=excluded.size, mtime_ns=excluded.mtime_ns, ctime_ns=excluded.ctime_ns,"
           " seen_day=excluded.seen_day, checksum=facts_check(" +
           checked + ")";
}

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::optional<std::filesystem::path> fromEnvironment(const char* name)
{
#ifdef _WIN32
    std::wstring wide(name, name + std::char_traits<char>::length(name));
    const wchar_t* value = ::_wgetenv(wide.c_str());
#else
    const char* value = std::getenv(name);
#endif
    if (value == nullptr || *value == 0)
        return std::nullopt;
    std::filesystem::path path(value);
    if (!path.is_absolute())
        return std::nullopt; // relative values are to be ignored
    return path;
}

void bindTitle(sqlite3_stmt* statement, int column, const std::optional<std::string>& title)
{
    if (title)
        sqlite3_bind_blob(statement, column, title->data(), static_cast<int>(title->size()),
                          SQLITE_TRANSIENT);
    else
        sqlite3_bind_null(statement, column);
}

std::optional<std::string> columnTitle(sqlite3_stmt* statement, int column)
{
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return std::nullopt;
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
    return std::string(bytes ? bytes : "",
                       static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

// A hash as 16 bytes, its low half first, each half little-endian.
void bindHash(sqlite3_stmt* statement, int column, const std::optional<AudioHash>& hash)
{
    if (!hash) {
        sqlite3_bind_null(statement, column);
        return;
    }
    unsigned char bytes[16];
    for (int k = 0; k < 8; ++k) {
        bytes[k] = static_cast<unsigned char>(hash->low >> (8 * k));
        bytes[8 + k] = static_cast<unsigned char>(hash->high >> (8 * k));
    }
    sqlite3_bind_blob(statement, column, bytes, sizeof bytes, SQLITE_TRANSIENT);
}

std::optional<AudioHash> columnHash(sqlite3_stmt* statement, int column)
{
    const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(statement, column));
    if (bytes == nullptr || sqlite3_column_bytes(statement, column) != 16)
        return std::nullopt;
    AudioHash hash;
    for (int k = 0; k < 8; ++k) {
        hash.low |= std::uint64_t{bytes[k]} << (8 * k);
        hash.high |= std::uint64_t{bytes[8 + k]} << (8 * k);
    }
    return hash;
}

} // namespace

std::optional<std::filesystem::path> DefaultCacheFile()
{
    std::optional<std::filesystem::path> folder;
#if defined(_WIN32)
    folder = fromEnvironment("LOCALAPPDATA");
#elif defined(__APPLE__)
    folder = fromEnvironment("HOME");
    if (folder)
        *folder /= "Library/Caches";
#else
    folder = fromEnvironment("XDG_CACHE_HOME");
    if (!folder) {
        folder = fromEnvironment("HOME");
        if (folder)
            *folder /= ".cache";
    }
#endif
    if (!folder)
        return std::nullopt;
    return *folder / "tunesift" / "files.sqlite3";
}

SqliteFileCache::SqliteFileCache(std::filesystem::path file, Report report,
                                 std::chrono::nanoseconds settle)
    : m_file(std::move(file)), m_report(std::move(report))
{
    const std::int64_t now = nowNs();
    m_keepBeforeNs = now - settle.count();
    m_today = now / (86400LL * 1'000'000'000);
    open();
}

SqliteFileCache::~SqliteFileCache()
{
    flush();
    closeAll();
}

bool SqliteFileCache::usable() const
{
    std::lock_guard lock(m_mutex);
    return m_db != nullptr;
}

void SqliteFileCache::closeAll()
{
    sqlite3_finalize(m_find);
    sqlite3_finalize(m_store);
    sqlite3_finalize(m_touch);
    sqlite3_finalize(m_any);
    sqlite3_finalize(m_findPrint);
    sqlite3_finalize(m_storePrint);
    sqlite3_finalize(m_touchPrint);
    sqlite3_finalize(m_findWithPrint);
    m_find = m_store = m_touch = m_any = m_findPrint = m_storePrint = m_touchPrint = nullptr;
    m_findWithPrint = nullptr;
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_inTransaction = false;
    m_inRead = false;
}

void SqliteFileCache::fail(const std::string& what)
{
    std::string reason = what;
    if (m_db != nullptr && sqlite3_errcode(m_db) != SQLITE_OK)
        reason += std::string(": ") + sqlite3_errmsg(m_db);
    closeAll();
    if (!m_failed && m_report)
        m_report("The file cache " + m_file.string() + " cannot be used (" + reason +
                 "); the search goes on without it.");
    m_failed = true;
}

bool SqliteFileCache::exec(const char* sql)
{
    return ExecSql(m_db, sql);
}

sqlite3_stmt* SqliteFileCache::prepare(const char* sql)
{
    return PreparePersistent(m_db, sql);
}

bool SqliteFileCache::open()
{
    if (const std::error_code error = PreparePrivateFile(m_file)) {
        fail("its folder cannot be made: " + error.message());
        return false;
    }
    const std::string name = m_file.string();
    // The connection is only ever used under m_mutex: SQLite's own lock, taken again for every
    // column a look-up reads, would only add to each one's cost.
    if (sqlite3_open_v2(name.c_str(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        fail("it cannot be opened");
        return false;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    if (sqlite3_db_readonly(m_db, "main") != 0) {
        fail("it is read-only");
        return false;
    }
    sqlite3_stmt* version = prepare("PRAGMA user_version");
    const bool read = version != nullptr && sqlite3_step(version) == SQLITE_ROW;
    const int schema = read ? sqlite3_column_int(version, 0) : -1;
    sqlite3_finalize(version);
    if (!read || !exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL") ||
        !exec(kCacheSize)) {
        fail("it is not a cache Tunesift can read");
        return false;
    }
    // The end of a run, stopped or not, waits for the last writes only. The log stays when the
    // cache closes, at the size it grew to, and unmerged: merging it into the file takes two
    // syncs, and deleting or truncating tens of megabytes frees their blocks, each a fifth of a
    // second and more over a million files on a busy disk. The next run's writes merge it.
    int keepLog = 1;
    sqlite3_file_control(m_db, "main", SQLITE_FCNTL_PERSIST_WAL, &keepLog);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    if (sqlite3_create_function_v2(m_db, "facts_check", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, factsCheck, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail("it cannot be set up");
        return false;
    }
    if (schema != kSchemaVersion) {
        // Made by another version, or new: laid out afresh (it only ever saves reading).
        const std::string layout =
            std::string(
                "BEGIN IMMEDIATE; DROP TABLE IF EXISTS files; DROP TABLE IF EXISTS prints;") +
            kSchema + "PRAGMA user_version=" + std::to_string(kSchemaVersion) + "; COMMIT;";
        if (!exec(layout.c_str())) {
            fail("it cannot be laid out");
            return false;
        }
    }
    // The columns of kCheckedColumns first, then seen_day and the checksum.
    std::string find = "SELECT ";
    for (const char* column : kCheckedColumns)
        find += std::string(column) + ", ";
    find += "seen_day, checksum FROM files WHERE device=?1 AND inode=?2";
    m_find = prepare(find.c_str());
    m_store = prepare(storeStatement().c_str());
    m_touch = prepare("UPDATE files SET seen_day=?3 WHERE device=?1 AND inode=?2");
    m_any = prepare("SELECT 1 FROM files LIMIT 1");
    std::string printColumns;
    std::string findWithPrint = "SELECT ";
    for (const char* column : kCheckedColumns)
        findWithPrint += std::string("f.") + column + ", ";
    findWithPrint += "f.seen_day, f.checksum";
    for (const char* column : kPrintColumns) {
        printColumns += std::string(printColumns.empty() ? "" : ", ") + column;
        findWithPrint += std::string(", p.") + column;
    }
    m_findPrint =
        prepare(("SELECT " + printColumns + " FROM prints WHERE device=?1 AND inode=?2").c_str());
    // The facts' columns as find has them, then the print's as findPrint has them.
    findWithPrint += " FROM files AS f LEFT JOIN prints AS p ON p.device=f.device AND"
                     " p.inode=f.inode WHERE f.device=?1 AND f.inode=?2";
    m_findWithPrint = prepare(findWithPrint.c_str());
    m_storePrint = prepare("INSERT OR REPLACE INTO prints(device, inode, size, mtime_ns, ctime_ns,"
                           " seen_day, pipeline, print, checksum) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,"
                           " facts_check(?1,?2,?3,?4,?5,?7,?8))");
    m_touchPrint = prepare("UPDATE prints SET seen_day=?3 WHERE device=?1 AND inode=?2");
    if (!m_find || !m_store || !m_touch || !m_any || !m_findPrint || !m_storePrint ||
        !m_touchPrint || !m_findWithPrint) {
        fail("it is not a cache Tunesift can read");
        return false;
    }
    return true;
}

std::optional<FileFacts> SqliteFileCache::takeFacts(sqlite3_stmt* row, const FileStamp& key,
                                                    bool& touch)
{
    const auto integer = [&](int column) { return sqlite3_column_int64(row, column); };
    if (sqlite3_column_type(row, 0) == SQLITE_NULL || integer(2) != key.size ||
        integer(3) != key.modifiedNs || integer(4) != key.changedNs)
        return std::nullopt;
    sqlite3_value* values[kCheckedCount];
    for (int k = 0; k < kCheckedCount; ++k)
        values[k] = sqlite3_column_value(row, k);
    if (checksumOf(kCheckedCount, values) != integer(kCheckedCount + 1))
        return std::nullopt;
    FileFacts facts;
    facts.analysed = sqlite3_column_type(row, 5) != SQLITE_NULL;
    if (facts.analysed) {
        facts.rowSize = integer(5);
        facts.songLength = integer(6);
        facts.bitRate = sqlite3_column_int(row, 7);
        facts.headerOffset = integer(8);
    }
    facts.id3v1Read = integer(9) != 0;
    facts.id3v1Title = columnTitle(row, 10);
    facts.id3v2Read = integer(11) != 0;
    facts.id3v2Title = columnTitle(row, 12);
    facts.audioRead = sqlite3_column_type(row, 13) != SQLITE_NULL;
    if (facts.audioRead) {
        facts.audio.range = {integer(13), integer(14)};
        facts.audio.head = columnHash(row, 15);
        facts.audio.whole = columnHash(row, 16);
    }
    touch = integer(kCheckedCount) < m_today;
    return facts;
}

std::optional<std::vector<std::uint32_t>> SqliteFileCache::takePrint(sqlite3_stmt* row, int first,
                                                                     const FileStamp& key,
                                                                     std::string_view pipeline,
                                                                     bool& touch)
{
    // The columns of kPrintColumns from first on.
    const auto integer = [&](int column) { return sqlite3_column_int64(row, first + column); };
    if (sqlite3_column_type(row, first) == SQLITE_NULL || integer(2) != key.size ||
        integer(3) != key.modifiedNs || integer(4) != key.changedNs)
        return std::nullopt;
    sqlite3_value* values[kPrintCheckedCount];
    for (int k = 0; k < kPrintCheckedCount; ++k)
        values[k] = sqlite3_column_value(row, first + k);
    if (checksumOf(kPrintCheckedCount, values) != integer(kPrintCheckedCount + 1))
        return std::nullopt;
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(row, first + 5));
    const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(row, first + 6));
    const auto length = static_cast<std::size_t>(sqlite3_column_bytes(row, first + 6));
    if (name == nullptr || pipeline != name || length % 4 != 0 || (bytes == nullptr && length != 0))
        return std::nullopt;
    std::vector<std::uint32_t> print(length / 4);
    for (std::size_t k = 0; k < print.size(); ++k)
        print[k] = std::uint32_t{bytes[4 * k]} | std::uint32_t{bytes[4 * k + 1]} << 8 |
                   std::uint32_t{bytes[4 * k + 2]} << 16 | std::uint32_t{bytes[4 * k + 3]} << 24;
    touch = integer(kPrintCheckedCount) < m_today;
    return print;
}

// Steps a bound look-up, hands its row (if any) to take, resets it and marks what take found
// seen today (one touch statement per table).
template <typename Take>
bool SqliteFileCache::lookUp(sqlite3_stmt* statement, const FileStamp& key, Take take)
{
    sqlite3_bind_int64(statement, 1, AsSqlInt(key.device));
    sqlite3_bind_int64(statement, 2, AsSqlInt(key.inode));
    const int step = sqlite3_step(statement);
    std::array<sqlite3_stmt*, 2> touch{};
    if (step == SQLITE_ROW)
        take(touch);
    sqlite3_reset(statement);
    if (step != SQLITE_ROW && step != SQLITE_DONE) {
        fail("it cannot be read");
        return false;
    }
    for (sqlite3_stmt* t : touch) { // seen today: kept for another 90 days
        if (t == nullptr)
            continue;
        BindSeen(t, key, m_today);
        write(t);
    }
    return true;
}

std::optional<FileFacts> SqliteFileCache::find(const FileStamp& key)
{
    std::lock_guard lock(m_mutex);
    if (m_db == nullptr || !beginRead())
        return std::nullopt;
    std::optional<FileFacts> found;
    if (!lookUp(m_find, key, [&](std::array<sqlite3_stmt*, 2>& touch) {
            bool stale = false;
            found = takeFacts(m_find, key, stale);
            touch[0] = found && stale ? m_touch : nullptr;
        }))
        return std::nullopt;
    return found;
}

std::optional<FileFacts>
SqliteFileCache::findWithPrint(const FileStamp& key, std::string_view pipeline,
                               std::optional<std::vector<std::uint32_t>>& print)
{
    print.reset();
    std::lock_guard lock(m_mutex);
    if (m_db == nullptr || !beginRead())
        return std::nullopt;
    std::optional<FileFacts> found;
    if (!lookUp(m_findWithPrint, key, [&](std::array<sqlite3_stmt*, 2>& touch) {
            bool stale = false;
            found = takeFacts(m_findWithPrint, key, stale);
            touch[0] = found && stale ? m_touch : nullptr;
            if (!found)
                return;
            stale = false;
            print = takePrint(m_findWithPrint, kCheckedCount + 2, key, pipeline, stale);
            touch[1] = print && stale ? m_touchPrint : nullptr;
        })) {
        print.reset();
        return std::nullopt;
    }
    return found;
}

std::optional<std::vector<std::uint32_t>> SqliteFileCache::findPrint(const FileStamp& key,
                                                                     std::string_view pipeline)
{
    std::lock_guard lock(m_mutex);
    if (m_db == nullptr || !beginRead())
        return std::nullopt;
    std::optional<std::vector<std::uint32_t>> found;
    if (!lookUp(m_findPrint, key, [&](std::array<sqlite3_stmt*, 2>& touch) {
            bool stale = false;
            found = takePrint(m_findPrint, 0, key, pipeline, stale);
            touch[1] = found && stale ? m_touchPrint : nullptr;
        }))
        return std::nullopt;
    return found;
}

void SqliteFileCache::storePrint(const FileStamp& key, std::string_view pipeline,
                                 const std::vector<std::uint32_t>& print)
{
    if (key.modifiedNs > m_keepBeforeNs || key.changedNs > m_keepBeforeNs)
        return;
    std::vector<unsigned char> bytes(print.size() * 4);
    for (std::size_t k = 0; k < print.size(); ++k)
        for (int b = 0; b < 4; ++b)
            bytes[4 * k + static_cast<std::size_t>(b)] =
                static_cast<unsigned char>(print[k] >> (8 * b));
    std::lock_guard lock(m_mutex);
    if (m_db == nullptr)
        return;
    sqlite3_stmt* s = m_storePrint;
    BindStamp(s, key, m_today);
    sqlite3_bind_text(s, 7, pipeline.data(), static_cast<int>(pipeline.size()), SQLITE_TRANSIENT);
    if (bytes.empty()) // an empty print (no audio) is kept too, and is no NULL
        sqlite3_bind_zeroblob(s, 8, 0);
    else
        sqlite3_bind_blob(s, 8, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    write(s);
}

bool SqliteFileCache::commitIfOpen()
{
    if (!m_inTransaction)
        return true;
    m_inTransaction = false;
    m_writesInTransaction = 0;
    return exec("COMMIT");
}

bool SqliteFileCache::beginRead()
{
    if (m_inTransaction || m_inRead)
        return true;
    // A deferred transaction: it takes no lock until a statement reads.
    if (!exec("BEGIN")) {
        fail("it cannot be read");
        return false;
    }
    m_inRead = true;
    return true;
}

bool SqliteFileCache::empty()
{
    std::lock_guard lock(m_mutex);
    if (m_db == nullptr || !beginRead())
        return true;
    const int step = sqlite3_step(m_any);
    sqlite3_reset(m_any);
    if (step != SQLITE_ROW && step != SQLITE_DONE) {
        fail("it cannot be read");
        return true;
    }
    return step == SQLITE_DONE;
}

void SqliteFileCache::endRead()
{
    if (!m_inRead)
        return;
    m_inRead = false;
    // Only read: ending it cannot fail in a way that loses anything.
    exec("COMMIT");
}

bool SqliteFileCache::write(sqlite3_stmt* statement)
{
    int step = SQLITE_OK;
    // A write transaction begins afresh rather than from the read transaction's snapshot, which
    // another process may have written past meanwhile.
    if (!m_inTransaction)
        endRead();
    if (m_inTransaction || exec("BEGIN IMMEDIATE")) {
        m_inTransaction = true;
        step = sqlite3_step(statement);
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (step != SQLITE_DONE ||
        (++m_writesInTransaction >= kWritesPerTransaction && !commitIfOpen())) {
        fail("it cannot be written");
        return false;
    }
    return true;
}

void SqliteFileCache::store(const FileStamp& key, const FileFacts& facts)
{
    if (key.modifiedNs > m_keepBeforeNs || key.changedNs > m_keepBeforeNs)
        return;
    // The reading threads only queue; whichever fills the queue writes it, while the others
    // read on.
    Pending batch;
    {
        std::lock_guard lock(m_pendingMutex);
        m_pending.emplace_back(key, facts);
        if (m_pending.size() < kWritesPerBatch)
            return;
        batch.swap(m_pending);
    }
    std::lock_guard lock(m_mutex);
    writeAll(batch);
}

void SqliteFileCache::writeAll(const Pending& batch)
{
    for (const auto& [key, facts] : batch) {
        if (m_db == nullptr)
            return;
        sqlite3_stmt* s = m_store;
        BindStamp(s, key, m_today);
        if (facts.analysed) {
            sqlite3_bind_int64(s, 7, facts.rowSize);
            sqlite3_bind_int64(s, 8, facts.songLength);
            sqlite3_bind_int(s, 9, facts.bitRate);
            sqlite3_bind_int64(s, 10, facts.headerOffset);
        } // else NULL, as every parameter not bound
        sqlite3_bind_int(s, 11, facts.id3v1Read ? 1 : 0);
        bindTitle(s, 12, facts.id3v1Title);
        sqlite3_bind_int(s, 13, facts.id3v2Read ? 1 : 0);
        bindTitle(s, 14, facts.id3v2Title);
        if (facts.audioRead) {
            sqlite3_bind_int64(s, 15, facts.audio.range.start);
            sqlite3_bind_int64(s, 16, facts.audio.range.length);
            bindHash(s, 17, facts.audio.head);
            bindHash(s, 18, facts.audio.whole);
        }
        write(s);
    }
}

void SqliteFileCache::flush()
{
    Pending batch;
    {
        std::lock_guard lock(m_pendingMutex);
        batch.swap(m_pending);
    }
    std::lock_guard lock(m_mutex);
    writeAll(batch);
    endRead(); // between runs the cache holds no snapshot
    if (m_db == nullptr || !m_inTransaction)
        return; // nothing written: nothing to expire either
    const std::string before = std::to_string(m_today - kKeepDays);
    const std::string expire = "DELETE FROM files WHERE seen_day < " + before +
                               "; DELETE FROM prints WHERE seen_day < " + before;
    // The last commit leaves the log unmerged (see open).
    sqlite3_wal_autocheckpoint(m_db, 0);
    const bool written = exec(expire.c_str()) && commitIfOpen();
    sqlite3_wal_autocheckpoint(m_db, kLogPagesBeforeMerge);
    if (!written)
        fail("it cannot be written");
}

} // namespace tunesift
