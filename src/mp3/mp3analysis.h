#pragma once

#include "mp3/audiorange.h"
#include "mp3/id3v1.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tunesift {

class FolderHandle;
class ReadOnlyFile;

// "nn:ss" below an hour, "h:nn:ss" from an hour on (total hours, no wrap at 24).
std::string FormatSongLength(std::int64_t seconds);

// Analysis of one MP3 file: its ID3v1 tag, an ID3v2 tag at the start or the end, the first
// MPEG audio frame header and, for variable bit rate, the Xing block of that frame.
// analyse() runs the analysis; the object can be reused for any number of files.
// Reading never throws and never changes a file. Only writeTag, removeTag and
// removeBytesBeforeFirstFrame write, and they pass their errors on (std::system_error,
// std::runtime_error).
class Mp3Analysis
{
public:
    Mp3Analysis() = default;

    // When true (the default), an ID3v2 tag met inside the data during the frame search is
    // skipped as a whole. Takes effect at the next analysis.
    bool skipsEmbeddedID3v2() const { return m_headerTest; }
    void setSkipsEmbeddedID3v2(bool value) { m_headerTest = value; }

    // Empty again after an analysis that found no valid frame header.
    const std::string& path() const { return m_fileName; }
    void analyse(const std::string& path) noexcept;
    // The same for a path whose last part a folder listing showed as a regular file (see
    // ReadOnlyFile::openListed).
    void analyseListed(const std::string& path) noexcept;
    // The same for a name listed in a folder held open; path() is then the joined path.
    void analyseListed(const FolderHandle& folder, std::string_view name) noexcept;
    // The same for a file the caller has opened, known by the path given.
    void analyseOpened(const ReadOnlyFile& file, std::string path) noexcept;
    // The last 128 bytes of the file as the last analysis read them, whatever they hold; nothing
    // for a shorter file or where they could not be read.
    const std::optional<std::array<unsigned char, kID3v1TagSize>>& lastRecord() const
    {
        return m_lastRecord;
    }

    bool isValidMp3() const { return m_validMP3; }
    std::uint8_t padding() const { return m_padding; }
    std::int32_t genreCount() const { return kGenreCount; }
    std::int32_t frameLength() const { return m_frameLength; }
    bool hasId3v1Tag() const { return m_id3Present; }
    bool hasId3v2Tag() const { return m_id3v2Present; }
    std::int32_t id3v2Size() const { return m_id3v2Size; }
    std::int64_t id3v2Offset() const { return m_id3v2Offset; }
    std::int64_t fileSize() const { return m_fileSize; }
    std::int32_t bitRate() const { return m_bitRate; }
    std::int32_t sampleRate() const { return m_frequency; }
    std::int64_t songLength() const { return m_songLength; }
    std::string formattedSongLength() const { return FormatSongLength(m_songLength); }
    std::int64_t frameCount() const { return m_numFrames; }
    bool isVariableBitRate() const { return m_isVBR; }
    float mpegVersion() const { return m_mpegVer; }
    std::uint8_t layer() const { return m_layers; }
    bool isProtected() const { return m_protected; }
    bool privateBit() const { return m_privateBit; }
    const std::string& channelMode() const { return m_channelMode; }
    bool isCopyrighted() const { return m_copyrighted; }
    bool isOriginal() const { return m_original; }
    std::int64_t firstFrameOffset() const { return m_headerOffset; }
    const std::string& emphasis() const { return m_emphasis; }
    // From the first frame header to the end less the trailing tags; empty without a frame.
    const AudioRange& audioRange() const { return m_audioRange; }

    // Tag text: UTF-8 of the field's ISO-8859-1 bytes up to the first NUL (trailing spaces
    // stay). Setting cuts the value to the field width and fills the rest with NULs; characters
    // outside ISO-8859-1 become '?'. Nothing reaches the file before writeTag.
    std::string title() const;
    void setTitle(const std::string& value);
    std::string artist() const;
    void setArtist(const std::string& value);
    std::string album() const;
    void setAlbum(const std::string& value);
    std::string year() const;
    // Ignored unless the first four characters are all digits 0-9 (or there are fewer).
    void setYear(const std::string& value);
    std::string comment() const;
    void setComment(const std::string& value);
    std::uint8_t genreId() const { return m_tag.genre; }
    void setGenreId(std::uint8_t value) { m_tag.genre = value; }
    std::uint8_t trackNumber() const { return m_tag.track; }
    // 0 removes the track number.
    void setTrackNumber(std::uint8_t value);
    std::string genreName() const { return GenreName(m_tag.genre); }
    std::uint8_t genreIdOf(const std::string& genreName) const;

    // Writes the in-memory tag over the file's tag, or appends it when the file had none. Fails,
    // leaving the file alone, when another program has changed its length or added or removed
    // its tag since the analysis.
    bool writeTag(bool keepFileTimes);
    // Strips the ID3v1 tag; false when there was none.
    bool removeTag(bool keepFileTimes);
    // Strips everything before the first frame header (a leading ID3v2 tag with it); false when
    // the first frame is at the very start, or when no second frame header confirms it.
    // The removals rewrite the file through a new one, so they refuse a file the caller may not
    // write and one with several hard links.
    bool removeBytesBeforeFirstFrame(bool keepFileTimes);

private:
    void resetInfo();
    void analyseFile(bool listed);
    void analyseOpenFile(const ReadOnlyFile& file);

    bool m_headerTest = true;
    std::string m_fileName;
    // The path last given to analyse, kept for messages when the analysis found no audio.
    std::string m_analysedPath;
    // The file's length as far as this object knows: the analysed length, moved by its own writes.
    std::int64_t m_knownLength = 0;
    bool m_validMP3 = false;
    std::uint8_t m_padding = 0;
    std::int32_t m_frameLength = 0;
    bool m_id3Present = false;
    bool m_id3v2Present = false;
    std::int32_t m_id3v2Size = 0;
    std::int64_t m_id3v2Offset = 0;
    std::int64_t m_fileSize = 0;
    std::int32_t m_bitRate = 0;
    std::int32_t m_frequency = 0;
    std::int64_t m_songLength = 0;
    std::int64_t m_numFrames = 0;
    bool m_isVBR = false;
    float m_mpegVer = 0;
    std::uint8_t m_layers = 0;
    bool m_protected = false;
    bool m_privateBit = false;
    std::string m_channelMode;
    bool m_copyrighted = false;
    bool m_original = false;
    std::int64_t m_headerOffset = 0;
    std::string m_emphasis;
    // Bytes from the first frame header to the end of the audio data.
    std::int64_t m_audioBytes = 0;
    AudioRange m_audioRange;
    ID3v1Tag m_tag;
    std::optional<std::array<unsigned char, kID3v1TagSize>> m_lastRecord;
};

} // namespace tunesift
