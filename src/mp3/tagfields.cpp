#include "mp3/tagfields.h"

#include "mp3/fileaccess.h"
#include "mp3/id3v1.h"

#include <array>
#include <string_view>
#ifdef TUNESIFT_HAS_TAGLIB
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tfilestream.h>
#endif

namespace tunesift {

namespace {

bool hasText(std::string_view text)
{
    return text.find_first_not_of(std::string_view(" \0", 2)) != std::string_view::npos;
}

// The fields of the ID3v1 tag: title, artist, album.
std::array<bool, 3> id3v1Fields(const std::string& path)
{
    ReadOnlyFile file;
    std::array<unsigned char, kID3v1TagSize> bytes{};
    if (!file.open(path) || file.size() < static_cast<std::int64_t>(kID3v1TagSize) ||
        !file.readRecord(file.size() - static_cast<std::int64_t>(kID3v1TagSize), bytes) ||
        !IsID3v1Identifier(bytes))
        return {};
    const ID3v1Tag tag = ParseID3v1Tag(bytes);
    const auto text = [](const auto& field) {
        return hasText(TrimAtNul(std::string_view(field.data(), field.size())));
    };
    return {text(tag.title), text(tag.artist), text(tag.album)};
}

} // namespace

int TagFieldsPresent(const std::string& path)
{
    std::array<bool, 3> fields = id3v1Fields(path);
#ifdef TUNESIFT_HAS_TAGLIB
    // Opened through a stream of our own so that TagLib reads only: it never writes here.
    TagLib::FileStream stream(path.c_str(), true);
    if (stream.isOpen()) {
        TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
        if (const TagLib::ID3v2::Tag* tag = file.isValid() ? file.ID3v2Tag(false) : nullptr) {
            fields[0] = fields[0] || !tag->title().stripWhiteSpace().isEmpty();
            fields[1] = fields[1] || !tag->artist().stripWhiteSpace().isEmpty();
            fields[2] = fields[2] || !tag->album().stripWhiteSpace().isEmpty();
        }
    }
#endif
    return int{fields[0]} + int{fields[1]} + int{fields[2]};
}

} // namespace tunesift
