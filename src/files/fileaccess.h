#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tunesift {

// A file's identity and state: what tells that a file is still the one read earlier, unchanged,
// whether the facts cache or a rewrite asks. Editors may set the modification time back, but not
// the change time, and an atomic rewrite makes a new inode. Times are nanoseconds since 1970 on
// every platform.
struct FileStamp
{
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0; // the status change time; 0 where not known
    std::uint64_t device = 0;   // the volume serial number on Windows
    std::uint64_t inode = 0;    // the file index on Windows
    bool operator==(const FileStamp&) const = default;
};

// A folder held open, so that the files in it are opened and examined by name without the
// system walking the folder's path again for each of them. Where the folder cannot be held (or
// the system has no calls relative to a folder) the files are reached by the joined path.
class FolderHandle
{
public:
    // folder: the folder's text, ending in the separator. The folder is opened when a name is
    // first opened or examined relative to it, so that a handle nothing is read through costs no
    // walk of its path.
    explicit FolderHandle(std::string folder) noexcept;
#ifndef _WIN32
    // Takes over a descriptor of the folder opened already (by its listing, say).
    FolderHandle(std::string folder, int descriptor) noexcept;
#endif
    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    const std::string& path() const noexcept
    {
        return m_path;
    }
#ifndef _WIN32
    // The descriptor to open names relative to; negative when the joined path must be used.
    // A handle is used by one thread at a time.
    int descriptor() const noexcept;
#endif

private:
    std::string m_path;
#ifndef _WIN32
    mutable int m_fd = -1;
    mutable bool m_opened = false;
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
    // The file's stamp when it was opened; nothing where the platform gives none.
    const std::optional<FileStamp>& stamp() const noexcept { return m_stamp; }

    // Fills the buffer from the offset on; a count below the buffer's size means the end of the
    // file was reached. Nothing on a read error.
    std::optional<std::size_t> readAt(std::int64_t offset,
                                      std::span<unsigned char> buffer) const noexcept;

    // Tells the system that the bytes from offset on will be read once, in order, so that it
    // reads far ahead. Only advice: nothing changes where it is not taken.
    void adviseSequential(std::int64_t offset, std::int64_t length) const noexcept;

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
    std::optional<FileStamp> m_stamp;
};

// The stamp of a regular file now (links followed); nothing on any error or where the platform
// gives none.
std::optional<FileStamp> QueryFileStamp(const std::string& path) noexcept;
// The same for a name listed in a folder held open.
std::optional<FileStamp> QueryFileStamp(const FolderHandle& folder, std::string_view name) noexcept;

#ifdef _WIN32
// The path as the wide Windows functions take it: UTF-16, made absolute, with "/" turned into "\"
// and "." and ".." resolved, behind the \\?\ prefix that lifts the limit of 260 characters.
// Empty when the text is not a usable path.
std::wstring WidePath(const std::string& utf8);
// The path with links resolved, as WidePath gives it; empty when it cannot be opened.
std::wstring FinalWidePath(const std::string& utf8);
// The UTF-8 text of a wide path, with a \\?\ prefix taken off again.
std::string Utf8Path(std::wstring_view wide);
#endif

// The length of a regular file, as opening it for reading finds it: nothing when it cannot be
// opened or is no regular file.
std::optional<std::int64_t> FileSize(const std::string& path) noexcept;
// The same for a name a folder held open listed as a regular file.
std::optional<std::int64_t> FileSize(const FolderHandle& folder, std::string_view name) noexcept;

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
    std::int64_t size() const noexcept { return m_opened.stamp.size; }

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

    // The file's stamp and its count of names, compared before a rewrite replaces it.
    struct State
    {
        FileStamp stamp;
        std::uint64_t links = 0;
        bool operator==(const State&) const = default;
    };

    State currentState() const;

    std::string m_path;
    mutable std::vector<ReadRange> m_reads;
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
    State m_opened;
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
