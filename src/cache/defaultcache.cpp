#include "cache/defaultcache.h"

#include "cache/sqlitecache.h"
#include "cache/sqlitesongtags.h"

#include <filesystem>
#include <optional>

namespace tunesift {

std::unique_ptr<FileCache>
OpenDefaultFileCache(const std::function<void(const std::string& text)>& report)
{
    const std::optional<std::filesystem::path> file = DefaultCacheFile();
    if (!file) {
        if (report)
            report("No cache folder is known (HOME is not set); the search goes on without a "
                   "cache.");
        return nullptr;
    }
    auto cache = std::make_unique<SqliteFileCache>(*file, report);
    if (!cache->usable())
        return nullptr;
    return cache;
}

std::unique_ptr<SongTagCache> OpenDefaultSongTagCache()
{
    const std::optional<std::filesystem::path> file = DefaultCacheFile();
    if (!file || file->empty()) // empty: a build that keeps no cache
        return nullptr;
    return OpenSongTagCache(*file);
}

} // namespace tunesift
