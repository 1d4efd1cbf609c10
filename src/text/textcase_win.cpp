#include "text/textcase.h"

#include <cstdint>
#include <unicode/utf16.h>
#include <unicode/utf8.h>
#include <windows.h>

namespace tunesift {

namespace {

// Maps the UTF-16 text through the invariant locale, so the result does not depend on the user's
// language (no Turkish dotless i); the text stays as it is if the system refuses.
void mapUtf16(std::wstring& text, DWORD flag)
{
    const int length = static_cast<int>(text.size());
    const int needed = LCMapStringEx(LOCALE_NAME_INVARIANT, flag, text.data(), length, nullptr, 0,
                                     nullptr, nullptr, 0);
    if (needed <= 0) {
        return;
    }
    std::wstring mapped(static_cast<std::size_t>(needed), L'\0');
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, flag, text.data(), length, mapped.data(), needed,
                      nullptr, nullptr, 0) == needed) {
        text = std::move(mapped);
    }
}

void appendUtf8(std::string& out, const std::wstring& utf16)
{
    const auto* units = reinterpret_cast<const char16_t*>(utf16.data());
    const auto length = static_cast<std::int32_t>(utf16.size());
    std::int32_t k = 0;
    while (k < length) {
        UChar32 c = 0;
        U16_NEXT(units, k, length, c);
        std::uint8_t buffer[U8_MAX_LENGTH];
        std::int32_t written = 0;
        U8_APPEND_UNSAFE(buffer, written, c);
        out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(written));
    }
}

// Each run of valid UTF-8 goes to the system in one call; bytes that are not valid UTF-8 pass
// through unchanged, as they do with ICU.
std::string mapCase(std::string_view text, DWORD flag, char asciiFirst, int asciiShift)
{
    std::string out;
    out.reserve(text.size());
    bool ascii = true;
    for (const char c : text) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (ascii) {
        for (const char c : text) {
            out.push_back(c >= asciiFirst && c < asciiFirst + 26 ? static_cast<char>(c + asciiShift)
                                                                 : c);
        }
        return out;
    }

    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::wstring run;
    const auto flush = [&] {
        mapUtf16(run, flag);
        appendUtf8(out, run);
        run.clear();
    };
    std::int32_t k = 0;
    while (k < length) {
        const std::int32_t start = k;
        UChar32 c = 0;
        U8_NEXT(bytes, k, length, c);
        if (c < 0) {
            flush();
            out.append(
                text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(k - start)));
            continue;
        }
        char16_t units[U16_MAX_LENGTH];
        std::int32_t written = 0;
        U16_APPEND_UNSAFE(units, written, c);
        run.append(reinterpret_cast<const wchar_t*>(units), static_cast<std::size_t>(written));
    }
    flush();
    return out;
}

} // namespace

std::string LowerCase(std::string_view text)
{
    return mapCase(text, LCMAP_LOWERCASE, 'A', 'a' - 'A');
}

std::string UpperCase(std::string_view text)
{
    return mapCase(text, LCMAP_UPPERCASE, 'a', 'A' - 'a');
}

} // namespace tunesift
