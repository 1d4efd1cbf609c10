#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tunesift {

class FolderHandle;

// Opens the file read-only and asks for its length; nothing when it cannot be opened.
std::optional<std::int64_t> QueryFileSize(const std::string& path);
// The length of a name a folder held open listed as a regular file.
std::optional<std::int64_t> QueryFileSize(const FolderHandle& folder, std::string_view name);

// The file's whole length in bytes, 0 when the file cannot be opened. Never fails.
std::int64_t FileSize2(const std::string& path);

// The short size text of the "Size" column ("2 Bytes", "1 KB", "4.5 MB", "3. MB", "2.5 GB");
// the empty text for 0, 1 and negative counts. The separators are the caller's (the GUI passes
// the user's locale's, the command line "," and ".").
std::string FormatFileSize(std::int64_t bytes, std::string_view thousandsSeparator,
                           std::string_view decimalSeparator);

} // namespace tunesift
