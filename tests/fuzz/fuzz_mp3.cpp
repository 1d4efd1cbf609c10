// libFuzzer target for the analysis and the tag read. Both take a path, so every input is
// written to one scratch file first. Beyond "no crash, no sanitizer report", it checks the
// promises callers rely on and compares the frame search with a literal one; the engine is built
// here with tiny read blocks, so short inputs already cross many block seams.

#include "mp3/id3v1.h"
#include "mp3/literalsearch.h"
#include "mp3/mp3info.h"

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

    tunesift::clsMP3Info info;
    const bool headerTest = size == 0 || (data[0] & 1) == 0;
    info.SetHeaderTest(headerTest);
    info.SetFileName(path);

    // The block-wise search must find exactly what reading every offset on its own finds.
    const auto expected = tunesift::test::literalSearch({data, size}, headerTest);
    check(info.FileName().empty() == !expected.found, "found or not, as the literal search");
    check(info.HeaderOffset() == expected.headerOffset, "header offset as the literal search");
    check(info.ID3v2Present() == expected.id3v2Present &&
              info.ID3v2Offset() == expected.id3v2Offset && info.ID3v2Size() == expected.id3v2Size,
          "ID3v2 tag as the literal search");

    if (info.FileName().empty()) {
        check(!info.ValidMP3() && !info.isVBR() && info.FileSize() == 0 && info.BitRate() == 0 &&
                  info.SongLength() == 0 && !info.ID3Present() && !info.ID3v2Present(),
              "a failed search resets everything");
    } else {
        check(info.FileSize() == length, "file size");
        check(info.HeaderOffset() >= 0 && info.HeaderOffset() < length - 6, "header offset");
        check(info.Frequency() >= 8000 && info.Frequency() <= 48000, "sampling rate");
        check(info.Layers() >= 1 && info.Layers() <= 3, "layer");
        check(info.BitRate() >= 0 && info.SongLength() >= 0, "negative rate or length");
        check(info.FrameLength() > 0, "frame length");
        check(!info.ChannelMode().empty() && !info.Emphasis().empty(), "mode texts");
        check(info.FormattedTime().find(':') != std::string::npos, "time text");
    }
    for (const std::string& text : {info.Title(), info.artist(), info.album(), info.comment()}) {
        check(text.size() <= 60 && isUtf8(text), "tag text");
    }
    check(info.year().size() <= 8, "year text");
    static_cast<void>(info.GenreString());

    const auto title = tunesift::ReadTagTitle(path);
    const bool tagAtEnd = size >= 128 && data[size - 128] == 'T' && data[size - 127] == 'A' &&
                          data[size - 126] == 'G';
    check(title.has_value() == tagAtEnd, "tag read");
    check(!title || (title->size() <= 60 && isUtf8(*title)), "title text");
    if (size > 128 && info.FileSize() == length) {
        check(info.ID3Present() == tagAtEnd, "analysis and quick read agree on the tag");
    }

    // The setters take any UTF-8 (or not) and must keep the field widths.
    const std::string text(reinterpret_cast<const char*>(data), size);
    info.SetTitle(text);
    info.SetYear(text);
    check(info.Title().size() <= 60 && isUtf8(info.Title()), "set title");
    check(info.year().size() <= 8, "set year");
    static_cast<void>(info.IDFromGenreString(text));
    return 0;
}
