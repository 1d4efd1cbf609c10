#pragma once

// One file of the synthetic library on disk. Every MP3 starts with a valid MPEG-1 Layer III frame
// header (some behind an ID3v2 tag or a little junk) and most end in an ID3v1 tag. The files are
// sparse: only a head and a tail are written, and what lies between stays a hole.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tunesift::corpus {

// How one MP3 file looks on disk. Copies share it; variants change some of it.
struct Mp3Layout
{
    std::int64_t size = 0;
    int id3v2Payload = 0; // bytes after the 10-byte ID3v2 header; 0 for no ID3v2 tag
    int junk = 0;         // zero bytes before the first frame header
    int bitRateIndex = 9;
    int sampleRateIndex = 0;
    int channelMode = 1;
    bool padding = false;
    std::uint32_t xingFrames = 0; // 0 for a constant-bit-rate file without a Xing block
    bool hasTag = true;
    bool nulPadded = false; // title padded with NULs instead of spaces
    std::string tagTitle;   // Latin-1 bytes
    std::string tagArtist;
    std::string tagAlbum;
    int year = 2000;
    int track = 0;
    int genre = 0;
    std::uint64_t noise = 0; // seeds the filler bytes
    bool broken = false;     // a small file with no frame header at all
};

// The bytes at the start (frame header, tags, filler) and at the end (ID3v1 tag or audio) of l.
void buildMp3(const Mp3Layout& l, std::string& head, std::string& tail);

enum class WriteOutcome
{
    Written,
    Exists,
    Failed
};

// Writes head at the start and tail at the end of a new file of the given size; what lies
// between stays a hole. An existing file is left alone (Exists); a failure is reported on stderr.
WriteOutcome writeSparseFile(const std::filesystem::path& path, std::string_view head,
                             std::string_view tail, std::int64_t size);

} // namespace tunesift::corpus
