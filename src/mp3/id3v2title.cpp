#include "mp3/id3v2title.h"

#include "files/fileaccess.h"
#include "text/latin1.h"

#include <algorithm>
#include <array>
#ifdef TUNESIFT_HAS_TAGLIB
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tfile.h>
#include <taglib/unknownframe.h>
#endif
#include <unicode/utf16.h>
#include <unicode/utf8.h>
#include <vector>

namespace tunesift {

namespace {

constexpr std::size_t kHeaderSize = 10;
constexpr std::size_t kFirstRead = 4096; // what the analysis reads first
constexpr std::size_t kLargestTagRead = 16 * 1024 * 1024;

std::uint32_t synchsafe(const unsigned char* p)
{
    return (std::uint32_t{p[0]} & 0x7F) << 21 | (std::uint32_t{p[1]} & 0x7F) << 14 |
           (std::uint32_t{p[2]} & 0x7F) << 7 | (std::uint32_t{p[3]} & 0x7F);
}

#ifdef TUNESIFT_HAS_TAGLIB

// TagLib reads a tag through a File; this one serves the bytes already in memory.
class MemoryFile : public TagLib::File
{
public:
    explicit MemoryFile(TagLib::IOStream* stream) : TagLib::File(stream) {}
    TagLib::Tag* tag() const override { return nullptr; }
    TagLib::AudioProperties* audioProperties() const override { return nullptr; }
    bool save() override { return false; }
};

// Keeps the wanted text frames as their raw field bytes (unsynchronisation, data length and
// compression already undone): TagLib's text frame drops empty values and joins the rest, so the
// first text is taken from the bytes here. The base class renames version 2.2 and 2.3 frames
// first.
class RawTextFactory : public TagLib::ID3v2::FrameFactory
{
    // TagLib keeps the name of the frame header class to its friends; its type is taken from
    // the function that receives it.
    template <typename Member>
    struct ArgumentOf;
    template <typename Result, typename Class, typename Argument>
    struct ArgumentOf<Result (Class::*)(Argument) const>
    {
        using type = Argument;
    };
    using FrameHeader = ArgumentOf<decltype(&RawTextFactory::updateFrame)>::type;

public:
    explicit RawTextFactory(std::span<const char* const> frameIds) : m_frameIds(frameIds) {}

protected:
    bool updateFrame(FrameHeader header) const override
    {
        const bool known = FrameFactory::updateFrame(header);
        return known && std::none_of(m_frameIds.begin(), m_frameIds.end(),
                                     [&](const char* id) { return header->frameID() == id; });
    }

private:
    std::span<const char* const> m_frameIds;
};

std::uint32_t bigEndian32(const unsigned char* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

void putSynchsafe(unsigned char* p, std::uint32_t value)
{
    for (int k = 3; k >= 0; --k) {
        p[k] = static_cast<unsigned char>(value & 0x7F);
        value >>= 7;
    }
}

// Version 2.3 counts its extended header's size without the size field itself, and TagLib 1.13
// reads it as version 2.4 does: the extended header (which holds nothing a title needs) is cut
// out here and its flag cleared. Under unsynchronisation a 0xFF 0x00 pair on disk is one byte.
TagLib::ByteVector withoutVersion3ExtendedHeader(std::span<const unsigned char> bytes)
{
    const auto* p = bytes.data();
    TagLib::ByteVector out(reinterpret_cast<const char*>(p), static_cast<unsigned>(bytes.size()));
    if (p[3] != 3 || (p[5] & 0x40) == 0 || bytes.size() < kHeaderSize + 4)
        return out;
    const bool unsynchronised = (p[5] & 0x80) != 0;
    const std::size_t tagEnd = std::min(bytes.size(), kHeaderSize + synchsafe(p + 6));
    std::uint64_t remaining = std::uint64_t{bigEndian32(p + kHeaderSize)} + 4;
    std::size_t pos = kHeaderSize;
    while (remaining > 0 && pos < tagEnd) {
        pos += (unsynchronised && p[pos] == 0xFF && pos + 1 < tagEnd && p[pos + 1] == 0) ? 2 : 1;
        --remaining;
    }
    const std::size_t cut = pos - kHeaderSize;
    out = TagLib::ByteVector(reinterpret_cast<const char*>(p), kHeaderSize);
    out[5] = static_cast<char>(p[5] & ~0x40);
    unsigned char size[4];
    putSynchsafe(size, synchsafe(p + 6) - static_cast<std::uint32_t>(cut));
    for (int k = 0; k < 4; ++k)
        out[6 + k] = static_cast<char>(size[k]);
    out.append(TagLib::ByteVector(reinterpret_cast<const char*>(p + pos),
                                  static_cast<unsigned>(bytes.size() - pos)));
    return out;
}

void appendCodePoint(std::string& out, UChar32 c)
{
    std::uint8_t buffer[U8_MAX_LENGTH];
    std::int32_t written = 0;
    U8_APPEND_UNSAFE(buffer, written, c);
    out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(written));
}

std::string fromUtf16(const unsigned char* p, std::size_t size, bool bigEndian)
{
    std::vector<char16_t> units;
    for (std::size_t k = 0; k + 1 < size; k += 2) {
        const auto unit =
            static_cast<char16_t>(bigEndian ? (p[k] << 8 | p[k + 1]) : (p[k + 1] << 8 | p[k]));
        if (unit == 0)
            break;
        units.push_back(unit);
    }
    std::string out;
    const auto length = static_cast<std::int32_t>(units.size());
    for (std::int32_t k = 0; k < length;) {
        UChar32 c = 0;
        U16_NEXT(units.data(), k, length, c);
        appendCodePoint(out, U_IS_SURROGATE(c) ? 0xFFFD : c);
    }
    return out;
}

std::string fromUtf8(std::string_view text)
{
    std::string out;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    for (std::int32_t k = 0; k < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, k, length, c);
        appendCodePoint(out, c < 0 ? 0xFFFD : c);
    }
    return out;
}

// The first text of a text frame's fields: encoding byte, then the values.
std::optional<std::string> firstText(const TagLib::ByteVector& fields)
{
    if (fields.isEmpty())
        return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(fields.data()) + 1;
    const std::size_t size = fields.size() - 1;
    std::string text;
    switch (static_cast<unsigned char>(fields[0])) {
    case 0: {
        const std::string_view raw(reinterpret_cast<const char*>(p), size);
        text = Latin1ToUtf8(raw.substr(0, raw.find('\0')));
        break;
    }
    case 1: {
        // The byte-order mark decides; without one the text is taken as big-endian.
        const bool littleEndian = size >= 2 && p[0] == 0xFF && p[1] == 0xFE;
        const bool marked = littleEndian || (size >= 2 && p[0] == 0xFE && p[1] == 0xFF);
        text = marked ? fromUtf16(p + 2, size - 2, !littleEndian) : fromUtf16(p, size, true);
        break;
    }
    case 2:
        text = fromUtf16(p, size, true);
        break;
    case 3: {
        const std::string_view raw(reinterpret_cast<const char*>(p), size);
        text = fromUtf8(raw.substr(0, raw.find('\0')));
        break;
    }
    default:
        return std::nullopt; // no encoding this tag format defines
    }
    const auto end = text.find_last_not_of(' ');
    if (end == std::string::npos)
        return std::nullopt;
    text.resize(end + 1);
    return text;
}

#endif // TUNESIFT_HAS_TAGLIB

} // namespace

