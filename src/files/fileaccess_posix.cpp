#include "files/fileaccess.h"
#include "files/fileaccess_p.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace tunesift {

namespace fileaccess_detail {

void throwLastError(const std::string& what, const std::string& path)
{
    throw std::system_error(errno, std::generic_category(), describe(what, path));
}

} // namespace fileaccess_detail

using fileaccess_detail::askWriteFault;
using fileaccess_detail::describe;
using fileaccess_detail::isUsablePath;
using fileaccess_detail::throwLastError;

namespace {

FileStamp StampOf(const struct stat& status)
{
    constexpr std::int64_t kNsPerSecond = 1'000'000'000;
    FileStamp stamp;
    stamp.size = static_cast<std::int64_t>(status.st_size);
    stamp.modifiedNs = static_cast<std::int64_t>(status.st_mtim.tv_sec) * kNsPerSecond +
                       static_cast<std::int64_t>(status.st_mtim.tv_nsec);
    stamp.changedNs = static_cast<std::int64_t>(status.st_ctim.tv_sec) * kNsPerSecond +
                      static_cast<std::int64_t>(status.st_ctim.tv_nsec);
    stamp.device = static_cast<std::uint64_t>(status.st_dev);
    stamp.inode = static_cast<std::uint64_t>(status.st_ino);
    return stamp;
}

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

// The fault seam is asked before each call unless the write puts back what a failed one changed.
bool writeAllAt(int fd, std::int64_t offset, std::span<const unsigned char> bytes, bool faultable)
{
    while (!bytes.empty()) {
        auto chunk = std::min<std::size_t>(bytes.size(), 1u << 30);
        if (faultable) {
            const WriteFault fault = askWriteFault(WriteStep::Write);
            if (fault.error != 0) {
                errno = fault.error;
                return false;
            }
            chunk = std::min(chunk, std::max<std::size_t>(fault.byteLimit, 1));
        }
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

bool flush(int fd)
{
    const WriteFault fault = askWriteFault(WriteStep::Flush);
    if (fault.error != 0) {
        errno = fault.error;
        return false;
    }
    return ::fsync(fd) == 0;
}

void failIfFaulted(WriteStep step, const char* what, const std::string& path)
{
    const WriteFault fault = askWriteFault(step);
    if (fault.error != 0) {
        errno = fault.error;
        throwLastError(what, path);
    }
}

// Exactly count bytes from the offset on.
std::vector<unsigned char> readExactly(int fd, std::int64_t offset, std::size_t count,
                                       const std::string& path)
{
    std::vector<unsigned char> bytes(count);
    std::size_t total = 0;
    while (total < count) {
        const ssize_t got = ::pread(fd, bytes.data() + total, count - total,
                                    static_cast<off_t>(offset + static_cast<std::int64_t>(total)));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throwLastError("Cannot read", path);
        }
        if (got == 0) {
            throw std::runtime_error(describe("File shorter than expected", path));
        }
        total += static_cast<std::size_t>(got);
    }
    return bytes;
}

std::size_t hashOf(const std::vector<unsigned char>& bytes)
{
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

#ifdef __linux__
// Copies every extended attribute the caller can see, access control lists among them. An
// attribute the new file already carries with the same value (a security label given by the
// folder) is left alone. False, with errno set, on any failure.
bool copyExtendedAttributes(int from, int to)
{
    const ssize_t listSize = ::flistxattr(from, nullptr, 0);
    if (listSize < 0) {
        return errno == ENOTSUP; // a file system without them
    }
    std::vector<char> names(static_cast<std::size_t>(listSize));
    const ssize_t listed = listSize == 0 ? 0 : ::flistxattr(from, names.data(), names.size());
    if (listed < 0) {
        return false;
    }
    const auto valueOf = [](int fd, const char* name, std::vector<char>& value) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0) {
            return false;
        }
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = size == 0 ? 0 : ::fgetxattr(fd, name, value.data(), value.size());
        value.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        return got >= 0;
    };
    std::vector<char> value;
    std::vector<char> present;
    for (std::size_t at = 0; at < static_cast<std::size_t>(listed);
         at += std::strlen(names.data() + at) + 1) {
        const char* name = names.data() + at;
        if (!valueOf(from, name, value)) {
            return false;
        }
        if (valueOf(to, name, present) && present == value) {
            continue;
        }
        if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
            return false;
        }
    }
    return true;
}
#else
// Other systems name these calls differently; there the new file keeps only owner and mode.
bool copyExtendedAttributes(int, int)
{
    return true;
}
#endif

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

