#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tunesift::test {

using Bytes = std::vector<unsigned char>;

// A fresh folder under the system's temp folder, removed with everything in it at the end.
class ScopedDir
{
public:
    ScopedDir();
    ~ScopedDir();
    ScopedDir(const ScopedDir&) = delete;
    ScopedDir& operator=(const ScopedDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

void writeFile(const std::string& path, const Bytes& bytes);

#ifndef _WIN32
// Encodes seconds of a tune (a new pair of notes every quarter second, made from seed; or
// silence for seed 0) with lame, asked for with lameOptions (rates, modes, bit rates). The tune
// is 22,050 Hz mono unless the options resample it (they must not set a mode: lame takes that
// for the channels of its raw input). False when lame failed.
bool encodeTune(const std::string& path, std::uint32_t seed, double seconds,
                const std::string& lameOptions);
#endif

#ifndef _WIN32
// Runs the body as the unprivileged user "nobody" when the tests run as the superuser (in a
// child process, whose failed expectations fail the calling test), otherwise directly. Paths the
// body uses must be reachable for that user.
void asUnprivilegedUser(const std::function<void()>& body);
// Who runs the body of asUnprivilegedUser: "nobody" under the superuser, else the caller.
std::uint32_t unprivilegedUserId();
std::uint32_t unprivilegedGroupId();
#endif
Bytes readFile(const std::string& path);

// The fields of a frame header, as raw bit values.
struct HeaderBits
{
    unsigned version = 3;      // 11 MPEG-1, 10 MPEG-2, 00 MPEG 2.5, 01 reserved
    unsigned layer = 1;        // 01 Layer III, 10 Layer II, 11 Layer I
    bool crc = false;          // written as protection bit 0
    unsigned bitRateIndex = 9; // 128 kbit/s for MPEG-1 Layer III
    unsigned frequencyIndex = 0;
    unsigned padding = 0;
    unsigned privateBit = 0;
    unsigned mode = 0; // 11 single channel
    unsigned modeExtension = 0;
    unsigned copyright = 0;
    unsigned original = 0;
    unsigned emphasis = 0;
};

std::array<unsigned char, 4> frameHeader(const HeaderBits& bits);

// An ID3v2 header ("ID3") or footer ("3DI") with the size field synchsafe-encoded.
Bytes id3v2Header(std::uint32_t size, bool footer = false, unsigned char flags = 0,
                  unsigned char major = 4, unsigned char revision = 0);

struct TagFields
{
    std::string title{};
    std::string artist{};
    std::string album{};
    std::string year{};
    std::string comment{}; // up to 30 raw bytes
    unsigned char genre = 0;
};

// A 128-byte ID3v1 tag; text is copied as raw bytes and padded with the given filler.
Bytes id3v1Tag(const TagFields& fields, char filler = '\0', const std::string& identifier = "TAG");

// Tags that trail the audio, byte-built with filler contents: an APEv2 tag with itemBytes of
// items (and a header when asked), a Lyrics3v2 block holding the fields text, an appended ID3v2
// tag with footer around bodyBytes of frames, and the 227-byte Enhanced TAG.
Bytes apeTag(std::size_t itemBytes, bool withHeader);
Bytes lyrics3v2Tag(const std::string& fields);
Bytes appendedId3v2Tag(std::size_t bodyBytes);
Bytes enhancedTag(const std::string& title);

// "Xing", flags and frame count, big-endian.
Bytes xingBlock(std::uint32_t flags, std::uint32_t frameCount);

// Copies bytes into the buffer at the offset, growing it as needed.
void put(Bytes& buffer, std::size_t offset, const Bytes& bytes);
void put(Bytes& buffer, std::size_t offset, const std::array<unsigned char, 4>& bytes);

Bytes concat(std::initializer_list<Bytes> parts);

} // namespace tunesift::test
