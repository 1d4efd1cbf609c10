#pragma once

// What the tables of the cache file share: the file kept private to the user, and statements
// that take a file's stamp the same way.

#include "files/fileaccess.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

struct sqlite3;
struct sqlite3_stmt;

namespace tunesift {

// Makes the cache file's folder and the folders above it that are missing with mode 0700, takes
// the rights of the group and of others from the folder, the file and SQLite's log files where
// they exist (the cache tells which music the user has), and creates the file empty with mode
// 0600 where it does not exist yet. The error is that of making the folders; nothing else is
// done then.
std::error_code PreparePrivateFile(const std::filesystem::path& file);

// Runs SQL that returns no rows; false when it failed.
bool ExecSql(sqlite3* db, const char* sql);
// A statement kept for the life of the connection; nothing when it cannot be prepared.
sqlite3_stmt* PreparePersistent(sqlite3* db, const char* sql);

// A stamp's 64-bit numbers as SQLite's signed integers, the bit pattern kept.
inline std::int64_t AsSqlInt(std::uint64_t value)
{
    return static_cast<std::int64_t>(value);
}

// Binds the stamp as ?1 to ?5 (device, inode, size, mtime_ns, ctime_ns) and the day as ?6: the
// first parameters of every table's store.
void BindStamp(sqlite3_stmt* statement, const FileStamp& key, std::int64_t day);
// Binds the file (device, inode) as ?1 and ?2 and the day as ?3: every table's touch, which keeps
// a row found today for another while.
void BindSeen(sqlite3_stmt* statement, const FileStamp& key, std::int64_t day);

} // namespace tunesift
