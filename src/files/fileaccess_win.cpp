#include "files/fileaccess.h"
#include "files/fileaccess_p.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <system_error>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tunesift {

namespace fileaccess_detail {

void throwLastError(const std::string& what, const std::string& path)
{
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            describe(what, path));
}

} // namespace fileaccess_detail

std::wstring WidePath(const std::string& utf8)
{
    if (!fileaccess_detail::isUsablePath(utf8)) {
        return {};
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
    constexpr std::wstring_view kPrefix = L"\\\\?\\";
    if (wide.starts_with(kPrefix)) {
        return wide;
    }
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return {};
    }
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed) {
        return {};
    }
    full.resize(written);
    if (full.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2); // \\server\share\...
    }
    return std::wstring(kPrefix) + full;
}

std::wstring FinalWidePath(const std::string& utf8)
{
    const std::wstring wide = WidePath(utf8);
    if (wide.empty()) {
        return {};
    }
    const HANDLE handle =
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::wstring resolved(MAX_PATH, L'\0');
    DWORD length =
        GetFinalPathNameByHandleW(handle, resolved.data(), static_cast<DWORD>(resolved.size()), 0);
    if (length >= resolved.size()) {
        resolved.resize(length);
        length = GetFinalPathNameByHandleW(handle, resolved.data(),
                                           static_cast<DWORD>(resolved.size()), 0);
    }
    const DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(error);
    if (length == 0 || length >= resolved.size()) {
        return {};
    }
    resolved.resize(length);
    return resolved;
}

std::string Utf8Path(std::wstring_view wide)
{
    if (wide.starts_with(L"\\\\?\\UNC\\")) {
        return "\\\\" + Utf8Path(wide.substr(8));
    }
    if (wide.starts_with(L"\\\\?\\")) {
        wide.remove_prefix(4);
    }
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(std::max(length, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                        nullptr, nullptr);
    return text;
}

using fileaccess_detail::askWriteFault;
using fileaccess_detail::describe;
using fileaccess_detail::isUsablePath;
using fileaccess_detail::throwLastError;

namespace {

std::filesystem::path nativePath(const std::string& utf8)
{
    return std::filesystem::path(WidePath(utf8));
}

class Handle
{
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle()
    {
        if (valid()) {
            CloseHandle(m_handle);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE get() const { return m_handle; }
    bool close()
    {
        const bool ok = CloseHandle(m_handle) != 0;
        m_handle = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE m_handle;
};

OVERLAPPED overlappedAt(std::int64_t offset)
{
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
    overlapped.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    return overlapped;
}

// The fault seam is asked before each call unless the write puts back what a failed one changed.
// An injected error number becomes the nearest Windows error.
bool injectedFailure(WriteStep step, std::size_t* byteLimit = nullptr)
{
    const WriteFault fault = askWriteFault(step);
    if (fault.error != 0) {
        SetLastError(fault.error == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
        return true;
    }
    if (byteLimit != nullptr) {
        *byteLimit = std::max<std::size_t>(fault.byteLimit, 1);
    }
    return false;
}

bool writeAllAt(HANDLE handle, std::int64_t offset, std::span<const unsigned char> bytes,
                bool faultable)
{
    while (!bytes.empty()) {
        std::size_t limit = std::numeric_limits<DWORD>::max();
        if (faultable && injectedFailure(WriteStep::Write, &limit)) {
            return false;
        }
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(
            bytes.size(), std::min<std::size_t>(limit, std::numeric_limits<DWORD>::max())));
        OVERLAPPED overlapped = overlappedAt(offset);
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), chunk, &written, &overlapped) || written == 0) {
            return false;
        }
        bytes = bytes.subspan(written);
        offset += written;
    }
    return true;
}

bool flush(HANDLE handle)
{
    return !injectedFailure(WriteStep::Flush) && FlushFileBuffers(handle) != 0;
}

// 100 ns steps since 1601, taken to nanoseconds since 1970 like the other platforms'.
std::int64_t nanosecondsSince1970(std::int64_t ticksSince1601)
{
    constexpr std::int64_t k1601To1970 = 116'444'736'000'000'000;
    return (ticksSince1601 - k1601To1970) * 100;
}

// The stamp of an open file with what else the system told of it; false when it cannot be
// examined.
bool examine(HANDLE handle, FileStamp& stamp, BY_HANDLE_FILE_INFORMATION& info)
{
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandle(handle, &info) ||
        !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        return false;
    }
    stamp.size =
        static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    stamp.modifiedNs = nanosecondsSince1970(basic.LastWriteTime.QuadPart);
    stamp.changedNs = nanosecondsSince1970(basic.ChangeTime.QuadPart);
    stamp.device = info.dwVolumeSerialNumber;
    stamp.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return true;
}

} // namespace

