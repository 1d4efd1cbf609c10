#pragma once

#include <string>
#include <string_view>

namespace tunesift {

// ID3v1 text is ISO-8859-1: every byte is the code point of the same value.
std::string Latin1ToUtf8(std::string_view latin1);

// Code points above U+00FF, and bytes that are not part of well-formed UTF-8, become '?', so the
// result always has one byte per character of the input.
std::string Utf8ToLatin1(std::string_view utf8);

} // namespace tunesift
