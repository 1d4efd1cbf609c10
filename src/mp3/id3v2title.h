#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace tunesift {

class ReadOnlyFile;

// Bytes taken by the ID3v2 tag (versions 2.2 to 2.4) that starts at the very first byte: header,
// frames, padding and footer. 0 when the bytes do not start with such a tag.
std::size_t LeadingID3v2TagSize(std::span<const unsigned char> head);

// False in a build without an ID3v2 parser: no title is ever found, and callers refuse to
// compare ID3v2 titles.
bool ID3v2TitlesAvailable();

// The title of the ID3v2 tag at the start of the bytes: the first text of its first title frame
// (TIT2, TT2 in version 2.2), decoded by the frame's encoding byte (ISO-8859-1, UTF-16 with
// byte-order mark, UTF-16BE, UTF-8) to UTF-8, cut at its first NUL, trailing spaces removed.
// Nothing when there is no such tag or frame, or the text is empty, or the bytes end before the
// tag does.
std::optional<std::string> ID3v2TitleOf(std::span<const unsigned char> bytes);

// The same from an open file, starting from the head already read (its first bytes, possibly
// none): only when the tag reaches beyond the head is more of the file read (tags beyond
// 16 MiB are not read and have no title).
std::optional<std::string> ReadID3v2Title(const ReadOnlyFile& file,
                                          std::span<const unsigned char> head = {});

// The texts a results list shows of a song, from the same tag: each the first text of its frame
// (TIT2, TPE1, TALB; TT2, TP1, TAL in version 2.2), decoded as the title is.
struct ID3v2SongTexts
{
    std::optional<std::string> title;
    std::optional<std::string> artist;
    std::optional<std::string> album;
};
ID3v2SongTexts ID3v2SongTextsOf(std::span<const unsigned char> bytes);
ID3v2SongTexts ReadID3v2SongTexts(const ReadOnlyFile& file,
                                  std::span<const unsigned char> head = {});

} // namespace tunesift
