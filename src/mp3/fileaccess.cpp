#include "mp3/fileaccess.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <random>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tunesift {

namespace {

// A path with an embedded NUL would silently name a different file at the system interface.
bool isUsablePath(const std::string& path)
{
    return !path.empty() && path.find('\0') == std::string::npos;
}

std::string describe(const std::string& what, const std::string& path)
{
    return what + " \"" + path + "\"";
}

#ifdef _WIN32

std::filesystem::path nativePath(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

[[noreturn]] void throwLastError(const std::string& what, const std::string& path)
{
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            describe(what, path));
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

#else

int openReadOnly(const std::string& path)
{
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A name listed as a regular file: a link put in its place is not followed, so that no device
// or FIFO is reached through it (the type is checked on the descriptor).
int openListedAt(int folder, const char* name)
{
    int fd = -1;
    do {
        fd = ::openat(folder, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

[[noreturn]] void throwErrno(const std::string& what, const std::string& path)
{
    throw std::system_error(errno, std::generic_category(), describe(what, path));
}

class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    // Reports the error of the final close, which is where some file systems report a failed
    // write.
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool writeAllAt(int fd, std::int64_t offset, std::span<const unsigned char> bytes)
{
    while (!bytes.empty()) {
        const auto chunk = std::min<std::size_t>(bytes.size(), 1u << 30);
        const ssize_t written = ::pwrite(fd, bytes.data(), chunk, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
        offset += written;
    }
    return true;
}

// Removes the new file unless the rename has taken it over.
class TemporaryFile
{
public:
    TemporaryFile(int fd, std::string path) : m_descriptor(fd), m_path(std::move(path)) {}
    ~TemporaryFile()
    {
        if (!m_committed) {
            ::unlink(m_path.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    Descriptor& descriptor() { return m_descriptor; }
    const std::string& path() const { return m_path; }
    void commit() { m_committed = true; }

private:
    Descriptor m_descriptor;
    std::string m_path;
    bool m_committed = false;
};

#endif

} // namespace

ReadOnlyFile::~ReadOnlyFile()
{
    close();
}

#ifdef _WIN32

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

#else

FolderHandle::FolderHandle(std::string folder) noexcept : m_path(std::move(folder))
{
    if (!isUsablePath(m_path)) {
        return;
    }
#ifdef O_PATH
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    do {
        m_fd = ::open(m_path.c_str(), kFlags);
    } while (m_fd < 0 && errno == EINTR);
}

FolderHandle::~FolderHandle()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

#endif

#ifdef _WIN32

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
    const std::filesystem::path target = std::filesystem::canonical(nativePath(path));
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

#else

bool ReadOnlyFile::open(const std::string& path) noexcept
{
    close();
    if (!isUsablePath(path)) {
        errno = ENOENT;
        return false;
    }
    // Devices and FIFOs are never opened at all: opening some of them has effects of its own.
    struct stat before = {};
    if (::stat(path.c_str(), &before) != 0) {
        return false;
    }
    if (!S_ISREG(before.st_mode)) {
        errno = S_ISDIR(before.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    return adopt(openReadOnly(path));
}

bool ReadOnlyFile::open(const FolderHandle& folder, std::string_view name) noexcept
{
    close();
    try {
        if (folder.descriptor() < 0) {
            return open(folder.path() + std::string(name));
        }
        if (name.empty() || name.find('\0') != std::string_view::npos ||
            name.find('/') != std::string_view::npos) {
            errno = ENOENT;
            return false;
        }
        return adopt(openListedAt(folder.descriptor(), std::string(name).c_str()));
    } catch (...) {
        return false;
    }
}

bool ReadOnlyFile::openListed(const std::string& path) noexcept
{
    close();
    if (!isUsablePath(path)) {
        errno = ENOENT;
        return false;
    }
    return adopt(openListedAt(AT_FDCWD, path.c_str()));
}

bool ReadOnlyFile::adopt(int fd) noexcept
{
    if (fd < 0) {
        return false;
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const int error = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return false;
    }
    m_fd = fd;
    m_size = static_cast<std::int64_t>(status.st_size);
    m_modifiedNs = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 +
                   static_cast<std::int64_t>(status.st_mtim.tv_nsec);
    return true;
}

void ReadOnlyFile::close() noexcept
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_size = 0;
    m_modifiedNs = 0;
}

bool ReadOnlyFile::isOpen() const noexcept
{
    return m_fd >= 0;
}

std::optional<std::size_t> ReadOnlyFile::readAt(std::int64_t offset,
                                                std::span<unsigned char> buffer) const noexcept
{
    if (m_fd < 0 || offset < 0) {
        return std::nullopt;
    }
    std::size_t total = 0;
    while (total < buffer.size()) {
        const ssize_t got = ::pread(m_fd, buffer.data() + total, buffer.size() - total,
                                    static_cast<off_t>(offset + static_cast<std::int64_t>(total)));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    return total;
}

std::optional<std::int64_t> FileLength(const std::string& path) noexcept
{
    if (!isUsablePath(path)) {
        return std::nullopt;
    }
    struct stat status = {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(status.st_size);
}

void WriteFileTail(const std::string& path, std::int64_t backFromEnd,
                   std::span<const unsigned char> bytes)
{
    if (!isUsablePath(path)) {
        throw std::runtime_error(describe("Unusable file name", path));
    }
    struct stat before = {};
    if (::stat(path.c_str(), &before) != 0) {
        throwErrno("Cannot open for writing", path);
    }
    if (!S_ISREG(before.st_mode)) {
        throw std::runtime_error(describe("Not a regular file", path));
    }
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        throwErrno("Cannot open for writing", path);
    }
    Descriptor file(fd);
    struct stat status = {};
    if (::fstat(fd, &status) != 0) {
        throwErrno("Cannot examine", path);
    }
    if (!S_ISREG(status.st_mode)) {
        throw std::runtime_error(describe("Not a regular file", path));
    }
    const std::int64_t offset = static_cast<std::int64_t>(status.st_size) - backFromEnd;
    if (offset < 0) {
        throw std::runtime_error(describe("File too short to hold the tag", path));
    }
    if (!writeAllAt(fd, offset, bytes)) {
        throwErrno("Cannot write", path);
    }
    if (!file.close()) {
        throwErrno("Cannot close", path);
    }
}

void ReplaceFileContents(const std::string& path, std::span<const unsigned char> bytes)
{
    if (!isUsablePath(path)) {
        throw std::runtime_error(describe("Unusable file name", path));
    }
    // Through a symbolic link the target is rewritten and the link stays a link.
    const std::filesystem::path target = std::filesystem::canonical(std::filesystem::path(path));
    struct stat original = {};
    if (::stat(target.c_str(), &original) != 0) {
        throwErrno("Cannot examine", path);
    }
    if (!S_ISREG(original.st_mode)) {
        throw std::runtime_error(describe("Not a regular file", path));
    }

    std::string pattern = (target.parent_path() / ".tunesift-XXXXXX").string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        throwErrno("Cannot create a temporary file beside", path);
    }
    TemporaryFile temporary(fd, pattern);
    if (!writeAllAt(fd, 0, bytes)) {
        throwErrno("Cannot write the new copy of", path);
    }
    // Ownership and mode are best effort: some file systems have neither, and the data matters
    // more than the permission bits.
    [[maybe_unused]] const int chownResult = ::fchown(fd, original.st_uid, original.st_gid);
    ::fchmod(fd, original.st_mode & 07777);
    if (::fsync(fd) != 0) {
        throwErrno("Cannot flush the new copy of", path);
    }
    if (!temporary.descriptor().close()) {
        throwErrno("Cannot close the new copy of", path);
    }
    if (::rename(temporary.path().c_str(), target.c_str()) != 0) {
        throwErrno("Cannot replace", path);
    }
    temporary.commit();

    // Makes the rename itself durable; the data is already safe either way.
    const int folder = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

std::optional<FileTimes> ReadFileTimes(const std::string& path) noexcept
{
    if (!isUsablePath(path)) {
        return std::nullopt;
    }
    struct stat status = {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    FileTimes times;
    times.accessSeconds = status.st_atim.tv_sec;
    times.accessNanoseconds = status.st_atim.tv_nsec;
    times.modificationSeconds = status.st_mtim.tv_sec;
    times.modificationNanoseconds = status.st_mtim.tv_nsec;
    return times;
}

void WriteFileTimes(const std::string& path, const FileTimes& times) noexcept
{
    if (!isUsablePath(path)) {
        return;
    }
    timespec stamps[2]{};
    stamps[0].tv_sec = static_cast<time_t>(times.accessSeconds);
    stamps[0].tv_nsec = times.accessNanoseconds;
    stamps[1].tv_sec = static_cast<time_t>(times.modificationSeconds);
    stamps[1].tv_nsec = times.modificationNanoseconds;
    ::utimensat(AT_FDCWD, path.c_str(), stamps, 0);
}

#endif

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
#ifdef _WIN32
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                describe("Cannot open", path));
#else
        throwErrno("Cannot open", path);
#endif
    }
    std::vector<unsigned char> bytes(count);
    const auto got = file.readAt(offset, bytes);
    if (!got) {
#ifdef _WIN32
        throwLastError("Cannot read", path);
#else
        throwErrno("Cannot read", path);
#endif
    }
    if (*got != count) {
        throw std::runtime_error(describe("File shorter than expected", path));
    }
    return bytes;
}

} // namespace tunesift
