#include "mp3/fileaccess.h"

#include "mp3/fileaccess_p.h"

#include <algorithm>
#include <stdexcept>

// The parts of the file access layer that are the same on every platform; the rest lives in
// fileaccess_posix.cpp and fileaccess_win.cpp.

namespace tunesift {

using fileaccess_detail::describe;
using fileaccess_detail::throwLastError;

ReadOnlyFile::~ReadOnlyFile()
{
    close();
}

bool ReadOnlyFile::readRecord(std::int64_t offset, std::span<unsigned char> record) const noexcept
{
    const auto got = readAt(offset, record);
    if (!got) {
        return false;
    }
    std::fill(record.begin() + static_cast<std::ptrdiff_t>(*got), record.end(), 0);
    return true;
}

std::vector<unsigned char> ReadFileRange(const std::string& path, std::int64_t offset,
                                         std::size_t count)
{
    ReadOnlyFile file;
    if (!file.open(path)) {
        throwLastError("Cannot open", path);
    }
    std::vector<unsigned char> bytes(count);
    const auto got = file.readAt(offset, bytes);
    if (!got) {
        throwLastError("Cannot read", path);
    }
    if (*got != count) {
        throw std::runtime_error(describe("File shorter than expected", path));
    }
    return bytes;
}

} // namespace tunesift
