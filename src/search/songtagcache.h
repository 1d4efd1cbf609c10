#pragma once

#include "files/fileaccess.h"
#include "mp3/songtags.h"

#include <optional>
#include <string>

namespace tunesift {

// Keeps the song tags of files between runs, apart from the facts the search reads. A cache
// only ever spares reads: whatever it fails to give is read from the file.
class SongTagCache
{
public:
    virtual ~SongTagCache() = default;
    // The tags kept under exactly this stamp; nothing for an unknown or changed file.
    virtual std::optional<SongTags> find(const FileStamp& key) = 0;
    // Keeps the tags under the stamp, in place of whatever was kept for the file. Written by
    // flush at the latest.
    virtual void store(const FileStamp& key, const SongTags& tags) = 0;
    virtual void flush() = 0;
};

// The song tags of the file at the path: the cache's where it holds them for the file as it is
// now, else read from the file (and then kept). Nothing when the file cannot be read.
std::optional<SongTags> SongTagsOf(const std::string& path, SongTagCache* cache);

} // namespace tunesift
