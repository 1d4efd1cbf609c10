#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace tunesift {

class ReadOnlyFile;

// Where a file's audio lies: from its first frame header to its end less the tags that trail it.
// An empty range (no frame, or nothing left between the frame and the tags) takes part in no
// comparison of audio.
struct AudioRange
{
    std::int64_t start = 0;
    std::int64_t length = 0;

    bool empty() const { return length <= 0; }
    bool operator==(const AudioRange&) const = default;
};

// The bytes before a tag's end that tell which tag it is: an ID3v1 tag with an Enhanced TAG
// ("TAG+", 227 bytes) directly before it.
inline constexpr std::size_t kTrailingTagWindow = 227 + 128;

// The size of the tag that ends where window ends, when one is there and fits into the room
// bytes of audio before that end; 0 otherwise. window holds the bytes just before the end (up to
// kTrailingTagWindow; fewer only where the file is shorter). The first that fits wins, in this
// order: ID3v1 (with an Enhanced TAG before it when that fits too), APEv2 (footer, and header
// when its flags say so), Lyrics3v2, ID3v2 with a footer.
std::int64_t TrailingTagSize(std::span<const unsigned char> window, std::int64_t room);

// The range from start (the first frame header) to the end of the file less its trailing tags,
// peeled one after another. tail holds the file's last tail.size() bytes; windows that reach
// further back are read from the file. Nothing on a read error.
std::optional<AudioRange> FindAudioRange(const ReadOnlyFile& file, std::int64_t start,
                                         std::span<const unsigned char> tail);

// XXH3-128 of a byte run.
struct AudioHash
{
    std::uint64_t low = 0;
    std::uint64_t high = 0;

    auto operator<=>(const AudioHash&) const = default;
};

// How much of a range its first hash covers: files that differ mostly differ there already.
inline constexpr std::int64_t kAudioHeadBytes = 64 * 1024;

// What comparing audio learns about one file, kept together so that it can be stored with the
// file's identity and used again while the file is unchanged.
struct AudioFacts
{
    AudioRange range;
    std::optional<AudioHash> head;  // of the first kAudioHeadBytes of the range (or all of it)
    std::optional<AudioHash> whole; // of the whole range
};

// The hash of count bytes of the file from offset on, read in large sequential blocks through
// buffer (its size is the block size). Nothing when the file cannot be opened or holds fewer
// bytes there, or when stopped (asked before each block) says so.
std::optional<AudioHash> HashFileBytes(const std::string& path, std::int64_t offset,
                                       std::int64_t count, std::span<unsigned char> buffer,
                                       const std::function<bool()>& stopped = {});
// The same of a file open already.
std::optional<AudioHash> HashFileBytes(const ReadOnlyFile& file, std::int64_t offset,
                                       std::int64_t count, std::span<unsigned char> buffer,
                                       const std::function<bool()>& stopped = {});

} // namespace tunesift
