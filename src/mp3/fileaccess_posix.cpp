#include "mp3/fileaccess.h"
#include "mp3/fileaccess_p.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tunesift {

namespace fileaccess_detail {

void throwLastError(const std::string& what, const std::string& path)
{
    throw std::system_error(errno, std::generic_category(), describe(what, path));
}

} // namespace fileaccess_detail

using fileaccess_detail::describe;
using fileaccess_detail::isUsablePath;
using fileaccess_detail::throwLastError;

namespace {

int openReadOnly(const std::string& path)
{
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
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

} // namespace

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
    const int fd = openReadOnly(path);
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
        throwLastError("Cannot open for writing", path);
    }
    if (!S_ISREG(before.st_mode)) {
        throw std::runtime_error(describe("Not a regular file", path));
    }
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        throwLastError("Cannot open for writing", path);
    }
    Descriptor file(fd);
    struct stat status = {};
    if (::fstat(fd, &status) != 0) {
        throwLastError("Cannot examine", path);
    }
    if (!S_ISREG(status.st_mode)) {
        throw std::runtime_error(describe("Not a regular file", path));
    }
    const std::int64_t offset = static_cast<std::int64_t>(status.st_size) - backFromEnd;
    if (offset < 0) {
        throw std::runtime_error(describe("File too short to hold the tag", path));
    }
    if (!writeAllAt(fd, offset, bytes)) {
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
    // Through a symbolic link the target is rewritten and the link stays a link.
    const std::filesystem::path target = std::filesystem::canonical(std::filesystem::path(path));
    struct stat original = {};
    if (::stat(target.c_str(), &original) != 0) {
        throwLastError("Cannot examine", path);
    }
    if (!S_ISREG(original.st_mode)) {
        throw std::runtime_error(describe("Not a regular file", path));
    }

    std::string pattern = (target.parent_path() / ".tunesift-XXXXXX").string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        throwLastError("Cannot create a temporary file beside", path);
    }
    TemporaryFile temporary(fd, pattern);
    if (!writeAllAt(fd, 0, bytes)) {
        throwLastError("Cannot write the new copy of", path);
    }
    // Ownership and mode are best effort: some file systems have neither, and the data matters
    // more than the permission bits.
    [[maybe_unused]] const int chownResult = ::fchown(fd, original.st_uid, original.st_gid);
    ::fchmod(fd, original.st_mode & 07777);
    if (::fsync(fd) != 0) {
        throwLastError("Cannot flush the new copy of", path);
    }
    if (!temporary.descriptor().close()) {
        throwLastError("Cannot close the new copy of", path);
    }
    if (::rename(temporary.path().c_str(), target.c_str()) != 0) {
        throwLastError("Cannot replace", path);
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

} // namespace tunesift
