#include "search/filesize.h"

#include "mp3/fileaccess.h"

#include <cstdio>
#include <filesystem>

#ifdef _WIN32
#include "mp3/fileaccess.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tunesift {

std::optional<std::int64_t> QueryFileSize(const std::string& path)
{
#ifdef _WIN32
    // Opening for reading, as the size query always did: a file that cannot be opened has no
    // size, even when its directory entry could be read.
    return FileLength(path);
#else
    // O_NONBLOCK: a FIFO that replaced a file between the scan and this call must not block.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    struct stat info
    {};
    const bool ok = ::fstat(fd, &info) == 0;
    ::close(fd);
    if (!ok)
        return std::nullopt;
    return static_cast<std::int64_t>(info.st_size);
#endif
}

std::optional<std::int64_t> QueryFileSize(const FolderHandle& folder, std::string_view name)
{
    ReadOnlyFile file;
    if (!file.open(folder, name))
        return std::nullopt;
    return file.size();
}

std::int64_t FileSize2(const std::string& path)
{
    return QueryFileSize(path).value_or(0);
}

namespace {

// Digits of a non-negative whole number with a separator between groups of three.
std::string groupedDigits(std::uint64_t value, std::string_view thousandsSeparator)
{
    const std::string digits = std::to_string(value);
    std::string out;
    out.reserve(digits.size() + digits.size() / 3 * thousandsSeparator.size());
    for (std::size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0)
            out.append(thousandsSeparator);
        out.push_back(digits[k]);
    }
    return out;
}

// value / 2^shift rounded half away from zero to a whole number, exactly.
std::uint64_t roundedQuotient(std::uint64_t value, unsigned shift)
{
    return (value >> shift) + ((value >> (shift - 1)) & 1U);
}

// "#,###.##": up to two decimals of value / 2^shift, trailing zeros dropped, the decimal
// separator always written. Rounding is half away from zero, computed exactly in integers.
std::string twoDecimals(std::uint64_t value, unsigned shift, std::string_view thousandsSeparator,
                        std::string_view decimalSeparator)
{
    const std::uint64_t whole = value >> shift;
    const std::uint64_t fraction = value & ((std::uint64_t{1} << shift) - 1);
    // fraction < 2^30, so fraction * 100 cannot overflow.
    const std::uint64_t hundredths = (fraction * 100 + (std::uint64_t{1} << (shift - 1))) >> shift;
    const std::uint64_t total = whole * 100 + hundredths;
    std::string out = groupedDigits(total / 100, thousandsSeparator);
    out.append(decimalSeparator);
    const std::uint64_t decimals = total % 100;
    if (decimals != 0) {
        out.push_back(static_cast<char>('0' + decimals / 10));
        if (decimals % 10 != 0)
            out.push_back(static_cast<char>('0' + decimals % 10));
    }
    return out;
}

} // namespace

std::string FormatFileSize(std::int64_t bytes, std::string_view thousandsSeparator,
                           std::string_view decimalSeparator)
{
    if (bytes <= 1)
        return {};
    const auto s = static_cast<std::uint64_t>(bytes);
    constexpr std::uint64_t kKiB = 1024;
    constexpr std::uint64_t kMiB = kKiB * 1024;
    constexpr std::uint64_t kGiB = kMiB * 1024;
    if (s < kKiB)
        return groupedDigits(s, thousandsSeparator) + " Bytes";
    if (s < kMiB)
        return groupedDigits(roundedQuotient(s, 10), thousandsSeparator) + " KB";
    if (s < kGiB)
        return twoDecimals(s, 20, thousandsSeparator, decimalSeparator) + " MB";
    return twoDecimals(s, 30, thousandsSeparator, decimalSeparator) + " GB";
}

} // namespace tunesift
