// The facts cache of a build without SQLite: it is never usable and says nothing, so every run
// reads every file, as with the cache switched off. The rows are the same either way.
#include "cache/sqlitecache.h"

namespace tunesift {

std::optional<std::filesystem::path> DefaultCacheFile()
{
    return std::filesystem::path(); // a place is known; the cache there is never opened
}

SqliteFileCache::SqliteFileCache(std::filesystem::path file, Report report,
                                 std::chrono::nanoseconds)
    : m_file(std::move(file)), m_report(std::move(report))
{}

SqliteFileCache::~SqliteFileCache() = default;

bool SqliteFileCache::usable() const
{
    return false;
}

std::optional<FileFacts> SqliteFileCache::find(const FileStamp&)
{
    return std::nullopt;
}

void SqliteFileCache::store(const FileStamp&, const FileFacts&) {}

void SqliteFileCache::flush() {}

bool SqliteFileCache::empty()
{
    return true;
}

std::optional<std::vector<std::uint32_t>> SqliteFileCache::findPrint(const FileStamp&,
                                                                     std::string_view)
{
    return std::nullopt;
}

void SqliteFileCache::storePrint(const FileStamp&, std::string_view,
                                 const std::vector<std::uint32_t>&)
{}

std::optional<FileFacts>
SqliteFileCache::findWithPrint(const FileStamp&, std::string_view,
                               std::optional<std::vector<std::uint32_t>>& print)
{
    print.reset();
    return std::nullopt;
}

} // namespace tunesift
