#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tunesift {

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
    int m_fd = -1;
#endif
    std::int64_t m_size = 0;
    std::int64_t m_modifiedNs = 0;
};

// The length of a regular file; nothing on any error.
std::optional<std::int64_t> FileLength(const std::string& path) noexcept;

// The identity and state of an open file, compared before a rewrite replaces it.
struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0; // the file index on Windows
    std::uint64_t links = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0; // the status change time; 0 where not known

    bool operator==(const FileIdentity&) const = default;
};

// An existing regular file opened for reading and writing, so opening it proves the caller may
// write it. It is changed either in place (writeAt) or by a rewrite through a new file
// (replaceWith); both fail with std::system_error or std::runtime_error, naming the file, and
// leave the file as it was.
class WritableFile
{
public:
    WritableFile() = default;
    ~WritableFile();
    WritableFile(const WritableFile&) = delete;
    WritableFile& operator=(const WritableFile&) = delete;

    // Never creates a file; refuses anything but a regular file.
    void open(const std::string& path);

    const std::string& path() const noexcept { return m_path; }
    // The length when the file was opened.
    std::int64_t size() const noexcept { return m_opened.size; }

    // Exactly count bytes from the offset on.
    std::vector<unsigned char> read(std::int64_t offset, std::size_t count) const;

    // Writes the bytes at the offset, which lies within the file or at its end, and flushes them.
    // On a failure the overwritten bytes and the old length are put back.
    void writeAt(std::int64_t offset, std::span<const unsigned char> bytes);

    // Replaces the contents of the file (the target, when the path is a symbolic link) without
    // ever leaving it half written: the bytes go to a new file in the same folder, which gets the
    // file's owner, group, permissions and extended attributes, is flushed and is then renamed
    // over the original. A file with several hard links is refused, as the rename would split it
    // from its other names. The rename happens only while the path still names the file opened
    // here and that file is unchanged since it was opened; otherwise nothing is replaced.
    void replaceWith(std::span<const unsigned char> bytes);

private:
    // What read() gave out; a rewrite reads it again before the rename, as a change of the same
    // length within one tick of the file system's clock leaves the times as they were.
    struct ReadRange
    {
        std::int64_t offset = 0;
        std::size_t count = 0;
        std::size_t hash = 0;
    };

    FileIdentity currentIdentity() const;

    std::string m_path;
    mutable std::vector<ReadRange> m_reads;
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
    FileIdentity m_opened;
};

// A seam for tests of the write path: before each step that can fail, WritableFile asks the hook
// installed here, which may fail the step or cut a write short.
enum class WriteStep
{
    Write,         // one write call, in place or to the new copy
    Flush,         // flushing the written file to the disk
    BeforeReplace, // just before a rewrite checks the original and renames the new copy over it
    Rename,        // the rename itself
};

struct WriteFault
{
    int error = 0; // an errno value the step fails with; 0 lets it run
    // For Write: the call writes at most this many bytes (a short write), then the next call
    // comes.
    std::size_t byteLimit = static_cast<std::size_t>(-1);
};

using WriteFaultHook = std::function<WriteFault(WriteStep step)>;

// An empty hook removes it. Not for concurrent use: set it only while no file is written.
void SetWriteFaultHook(WriteFaultHook hook);

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
