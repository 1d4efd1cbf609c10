#include "search/pathops.h"

#include <filesystem>
#include <system_error>

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

} // namespace tunesift