FolderHandle::FolderHandle(std::string folder) noexcept : m_path(std::move(folder)) {}

FolderHandle::FolderHandle(std::string folder, int descriptor) noexcept
    : m_path(std::move(folder)), m_fd(descriptor), m_opened(true)
{}

int FolderHandle::descriptor() const noexcept
{
    if (m_opened) {
        return m_fd;
    }
    m_opened = true;
    if (!isUsablePath(m_path)) {
        return m_fd;
    }
#ifdef O_PATH
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    do {
        m_fd = ::open(m_path.c_str(), kFlags);
    } while (m_fd < 0 && errno == EINTR);
    return m_fd;
}

FolderHandle::~FolderHandle()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

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
    m_stamp = StampOf(status);
    return true;
}

void ReadOnlyFile::close() noexcept
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_size = 0;
    m_stamp.reset();
}

bool ReadOnlyFile::isOpen() const noexcept
{
    return m_fd >= 0;
}

void ReadOnlyFile::adviseSequential(std::int64_t offset, std::int64_t length) const noexcept
{
    if (m_fd >= 0) {
        // Sequential widens the read-ahead; will-need starts reading the whole run at once, so
        // that the disk has many requests in flight while the first blocks are hashed.
        ::posix_fadvise(m_fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                        POSIX_FADV_SEQUENTIAL);
        ::posix_fadvise(m_fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                        POSIX_FADV_WILLNEED);
    }
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

std::optional<FileStamp> QueryFileStamp(const std::string& path) noexcept
{
    struct stat status = {};
    if (!isUsablePath(path) || ::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return StampOf(status);
}

std::optional<FileStamp> QueryFileStamp(const FolderHandle& folder, std::string_view name) noexcept
{
    try {
        if (folder.descriptor() < 0) {
            return QueryFileStamp(folder.path() + std::string(name));
        }
        struct stat status = {};
        if (::fstatat(folder.descriptor(), std::string(name).c_str(), &status, 0) != 0 ||
            !S_ISREG(status.st_mode)) {
            return std::nullopt;
        }
        return StampOf(status);
    } catch (...) {
        return std::nullopt;
    }
}

WritableFile::~WritableFile()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void WritableFile::open(const std::string& path)
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_path = path;
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
    // Read and write access even where only reading is needed: the open is the permission test.
    do {
        m_fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0) {
        throwLastError("Cannot open for writing", path);
    }
    m_opened = currentState();
}

WritableFile::State WritableFile::currentState() const
{
    struct stat status = {};
    if (::fstat(m_fd, &status) != 0) {
        throwLastError("Cannot examine", m_path);
    }
    if (!S_ISREG(status.st_mode)) {
        throw std::runtime_error(describe("Not a regular file", m_path));
    }
    return {StampOf(status), static_cast<std::uint64_t>(status.st_nlink)};
}

std::vector<unsigned char> WritableFile::read(std::int64_t offset, std::size_t count) const
{
    std::vector<unsigned char> bytes = readExactly(m_fd, offset, count, m_path);
    m_reads.push_back({offset, count, hashOf(bytes)});
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
    if (writeAllAt(m_fd, offset, bytes, true) && flush(m_fd)) {
        return;
    }
    // Neither half a tag nor a longer file stays behind.
    const int error = errno;
    writeAllAt(m_fd, offset, overwritten, false);
    [[maybe_unused]] const int truncated = ::ftruncate(m_fd, static_cast<off_t>(length));
    ::fsync(m_fd);
    errno = error;
    throwLastError("Cannot write", m_path);
}

namespace {

// Swaps the new copy in for the original where the system can (Linux: renameat2 with
// RENAME_EXCHANGE), so that the original stays reachable under the temporary name until it is
// known to be the file opened, unchanged: an append by another program between the checks and
// the swap is then found, the two are swapped back and nothing is lost. False where the system
// cannot swap; the caller then renames after its checks, as before.
template <typename ReadAgain>
bool exchangeChecked(TemporaryFile& temporary, const std::filesystem::path& target,
                     const struct stat& original, const FileStamp& opened,
                     std::uint64_t openedLinks, int openedFd, const std::string& path,
                     ReadAgain readAgain)
{
#if defined(__linux__) && defined(RENAME_EXCHANGE)
    if (::renameat2(AT_FDCWD, temporary.path().c_str(), AT_FDCWD, target.c_str(),
                    RENAME_EXCHANGE) != 0) {
        if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP || errno == EOPNOTSUPP)
            return false; // a file system that cannot swap
        throwLastError("Cannot replace", path);
    }
    // The swap itself changes the original's change time; everything else must be as opened.
    struct stat swapped = {};
    struct stat now = {};
    bool unchanged = ::stat(temporary.path().c_str(), &swapped) == 0 &&
                     swapped.st_dev == original.st_dev && swapped.st_ino == original.st_ino &&
                     ::fstat(openedFd, &now) == 0;
    if (unchanged) {
        FileStamp current = StampOf(now);
        current.changedNs = opened.changedNs;
        unchanged = current == opened && static_cast<std::uint64_t>(now.st_nlink) == openedLinks &&
                    readAgain();
    }
    if (!unchanged) {
        if (::renameat2(AT_FDCWD, temporary.path().c_str(), AT_FDCWD, target.c_str(),
                        RENAME_EXCHANGE) != 0) {
            temporary.commit(); // the other program's file must not go with the temporary name
            throwLastError("Another program changed the file meanwhile, and it cannot be put "
                           "back from " +
                               temporary.path() + ":",
                           path);
        }
        throw std::runtime_error(
            describe("Not rewritten, as another program changed the file meanwhile", path));
    }
    // The original, now under the temporary name, goes with it.
    return true;
#else
    static_cast<void>(temporary);
    static_cast<void>(target);
    static_cast<void>(original);
    static_cast<void>(opened);
    static_cast<void>(openedLinks);
    static_cast<void>(openedFd);
    static_cast<void>(path);
    static_cast<void>(readAgain);
    return false;
#endif
}

} // namespace

