// libFuzzer target for the write path: WriteTag, RemoveTag and RemovePreHeader run on a scratch
// copy of the input while the fault hook of the file access layer fails a write, a flush or the
// rename, cuts a write short, or lets another program change the file just before the rename.
// Whatever happens, the file must afterwards be either exactly as it was (or as the other
// program left it) or exactly the expected change of the original, and no temporary file stays.
//
// Input: the file, then two bytes: the first picks the operation and the fault, the second which
// call of the step fails, the short write's length, the header test and the kept times. Coming
// last, they leave the MP3 seeds' structure alone.

#include "files/fileaccess.h"
#include "mp3/id3v1.h"
#include "mp3/mp3analysis.h"
#include "mp3/mpegheader.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using tunesift::WriteFault;
using tunesift::WriteStep;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_tagwrite: broken promise: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what)
{
    if (!condition) {
        fail(what);
    }
}

// A folder of its own, on a memory file system where there is one: every rewrite flushes.
const std::filesystem::path& scratchFolder()
{
    static const std::filesystem::path folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = tmp != nullptr                              ? tmp
                           : std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                                       : "/tmp";
        std::string pattern = base + "/tunesift-fuzz-write-XXXXXX";
        check(::mkdtemp(pattern.data()) != nullptr, "cannot create the scratch folder");
        static std::string remove;
        remove = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(remove, ignored);
        });
        return std::filesystem::path(pattern);
    }();
    return folder;
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(fd >= 0, "cannot open the scratch file");
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        check(written > 0, "cannot write the scratch file");
        done += static_cast<std::size_t>(written);
    }
    ::close(fd);
}

std::optional<Bytes> readFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    Bytes bytes;
    unsigned char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    ::close(fd);
    check(got == 0, "cannot read the scratch file");
    return bytes;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t to)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

enum Fault
{
    kNone,
    kShortThenFull,
    kFull,
    kFlush,
    kRename,
    kAppendBeforeRename,
    kDeleteBeforeRename,
    kEditBeforeRename,
    kFailBeforeRename,
    kFaultCount
};

// The MPEG audio standard's frame length, independent of the analysis's FrameLength.
std::optional<tunesift::FrameHeader> headerAt(const Bytes& bytes, std::size_t at)
{
    if (at + 4 > bytes.size() || !tunesift::IsFrameSync(bytes[at], bytes[at + 1])) {
        return std::nullopt;
    }
    return tunesift::DecodeFrameHeader(std::span<const unsigned char, 4>(bytes.data() + at, 4));
}

