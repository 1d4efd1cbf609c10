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
// Setting FileName runs the analysis; the object can be reused for any number of files.
// Reading never throws and never changes a file. Only WriteTag, RemoveTag and RemovePreHeader
// write, and they pass their errors on (std::system_error, std::runtime_error).
class clsMP3Info
{
public:
    clsMP3Info() = default;

    // When true (the default), an ID3v2 tag met inside the data during the frame search is
    // skipped as a whole. Takes effect at the next analysis.
    bool HeaderTest() const { return m_headerTest; }
    void SetHeaderTest(bool value) { m_headerTest = value; }

    // Empty again after an analysis that found no valid frame header.
    const std::string& FileName() const { return m_fileName; }
    void SetFileName(const std::string& path) noexcept;
    // The same for a path whose last part a folder listing showed as a regular file (see
    // ReadOnlyFile::openListed).
    void SetListedFileName(const std::string& path) noexcept;
    // The same for a name listed in a folder held open; FileName() is then the joined path.
    void SetListedFileName(const FolderHandle& folder, std::string_view name) noexcept;
    // The same for a file the caller has opened, known by the path given.
    void SetOpenedFile(const ReadOnlyFile& file, std::string path) noexcept;
    // The last 128 bytes of the file as the last analysis read them, whatever they hold; nothing
    // for a shorter file or where they could not be read.
    const std::optional<std::array<unsigned char, kID3v1TagSize>>& LastRecord() const
    {
        return m_lastRecord;
    }

    bool ValidMP3() const { return m_validMP3; }
    std::uint8_t Padding() const { return m_padding; }
    std::int32_t GenreCount() const { return kGenreCount; }
    std::int32_t FrameLength() const { return m_frameLength; }
    bool ID3Present() const { return m_id3Present; }
    bool ID3v2Present() const { return m_id3v2Present; }
    std::int32_t ID3v2Size() const { return m_id3v2Size; }
    std::int64_t ID3v2Offset() const { return m_id3v2Offset; }
    std::int64_t FileSize() const { return m_fileSize; }
    std::int32_t BitRate() const { return m_bitRate; }
    std::int32_t Frequency() const { return m_frequency; }
    std::int64_t SongLength() const { return m_songLength; }
    std::string FormattedTime() const { return FormatSongLength(m_songLength); }
    std::int64_t NumFrames() const { return m_numFrames; }
    bool isVBR() const { return m_isVBR; }
    float MPEGVer() const { return m_mpegVer; }
    std::uint8_t Layers() const { return m_layers; }
    bool Protected() const { return m_protected; }
    bool PrivateBit() const { return m_privateBit; }
    const std::string& ChannelMode() const { return m_channelMode; }
    bool Copyrighted() const { return m_copyrighted; }
    bool Original() const { return m_original; }
    std::int64_t HeaderOffset() const { return m_headerOffset; }
    const std::string& Emphasis() const { return m_emphasis; }
    // From the first frame header to the end less the trailing tags; empty without a frame.
    const AudioRange& audioRange() const { return m_audioRange; }

    // Tag text: UTF-8 of the field's ISO-8859-1 bytes up to the first NUL (trailing spaces
    // stay). Setting cuts the value to the field width and fills the rest with NULs; characters
    // outside ISO-8859-1 become '?'. Nothing reaches the file before WriteTag.
    std::string Title() const;
    void SetTitle(const std::string& value);
    std::string artist() const;
    void SetArtist(const std::string& value);
    std::string album() const;
    void SetAlbum(const std::string& value);
    std::string year() const;
    // Ignored unless the first four characters are all digits 0-9 (or there are fewer).
    void SetYear(const std::string& value);
    std::string comment() const;
    void SetComment(const std::string& value);
    std::uint8_t GenreID() const { return m_tag.genre; }
    void SetGenreID(std::uint8_t value) { m_tag.genre = value; }
    std::uint8_t TrackNum() const { return m_tag.track; }
    // 0 removes the track number.
    void SetTrackNum(std::uint8_t value);
    std::string GenreString() const { return GenreName(m_tag.genre); }
    std::uint8_t IDFromGenreString(const std::string& inGenreString) const;

    // Writes the in-memory tag over the file's tag, or appends it when the file had none. Fails,
    // leaving the file alone, when another program has changed its length or added or removed
    // its tag since the analysis.
    bool WriteTag(bool inRetainDate);
    // Strips the ID3v1 tag; false when there was none.
    bool RemoveTag(bool inRetainDate);
    // Strips everything before the first frame header (a leading ID3v2 tag with it); false when
    // the first frame is at the very start, or when no second frame header confirms it.
    // The removals rewrite the file through a new one, so they refuse a file the caller may not
    // write and one with several hard links.
    bool RemovePreHeader(bool inRetainDate);

private:
    void resetInfo();
    void analyseFile(bool listed);
    void analyseOpenFile(const ReadOnlyFile& file);

    bool m_headerTest = true;
    std::string m_fileName;
    // The path last given to SetFileName, kept for messages when the analysis found no audio.
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
