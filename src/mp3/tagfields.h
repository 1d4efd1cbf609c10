#pragma once

#include <string>

namespace tunesift {

// How many of title, artist and album the file's tags name (0 to 3): a field counts when the
// ID3v2 tag at the start or the ID3v1 tag at the end holds a text for it that is not blank.
// 0 when the file cannot be read.
int TagFieldsPresent(const std::string& path);

} // namespace tunesift