std::int64_t standardFrameLength(const tunesift::FrameHeader& h)
{
    const std::int64_t bits = std::int64_t{h.bitRate} * 1000;
    if (h.layer == 1) {
        return (12 * bits / h.frequency + h.padding) * 4;
    }
    return (h.layer == 3 && h.mpegVersion != 1 ? 72 : 144) * bits / h.frequency + h.padding;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    const std::uint8_t choice = data[size - 2];
    const std::uint8_t detail = data[size - 1];
    const int operation = choice % 3;
    const auto fault = static_cast<Fault>(choice / 3 % kFaultCount);
    const int failingCall = detail % 4;
    const std::size_t shortLength = detail / 4 % 16 + 1;
    const bool headerTest = (detail & 0x40) == 0;
    const bool keepTimes = (detail & 0x80) != 0;
    const Bytes original(data, data + size - 2);

    const std::string path = (scratchFolder() / "song.mp3").string();
    writeFile(path, original);
    tunesift::Mp3Analysis info;
    info.setSkipsEmbeddedID3v2(headerTest);
    info.analyse(path);
    const bool tagged = info.hasId3v1Tag();
    const std::int64_t headerOffset = info.firstFrameOffset();
    const bool appendedTag = info.hasId3v2Tag() && info.id3v2Offset() > headerOffset;
    const std::int64_t audioEnd = static_cast<std::int64_t>(original.size()) - (tagged ? 128 : 0) -
                                  (appendedTag ? info.id3v2Size() : 0);
    tunesift::ID3v1Tag tag = tagged ? tunesift::ParseID3v1Tag(std::span<const unsigned char, 128>(
                                          original.end() - 128, original.end()))
                                    : tunesift::ID3v1Tag{};
    tag.title = tunesift::PadField<30>("Fuzz");
    info.setTitle("Fuzz");

    // What the other program leaves when it acts.
    Bytes theirs = original;
    bool acted = false;
    bool faulted = false;
    int calls = 0;
    bool shortDone = false;
    tunesift::SetWriteFaultHook([&](WriteStep step) {
        const WriteStep target = fault == kShortThenFull || fault == kFull ? WriteStep::Write
                                 : fault == kFlush                         ? WriteStep::Flush
                                 : fault == kRename                        ? WriteStep::Rename
                                                    : WriteStep::BeforeReplace;
        if (fault == kNone || step != target || faulted || calls++ < failingCall) {
            return WriteFault{};
        }
        if (fault == kShortThenFull && !shortDone) {
            shortDone = true;
            --calls;
            return WriteFault{.byteLimit = shortLength};
        }
        faulted = true;
        switch (fault) {
        case kAppendBeforeRename:
            theirs.insert(theirs.end(), {'x', 'y'});
            writeFile(path, theirs);
            acted = true;
            return WriteFault{};
        case kDeleteBeforeRename:
            ::unlink(path.c_str());
            acted = true;
            return WriteFault{};
        case kEditBeforeRename:
            if (!theirs.empty()) {
                theirs[theirs.size() / 2] ^= 0x55;
                writeFile(path, theirs);
            }
            acted = true;
            return WriteFault{};
        default:
            return WriteFault{.error = fault == kFull || fault == kShortThenFull ? ENOSPC : EIO};
        }
    });

    bool result = false;
    bool threw = false;
    try {
        result = operation == 0   ? info.writeTag(keepTimes)
                 : operation == 1 ? info.removeTag(keepTimes)
                                  : info.removeBytesBeforeFirstFrame(keepTimes);
    } catch (const std::exception& error) {
        threw = true;
        check(std::string(error.what()).find(path) != std::string::npos,
              "the error names the file");
    }
    tunesift::SetWriteFaultHook({});

    const auto after = readFile(path);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(scratchFolder())) {
        ++entries;
    }
    check(entries == (after ? 1u : 0u), "no temporary file stays");

    if (faulted && fault != kEditBeforeRename) {
        check(threw, "a fault is reported");
    }
    if (acted) {
        check(threw || theirs == original, "another program's change stops the rewrite");
        if (fault == kDeleteBeforeRename) {
            check(!after, "a deleted file is not created again");
        } else {
            check(after == theirs, "another program's change is kept");
        }
        return 0;
    }
    check(after.has_value(), "the file is still there");
    if (threw || !result) {
        check(*after == original, "a failure leaves the file as it was");
        return 0;
    }
    check(!faulted, "success in spite of a fault");
    if (operation == 0) {
        const auto image = tunesift::ID3v1TagImage(tag);
        Bytes expected = slice(original, 0, original.size() - (tagged ? 128 : 0));
        expected.insert(expected.end(), image.begin(), image.end());
        check(*after == expected, "WriteTag changes only the tag");
    } else if (operation == 1) {
        check(tagged && original.size() > 128 &&
                  tunesift::IsID3v1Identifier(
                      slice(original, original.size() - 128, original.size())),
              "RemoveTag removes a tag");
        check(*after == slice(original, 0, original.size() - 128), "RemoveTag cuts 128 bytes");
    } else {
        const auto offset = static_cast<std::size_t>(headerOffset);
        check(offset > 0 && *after == slice(original, offset, original.size()),
              "RemovePreHeader cuts the bytes before the first frame");
        const auto first = headerAt(original, offset);
        check(first.has_value(), "RemovePreHeader cuts in front of a frame header");
        const std::int64_t next = headerOffset + standardFrameLength(*first);
        const auto second = headerAt(original, static_cast<std::size_t>(next));
        check(next == audioEnd ||
                  (second && second->mpegVersion == first->mpegVersion &&
                   second->layer == first->layer && second->frequency == first->frequency),
              "RemovePreHeader cuts in front of a confirmed frame only");
    }
    return 0;
}
