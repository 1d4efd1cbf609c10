#include "platform/filetimes.h"

#include <string>

#ifdef __linux__
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <filesystem>
#include <system_error>
#endif

namespace tunesift {

namespace {

#ifndef __linux__
std::filesystem::path utf8Path(std::string_view text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::optional<std::int64_t> lastWriteTime(const std::filesystem::path& path)
{
    std::error_code error;
    const auto time = std::filesystem::last_write_time(path, error);
    if (error)
        return std::nullopt;
    return static_cast<std::int64_t>(time.time_since_epoch().count());
}
#else
// Seconds and nanoseconds as one count of nanoseconds, the order the file clock gives them.
std::int64_t nanoseconds(std::int64_t seconds, std::int64_t nanos)
{
    return seconds * 1'000'000'000 + nanos;
}

// One lookup of the name inside the open folder, asking only for the time (symbolic links
// followed, as for a path). Falls back to fstatat where statx is missing or gives no time.
std::optional<std::int64_t> timeAt(int folder, const std::string& name, bool& useStatx)
{
    if (useStatx) {
        struct statx info
        {};
        if (statx(folder, name.c_str(), AT_STATX_SYNC_AS_STAT, STATX_MTIME, &info) == 0) {
            if (info.stx_mask & STATX_MTIME)
                return nanoseconds(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
        } else if (errno != ENOSYS) {
            return std::nullopt;
        } else {
            useStatx = false;
        }
    }
    struct stat info
    {};
    if (fstatat(folder, name.c_str(), &info, 0) != 0)
        return std::nullopt;
    return nanoseconds(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
}
#endif

} // namespace

std::vector<std::optional<std::int64_t>> ReadModifiedTimes(std::string_view folder,
                                                           std::span<const std::string_view> names)
{
    std::vector<std::optional<std::int64_t>> times(names.size());
#ifdef __linux__
    // A path handle needs no right to read the folder, only to pass through it, as a path does.
    const std::string folderText(folder.empty() ? std::string_view(".") : folder);
    const int handle = open(folderText.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0)
        return times;
    bool useStatx = true;
    std::string name;
    for (std::size_t k = 0; k < names.size(); ++k) {
        name.assign(names[k]);
        times[k] = timeAt(handle, name, useStatx);
    }
    close(handle);
#else
    const std::filesystem::path base = utf8Path(folder);
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (!names[k].empty())
            times[k] = lastWriteTime(base / utf8Path(names[k]));
    }
#endif
    return times;
}

} // namespace tunesift
