#include "mp3/id3v1.h"

#include "files/fileaccess.h"
#include "mp3/id3v2title.h"
#include "text/latin1.h"
#include "text/textcase.h"

#include <algorithm>
#include <cstring>

namespace tunesift {

namespace {

// Entries from 40 on stand one index above the common ID3v1 numbering; files written by this
// program's predecessors rely on it, so the table stays as it is.
constexpr std::array<const char*, kGenreCount> kGenres{
    "Blues",
    "Classic Rock",
    "Country",
    "Dance",
    "Disco",
    "Funk",
    "Grunge",
    "Hip-Hop",
    "Jazz",
    "Metal",
    "New Age",
    "Oldies",
    "Other",
    "Pop",
    "R&B",
    "Rap",
    "Reggae",
    "Rock",
    "Techno",
    "Industrial",
    "Alternative",
    "Ska",
    "Death Metal",
    "Pranks",
    "Soundtrack",
    "Euro-Techno",
    "Ambient",
    "Trip-Hop",
    "Vocal",
    "Jazz+Funk",
    "Fusion",
    "Trance",
    "Classical",
    "Instrumental",
    "Acid",
    "House",
    "Game",
    "Sound Clip",
    "Gospel",
    "Noise",
    "Rock",
    "Alt",
    "Bass",
    "Soul",
    "Punk",
    "Space",
    "Meditative",
    "Instrumental Pop",
    "Instrumental Rock",
    "Ethnic",
    "Gothic",
    "Darkwave",
    "Techno-Industrial",
    "Electronic",
    "Pop-Folk",
    "Eurodance",
    "Dream",
    "Southern Rock",
    "Comedy",
    "Cult",
    "Gangsta Rap",
    "Top 40",
    "Christian Rap",
    "Pop/Funk",
    "Jungle",
    "Native American",
    "Cabaret",
    "New Wave",
    "Psychedelic",
    "Rave",
    "Showtunes",
    "Trailer",
    "Lo-Fi",
    "Tribal",
    "Acid Punk",
    "Acid Jazz",
    "Polka",
    "Retro",
    "Musical",
    "Rock & Roll",
    "Hard Rock",
    "Folk",
    "Folk/Rock",
    "National Folk",
    "Swing",
    "Fast-Fusion",
    "Bebob",
    "Latin",
    "Revival",
    "Celtic",
    "Bluegrass",
    "Avantgarde",
    "Gothic Rock",
    "Progressive Rock",
    "Psychedelic Rock",
    "Symphonic Rock",
    "Slow Rock",
    "Big Band",
    "Chorus",
    "Easy Listening",
    "Acoustic",
    "Humour",
    "Speech",
    "Chanson",
    "Opera",
    "Chamber Music",
    "Sonata",
    "Symphony",
    "Booty Bass",
    "Primus",
    "Porn Groove",
    "Satire",
    "Slow Jam",
    "Club",
    "Tango",
    "Samba",
    "Folklore",
    "Ballad",
    "Power Ballad",
    "Rhythmic Soul",
    "Freestyle",
    "Duet",
    "Punk Rock",
    "Drum Solo",
    "A Cappella",
    "Euro-House",
    "Dance Hall",
    "Goa",
    "Drum & Bass",
    "Club-House",
    "Hardcore",
    "Terror",
    "Indie",
    "BritPop",
    "Negerpunk",
    "Polsk Punk",
    "Beat",
    "Christian Gangsta Rap",
    "Heavy Metal",
    "Black Metal",
    "Crossover",
    "Contemporary Christian",
    "Christian Rock",
    "Merengue",
    "Salsa",
    "Thrash Metal",
    "Anime",
    "JPop",
    "Synthpop",
};

// Tag layout: identifier 0-2, title 3-32, artist 33-62, album 63-92, year 93-96,
// comment 97-126, genre 127.
constexpr std::size_t kTitleAt = 3;
constexpr std::size_t kArtistAt = 33;
constexpr std::size_t kAlbumAt = 63;
constexpr std::size_t kYearAt = 93;
constexpr std::size_t kCommentAt = 97;
constexpr std::size_t kGenreAt = 127;
// The track variant: comment byte 28 is 0 and comment byte 29 holds the track.
constexpr std::size_t kTrackMarkerAt = kCommentAt + 28;
constexpr std::size_t kTrackAt = kCommentAt + 29;

template <std::size_t N>
void copyOut(std::span<const unsigned char, kID3v1TagSize> bytes, std::size_t at,
             std::array<char, N>& field)
{
    std::memcpy(field.data(), bytes.data() + at, N);
}

template <std::size_t N>
void copyIn(std::array<unsigned char, kID3v1TagSize>& image, std::size_t at,
            const std::array<char, N>& field)
{
    std::memcpy(image.data() + at, field.data(), N);
}

std::string_view trimSpaces(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

// Genre names are plain ASCII, so a code point whose lower case is not ASCII never matches.
bool equalsIgnoringCase(std::string_view lowerCaseUtf8, std::string_view asciiName)
{
    if (lowerCaseUtf8.size() != asciiName.size()) {
        return false;
    }
    for (std::size_t k = 0; k < asciiName.size(); ++k) {
        const char expected = asciiName[k];
        const char folded =
            expected >= 'A' && expected <= 'Z' ? static_cast<char>(expected - 'A' + 'a') : expected;
        if (lowerCaseUtf8[k] != folded) {
            return false;
        }
    }
    return true;
}

} // namespace

bool IsID3v1Identifier(std::span<const unsigned char> bytes)
{
    return bytes.size() >= 3 && bytes[0] == 'T' && bytes[1] == 'A' && bytes[2] == 'G';
}

ID3v1Tag ParseID3v1Tag(std::span<const unsigned char, kID3v1TagSize> bytes)
{
    ID3v1Tag tag;
    tag.identifier = {static_cast<char>(bytes[0]), static_cast<char>(bytes[1]),
                      static_cast<char>(bytes[2])};
    copyOut(bytes, kTitleAt, tag.title);
    copyOut(bytes, kArtistAt, tag.artist);
    copyOut(bytes, kAlbumAt, tag.album);
    copyOut(bytes, kYearAt, tag.year);
    copyOut(bytes, kCommentAt, tag.comment);
    tag.genre = bytes[kGenreAt];
    tag.hasTrack = bytes[kTrackMarkerAt] == 0 && bytes[kTrackAt] != 0;
    tag.track = tag.hasTrack ? bytes[kTrackAt] : 0;
    return tag;
}

std::array<unsigned char, kID3v1TagSize> ID3v1TagImage(const ID3v1Tag& tag)
{
    std::array<unsigned char, kID3v1TagSize> image{};
    copyIn(image, 0, tag.identifier);
    copyIn(image, kTitleAt, tag.title);
    copyIn(image, kArtistAt, tag.artist);
    copyIn(image, kAlbumAt, tag.album);
    copyIn(image, kYearAt, tag.year);
    copyIn(image, kCommentAt, tag.comment);
    image[kGenreAt] = tag.genre;
    if (tag.hasTrack) {
        image[kTrackMarkerAt] = 0;
        image[kTrackAt] = tag.track;
    }
    return image;
}

std::string_view TrimAtNul(std::string_view text)
{
    return text.substr(0, text.find('\0'));
}

std::string GenreName(std::uint8_t index)
{
    return index < kGenreCount ? kGenres[index] : "";
}

std::uint8_t GenreIndexOfName(std::string_view name)
{
    const std::string wanted = LowerCase(trimSpaces(name));
    if (wanted.empty()) {
        return 255;
    }
    for (std::size_t i = 0; i < kGenres.size(); ++i) {
        if (equalsIgnoringCase(wanted, kGenres[i])) {
            return static_cast<std::uint8_t>(i);
        }
    }
    return 255;
}

namespace {

// The title of an ID3v1 tag in a file's last 128 bytes, as ReadTagTitle gives it.
std::optional<std::string> titleOfRecord(std::span<const unsigned char, kID3v1TagSize> record)
{
    if (!IsID3v1Identifier(record))
        return std::nullopt;
    std::string_view title(reinterpret_cast<const char*>(record.data() + kTitleAt), 30);
    const auto end = title.find_last_not_of(' ');
    title = end == std::string_view::npos ? std::string_view{} : title.substr(0, end + 1);
    return Latin1ToUtf8(title);
}

std::optional<std::string> tagTitleOf(const ReadOnlyFile& file)
{
    if (file.size() < static_cast<std::int64_t>(kID3v1TagSize))
        return std::nullopt;
    std::array<unsigned char, kID3v1TagSize> bytes{};
    const auto got = file.readAt(file.size() - static_cast<std::int64_t>(kID3v1TagSize), bytes);
    if (!got || *got != bytes.size())
        return std::nullopt;
    return titleOfRecord(bytes);
}

} // namespace

namespace {

template <typename Open>
std::optional<std::string> readTagTitle(Open open)
{
    try {
        ReadOnlyFile file;
        if (!open(file))
            return std::nullopt;
        return tagTitleOf(file);
    } catch (...) {
        // Only an allocation can fail here; the search treats it as a file without a tag.
        return std::nullopt;
    }
}

template <typename Open>
SizeAndTagTitle readSizeAndTagTitle(Open open, bool withID3v2Title)
{
    try {
        ReadOnlyFile file;
        if (open(file))
            return ReadSizeAndTagTitle(file, withID3v2Title);
    } catch (...) {
    }
    return {};
}

} // namespace

std::optional<std::string> ReadTagTitle(const std::string& path)
{
    return readTagTitle([&](ReadOnlyFile& file) { return file.open(path); });
}

std::optional<std::string> ReadTagTitle(const FolderHandle& folder, std::string_view name)
{
    return readTagTitle([&](ReadOnlyFile& file) { return file.open(folder, name); });
}

SizeAndTagTitle ReadSizeAndTagTitle(const std::string& path, bool withID3v2Title)
{
    return readSizeAndTagTitle([&](ReadOnlyFile& file) { return file.open(path); }, withID3v2Title);
}

SizeAndTagTitle ReadSizeAndTagTitle(const FolderHandle& folder, std::string_view name,
                                    bool withID3v2Title)
{
    return readSizeAndTagTitle([&](ReadOnlyFile& file) { return file.open(folder, name); },
                               withID3v2Title);
}

SizeAndTagTitle
ReadSizeAndTagTitle(const ReadOnlyFile& file, bool withID3v2Title,
                    const std::optional<std::array<unsigned char, kID3v1TagSize>>& lastRecord)
{
    SizeAndTagTitle result;
    result.size = file.size();
    result.stamp = file.stamp();
    try {
        result.title = lastRecord ? titleOfRecord(*lastRecord) : tagTitleOf(file);
        if (withID3v2Title)
            result.id3v2Title = ReadID3v2Title(file);
    } catch (...) {
        result.title.reset();
        result.id3v2Title.reset();
    }
    return result;
}

std::string ComparedTitle(const std::optional<std::string>& id3v1Title,
                          const std::optional<std::string>& id3v2Title)
{
    return id3v2Title ? *id3v2Title : id3v1Title.value_or(std::string());
}

} // namespace tunesift
