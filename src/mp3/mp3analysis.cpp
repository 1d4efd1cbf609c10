#include "mp3/mp3analysis.h"

#include "files/fileaccess.h"
#include "mp3/mpegheader.h"
#include "text/latin1.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace tunesift {

namespace {

constexpr std::int64_t kTagSize = static_cast<std::int64_t>(kID3v1TagSize);

// The fuzz build shrinks the blocks so that short inputs cross many block seams.
#ifndef TUNESIFT_MP3_BLOCK_SIZE
#define TUNESIFT_MP3_BLOCK_SIZE (64 * 1024)
#endif

// The frame search reads the file in blocks and looks for candidates in memory. A block reaching
// the end of the file is followed by zero bytes, so the look-ahead of the last offsets reads
// zeros, as the fixed-size record reads past the end always did.
class BlockReader
{
public:
    static constexpr std::size_t kBlockSize = TUNESIFT_MP3_BLOCK_SIZE;
    // The longest look-ahead from one offset: an ID3v2 header.
    static constexpr std::size_t kLookAhead = kID3v2HeaderSize;
    static_assert(kBlockSize > kLookAhead);

    explicit BlockReader(const ReadOnlyFile& file)
        : m_file(file),
          m_buffer(std::make_unique_for_overwrite<unsigned char[]>(kBlockSize + kPadding))
    {}

    // A short first block keeps the usual case, a frame within the first few KiB, cheap.
    static constexpr std::size_t kFirstBlockSize = std::min<std::size_t>(4096, kBlockSize);

    bool load(std::int64_t offset, std::size_t size = kBlockSize)
    {
        const auto got = m_file.readAt(offset, {m_buffer.get(), size});
        if (!got) {
            return false;
        }
        m_start = offset;
        m_length = *got;
        m_reachesEnd = m_length < size;
        std::fill(m_buffer.get() + m_length, m_buffer.get() + m_length + kPadding, 0);
        return true;
    }

    bool isLoaded() const { return m_start >= 0; }
    std::int64_t start() const { return m_start; }
    std::int64_t end() const { return m_start + static_cast<std::int64_t>(m_length); }
    bool reachesEnd() const { return m_reachesEnd; }
    const unsigned char* at(std::int64_t offset) const
    {
        return m_buffer.get() + (offset - m_start);
    }

    // The first offset in [from, to) holding the byte, or to.
    std::int64_t find(unsigned char byte, std::int64_t from, std::int64_t to) const
    {
        const auto* hit = static_cast<const unsigned char*>(
            std::memchr(at(from), byte, static_cast<std::size_t>(to - from)));
        return hit != nullptr ? from + (hit - at(from)) : to;
    }

    // Offsets from which a full look-ahead can be examined without loading again.
    std::int64_t examinableEnd() const
    {
        return m_reachesEnd ? end() : end() - static_cast<std::int64_t>(kLookAhead) + 1;
    }

    // A fixed-size record, served from the block when it lies inside it.
    bool record(std::int64_t offset, std::span<unsigned char> out) const
    {
        const auto size = static_cast<std::int64_t>(out.size());
        if (isLoaded() && offset >= m_start && (offset + size <= end() || m_reachesEnd)) {
            const std::int64_t available = std::clamp<std::int64_t>(end() - offset, 0, size);
            if (available > 0) {
                std::memcpy(out.data(), at(offset), static_cast<std::size_t>(available));
            }
            std::fill(out.begin() + available, out.end(), 0);
            return true;
        }
        return m_file.readRecord(offset, out);
    }

private:
    static constexpr std::size_t kPadding = 16;

