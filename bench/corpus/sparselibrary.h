#pragma once

// The sparse library: Genre/Artist/Album folders of MP3 files named "NN - Artist - Title.mp3",
// with the duplicate patterns a real collection has (copied albums, renamed and re-encoded
// copies, case and stop-word variants, covers of the same song), and the clutter a scan must step
// over (pictures, playlists, hidden folders, ".MP3" names). Real-looking sizes of a few
// megabytes, so that equal sizes are as rare as in a real library, while each file occupies only
// its first and last block on disk (mp3bytes.h). The same seed gives the same library.

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace tunesift::corpus {

struct SparseCounts
{
    std::size_t written = 0; // MP3 files a scan catalogues
    std::size_t hidden = 0;  // MP3 files in hidden folders or with hidden names
    std::size_t others = 0;  // pictures, playlists and the like
};

// Writes a library of `files` visible MP3 files below root; false (with a message on stderr)
// when a folder or file cannot be written.
bool makeSparseLibrary(const std::filesystem::path& root, std::size_t files, std::uint64_t seed,
                       SparseCounts& counts);

} // namespace tunesift::corpus
