#pragma once

#include <optional>
#include <string>

namespace tunesift {

// The quick title read of the search: the ID3v1 title of the file with trailing spaces removed
// (NUL characters stay), as UTF-8 of the tag's ISO-8859-1 bytes; nothing when the file has no
// tag or cannot be read. Never throws.
std::optional<std::string> ReadTagTitle(const std::string& path);

} // namespace tunesift