    const ReadOnlyFile& m_file;
    std::unique_ptr<unsigned char[]> m_buffer;
    std::int64_t m_start = -1;
    std::size_t m_length = 0;
    bool m_reachesEnd = false;
};

struct EmbeddedTag
{
    std::int64_t offset = 0;
    std::int32_t size = 0;
};

struct FrameSearch
{
    std::optional<FrameHeader> header;
    std::int64_t offset = 0;
    // An ID3v2 tag met and skipped on the way, reported even when the search then fails.
    std::optional<EmbeddedTag> embeddedTag;
    bool readFailed = false;
};

// Every offset from `from` up to below `end` in turn: the first header that decodes wins and no
// second frame is looked at. With lookForEmbeddedTag, the first plausible ID3v2 header met is
// skipped as a whole.
FrameSearch searchFirstFrame(BlockReader& reader, std::int64_t from, std::int64_t end,
                             bool lookForEmbeddedTag)
{
    FrameSearch result;
    std::int64_t o = from;
    while (o < end) {
        if (o < reader.start() || o >= reader.examinableEnd()) {
            if (reader.reachesEnd() && o >= reader.end()) {
                return result; // only zeros beyond the end of the file
            }
            if (!reader.load(o)) {
                result.readFailed = true;
                return result;
            }
        }
        const std::int64_t stop = std::min(end, reader.examinableEnd());
        // Only an 0xFF byte can start a frame and only an 'I' a tag: jump from one to the next.
        std::int64_t nextSync = -1;
        std::int64_t nextTag = -1;
        bool jumped = false;
        while (o < stop && !jumped) {
            const unsigned char b = *reader.at(o);
            if (b != 0xFF && (b != 'I' || !lookForEmbeddedTag)) {
                if (nextSync < o) {
                    nextSync = reader.find(0xFF, o, stop);
                }
                if (lookForEmbeddedTag && nextTag < o) {
                    nextTag = reader.find('I', o, stop);
                }
                o = lookForEmbeddedTag ? std::min(nextSync, nextTag) : nextSync;
                if (o >= stop) {
                    break;
                }
            }
            const unsigned char* p = reader.at(o);
            if (p[0] == 0xFF) {
                if (IsFrameSync(p[0], p[1]) && IsDecodableHeader(p[1], p[2])) {
                    result.header = DecodeFrameHeader(std::span<const unsigned char, 4>(p, 4));
                    if (result.header) {
                        result.offset = o;
                        return result;
                    }
                }
            } else if (p[1] == 'D' && p[2] == '3') {
                const ID3v2Header tag = ParseID3v2Header(
                    std::span<const unsigned char, kID3v2HeaderSize>(p, kID3v2HeaderSize));
                if (tag.isPlausibleEmbedded()) {
                    result.embeddedTag = EmbeddedTag{o, tag.totalSize()};
                    lookForEmbeddedTag = false;
                    o += tag.totalSize();
                    jumped = true;
                    continue;
                }
            }
            ++o;
        }
        if (!jumped && reader.reachesEnd() && o >= reader.end()) {
            return result;
        }
    }
    return result;
}

// Rounds half to even, as the average bit rate always has.
double roundHalfToEven(double value)
{
    const double floor = std::floor(value);
    const double fraction = value - floor;
    if (fraction > 0.5) {
        return floor + 1;
    }
    if (fraction < 0.5) {
        return floor;
    }
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1;
}

} // namespace

std::string FormatSongLength(std::int64_t seconds)
{
    const bool negative = seconds < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(seconds) : static_cast<std::uint64_t>(seconds);
    const auto twoDigits = [](std::uint64_t value) {
        return std::string{static_cast<char>('0' + value / 10),
                           static_cast<char>('0' + value % 10)};
    };
    const std::uint64_t minutes = magnitude / 60 % 60;
    const std::uint64_t secs = magnitude % 60;
    std::string text = negative ? "-" : "";
    if (magnitude >= 3600) {
        text += std::to_string(magnitude / 3600) + ':';
    }
    return text + twoDigits(minutes) + ':' + twoDigits(secs);
}

void Mp3Analysis::analyse(const std::string& path) noexcept
{
    try {
        if (&path != &m_fileName) {
            m_fileName = path;
        }
        m_analysedPath = m_fileName;
        analyseFile(false);
    } catch (...) {
        // Only an allocation can fail; the analysis then ends quietly like any other failure.
    }
}

void Mp3Analysis::analyseListed(const std::string& path) noexcept
{
    try {
        m_fileName = path;
        m_analysedPath = m_fileName;
        analyseFile(true);
    } catch (...) {
    }
}

void Mp3Analysis::analyseListed(const FolderHandle& folder, std::string_view name) noexcept
{
    try {
        ReadOnlyFile file;
        if (file.open(folder, name)) {
            analyseOpened(file, folder.path() + std::string(name));
            return;
        }
        m_fileName = folder.path() + std::string(name);
        m_analysedPath = m_fileName;
        resetInfo();
    } catch (...) {
    }
}

void Mp3Analysis::analyseOpened(const ReadOnlyFile& file, std::string path) noexcept
{
    try {
        m_fileName = std::move(path);
        m_analysedPath = m_fileName;
        resetInfo();
        analyseOpenFile(file);
    } catch (...) {
    }
}