FolderHandle::FolderHandle(std::string folder) noexcept : m_path(std::move(folder)) {}

FolderHandle::~FolderHandle() = default;

bool ReadOnlyFile::open(const FolderHandle& folder, std::string_view name) noexcept
{
    try {
        return open(folder.path() + std::string(name));
    } catch (...) {
        close();
        return false;
    }
}

bool ReadOnlyFile::openListed(const std::string& path) noexcept
{
    return open(path);
}

bool ReadOnlyFile::open(const std::string& path) noexcept
{
    close();
    if (!isUsablePath(path)) {
        return false;
    }
    try {
        HANDLE handle = CreateFileW(nativePath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return false;
        }
        LARGE_INTEGER length{};
        if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &length)) {
            CloseHandle(handle);
            return false;
        }
        m_handle = handle;
        m_size = length.QuadPart;
        return true;
    } catch (...) {
        return false;
    }
}

void ReadOnlyFile::close() noexcept
{
    if (m_handle != nullptr) {
        CloseHandle(m_handle);
        m_handle = nullptr;
    }
    m_size = 0;
    m_stamp.reset();
}

bool ReadOnlyFile::isOpen() const noexcept
{
    return m_handle != nullptr;
}

void ReadOnlyFile::adviseSequential(std::int64_t, std::int64_t) const noexcept
{
    // Windows reads ahead on its own once it sees large sequential reads.
}

std::optional<std::size_t> ReadOnlyFile::readAt(std::int64_t offset,
                                                std::span<unsigned char> buffer) const noexcept
{
    if (m_handle == nullptr || offset < 0) {
        return std::nullopt;
    }
    std::size_t total = 0;
    while (total < buffer.size()) {
        const DWORD chunk = static_cast<DWORD>(
            std::min<std::size_t>(buffer.size() - total, std::numeric_limits<DWORD>::max()));
        OVERLAPPED overlapped = overlappedAt(offset + static_cast<std::int64_t>(total));
        DWORD got = 0;
        if (!ReadFile(m_handle, buffer.data() + total, chunk, &got, &overlapped)) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        total += got;
    }
    return total;
}

