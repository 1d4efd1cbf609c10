#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tunesift {

// One MPEG audio frame header, decoded. Only headers with a known sampling rate and a bit rate
// from the tables (neither free format nor forbidden) get this far.
struct FrameHeader
{
    float mpegVersion = 0;      // 1, 2 or 2.5
    std::uint8_t layer = 0;     // 1, 2 or 3
    bool isProtected = false;   // a CRC follows the header
    std::int32_t bitRate = 0;   // kbit/s
    std::int32_t frequency = 0; // Hz
    std::uint8_t padding = 0;
    bool privateBit = false;
    std::uint8_t channelMode = 0; // the two mode bits; 3 is single channel
    std::uint8_t modeExtension = 0;
    bool copyrighted = false;
    bool original = false;
    std::uint8_t emphasis = 0; // the two emphasis bits
    std::int32_t frameLength = 0;
};

// Eleven set bits: 0xFF, then the top three bits of the next byte.
constexpr bool IsFrameSync(unsigned char b0, unsigned char b1)
{
    return b0 == 0xFF && (b1 & 0xE0) == 0xE0;
}

// The bit fields DecodeFrameHeader rejects, tested on the raw bytes: version bits 01, layer
// bits 00, bit-rate index 0 or 15, sampling-rate index 3. Lets the search skip hopeless
// candidates cheaply.
constexpr bool IsDecodableHeader(unsigned char b1, unsigned char b2)
{
    const unsigned version = (b1 >> 3) & 0x3u;
    const unsigned layer = (b1 >> 1) & 0x3u;
    const unsigned bitRateIndex = (b2 >> 4) & 0xFu;
    const unsigned frequencyIndex = (b2 >> 2) & 0x3u;
    return version != 1 && layer != 0 && bitRateIndex != 0 && bitRateIndex != 15 &&
           frequencyIndex != 3;
}

// Nothing when the version is reserved, the sampling-rate index is 3, the layer bits are 00, or
// the bit-rate index is 0 (free format) or 15. The sync bits are not checked here.
std::optional<FrameHeader> DecodeFrameHeader(std::span<const unsigned char, 4> bytes);

const char* ChannelModeName(std::uint8_t modeBits);
const char* EmphasisName(std::uint8_t emphasisBits);

// Where an encoder puts the Xing block of a first frame: behind the header, its CRC and, for
// Layer III, the side information, whose size depends on the version and the channel count.
std::int32_t XingBlockOffset(const FrameHeader& header);

inline constexpr std::size_t kID3v2HeaderSize = 10;

// The 10-byte ID3v2 header, or the footer of an appended tag, as it lies on disk.
struct ID3v2Header
{
    unsigned char identifier[3]{};
    unsigned char version[2]{}; // major version, revision
    unsigned char flags = 0;
    unsigned char size[4]{}; // synchsafe, most significant byte first

    bool isHeader() const;
    bool isFooter() const;
    // The size field plus the header, plus the footer when flag bit 4 says there is one.
    std::int32_t totalSize() const;
    // The plausibility test for a tag met inside the data: the version word read little-endian
    // as a signed 16-bit number is below 255 and no size byte has bit 7 set.
    bool isPlausibleEmbedded() const;
};

ID3v2Header ParseID3v2Header(std::span<const unsigned char, kID3v2HeaderSize> bytes);

// (s3 & 0x7F)·2^21 + (s2 & 0x7F)·2^14 + (s1 & 0x7F)·2^7 + (s0 & 0x7F), s3 first in the bytes.
std::int32_t FromSynchsafe(std::span<const unsigned char, 4> bytes);

inline constexpr std::size_t kXingBlockSize = 12;

struct XingBlock
{
    bool present = false; // the identifier "Xing", letter case counting
    std::uint32_t flags = 0;
    std::uint32_t frameCount = 0;

    bool hasFrameCount() const { return (flags & 0x1u) != 0; }
};

XingBlock ParseXingBlock(std::span<const unsigned char, kXingBlockSize> bytes);

} // namespace tunesift