void Mp3Analysis::resetInfo()
{
    m_validMP3 = false;
    m_padding = 0;
    m_frameLength = 0;
    m_id3Present = false;
    m_id3v2Present = false;
    m_id3v2Size = 0;
    m_id3v2Offset = 0;
    m_fileSize = 0;
    m_bitRate = 0;
    m_frequency = 0;
    m_songLength = 0;
    m_numFrames = 0;
    m_isVBR = false;
    m_mpegVer = 0;
    m_layers = 0;
    m_protected = false;
    m_privateBit = false;
    m_channelMode.clear();
    m_copyrighted = false;
    m_original = false;
    m_headerOffset = 0;
    m_emphasis.clear();
    m_audioBytes = 0;
    m_audioRange = AudioRange{};
    m_knownLength = 0;
    m_tag = ID3v1Tag{};
    m_lastRecord.reset();
}

void Mp3Analysis::analyseFile(bool listed)
{
    resetInfo();
    ReadOnlyFile file;
    if (!(listed ? file.openListed(m_fileName) : file.open(m_fileName))) {
        return;
    }
    analyseOpenFile(file);
}

void Mp3Analysis::analyseOpenFile(const ReadOnlyFile& file)
{
    m_fileSize = file.size();
    m_knownLength = m_fileSize;

    // The ID3v1 tag and an appended ID3v2 footer both lie in the last 138 bytes, and the usual
    // trailing tags in the last few KiB: one read.
    constexpr std::int64_t kTailSize = 4096;
    static_assert(kTailSize >= kTagSize + static_cast<std::int64_t>(kID3v2HeaderSize));
    std::array<unsigned char, kTailSize> tail{};
    const std::int64_t tailStart = std::max<std::int64_t>(0, m_fileSize - kTailSize);
    if (!file.readRecord(tailStart,
                         std::span(tail).first(static_cast<std::size_t>(m_fileSize - tailStart)))) {
        return;
    }
    const auto fromTail = [&](std::int64_t offset) { return tail.data() + (offset - tailStart); };
    if (m_fileSize >= kTagSize) {
        m_lastRecord.emplace();
        std::copy_n(fromTail(m_fileSize - kTagSize), kID3v1TagSize, m_lastRecord->begin());
    }

    if (m_fileSize > kTagSize) {
        const std::span<const unsigned char, kID3v1TagSize> bytes(fromTail(m_fileSize - kTagSize),
                                                                  kID3v1TagSize);
        m_id3Present = IsID3v1Identifier(bytes);
        if (m_id3Present) {
            m_tag = ParseID3v1Tag(bytes);
        }
    }

    BlockReader reader(file);
    if (!reader.load(0, BlockReader::kFirstBlockSize)) {
        return;
    }
    std::array<unsigned char, kID3v2HeaderSize> headerBytes{};
    if (!reader.record(0, headerBytes)) {
        return;
    }
    ID3v2Header id3v2 = ParseID3v2Header(headerBytes);
    m_id3v2Present = id3v2.isHeader();
    std::int64_t searchFrom = 0;
    if (m_id3v2Present) {
        m_id3v2Size = id3v2.totalSize();
        m_id3v2Offset = 0;
        searchFrom = m_id3v2Size;
    } else {
        const std::int64_t audioEnd = m_fileSize - (m_id3Present ? kTagSize : 0);
        if (audioEnd - 10 > 0) {
            id3v2 = ParseID3v2Header(std::span<const unsigned char, kID3v2HeaderSize>(
                fromTail(audioEnd - 10), kID3v2HeaderSize));
            m_id3v2Present = id3v2.isFooter();
            if (m_id3v2Present) {
                m_id3v2Size = id3v2.totalSize();
                m_id3v2Offset = audioEnd - m_id3v2Size;
            }
        }
    }

    const FrameSearch search =
        searchFirstFrame(reader, searchFrom, m_fileSize - 6, !m_id3v2Present && m_headerTest);
    if (search.embeddedTag) {
        m_id3v2Present = true;
        m_id3v2Offset = search.embeddedTag->offset;
        m_id3v2Size = search.embeddedTag->size;
    }
    if (search.readFailed) {
        return;
    }
    if (!search.header) {
        const auto lastRecord = m_lastRecord; // what was read stays known
        resetInfo();
        m_lastRecord = lastRecord;
        m_fileName.clear();
        return;
    }

    const std::int64_t o = search.offset;
    const FrameHeader& h = *search.header;
    m_audioRange =
        FindAudioRange(file, o,
                       std::span(tail).first(static_cast<std::size_t>(m_fileSize - tailStart)))
            .value_or(AudioRange{});
    m_audioBytes = m_fileSize - (o + 1) - (m_id3Present ? kTagSize : 0);
    m_numFrames = m_audioBytes / ((h.bitRate * 144000) / h.frequency);
    m_headerOffset = o;
    m_songLength = ((m_audioBytes * 8) / 1000) / h.bitRate;
    m_bitRate = h.bitRate;
    m_frequency = h.frequency;
    m_mpegVer = h.mpegVersion;
    m_layers = h.layer;
    m_padding = h.padding;
    m_privateBit = h.privateBit;
    m_frameLength = h.frameLength;
    m_channelMode = ChannelModeName(h.channelMode);
    m_protected = h.isProtected;
    m_copyrighted = h.copyrighted;
    m_original = h.original;
    m_emphasis = EmphasisName(h.emphasis);
    m_validMP3 = true;

    std::array<unsigned char, kXingBlockSize> xingBytes{};
    XingBlock xing;
    if (o + 1 < m_fileSize - 48) {
        const std::int64_t at = o + XingBlockOffset(h);
        if (!reader.record(at, xingBytes)) {
            return;
        }
        xing = ParseXingBlock(xingBytes);
        // The encoder most people use leaves the CRC gap out of a protected Layer III frame and
        // writes its block where an unprotected frame would have it.
        if (!xing.present && h.isProtected && h.layer == 3) {
            if (!reader.record(at - 2, xingBytes)) {
                return;
            }
            xing = ParseXingBlock(xingBytes);
        }
    }
    m_isVBR = xing.present;
    if (!m_isVBR) {
        return;
    }
    m_validMP3 = xing.hasFrameCount();
    if (!m_validMP3) {
        return;
    }
    m_numFrames = xing.frameCount;
    if (m_numFrames == 0) {
        return; // no average without frames: the first header's rate and length stay
    }
    // MPEG-2 and 2.5 Layer III frames carry 576 samples, half of MPEG-1's 1152; Layer I and II
    // frames are as long in every version.
    const double divisor = h.mpegVersion != 1.0f && h.layer == 3 ? 6000.0 : 12000.0;
    const double average = roundHalfToEven(
        static_cast<double>(m_fileSize) / static_cast<double>(m_numFrames) * h.frequency / divisor);
    if (!(average >= std::numeric_limits<std::int32_t>::min() &&
          average <= std::numeric_limits<std::int32_t>::max())) {
        return;
    }
    m_bitRate = static_cast<std::int32_t>(average) / 12;
    if (m_bitRate == 0) {
        return; // the first header's length stays
    }
    m_songLength = ((m_audioBytes * 8) / 1000) / m_bitRate;
}

