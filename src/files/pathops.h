#pragma once

#include <string>
#include <string_view>

namespace tunesift {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Text after the last separator; the whole text when there is none.
std::string_view FileNameOfPath(std::string_view path);
// Text up to and including the last separator; empty when there is none.
std::string_view FolderOfPath(std::string_view path);
// True for an existing folder (a link to a folder counts); false on any error.
bool IsFolder(const std::string& path);
// True when the last-modified time of the path can be read.
bool FileExists(const std::string& path);

} // namespace tunesift
