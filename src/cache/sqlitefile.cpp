#include "cache/sqlitefile.h"

#include <cerrno>
#include <sqlite3.h>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tunesift {

namespace {

// The folder and the folders above it that are missing, made with mode 0700 (readable by the user
// only, as the XDG base directory rule asks of folders a program creates).
void MakePrivateFolders(const std::filesystem::path& folder, std::error_code& error)
{
    error.clear();
#ifdef _WIN32
    std::filesystem::create_directories(folder, error);
#else
    if (folder.empty() || std::filesystem::is_directory(folder, error))
        return;
    if (folder.has_parent_path() && folder.parent_path() != folder) {
        MakePrivateFolders(folder.parent_path(), error);
        if (error)
            return;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        error = std::error_code(errno, std::generic_category());
    else
        error.clear();
#endif
}

// Takes the rights of the group and of others from an existing folder or regular file of the
// user's; leaves anything else alone.
void MakePrivate(const std::filesystem::path& path, bool folder)
{
#ifdef _WIN32
    static_cast<void>(path);
    static_cast<void>(folder);
#else
    struct stat info
    {};
    if (::lstat(path.c_str(), &info) != 0 || info.st_uid != ::geteuid() ||
        (folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) || (info.st_mode & 077) == 0)
        return;
    ::chmod(path.c_str(), info.st_mode & 0700);
#endif
}

// Creates the file empty with mode 0600 where it does not exist yet.
void CreatePrivateFile(const std::filesystem::path& file)
{
#ifndef _WIN32
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0)
        ::close(fd);
#else
    static_cast<void>(file);
#endif
}

} // namespace

std::error_code PreparePrivateFile(const std::filesystem::path& file)
{
    std::error_code error;
    MakePrivateFolders(file.parent_path(), error);
    if (error)
        return error;
    // Also where an earlier version left them open to others. SQLite gives its log files the
    // file's mode.
    MakePrivate(file.parent_path(), true);
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        MakePrivate(file.string() + suffix, false);
    CreatePrivateFile(file);
    return error;
}

bool ExecSql(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

sqlite3_stmt* PreparePersistent(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK)
        return nullptr;
    return statement;
}

void BindStamp(sqlite3_stmt* statement, const FileStamp& key, std::int64_t day)
{
    sqlite3_bind_int64(statement, 1, AsSqlInt(key.device));
    sqlite3_bind_int64(statement, 2, AsSqlInt(key.inode));
    sqlite3_bind_int64(statement, 3, key.size);
    sqlite3_bind_int64(statement, 4, key.modifiedNs);
    sqlite3_bind_int64(statement, 5, key.changedNs);
    sqlite3_bind_int64(statement, 6, day);
}

void BindSeen(sqlite3_stmt* statement, const FileStamp& key, std::int64_t day)
{
    sqlite3_bind_int64(statement, 1, AsSqlInt(key.device));
    sqlite3_bind_int64(statement, 2, AsSqlInt(key.inode));
    sqlite3_bind_int64(statement, 3, day);
}

} // namespace tunesift
