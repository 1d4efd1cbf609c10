#include "files/pathops.h"

#ifdef _WIN32
#include "files/fileaccess.h"

#include <windows.h>
#else
#include <filesystem>
#include <system_error>
#endif

namespace tunesift {

std::string_view FileNameOfPath(std::string_view path)
{
    const std::size_t p = path.rfind(kPathSeparator);
    return p == std::string_view::npos ? path : path.substr(p + 1);
}

std::string_view FolderOfPath(std::string_view path)
{
    const std::size_t p = path.rfind(kPathSeparator);
    return p == std::string_view::npos ? std::string_view{} : path.substr(0, p + 1);
}

#ifdef _WIN32
// The wide functions with the long-path prefix: std::filesystem stops at 260 characters here.
bool IsFolder(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}
#else
bool IsFolder(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_directory(std::filesystem::u8path(path), error);
}

bool FileExists(const std::string& path)
{
    std::error_code error;
    [[maybe_unused]] const auto stamp =
        std::filesystem::last_write_time(std::filesystem::u8path(path), error);
    return !error;
}
#endif

} // namespace tunesift
