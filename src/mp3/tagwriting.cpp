#include "files/fileaccess.h"
#include "mp3/mp3analysis.h"
#include "mp3/mpegheader.h"

#include <span>
#include <stdexcept>

namespace tunesift {

namespace {

constexpr std::int64_t kTagSize = static_cast<std::int64_t>(kID3v1TagSize);

std::optional<FileTimes> timesToKeep(bool keepFileTimes, const std::string& path)
{
    return keepFileTimes ? ReadFileTimes(path) : std::nullopt;
}

[[noreturn]] void throwChanged(const std::string& path)
{
    throw std::runtime_error("Not written, as another program changed the file since it was "
                             "analysed \"" +
                             path + "\"");
}

// The length of the frame as the MPEG audio standard has it. FrameLength keeps the analysis's own
// rule, which doubles MPEG-2 and 2.5 Layer III frames.
std::int64_t realFrameLength(const FrameHeader& header)
{
    const std::int64_t bits = static_cast<std::int64_t>(header.bitRate) * 1000;
    if (header.layer == 1) {
        return (12 * bits / header.frequency + header.padding) * 4;
    }
    const std::int64_t perFrame = header.layer == 3 && header.mpegVersion != 1 ? 72 : 144;
    return perFrame * bits / header.frequency + header.padding;
}

// The frame at the start of the bytes is taken for real audio only when the next frame header
// of the same version, layer and sampling rate follows it, or when it ends exactly where the
// audio ends (audioLength bytes on). A sync pattern met by chance inside other data (a
// free-format stream has no frame length the analysis could check) passes neither test.
bool isConfirmedFrame(std::span<const unsigned char> bytes, std::int64_t audioLength)
{
    if (bytes.size() < 4 || !IsFrameSync(bytes[0], bytes[1])) {
        return false;
    }
    const auto first = DecodeFrameHeader(bytes.first<4>());
    if (!first) {
        return false;
    }
    const std::int64_t length = realFrameLength(*first);
    if (length == audioLength) {
        return true;
    }
    const auto next = static_cast<std::size_t>(length);
    if (bytes.size() < next + 4 || !IsFrameSync(bytes[next], bytes[next + 1])) {
        return false;
    }
    const auto second = DecodeFrameHeader(bytes.subspan(next).first<4>());
    return second && second->mpegVersion == first->mpegVersion && second->layer == first->layer &&
           second->frequency == first->frequency;
}

} // namespace

bool Mp3Analysis::writeTag(bool keepFileTimes)
{
    if (m_fileName.empty()) {
        throw std::runtime_error("No MP3 audio found to tag in \"" + m_analysedPath + "\"");
    }
    const auto image = ID3v1TagImage(m_tag);
    const auto times = timesToKeep(keepFileTimes, m_fileName);
    WritableFile file;
    file.open(m_fileName);
    // The tag goes where the analysis (or this object's own writes since) put the end of the
    // file; a file another program has lengthened, cut or tagged since is left alone.
    const std::int64_t length = file.size();
    if (length != m_knownLength ||
        (length > kTagSize && IsID3v1Identifier(file.read(length - kTagSize, kID3v1TagSize))) !=
            m_id3Present) {
        throwChanged(m_fileName);
    }
    const std::int64_t offset = m_id3Present ? length - kTagSize : length;
    file.writeAt(offset, image);
    m_id3Present = true;
    m_knownLength = offset + kTagSize;
    if (times) {
        WriteFileTimes(m_fileName, *times);
    }
    return true;
}

bool Mp3Analysis::removeTag(bool keepFileTimes)
{
    const auto length = tunesift::FileSize(m_fileName);
    if (!length || !m_id3Present) {
        return false;
    }
    // Taken before the new analysis below reads the file and moves its access time.
    const auto times = timesToKeep(keepFileTimes, m_fileName);
    if (*length != m_fileSize) {
        analyse(std::string(m_fileName));
        if (!m_id3Present) {
            return false;
        }
    }
    if (m_fileSize - kTagSize <= 0) {
        return false;
    }
    WritableFile file;
    file.open(m_fileName);
    // Read from the descriptor the rewrite checks before it replaces the file: a file changed
    // behind our back (another length, no tag any more) is never cut.
    std::vector<unsigned char> bytes;
    if (file.size() == m_fileSize) {
        bytes = file.read(0, static_cast<std::size_t>(m_fileSize));
    }
    if (bytes.empty() || !IsID3v1Identifier(std::span(bytes).last(kID3v1TagSize))) {
        analyse(std::string(m_fileName));
        return false;
    }
    bytes.resize(bytes.size() - kID3v1TagSize);
    file.replaceWith(bytes);
    m_id3Present = false;
    m_knownLength = static_cast<std::int64_t>(bytes.size());
    if (times) {
        WriteFileTimes(m_fileName, *times);
    }
    return true;
}

bool Mp3Analysis::removeBytesBeforeFirstFrame(bool keepFileTimes)
{
    const auto length = tunesift::FileSize(m_fileName);
    if (!length || m_headerOffset == 0) {
        return false;
    }
    const auto times = timesToKeep(keepFileTimes, m_fileName);
    if (*length != m_fileSize) {
        analyse(std::string(m_fileName));
        if (m_headerOffset == 0) {
            return false;
        }
    }
    const std::int64_t kept = m_fileSize - m_headerOffset;
    if (kept <= 0) {
        return false;
    }
    WritableFile file;
    file.open(m_fileName);
    // The whole file is read, so that the rewrite notices a change of the cut part as well.
    std::vector<unsigned char> bytes;
    if (file.size() == m_fileSize) {
        bytes = file.read(0, static_cast<std::size_t>(m_fileSize));
        bytes.erase(bytes.begin(), bytes.begin() + m_headerOffset);
    }
    const bool appendedTag = m_id3v2Present && m_id3v2Offset > m_headerOffset;
    const std::int64_t audioLength =
        kept - (m_id3Present ? kTagSize : 0) - (appendedTag ? m_id3v2Size : 0);
    // Never cut a file whose first frame is no longer where it was, nor one whose first frame
    // may be a chance pattern inside the audio.
    if (!isConfirmedFrame(bytes, audioLength)) {
        analyse(std::string(m_fileName));
        return false;
    }
    file.replaceWith(bytes);
    m_knownLength = kept;
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
