#pragma once

#include <cstdint>
#include <span>

namespace tunesift::test {

// What a literal frame search finds: every offset read on its own, straight from the rules,
// with bytes past the end reading as zero.
struct SearchOutcome
{
    bool found = false;
    std::int64_t headerOffset = 0;
    bool id3v2Present = false;
    std::int64_t id3v2Offset = 0;
    std::int32_t id3v2Size = 0;
};

inline SearchOutcome literalSearch(std::span<const unsigned char> file, bool headerTest)
{
    const auto size = static_cast<std::int64_t>(file.size());
    const auto at = [&](std::int64_t offset) -> unsigned {
        return offset >= 0 && offset < size ? file[static_cast<std::size_t>(offset)] : 0u;
    };
    const auto is = [&](std::int64_t offset, const char* text) {
        return at(offset) == static_cast<unsigned char>(text[0]) &&
               at(offset + 1) == static_cast<unsigned char>(text[1]) &&
               at(offset + 2) == static_cast<unsigned char>(text[2]);
    };
    const auto tagSize = [&](std::int64_t offset) {
        std::int32_t value = 0;
        for (int i = 6; i < 10; ++i) {
            value = value * 128 + static_cast<std::int32_t>(at(offset + i) & 0x7F);
        }
        return value + ((at(offset + 5) & 0x10) != 0 ? 20 : 10);
    };

    SearchOutcome outcome;
    const bool id3v1 = size > 128 && is(size - 128, "TAG");
    std::int64_t start = 0;
    if (is(0, "ID3")) {
        outcome.id3v2Present = true;
        outcome.id3v2Size = tagSize(0);
        start = outcome.id3v2Size;
    } else {
        const std::int64_t end = size - (id3v1 ? 128 : 0);
        if (end - 10 > 0 && is(end - 10, "3DI")) {
            outcome.id3v2Present = true;
            outcome.id3v2Size = tagSize(end - 10);
            outcome.id3v2Offset = end - outcome.id3v2Size;
        }
    }
    for (std::int64_t o = start; o < size - 6; ++o) {
        if (!outcome.id3v2Present && headerTest && is(o, "ID3")) {
            const auto version = static_cast<std::int16_t>(at(o + 3) | at(o + 4) << 8);
            const bool sizeBit7 = ((at(o + 6) | at(o + 7) | at(o + 8) | at(o + 9)) & 0x80) != 0;
            if (version < 255 && !sizeBit7) {
                outcome.id3v2Present = true;
                outcome.id3v2Offset = o;
                outcome.id3v2Size = tagSize(o);
                o += outcome.id3v2Size - 1;
                continue;
            }
        }
        if (at(o) == 0xFF && (at(o + 1) & 0xE0) == 0xE0) {
            const unsigned version = (at(o + 1) >> 3) & 3;
            const unsigned layer = (at(o + 1) >> 1) & 3;
            const unsigned bitRate = at(o + 2) >> 4;
            const unsigned frequency = (at(o + 2) >> 2) & 3;
            if (version != 1 && layer != 0 && bitRate != 0 && bitRate != 15 && frequency != 3) {
                outcome.found = true;
                outcome.headerOffset = o;
                return outcome;
            }
        }
    }
    return {};
}

} // namespace tunesift::test