std::string Mp3Analysis::title() const
{
    return Latin1ToUtf8(TrimAtNul({m_tag.title.data(), m_tag.title.size()}));
}

void Mp3Analysis::setTitle(const std::string& value)
{
    m_tag.title = PadField<30>(Utf8ToLatin1(value));
}

std::string Mp3Analysis::artist() const
{
    return Latin1ToUtf8(TrimAtNul({m_tag.artist.data(), m_tag.artist.size()}));
}

void Mp3Analysis::setArtist(const std::string& value)
{
    m_tag.artist = PadField<30>(Utf8ToLatin1(value));
}

std::string Mp3Analysis::album() const
{
    return Latin1ToUtf8(TrimAtNul({m_tag.album.data(), m_tag.album.size()}));
}

void Mp3Analysis::setAlbum(const std::string& value)
{
    m_tag.album = PadField<30>(Utf8ToLatin1(value));
}

std::string Mp3Analysis::year() const
{
    return Latin1ToUtf8(TrimAtNul({m_tag.year.data(), m_tag.year.size()}));
}

void Mp3Analysis::setYear(const std::string& value)
{
    const std::string latin1 = Utf8ToLatin1(value);
    const std::string_view tested = std::string_view(latin1).substr(0, 4);
    if (std::all_of(tested.begin(), tested.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        m_tag.year = PadField<4>(latin1);
    }
}

std::string Mp3Analysis::comment() const
{
    return Latin1ToUtf8(TrimAtNul({m_tag.comment.data(), m_tag.comment.size()}));
}

void Mp3Analysis::setComment(const std::string& value)
{
    m_tag.comment = PadField<30>(Utf8ToLatin1(value));
}

void Mp3Analysis::setTrackNumber(std::uint8_t value)
{
    m_tag.track = value;
    m_tag.hasTrack = value != 0;
}

std::uint8_t Mp3Analysis::genreIdOf(const std::string& genreName) const
{
    return GenreIndexOfName(genreName);
}

} // namespace tunesift