std::size_t LeadingID3v2TagSize(std::span<const unsigned char> head)
{
    if (head.size() < kHeaderSize || head[0] != 'I' || head[1] != 'D' || head[2] != '3' ||
        head[3] < 2 || head[3] > 4 || head[4] == 0xFF)
        return 0;
    for (std::size_t k = 6; k < kHeaderSize; ++k)
        if (head[k] & 0x80)
            return 0;
    const bool footer = head[3] == 4 && (head[5] & 0x10) != 0;
    return kHeaderSize + synchsafe(head.data() + 6) + (footer ? kHeaderSize : 0);
}

bool ID3v2TitlesAvailable()
{
#ifdef TUNESIFT_HAS_TAGLIB
    return true;
#else
    return false;
#endif
}

namespace {

// The first text of each of the frames (four-letter ids of version 2.4) in the tag at the start
// of the bytes; nothing for a frame the tag lacks, and nothing at all without a whole tag.
template <std::size_t N>
std::array<std::optional<std::string>, N> firstTextsOf(std::span<const unsigned char> bytes,
                                                       const std::array<const char*, N>& frameIds)
{
    std::array<std::optional<std::string>, N> texts;
    // TagLib reads a frame cut off by the end of the bytes as far as it goes: the tag must be
    // whole.
    const std::size_t tagSize = LeadingID3v2TagSize(bytes);
    if (tagSize == 0 || bytes.size() < tagSize)
        return texts;
#ifdef TUNESIFT_HAS_TAGLIB
    try {
        TagLib::ByteVectorStream stream(withoutVersion3ExtendedHeader(bytes));
        MemoryFile file(&stream);
        const RawTextFactory factory(frameIds);
        const TagLib::ID3v2::Tag tag(&file, 0, &factory);
        for (std::size_t k = 0; k < N; ++k) {
            const TagLib::ID3v2::FrameList& frames = tag.frameList(frameIds[k]);
            if (frames.isEmpty())
                continue;
            if (const auto* raw = dynamic_cast<const TagLib::ID3v2::UnknownFrame*>(frames.front()))
                texts[k] = firstText(raw->data());
        }
    } catch (...) {
        texts = {}; // out of memory: no texts rather than no run
    }
#else
    (void)frameIds;
#endif
    return texts;
}

// The tag at the start of the file, read whole, passed to parse; parse's empty value when the
// file cannot be read or the tag is larger than is worth reading.
template <typename Parse>
auto parseLeadingTag(const ReadOnlyFile& file, std::span<const unsigned char> head, Parse parse)
    -> decltype(parse(head))
{
    std::vector<unsigned char> read;
    if (head.size() < kHeaderSize) {
        read.resize(static_cast<std::size_t>(
            std::min<std::int64_t>(file.size(), static_cast<std::int64_t>(kFirstRead))));
        const auto got = file.readAt(0, read);
        if (!got)
            return {};
        read.resize(*got);
        head = read;
    }
    const std::size_t tagSize = LeadingID3v2TagSize(head);
    if (tagSize <= head.size())
        return parse(head);
    if (tagSize > kLargestTagRead)
        return {}; // no text is worth reading that much
    // Cover pictures make tags larger than the head: the tag is read whole.
    std::vector<unsigned char> whole(tagSize);
    const auto got = file.readAt(0, whole);
    if (!got || *got < tagSize)
        return {};
    return parse(std::span<const unsigned char>(whole));
}

constexpr std::array<const char*, 1> kTitleFrame{"TIT2"};
constexpr std::array<const char*, 3> kSongFrames{"TIT2", "TPE1", "TALB"};

} // namespace

std::optional<std::string> ID3v2TitleOf(std::span<const unsigned char> bytes)
{
    return std::move(firstTextsOf(bytes, kTitleFrame)[0]);
}

ID3v2SongTexts ID3v2SongTextsOf(std::span<const unsigned char> bytes)
{
    auto texts = firstTextsOf(bytes, kSongFrames);
    return {std::move(texts[0]), std::move(texts[1]), std::move(texts[2])};
}

ID3v2SongTexts ReadID3v2SongTexts(const ReadOnlyFile& file, std::span<const unsigned char> head)
{
    return parseLeadingTag(file, head, ID3v2SongTextsOf);
}

std::optional<std::string> ReadID3v2Title(const ReadOnlyFile& file,
                                          std::span<const unsigned char> head)
{
    return parseLeadingTag(file, head, ID3v2TitleOf);
}

} // namespace tunesift
