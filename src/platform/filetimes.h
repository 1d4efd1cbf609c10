#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tunesift {

// The last modification times of files in one folder (UTF-8, with or without the closing
// separator), in ticks that are only ever compared with one another: later is larger, as
// std::filesystem::last_write_time orders them. A file that cannot be read gets nothing. Where the
// system allows, the folder is looked up once for all the names and only the time is asked for.
std::vector<std::optional<std::int64_t>> ReadModifiedTimes(std::string_view folder,
                                                           std::span<const std::string_view> names);

} // namespace tunesift
