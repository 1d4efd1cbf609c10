#include "search/songtagcache.h"

namespace tunesift {

std::optional<SongTags> SongTagsOf(const std::string& path, SongTagCache* cache)
{
    ReadOnlyFile file;
    if (!file.open(path))
        return std::nullopt;
    const std::optional<FileStamp>& stamp = file.stamp();
    if (cache && stamp) {
        if (std::optional<SongTags> kept = cache->find(*stamp))
            return kept;
    }
    std::optional<SongTags> tags = ReadSongTags(file);
    if (tags && cache && stamp)
        cache->store(*stamp, *tags);
    return tags;
}

} // namespace tunesift