void WritableFile::replaceWith(std::span<const unsigned char> bytes)
{
    if (m_opened.links > 1) {
        throw std::runtime_error(
            describe("Not rewritten, as other hard links share the contents of", m_path));
    }
    // Through a symbolic link the target is rewritten and the link stays a link.
    const std::filesystem::path target = std::filesystem::canonical(std::filesystem::path(m_path));
    struct stat original = {};
    if (::fstat(m_fd, &original) != 0) {
        throwLastError("Cannot examine", m_path);
    }

    std::string pattern = (target.parent_path() / ".tunesift-XXXXXX").string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        throwLastError("Cannot create a temporary file beside", m_path);
    }
    TemporaryFile temporary(fd, pattern);
    if (!writeAllAt(fd, 0, bytes, true)) {
        throwLastError("Cannot write the new copy of", m_path);
    }
    // Owner and group first: changing them clears the set-user-ID bits the mode then restores.
    struct stat copy = {};
    if (::fstat(fd, &copy) != 0) {
        throwLastError("Cannot examine the new copy of", m_path);
    }
    if ((copy.st_uid != original.st_uid || copy.st_gid != original.st_gid) &&
        ::fchown(fd, original.st_uid, original.st_gid) != 0) {
        throwLastError("Cannot give the new copy the owner and group of", m_path);
    }
    if (::fchmod(fd, original.st_mode & 07777) != 0) {
        throwLastError("Cannot give the new copy the permissions of", m_path);
    }
    if (!copyExtendedAttributes(m_fd, fd)) {
        throwLastError("Cannot give the new copy the extended attributes of", m_path);
    }
    if (!flush(fd)) {
        throwLastError("Cannot flush the new copy of", m_path);
    }
    if (!temporary.descriptor().close()) {
        throwLastError("Cannot close the new copy of", m_path);
    }

    failIfFaulted(WriteStep::BeforeReplace, "Cannot replace", m_path);
    // Whatever another program did since the file was opened (appended, rewrote, deleted or
    // replaced it, or linked it elsewhere) would be lost by the rename.
    struct stat named = {};
    const auto readAgain = [&](const ReadRange& range) {
        return hashOf(readExactly(m_fd, range.offset, range.count, m_path)) == range.hash;
    };
    if (currentState() != m_opened || ::stat(target.c_str(), &named) != 0 ||
        named.st_dev != original.st_dev || named.st_ino != original.st_ino ||
        !std::all_of(m_reads.begin(), m_reads.end(), readAgain)) {
        throw std::runtime_error(
            describe("Not rewritten, as another program changed the file meanwhile", m_path));
    }
    failIfFaulted(WriteStep::Rename, "Cannot replace", m_path);
    const auto readsAgain = [&] { return std::all_of(m_reads.begin(), m_reads.end(), readAgain); };
    if (!exchangeChecked(temporary, target, original, m_opened.stamp, m_opened.links, m_fd, m_path,
                         readsAgain)) {
        if (::rename(temporary.path().c_str(), target.c_str()) != 0) {
            throwLastError("Cannot replace", m_path);
        }
        temporary.commit();
    }

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
