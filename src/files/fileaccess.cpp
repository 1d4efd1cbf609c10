#include "files/fileaccess.h"

#include "files/fileaccess_p.h"

#include <algorithm>
#include <utility>

// The parts of the file access layer that are the same on every platform; the rest lives in
// fileaccess_posix.cpp and fileaccess_win.cpp.

namespace tunesift {

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

std::optional<std::int64_t> FileSize(const std::string& path) noexcept
{
    ReadOnlyFile file;
    if (!file.open(path)) {
        return std::nullopt;
    }
    return file.size();
}

std::optional<std::int64_t> FileSize(const FolderHandle& folder, std::string_view name) noexcept
{
    ReadOnlyFile file;
    if (!file.open(folder, name)) {
        return std::nullopt;
    }
    return file.size();
}

namespace {

WriteFaultHook& writeFaultHook()
{
    static WriteFaultHook hook;
    return hook;
}

} // namespace

void SetWriteFaultHook(WriteFaultHook hook)
{
    writeFaultHook() = std::move(hook);
}

WriteFault fileaccess_detail::askWriteFault(WriteStep step)
{
    const WriteFaultHook& hook = writeFaultHook();
    return hook ? hook(step) : WriteFault{};
}

} // namespace tunesift