std::optional<FileStamp> QueryFileStamp(const std::string& path) noexcept
{
    try {
        if (!isUsablePath(path)) {
            return std::nullopt;
        }
        // Attributes only: no read access is needed, and nothing is locked against other
        // programs.
        const Handle handle(CreateFileW(nativePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle.valid()) {
            return std::nullopt;
        }
        FileStamp stamp;
        BY_HANDLE_FILE_INFORMATION info{};
        if (!examine(handle.get(), stamp, info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return std::nullopt;
        }
        return stamp;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<FileStamp> QueryFileStamp(const FolderHandle& folder, std::string_view name) noexcept
{
    try {
        return QueryFileStamp(folder.path() + std::string(name));
    } catch (...) {
        return std::nullopt;
    }
}

WritableFile::~WritableFile()
{
    if (m_handle != nullptr) {
        CloseHandle(m_handle);
    }
}

void WritableFile::open(const std::string& path)
{
    if (m_handle != nullptr) {
        CloseHandle(m_handle);
        m_handle = nullptr;
    }
    m_path = path;
    if (!isUsablePath(path)) {
        throw std::runtime_error(describe("Unusable file name", path));
    }
    // No other program may write while the file is open here; a rename may (FILE_SHARE_DELETE).
    HANDLE handle = CreateFileW(nativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        throwLastError("Cannot open for writing", path);
    }
    m_handle = handle;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        throw std::runtime_error(describe("Not a regular file", path));
    }
    m_opened = currentState();
}

WritableFile::State WritableFile::currentState() const
{
    State state;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!examine(m_handle, state.stamp, info)) {
        throwLastError("Cannot examine", m_path);
    }
    state.links = info.nNumberOfLinks;
    return state;
}

std::vector<unsigned char> WritableFile::read(std::int64_t offset, std::size_t count) const
{
    std::vector<unsigned char> bytes(count);
    std::size_t total = 0;
    while (total < count) {
        const DWORD chunk = static_cast<DWORD>(
            std::min<std::size_t>(count - total, std::numeric_limits<DWORD>::max()));
        OVERLAPPED overlapped = overlappedAt(offset + static_cast<std::int64_t>(total));
        DWORD got = 0;
        if (!ReadFile(m_handle, bytes.data() + total, chunk, &got, &overlapped) &&
            GetLastError() != ERROR_HANDLE_EOF) {
            throwLastError("Cannot read", m_path);
        }
        if (got == 0) {
            throw std::runtime_error(describe("File shorter than expected", m_path));
        }
        total += got;
    }
    return bytes;
}

void WritableFile::writeAt(std::int64_t offset, std::span<const unsigned char> bytes)
{
    const std::int64_t length = currentState().stamp.size;
    if (offset < 0 || offset > length) {
        throw std::runtime_error(describe("Cannot write past the end of", m_path));
    }
    const std::vector<unsigned char> overwritten =
        read(offset, static_cast<std::size_t>(std::min<std::int64_t>(
                         length - offset, static_cast<std::int64_t>(bytes.size()))));
    if (writeAllAt(m_handle, offset, bytes, true) && flush(m_handle)) {
        return;
    }
    // Neither half a tag nor a longer file stays behind.
    const DWORD error = GetLastError();
    writeAllAt(m_handle, offset, overwritten, false);
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = length;
    SetFileInformationByHandle(m_handle, FileEndOfFileInfo, &end, sizeof end);
    FlushFileBuffers(m_handle);
    SetLastError(error);
    throwLastError("Cannot write", m_path);
}

void WritableFile::replaceWith(std::span<const unsigned char> bytes)
{
    if (m_opened.links > 1) {
        throw std::runtime_error(
            describe("Not rewritten, as other hard links share the contents of", m_path));
    }
    const std::wstring final = FinalWidePath(m_path);
    if (final.empty()) {
        throwLastError("Cannot find", m_path);
    }
    const std::filesystem::path target(final);
    const DWORD attributes = GetFileAttributesW(target.c_str());

    std::random_device seed;
    std::filesystem::path temporary;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = target.parent_path() / (L".tunesift-" + std::to_wstring(seed()));
        handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        throwLastError("Cannot create a temporary file beside", m_path);
    }
    Handle file(handle);
    const auto fail = [&](const char* what) {
        const DWORD error = GetLastError();
        if (file.valid()) {
            file.close();
        }
        DeleteFileW(temporary.c_str());
        SetLastError(error);
        throwLastError(what, m_path);
    };
    if (!writeAllAt(file.get(), 0, bytes, true) || !flush(file.get()) || !file.close()) {
        fail("Cannot write the new copy of");
    }
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        SetFileAttributesW(temporary.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (injectedFailure(WriteStep::BeforeReplace)) {
        fail("Cannot replace");
    }
    // Whatever another program did since the file was opened (renamed it away, replaced or
    // linked it) would be lost by the rename; writing it was shut out by the sharing mode.
    Handle named(CreateFileW(target.c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FileStamp namedStamp;
    BY_HANDLE_FILE_INFORMATION namedInfo{};
    const bool namedExamined = named.valid() && examine(named.get(), namedStamp, namedInfo);
    if (currentState() != m_opened || !namedExamined ||
        namedStamp.device != m_opened.stamp.device || namedStamp.inode != m_opened.stamp.inode) {
        DeleteFileW(temporary.c_str());
        throw std::runtime_error(
            describe("Not rewritten, as another program changed the file meanwhile", m_path));
    }
    named.close();
    // An open file cannot be renamed over everywhere.
    CloseHandle(m_handle);
    m_handle = nullptr;
    if (injectedFailure(WriteStep::Rename) ||
        !MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        fail("Cannot replace");
    }
}

std::optional<FileTimes> ReadFileTimes(const std::string& path) noexcept
{
    if (!isUsablePath(path)) {
        return std::nullopt;
    }
    try {
        Handle file(CreateFileW(nativePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        FILETIME creation{}, access{}, write{};
        if (!file.valid() || !GetFileTime(file.get(), &creation, &access, &write)) {
            return std::nullopt;
        }
        const auto ticks = [](const FILETIME& t) {
            return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        };
        return FileTimes{ticks(creation), ticks(access), ticks(write)};
    } catch (...) {
        return std::nullopt;
    }
}

void WriteFileTimes(const std::string& path, const FileTimes& times) noexcept
{
    if (!isUsablePath(path)) {
        return;
    }
    try {
        Handle file(CreateFileW(nativePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            return;
        }
        const auto fileTime = [](std::uint64_t ticks) {
            FILETIME t{};
            t.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
            t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
            return t;
        };
        const FILETIME creation = fileTime(times.creation);
        const FILETIME access = fileTime(times.lastAccess);
        const FILETIME write = fileTime(times.lastWrite);
        SetFileTime(file.get(), &creation, &access, &write);
    } catch (...) {
    }
}

} // namespace tunesift
