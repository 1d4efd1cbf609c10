#include "mp3/fileaccess.h"
#include "mp3/fileaccess_p.h"

#include <algorithm>
#include <filesystem>
#include <limits>
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

bool writeAllAt(HANDLE handle, std::int64_t offset, std::span<const unsigned char> bytes)
{
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(
            std::min<std::size_t>(bytes.size(), std::numeric_limits<DWORD>::max()));
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

} // namespace

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
    m_modifiedNs = 0;
}

bool ReadOnlyFile::isOpen() const noexcept
{
    return m_handle != nullptr;
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

std::optional<std::int64_t> FileLength(const std::string& path) noexcept
{
    ReadOnlyFile file;
    if (!file.open(path)) {
        return std::nullopt;
    }
    return file.size();
}

void WriteFileTail(const std::string& path, std::int64_t backFromEnd,
                   std::span<const unsigned char> bytes)
{
    if (!isUsablePath(path)) {
        throw std::runtime_error(describe("Unusable file name", path));
    }
    Handle file(CreateFileW(nativePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        throwLastError("Cannot open for writing", path);
    }
    LARGE_INTEGER length{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &length)) {
        throwLastError("Not a regular file", path);
    }
    const std::int64_t offset = length.QuadPart - backFromEnd;
    if (offset < 0) {
        throw std::runtime_error(describe("File too short to hold the tag", path));
    }
    if (!writeAllAt(file.get(), offset, bytes)) {
        throwLastError("Cannot write", path);
    }
    if (!file.close()) {
        throwLastError("Cannot close", path);
    }
}

void ReplaceFileContents(const std::string& path, std::span<const unsigned char> bytes)
{
    if (!isUsablePath(path)) {
        throw std::runtime_error(describe("Unusable file name", path));
    }
    const std::wstring final = FinalWidePath(path);
    if (final.empty()) {
        throwLastError("Cannot find", path);
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
        throwLastError("Cannot create a temporary file beside", path);
    }
    Handle file(handle);
    const auto discard = [&] {
        if (file.valid()) {
            file.close();
        }
        DeleteFileW(temporary.c_str());
    };
    if (!writeAllAt(file.get(), 0, bytes) || !FlushFileBuffers(file.get()) || !file.close()) {
        const DWORD error = GetLastError();
        discard();
        throw std::system_error(static_cast<int>(error), std::system_category(),
                                describe("Cannot write the new copy of", path));
    }
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        SetFileAttributesW(temporary.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        discard();
        throw std::system_error(static_cast<int>(error), std::system_category(),
                                describe("Cannot replace", path));
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
