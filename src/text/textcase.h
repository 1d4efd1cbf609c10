#pragma once

#include <string>
#include <string_view>

namespace tunesift {

// Letter-case mapping of UTF-8 text, one code point at a time (Unicode simple case mapping), the
// same whatever the process locale. Bytes that are not valid UTF-8 pass through unchanged. The
// mapping is ICU's; a Windows build without ICU takes the system's mapping of the invariant locale.
std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);

} // namespace tunesift
