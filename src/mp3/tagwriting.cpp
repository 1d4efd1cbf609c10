#include "mp3/fileaccess.h"
#include "mp3/mp3info.h"
#include "mp3/mpegheader.h"

#include <span>

namespace tunesift {

namespace {

constexpr std::int64_t kTagSize = static_cast<std::int64_t>(kID3v1TagSize);

std::optional<FileTimes> timesToKeep(bool inRetainDate, const std::string& path)
{
    return inRetainDate ? ReadFileTimes(path) : std::nullopt;
}

} // namespace

bool clsMP3Info::WriteTag(bool inRetainDate)
{
    const auto image = ID3v1TagImage(m_tag);
    const auto times = timesToKeep(inRetainDate, m_fileName);
    WriteFileTail(m_fileName, m_id3Present ? kTagSize : 0, image);
    m_id3Present = true;
    if (times) {
        WriteFileTimes(m_fileName, *times);
    }
    return true;
}

bool clsMP3Info::RemoveTag(bool inRetainDate)
{
    const auto length = FileLength(m_fileName);
    if (!length || !m_id3Present) {
        return false;
    }
    // Taken before the new analysis below reads the file and moves its access time.
    const auto times = timesToKeep(inRetainDate, m_fileName);
    if (*length != m_fileSize) {
        SetFileName(std::string(m_fileName));
        if (!m_id3Present) {
            return false;
        }
    }
    if (m_fileSize - kTagSize <= 0) {
        return false;
    }
    // The tag bytes are read along with the rest so that a file changed behind our back (same
    // length, no tag any more) is never cut.
    std::vector<unsigned char> bytes =
        ReadFileRange(m_fileName, 0, static_cast<std::size_t>(m_fileSize));
    if (!IsID3v1Identifier(std::span(bytes).last(kID3v1TagSize))) {
        SetFileName(std::string(m_fileName));
        return false;
    }
    bytes.resize(bytes.size() - kID3v1TagSize);
    ReplaceFileContents(m_fileName, bytes);
    m_id3Present = false;
    if (times) {
        WriteFileTimes(m_fileName, *times);
    }
    return true;
}

bool clsMP3Info::RemovePreHeader(bool inRetainDate)
{
    const auto length = FileLength(m_fileName);
    if (!length || m_headerOffset == 0) {
        return false;
    }
    const auto times = timesToKeep(inRetainDate, m_fileName);
    if (*length != m_fileSize) {
        SetFileName(std::string(m_fileName));
        if (m_headerOffset == 0) {
            return false;
        }
    }
    const std::int64_t kept = m_fileSize - m_headerOffset;
    if (kept <= 0) {
        return false;
    }
    const std::vector<unsigned char> bytes =
        ReadFileRange(m_fileName, m_headerOffset, static_cast<std::size_t>(kept));
    // As with the tag: never cut a file whose first frame is no longer where it was.
    if (bytes.size() < 4 || !IsFrameSync(bytes[0], bytes[1]) ||
        !DecodeFrameHeader(std::span(bytes).first<4>())) {
        SetFileName(std::string(m_fileName));
        return false;
    }
    ReplaceFileContents(m_fileName, bytes);
    if (m_id3v2Present && m_id3v2Offset == 0) {
        m_id3v2Present = false;
        m_id3v2Offset = 0;
        m_id3v2Size = 0;
    }
    if (times) {
        WriteFileTimes(m_fileName, *times);
    }
    return true;
}

} // namespace tunesift
