#include "text/textcase.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace tunesift {

namespace {

template <typename AsciiMap, typename CodePointMap>
std::string mapCase(std::string_view text, AsciiMap ascii, CodePointMap codePoint)
{
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t k = 0;
    while (k < length) {
        const std::uint8_t byte = bytes[k];
        if (byte < 0x80) {
            out.push_back(static_cast<char>(ascii(byte)));
            ++k;
            continue;
        }
        const std::int32_t start = k;
        UChar32 c = 0;
        U8_NEXT(bytes, k, length, c);
        if (c < 0) {
            out.append(
                text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(k - start)));
            continue;
        }
        const UChar32 mapped = codePoint(c);
        std::uint8_t buffer[U8_MAX_LENGTH];
        std::int32_t written = 0;
        U8_APPEND_UNSAFE(buffer, written, mapped);
        out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(written));
    }
    return out;
}

} // namespace

std::string LowerCase(std::string_view text)
{
    return mapCase(
        text, [](std::uint8_t b) { return (b >= 'A' && b <= 'Z') ? b + 32 : b; },
        [](UChar32 c) { return u_tolower(c); });
}

std::string UpperCase(std::string_view text)
{
    return mapCase(
        text, [](std::uint8_t b) { return (b >= 'a' && b <= 'z') ? b - 32 : b; },
        [](UChar32 c) { return u_toupper(c); });
}

} // namespace tunesift
