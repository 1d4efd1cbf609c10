#pragma once

#include <cstdint>
#include <string>

namespace tunesift {

// "nn:ss" below an hour, "h:nn:ss" from an hour on (total hours, no wrap at 24).
std::string FormatSongLength(std::int64_t seconds);

// Analysis of one MP3 file. Setting FileName runs the analysis.
class clsMP3Info
{
public:
    void SetFileName(const std::string& path);
    const std::string& FileName() const;
    std::int32_t BitRate() const;
    std::int64_t SongLength() const;
    std::string FormattedTime() const;
};

} // namespace tunesift
