#pragma once

// The caches both front ends open: the tables of one file in the user's cache folder
// (DefaultCacheFile), with the same path and rights for every table.

#include "search/filecache.h"
#include "search/songtagcache.h"

#include <functional>
#include <memory>
#include <string>

namespace tunesift {

// The facts cache for a run; nothing when no place is known for it or it cannot be used. Why
// not is told once through report, where one is given.
std::unique_ptr<FileCache>
OpenDefaultFileCache(const std::function<void(const std::string& text)>& report);

// The song tags cache; nothing when it cannot be used (the tags are then read from the files).
std::unique_ptr<SongTagCache> OpenDefaultSongTagCache();

} // namespace tunesift
