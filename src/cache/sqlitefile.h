#pragma once

// What the tables of the cache file share: the file kept private to the user.

#include <filesystem>
#include <system_error>

namespace tunesift {

// Makes the cache file's folder and the folders above it that are missing with mode 0700, takes
// the rights of the group and of others from the folder, the file and SQLite's log files where
// they exist (the cache tells which music the user has), and creates the file empty with mode
// 0600 where it does not exist yet. The error is that of making the folders; nothing else is
// done then.
std::error_code PreparePrivateFile(const std::filesystem::path& file);

} // namespace tunesift
