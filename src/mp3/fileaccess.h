#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tunesift {

// A folder held open, so that the files in it are opened and examined by name without the
// system walking the folder's path again for each of them. Where the folder cannot be held (or
// the system has no calls relative to a folder) the files are reached by the joined path.
class FolderHandle
{
public:
    // folder: the folder's text, ending in the separator.
    explicit FolderHandle(std::string folder) noexcept;
    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    const std::string& path() const noexcept { return m_path; }
#ifndef _WIN32
    // The descriptor to open names relative to; negative when the joined path must be used.
    int descriptor() const noexcept
    {
        return m_fd;
    }
#endif

private:
    std::string m_path;
#ifndef _WIN32
    int m_fd = -1;
#endif
};

// A regular file opened for reading only. Opening never creates a file and never waits on a FIFO
// or device; anything that is not a regular file is refused.
class ReadOnlyFile
{
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // False when the file is missing, unreadable or not a regular file.
    bool open(const std::string& path) noexcept;
    // The same for a name the folder listed as a regular file: it is opened relative to the
    // folder without following a link put in its place, and its type is checked on the open
    // descriptor.
    bool open(const FolderHandle& folder, std::string_view name) noexcept;
    // The same for a path whose last part was listed as a regular file.
    bool openListed(const std::string& path) noexcept;
    void close() noexcept;
    bool isOpen() const noexcept;

    // The length when the file was opened.
    std::int64_t size() const noexcept { return m_size; }
    // The last-modified time when the file was opened, in nanoseconds; 0 where not known.
    std::int64_t modifiedNs() const noexcept { return m_modifiedNs; }

    // Fills the buffer from the offset on; a count below the buffer's size means the end of the
    // file was reached. Nothing on a read error.
    std::optional<std::size_t> readAt(std::int64_t offset,
                                      std::span<unsigned char> buffer) const noexcept;

    // A fixed-size record: bytes past the end of the file read as zero. False on a read error.
    bool readRecord(std::int64_t offset, std::span<unsigned char> record) const noexcept;

private:
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    // Takes an open descriptor when it is a regular file; closes it otherwise.
    bool adopt(int fd) noexcept;

    int m_fd = -1;
#endif
    std::int64_t m_size = 0;
    std::int64_t m_modifiedNs = 0;
};

// The length of a regular file; nothing on any error.
std::optional<std::int64_t> FileLength(const std::string& path) noexcept;

// Reads exactly count bytes from the offset on. Throws std::system_error when the file cannot be
// read and std::runtime_error when it is shorter than expected.
std::vector<unsigned char> ReadFileRange(const std::string& path, std::int64_t offset,
                                         std::size_t count);

// Writes the bytes into an existing regular file, starting backFromEnd bytes before its current
// end (0 appends). Never creates or truncates the file. Throws std::system_error or
// std::runtime_error.
void WriteFileTail(const std::string& path, std::int64_t backFromEnd,
                   std::span<const unsigned char> bytes);

// Replaces the contents of the file (the target, when the path is a symbolic link) without ever
// leaving it half written: the bytes go to a new file in the same folder, which is flushed and
// then renamed over the original. The permissions are carried over. On any failure the original
// is untouched, the new file is removed and std::system_error or std::runtime_error is thrown.
void ReplaceFileContents(const std::string& path, std::span<const unsigned char> bytes);

// The time stamps a rewrite must carry over: access and modification time, and on Windows the
// creation time as well (elsewhere it cannot be set).
struct FileTimes
{
#ifdef _WIN32
    std::uint64_t creation = 0;
    std::uint64_t lastAccess = 0;
    std::uint64_t lastWrite = 0;
#else
    std::int64_t accessSeconds = 0;
    long accessNanoseconds = 0;
    std::int64_t modificationSeconds = 0;
    long modificationNanoseconds = 0;
#endif
};

// Nothing when the file cannot be examined; a caller then simply does not restore the times.
std::optional<FileTimes> ReadFileTimes(const std::string& path) noexcept;

// Best effort: a failure is ignored.
void WriteFileTimes(const std::string& path, const FileTimes& times) noexcept;

} // namespace tunesift
