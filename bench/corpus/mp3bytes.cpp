#include "mp3bytes.h"

#include "splitmix.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tunesift::corpus {

void buildMp3(const Mp3Layout& l, std::string& head, std::string& tail)
{
    bench::Rng noise(l.noise);
    if (l.broken) {
        head.assign(static_cast<std::size_t>(l.size), '\0');
        for (char& c : head) {
            c = static_cast<char>(noise.next() & 0x7F); // never a frame sync
        }
        return;
    }
    if (l.id3v2Payload > 0) {
        head += "ID3";
        head += '\x03';
        head += '\x00';
        head += '\x00';
        for (int shift = 21; shift >= 0; shift -= 7) {
            head += static_cast<char>((l.id3v2Payload >> shift) & 0x7F); // synchsafe
        }
        // One TIT2 frame, then padding up to the declared size.
        const std::string text = std::string(1, '\0') + l.tagTitle;
        std::string frame = "TIT2";
        const auto n = static_cast<std::uint32_t>(text.size());
        frame += static_cast<char>(n >> 24);
        frame += static_cast<char>(n >> 16);
        frame += static_cast<char>(n >> 8);
        frame += static_cast<char>(n);
        frame += std::string(2, '\0');
        frame += text;
        if (frame.size() <= static_cast<std::size_t>(l.id3v2Payload)) {
            head += frame;
        }
        head.resize(10 + static_cast<std::size_t>(l.id3v2Payload), '\0');
    }
    head.append(static_cast<std::size_t>(l.junk), '\0');
    const std::size_t frameAt = head.size();
    // MPEG-1 Layer III, no CRC: sync 0xFFE, version 11, layer 01, protection 1.
    head += '\xFF';
    head += '\xFB';
    head += static_cast<char>((l.bitRateIndex << 4) | (l.sampleRateIndex << 2) |
                              (l.padding ? 0x02 : 0));
    head += static_cast<char>((l.channelMode << 6) | 0x04); // "original" bit set
    head.resize(frameAt + 36, '\0');                        // side information
    if (l.xingFrames != 0) {
        head += "Xing";
        head += std::string("\x00\x00\x00\x03", 4); // frame count and byte count present
        for (int shift = 24; shift >= 0; shift -= 8) {
            head += static_cast<char>((l.xingFrames >> shift) & 0xFF);
        }
        const auto bytes = static_cast<std::uint32_t>(l.size);
        for (int shift = 24; shift >= 0; shift -= 8) {
            head += static_cast<char>((bytes >> shift) & 0xFF);
        }
    }
    const std::size_t headSize = std::min<std::size_t>(std::max<std::size_t>(head.size(), 4096),
                                                       static_cast<std::size_t>(l.size) - 128);
    while (head.size() < headSize) {
        head += static_cast<char>(noise.next());
    }
    head.resize(headSize);

    if (l.hasTag) {
        tail = "TAG";
        auto field = [&tail](const std::string& text, std::size_t width, char pad) {
            std::string f = text.substr(0, width);
            f.resize(width, pad);
            tail += f;
        };
        field(l.tagTitle, 30, l.nulPadded ? '\0' : ' ');
        field(l.tagArtist, 30, ' ');
        field(l.tagAlbum, 30, ' ');
        field(std::to_string(l.year), 4, '\0');
        std::string comment(30, '\0');
        std::memcpy(comment.data(), "ripped", 6);
        comment[29] = static_cast<char>(l.track);
        tail += comment;
        tail += static_cast<char>(l.genre);
    } else {
        for (int i = 0; i < 128; ++i) {
            tail += static_cast<char>(noise.next() & 0x7F); // audio data, not "TAG"
        }
    }
}

WriteOutcome writeSparseFile(const std::filesystem::path& path, std::string_view head,
                             std::string_view tail, std::int64_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) {
        return WriteOutcome::Exists;
    }
    if (fd < 0) {
        std::fprintf(stderr, "make_library: cannot create %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return WriteOutcome::Failed;
    }
    bool ok = ::pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size());
    if (ok && !tail.empty()) {
        const off_t at = static_cast<off_t>(size) - static_cast<off_t>(tail.size());
        ok = ::pwrite(fd, tail.data(), tail.size(), at) == static_cast<ssize_t>(tail.size());
    }
    ok = ok && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "make_library: cannot write %s: %s\n", path.c_str(),
                     std::strerror(errno));
    }
    return ok ? WriteOutcome::Written : WriteOutcome::Failed;
}

} // namespace tunesift::corpus
