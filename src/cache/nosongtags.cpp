// A build without SQLite keeps no song tags: they are read from the files each time.
#include "cache/sqlitesongtags.h"

namespace tunesift {

std::unique_ptr<SongTagCache> OpenSongTagCache(const std::filesystem::path&,
                                               std::chrono::nanoseconds)
{
    return nullptr;
}

} // namespace tunesift
