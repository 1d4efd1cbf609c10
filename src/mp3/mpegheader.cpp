#include "mp3/mpegheader.h"

#include <array>

namespace tunesift {

namespace {

// Version bits: 00 MPEG 2.5, 01 reserved, 10 MPEG-2, 11 MPEG-1.
constexpr std::array<float, 4> kVersions{2.5f, 0.0f, 2.0f, 1.0f};

// Layer bits: 00 reserved, 01 Layer III, 10 Layer II, 11 Layer I.
constexpr std::array<std::uint8_t, 4> kLayers{0, 3, 2, 1};

// Sampling rates in Hz by version bits, then sampling-rate index; index 3 is reserved.
constexpr std::array<std::array<std::int32_t, 4>, 4> kFrequencies{{
    {11025, 12000, 8000, 0},  // MPEG 2.5
    {0, 0, 0, 0},             // reserved
    {22050, 24000, 16000, 0}, // MPEG-2
    {44100, 48000, 32000, 0}, // MPEG-1
}};

// Bit rates in kbit/s by bit-rate index; 0 (free format) and 15 (forbidden) stay 0.
using BitRateRow = std::array<std::int32_t, 16>;
constexpr BitRateRow kMpeg1Layer1{0,   32,  64,  96,  128, 160, 192, 224,
                                  256, 288, 320, 352, 384, 416, 448, 0};
constexpr BitRateRow kMpeg1Layer2{0,   32,  48,  56,  64,  80,  96,  112,
                                  128, 160, 192, 224, 256, 320, 384, 0};
constexpr BitRateRow kMpeg1Layer3{0,   32,  40,  48,  56,  64,  80,  96,
                                  112, 128, 160, 192, 224, 256, 320, 0};
constexpr BitRateRow kMpeg2Layer1{0,   32,  48,  56,  64,  80,  96,  112,
                                  128, 144, 160, 176, 192, 224, 256, 0};
constexpr BitRateRow kMpeg2Layer23{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};

constexpr std::int32_t bitRateFor(bool mpeg1, std::uint8_t layer, unsigned index)
{
    switch (layer) {
    case 1:
        return (mpeg1 ? kMpeg1Layer1 : kMpeg2Layer1)[index];
    case 2:
        return (mpeg1 ? kMpeg1Layer2 : kMpeg2Layer23)[index];
    case 3:
        return (mpeg1 ? kMpeg1Layer3 : kMpeg2Layer23)[index];
    default:
        return 0;
    }
}

constexpr std::array<const char*, 4> kChannelModes{"Stereo", "Joint stereo", "Dual channel",
                                                   "Single channel"};
constexpr std::array<const char*, 4> kEmphases{"None", "50/15 ms", "Reserved", "CCIT j.17"};

constexpr std::uint8_t kSingleChannel = 3;

std::uint32_t bigEndian32(const unsigned char* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

} // namespace

std::optional<FrameHeader> DecodeFrameHeader(std::span<const unsigned char, 4> bytes)
{
    const std::uint32_t h = bigEndian32(bytes.data());
    const unsigned versionBits = (h >> 19) & 0x3u;    // bits 20-19
    const unsigned layerBits = (h >> 17) & 0x3u;      // bits 18-17
    const unsigned protectionBit = (h >> 16) & 0x1u;  // bit 16, 0 = CRC present
    const unsigned bitRateIndex = (h >> 12) & 0xFu;   // bits 15-12
    const unsigned frequencyIndex = (h >> 10) & 0x3u; // bits 11-10
    const unsigned paddingBit = (h >> 9) & 0x1u;      // bit 9
    const unsigned privateBit = (h >> 8) & 0x1u;      // bit 8
    const unsigned modeBits = (h >> 6) & 0x3u;        // bits 7-6
    const unsigned modeExtension = (h >> 4) & 0x3u;   // bits 5-4
    const unsigned copyrightBit = (h >> 3) & 0x1u;    // bit 3
    const unsigned originalBit = (h >> 2) & 0x1u;     // bit 2
    const unsigned emphasisBits = h & 0x3u;           // bits 1-0

    FrameHeader header;
    header.frequency = kFrequencies[versionBits][frequencyIndex];
    if (header.frequency == 0) {
        return std::nullopt;
    }
    header.mpegVersion = kVersions[versionBits];
    header.layer = kLayers[layerBits];
    header.bitRate = bitRateFor(versionBits == 3, header.layer, bitRateIndex);
    if (header.bitRate == 0) {
        return std::nullopt;
    }
    header.isProtected = protectionBit == 0;
    header.padding = static_cast<std::uint8_t>(paddingBit);
    header.privateBit = privateBit != 0;
    header.channelMode = static_cast<std::uint8_t>(modeBits);
    header.modeExtension = static_cast<std::uint8_t>(modeExtension);
    header.copyrighted = copyrightBit != 0;
    header.original = originalBit != 0;
    header.emphasis = static_cast<std::uint8_t>(emphasisBits);
    // The same coefficients for every version, as the rest of the analysis expects.
    if (header.layer == 1) {
        header.frameLength = (header.bitRate * 12000 / header.frequency + header.padding) * 4;
    } else {
        header.frameLength = header.bitRate * 144000 / header.frequency + header.padding;
    }
    return header;
}

const char* ChannelModeName(std::uint8_t modeBits)
{
    return kChannelModes[modeBits & 0x3u];
}

const char* EmphasisName(std::uint8_t emphasisBits)
{
    return kEmphases[emphasisBits & 0x3u];
}

std::int32_t XingBlockOffset(const FrameHeader& header)
{
    constexpr std::int32_t kHeaderSize = 4;
    if (header.layer != 3) {
        return 36;
    }
    const bool mono = header.channelMode == kSingleChannel;
    // Layer III side information: MPEG-1 32 bytes (17 mono), MPEG-2 and 2.5 17 bytes (9 mono).
    const std::int32_t sideInfo = header.mpegVersion == 1.0f ? (mono ? 17 : 32) : (mono ? 9 : 17);
    return kHeaderSize + (header.isProtected ? 2 : 0) + sideInfo;
}

bool ID3v2Header::isHeader() const
{
    return identifier[0] == 'I' && identifier[1] == 'D' && identifier[2] == '3';
}

bool ID3v2Header::isFooter() const
{
    return identifier[0] == '3' && identifier[1] == 'D' && identifier[2] == 'I';
}

std::int32_t ID3v2Header::totalSize() const
{
    constexpr unsigned char kFooterPresent = 0x10; // flag bit 4
    return FromSynchsafe(size) + ((flags & kFooterPresent) != 0 ? 20 : 10);
}

bool ID3v2Header::isPlausibleEmbedded() const
{
    const auto versionWord = static_cast<std::int16_t>(
        static_cast<std::uint16_t>(version[0] | (static_cast<unsigned>(version[1]) << 8)));
    const bool sizeBitsClear = ((size[0] | size[1] | size[2] | size[3]) & 0x80) == 0;
    return versionWord < 255 && sizeBitsClear;
}

ID3v2Header ParseID3v2Header(std::span<const unsigned char, kID3v2HeaderSize> bytes)
{
    ID3v2Header header;
    header.identifier[0] = bytes[0];
    header.identifier[1] = bytes[1];
    header.identifier[2] = bytes[2];
    header.version[0] = bytes[3];
    header.version[1] = bytes[4];
    header.flags = bytes[5];
    for (std::size_t i = 0; i < 4; ++i) {
        header.size[i] = bytes[6 + i];
    }
    return header;
}

std::int32_t FromSynchsafe(std::span<const unsigned char, 4> bytes)
{
    return static_cast<std::int32_t>(((bytes[0] & 0x7Fu) << 21) | ((bytes[1] & 0x7Fu) << 14) |
                                     ((bytes[2] & 0x7Fu) << 7) | (bytes[3] & 0x7Fu));
}

XingBlock ParseXingBlock(std::span<const unsigned char, kXingBlockSize> bytes)
{
    XingBlock block;
    block.present = bytes[0] == 'X' && bytes[1] == 'i' && bytes[2] == 'n' && bytes[3] == 'g';
    block.flags = bigEndian32(bytes.data() + 4);
    block.frameCount = bigEndian32(bytes.data() + 8);
    return block;
}

} // namespace tunesift
