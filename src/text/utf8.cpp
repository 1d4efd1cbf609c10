#include "text/utf8.h"

#include <cstdint>
#include <unicode/utf8.h>

namespace tunesift {

bool IsValidUtf8(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t k = 0;
    while (k < length) {
        if (bytes[k] < 0x80) {
            ++k;
            continue;
        }
        UChar32 c = 0;
        U8_NEXT(bytes, k, length, c);
        if (c < 0)
            return false;
    }
    return true;
}

} // namespace tunesift
