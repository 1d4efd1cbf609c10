#include "mp3/audiorange.h"

#include "files/fileaccess.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>
#include <xxhash.h>

namespace tunesift {

namespace {

constexpr std::int64_t kID3v1Size = 128;
constexpr std::int64_t kEnhancedTagSize = 227;
constexpr std::int64_t kApeFooterSize = 32;
constexpr std::uint32_t kApeHasHeader = 0x80000000u; // flag bit 31
constexpr std::int64_t kLyricsTrailerSize = 15;      // six size digits and "LYRICS200"
constexpr std::int64_t kID3v2FrameSize = 10;         // header or footer

std::uint32_t littleEndian32(const unsigned char* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

AudioHash toAudioHash(XXH128_hash_t hash)
{
    return {hash.low64, hash.high64};
}

struct StateDeleter
{
    void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
};

} // namespace

std::int64_t TrailingTagSize(std::span<const unsigned char> window, std::int64_t room)
{
    const auto have = static_cast<std::int64_t>(window.size());
    // Whether text stands fromEnd bytes before the end.
    const auto holds = [&](std::int64_t fromEnd, std::string_view text) {
        return have >= fromEnd &&
               std::memcmp(window.data() + (have - fromEnd), text.data(), text.size()) == 0;
    };
    const auto at = [&](std::int64_t fromEnd) { return window.data() + (have - fromEnd); };

    if (holds(kID3v1Size, "TAG") && kID3v1Size <= room) {
        const std::int64_t enhanced = kID3v1Size + kEnhancedTagSize;
        return holds(enhanced, "TAG+") && enhanced <= room ? enhanced : kID3v1Size;
    }
    if (holds(kApeFooterSize, "APETAGEX")) {
        // The size field counts the items and the footer, never less than the footer itself.
        const std::int64_t size = littleEndian32(at(kApeFooterSize) + 12);
        const std::uint32_t flags = littleEndian32(at(kApeFooterSize) + 20);
        const std::int64_t total = size + ((flags & kApeHasHeader) != 0 ? kApeFooterSize : 0);
        if (size >= kApeFooterSize && total <= room)
            return total;
    }
    if (holds(9, "LYRICS200") && have >= kLyricsTrailerSize) {
        const unsigned char* digits = at(kLyricsTrailerSize);
        std::int64_t size = 0;
        bool valid = true;
        for (int k = 0; k < 6; ++k) {
            valid = valid && digits[k] >= '0' && digits[k] <= '9';
            size = size * 10 + (digits[k] - '0');
        }
        if (valid && size + kLyricsTrailerSize <= room)
            return size + kLyricsTrailerSize;
    }
    if (holds(kID3v2FrameSize, "3DI")) {
        const unsigned char* s = at(kID3v2FrameSize) + 6;
        const std::int64_t size = std::int64_t{s[0] & 0x7Fu} << 21 |
                                  std::int64_t{s[1] & 0x7Fu} << 14 |
                                  std::int64_t{s[2] & 0x7Fu} << 7 | (s[3] & 0x7Fu);
        if (size + 2 * kID3v2FrameSize <= room)
            return size + 2 * kID3v2FrameSize;
    }
    return 0;
}

std::optional<AudioRange> FindAudioRange(const ReadOnlyFile& file, std::int64_t start,
                                         std::span<const unsigned char> tail)
{
    const std::int64_t fileSize = file.size();
    const std::int64_t tailStart = fileSize - static_cast<std::int64_t>(tail.size());
    std::array<unsigned char, kTrailingTagWindow> read{};
    std::int64_t end = fileSize;
    while (end > start) {
        const std::int64_t from =
            std::max<std::int64_t>(0, end - static_cast<std::int64_t>(kTrailingTagWindow));
        const auto count = static_cast<std::size_t>(end - from);
        std::span<const unsigned char> window;
        if (from >= tailStart) {
            window = tail.subspan(static_cast<std::size_t>(from - tailStart), count);
        } else {
            if (!file.readRecord(from, std::span(read).first(count)))
                return std::nullopt;
            window = std::span(read).first(count);
        }
        const std::int64_t tag = TrailingTagSize(window, end - start);
        if (tag == 0)
            break;
        end -= tag;
    }
    return AudioRange{start, std::max<std::int64_t>(0, end - start)};
}

std::optional<AudioHash> HashFileBytes(const std::string& path, std::int64_t offset,
                                       std::int64_t count, std::span<unsigned char> buffer,
                                       const std::function<bool()>& stopped)
{
    ReadOnlyFile file;
    if (!file.open(path))
        return std::nullopt;
    return HashFileBytes(file, offset, count, buffer, stopped);
}

std::optional<AudioHash> HashFileBytes(const ReadOnlyFile& file, std::int64_t offset,
                                       std::int64_t count, std::span<unsigned char> buffer,
                                       const std::function<bool()>& stopped)
{
    if (offset < 0 || count < 0 || buffer.empty() || !file.isOpen())
        return std::nullopt;
    const auto block = static_cast<std::int64_t>(buffer.size());
    if (count <= block) {
        const auto bytes = buffer.first(static_cast<std::size_t>(count));
        const auto got = file.readAt(offset, bytes);
        if (!got || *got != bytes.size())
            return std::nullopt;
        return toAudioHash(XXH3_128bits(bytes.data(), bytes.size()));
    }
    const std::unique_ptr<XXH3_state_t, StateDeleter> state(XXH3_createState());
    if (!state || XXH3_128bits_reset(state.get()) != XXH_OK)
        return std::nullopt;
    file.adviseSequential(offset, count);
    for (std::int64_t done = 0; done < count;) {
        if (stopped && stopped())
            return std::nullopt;
        const auto bytes = buffer.first(static_cast<std::size_t>(std::min(block, count - done)));
        const auto got = file.readAt(offset + done, bytes);
        if (!got || *got != bytes.size())
            return std::nullopt;
        XXH3_128bits_update(state.get(), bytes.data(), bytes.size());
        done += static_cast<std::int64_t>(bytes.size());
    }
    return toAudioHash(XXH3_128bits_digest(state.get()));
}

} // namespace tunesift
