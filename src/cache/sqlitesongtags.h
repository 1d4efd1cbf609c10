#pragma once

#include "search/songtagcache.h"

#include <chrono>
#include <filesystem>
#include <memory>

namespace tunesift {

// The song tags cache: a table of its own in the facts cache's SQLite file, beside the facts
// and apart from them. Entries of files not seen for 90 days are dropped. A file that cannot be
// used gives and keeps nothing, silently: the tags are then read from the files. Nothing in a
// build without SQLite. Files changed less than settle before the cache was opened are not kept:
// a file replaced within one tick of the file system's clock could share a stamp with its
// predecessor.
std::unique_ptr<SongTagCache>
OpenSongTagCache(const std::filesystem::path& file,
                 std::chrono::nanoseconds settle = std::chrono::seconds(2));

} // namespace tunesift
