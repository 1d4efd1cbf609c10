#pragma once

#include "files/fileaccess.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tunesift {

class FolderHandle;

inline constexpr std::size_t kID3v1TagSize = 128;
inline constexpr std::int32_t kGenreCount = 149;

// The in-memory copy of the 128-byte tag at the end of a file. Text fields hold the raw
// ISO-8859-1 bytes, so their widths count characters; NUL is an ordinary character here.
struct ID3v1Tag
{
    std::array<char, 3> identifier{'T', 'A', 'G'};
    std::array<char, 30> title{};
    std::array<char, 30> artist{};
    std::array<char, 30> album{};
    std::array<char, 4> year{};
    // All 30 bytes as read, track bytes included.
    std::array<char, 30> comment{};
    std::uint8_t genre = 0;
    // 0 when the tag carries no track number.
    std::uint8_t track = 0;
    bool hasTrack = false;
};

// True when the bytes start with the case-sensitive identifier "TAG".
bool IsID3v1Identifier(std::span<const unsigned char> bytes);

// Decodes the on-disk layout; the identifier is not checked here.
ID3v1Tag ParseID3v1Tag(std::span<const unsigned char, kID3v1TagSize> bytes);

// The on-disk image of the tag. With a track number, bytes 125 and 126 are forced to 0 and the
// track whatever the comment holds.
std::array<unsigned char, kID3v1TagSize> ID3v1TagImage(const ID3v1Tag& tag);

// The characters before the first NUL, or all of them.
std::string_view TrimAtNul(std::string_view text);

// Cuts the text at its first NUL and at the field width, then fills the field with NULs.
template <std::size_t Width>
std::array<char, Width> PadField(std::string_view text)
{
    std::array<char, Width> field{};
    const std::string_view kept = TrimAtNul(text).substr(0, Width);
    kept.copy(field.data(), kept.size());
    return field;
}

// The genre table's name for an index, the empty string for 149 to 255.
std::string GenreName(std::uint8_t index);

// Index of a genre name (leading and trailing spaces ignored, letter case ignored); 255 when the
// name is not in the table. The first match wins, so "rock" is 17, never 40.
std::uint8_t GenreIndexOfName(std::string_view name);

// The quick title read of the search: the ID3v1 title of the file with trailing spaces removed
// (NUL characters stay), as UTF-8 of the tag's ISO-8859-1 bytes; nothing when the file has no
// tag or cannot be read. Never throws.
std::optional<std::string> ReadTagTitle(const std::string& path);
// The same for a name listed in a folder held open.
std::optional<std::string> ReadTagTitle(const FolderHandle& folder, std::string_view name);

// One open for the questions the search asks of every file: its length (nothing when it cannot
// be opened), what ReadTagTitle would return and, when asked for, the title of a leading ID3v2
// tag (ID3v2TitleOf).
struct SizeAndTagTitle
{
    std::optional<std::int64_t> size;
    std::optional<std::string> title;
    std::optional<std::string> id3v2Title;
    std::optional<FileStamp> stamp; // the file as it was read
};
SizeAndTagTitle ReadSizeAndTagTitle(const std::string& path, bool withID3v2Title = false);
SizeAndTagTitle ReadSizeAndTagTitle(const FolderHandle& folder, std::string_view name,
                                    bool withID3v2Title = false);
// The same for a file already open; lastRecord, when given, holds the file's last 128 bytes as
// read already (see Mp3Analysis::LastRecord), and the ID3v1 title is taken from them.
SizeAndTagTitle ReadSizeAndTagTitle(
    const ReadOnlyFile& file, bool withID3v2Title = false,
    const std::optional<std::array<unsigned char, kID3v1TagSize>>& lastRecord = std::nullopt);

// The title the tag criteria compare: the ID3v2 title where there is one, else the ID3v1 title
// (empty without either).
std::string ComparedTitle(const std::optional<std::string>& id3v1Title,
                          const std::optional<std::string>& id3v2Title);

} // namespace tunesift
