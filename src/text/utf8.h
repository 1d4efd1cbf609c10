#pragma once

#include <string_view>

namespace tunesift {

// True when the text is well-formed UTF-8 throughout.
bool IsValidUtf8(std::string_view text);

} // namespace tunesift
