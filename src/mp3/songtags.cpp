#include "mp3/songtags.h"

#include "files/fileaccess.h"
#include "mp3/id3v1.h"
#include "mp3/id3v2title.h"
#include "text/latin1.h"

#include <array>

namespace tunesift {

namespace {

template <std::size_t Width>
std::string fieldText(const std::array<char, Width>& field)
{
    std::string_view text = TrimAtNul(std::string_view(field.data(), field.size()));
    const auto end = text.find_last_not_of(' ');
    text = end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
    return Latin1ToUtf8(text);
}

} // namespace

std::optional<SongTags> ReadSongTags(const ReadOnlyFile& file)
{
    try {
        SongTags tags;
        if (file.size() >= static_cast<std::int64_t>(kID3v1TagSize)) {
            std::array<unsigned char, kID3v1TagSize> record{};
            const auto got =
                file.readAt(file.size() - static_cast<std::int64_t>(kID3v1TagSize), record);
            if (!got)
                return std::nullopt;
            if (*got == record.size() && IsID3v1Identifier(record)) {
                const ID3v1Tag tag = ParseID3v1Tag(record);
                tags.artist = fieldText(tag.artist);
                tags.album = fieldText(tag.album);
                tags.title = fieldText(tag.title);
            }
        }
        ID3v2SongTexts leading = ReadID3v2SongTexts(file);
        if (leading.artist)
            tags.artist = std::move(*leading.artist);
        if (leading.album)
            tags.album = std::move(*leading.album);
        if (leading.title)
            tags.title = std::move(*leading.title);
        return tags;
    } catch (...) {
        return std::nullopt; // only an allocation can fail here
    }
}

} // namespace tunesift
