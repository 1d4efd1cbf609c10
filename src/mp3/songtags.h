#pragma once

#include <optional>
#include <string>

namespace tunesift {

class ReadOnlyFile;

// What a results list shows of a song beside its file: artist, album and title as UTF-8, each
// empty where the file says nothing.
struct SongTags
{
    std::string artist;
    std::string album;
    std::string title;
    bool operator==(const SongTags&) const = default;
};

// Each text from the ID3v2 tag at the start of the file where that tag has it, else from the
// ID3v1 tag at its end (cut at its first NUL, trailing spaces removed). Nothing when the file
// cannot be read. Never throws.
std::optional<SongTags> ReadSongTags(const ReadOnlyFile& file);

} // namespace tunesift
