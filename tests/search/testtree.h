#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tunesift::test {

// A fresh directory under the system's temporary folder, removed with everything below it when
// the object goes. Paths handed out never end in the separator.
class TempDir
{
public:
    // Memory: under /dev/shm when there is one; for tests that create tens of thousands of
    // files, which costs seconds on a disk.
    enum class Storage
    {
        Default,
        Memory
    };

    explicit TempDir(Storage storage = Storage::Default);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // path() joined with a relative path.
    std::string operator/(std::string_view relative) const;

    // Empties the directory but keeps it, so a tree can be rebuilt under the same path.
    void clear() const;

private:
    std::string m_path;
};

// What goes into a test MP3 file. Every byte follows from these fields, so two files written
// from equal values are equal in size and content.
struct Mp3Content
{
    // Second to fourth byte of an MPEG-1 Layer III frame header at offset 0 (0xFF first); none
    // writes filler only, so the file holds no valid frame.
    std::optional<std::uint32_t> frameHeaderTail = 0xFB9000; // 128 kbit/s, 44.1 kHz
    std::size_t bodyBytes = 300;                             // bytes of the frame, header included
    // The 30 raw title bytes of an ID3v1 tag appended after the body; none writes no tag.
    std::optional<std::string> rawTitle;
    std::string prefix{};  // bytes before the frame (a leading ID3v2 tag)
    std::string trailer{}; // bytes between the frame and the ID3v1 tag (other tags)
};

// 30 title bytes: the text (ISO-8859-1 bytes) padded with the given byte, cut at 30.
std::string TitleField(std::string_view latin1, char pad);

// Creates parent folders as needed; throws on failure (tests want to know at once).
void WriteMp3File(const std::string& path, const Mp3Content& content);
void WriteBytes(const std::string& path, std::string_view bytes);
// A file of the given length whose blocks are not allocated (sizes beyond 4 GiB cost nothing),
// starting with a valid frame header.
void WriteSparseMp3File(const std::string& path, std::uint64_t length);
void MakeFolder(const std::string& path);
void MakeSymlink(const std::string& target, const std::string& linkPath);
void RemovePath(const std::string& path);

} // namespace tunesift::test
