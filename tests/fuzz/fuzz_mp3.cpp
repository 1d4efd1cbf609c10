// libFuzzer target for the analysis and the tag read. Both take a path, so every input is
// written to one scratch file first. Beyond "no crash, no sanitizer report", it checks the
// promises callers rely on and compares the frame search with a literal one; the engine is built
// here with tiny read blocks, so short inputs already cross many block seams.

#include "mp3/id3v1.h"
#include "mp3/literalsearch.h"
#include "mp3/mp3analysis.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_mp3: broken promise: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what)
{
    if (!condition) {
        fail(what);
    }
}

std::string scratchPath()
{
    const char* folder = std::getenv("TMPDIR");
    std::string path = std::string(folder != nullptr ? folder : "/tmp") + "/tunesift-fuzz-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        fail("cannot create the scratch file");
    }
    ::close(fd);
    static std::string remove;
    remove = path;
    std::atexit([] { ::unlink(remove.c_str()); });
    return path;
}

// Overwrites, then cuts to length: truncating to zero first makes some file systems flush the
// file on every close, which slows the fuzzer down a hundredfold.
void writeScratch(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    check(fd >= 0, "cannot open the scratch file");
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        check(written > 0, "cannot write the scratch file");
        done += static_cast<std::size_t>(written);
    }
    check(::ftruncate(fd, static_cast<off_t>(size)) == 0, "cannot cut the scratch file");
    ::close(fd);
}

bool isUtf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : 0;
        if (length == 0 || i + length > text.size()) {
            return false; // only one- and two-byte forms can come from ISO-8859-1
        }
        if (length == 2 && (static_cast<unsigned char>(text[i + 1]) & 0xC0) != 0x80) {
            return false;
        }
        i += length;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = scratchPath();
    writeScratch(path, data, size);
    const auto length = static_cast<std::int64_t>(size);

    tunesift::Mp3Analysis info;
    const bool headerTest = size == 0 || (data[0] & 1) == 0;
    info.setSkipsEmbeddedID3v2(headerTest);
    info.analyse(path);

    // The block-wise search must find exactly what reading every offset on its own finds.
    const auto expected = tunesift::test::literalSearch({data, size}, headerTest);
    check(info.path().empty() == !expected.found, "found or not, as the literal search");
    check(info.firstFrameOffset() == expected.headerOffset, "header offset as the literal search");
    check(info.hasId3v2Tag() == expected.id3v2Present &&
              info.id3v2Offset() == expected.id3v2Offset && info.id3v2Size() == expected.id3v2Size,
          "ID3v2 tag as the literal search");

    if (info.path().empty()) {
        check(!info.isValidMp3() && !info.isVariableBitRate() && info.fileSize() == 0 &&
                  info.bitRate() == 0 && info.songLength() == 0 && !info.hasId3v1Tag() &&
                  !info.hasId3v2Tag(),
              "a failed search resets everything");
    } else {
        check(info.fileSize() == length, "file size");
        check(info.firstFrameOffset() >= 0 && info.firstFrameOffset() < length - 6,
              "header offset");
        check(info.sampleRate() >= 8000 && info.sampleRate() <= 48000, "sampling rate");
        check(info.layer() >= 1 && info.layer() <= 3, "layer");
        check(info.bitRate() >= 0 && info.songLength() >= 0, "negative rate or length");
        check(info.frameLength() > 0, "frame length");
        check(!info.channelMode().empty() && !info.emphasis().empty(), "mode texts");
        check(info.formattedSongLength().find(':') != std::string::npos, "time text");
    }
    for (const std::string& text : {info.title(), info.artist(), info.album(), info.comment()}) {
        check(text.size() <= 60 && isUtf8(text), "tag text");
    }
    check(info.year().size() <= 8, "year text");
    static_cast<void>(info.genreName());

    const auto title = tunesift::ReadTagTitle(path);
    const bool tagAtEnd = size >= 128 && data[size - 128] == 'T' && data[size - 127] == 'A' &&
                          data[size - 126] == 'G';
    check(title.has_value() == tagAtEnd, "tag read");
    check(!title || (title->size() <= 60 && isUtf8(*title)), "title text");
    if (size > 128 && info.fileSize() == length) {
        check(info.hasId3v1Tag() == tagAtEnd, "analysis and quick read agree on the tag");
    }

    // The setters take any UTF-8 (or not) and must keep the field widths.
    const std::string text(reinterpret_cast<const char*>(data), size);
    info.setTitle(text);
    info.setYear(text);
    check(info.title().size() <= 60 && isUtf8(info.title()), "set title");
    check(info.year().size() <= 8, "set year");
    static_cast<void>(info.genreIdOf(text));
    return 0;
}
