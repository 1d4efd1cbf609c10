#include "files/fileaccess.h"
#include "mp3/mp3analysis.h"
#include "mp3/mp3testutil.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <system_error>
#include <unistd.h>

namespace tunesift {
namespace {

using test::Bytes;
using test::put;

Bytes pattern(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(i * 7 % 251); // no 0xFF, recognisable
    }
    return bytes;
}

// A frame header every 417 bytes (MPEG-1 Layer III, 128 kbit/s, 44100 Hz) from headerAt on.
Bytes audio(std::size_t size, std::size_t headerAt = 0)
{
    Bytes bytes = pattern(size);
    for (std::size_t at = headerAt; at + 4 <= size; at += 417) {
        put(bytes, at, test::frameHeader({}));
    }
    return bytes;
}

// The message of what the call throws; empty when it throws nothing.
std::string errorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

// Fails one step of the write path once; a short write first writes only a few bytes, and an
// action (another program's change) runs just before the step fails or goes on.
class InjectedFault
{
public:
    InjectedFault(WriteStep step, int error, std::size_t shortWrite = 0,
                  std::function<void()> action = {})
    {
        SetWriteFaultHook([=, shortDone = false, fired = false](WriteStep at) mutable {
            if (at != step || fired) {
                return WriteFault{};
            }
            if (shortWrite != 0 && !shortDone) {
                shortDone = true;
                return WriteFault{.byteLimit = shortWrite};
            }
            fired = true;
            if (action) {
                action();
            }
            return WriteFault{.error = error};
        });
    }
    ~InjectedFault() { SetWriteFaultHook({}); }
    InjectedFault(const InjectedFault&) = delete;
    InjectedFault& operator=(const InjectedFault&) = delete;
};

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t to)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

// A leading ID3v2 tag, frames from offset 1000 on, and an ID3v1 tag: every operation applies.
Bytes wholeSong()
{
    Bytes leading = test::id3v2Header(990);
    leading.resize(1000, 0);
    return test::concat({leading, audio(20000), test::id3v1Tag({.title = "Safe"})});
}

class TagWritingTest : public ::testing::Test
{
protected:
    std::string make(const Bytes& bytes, const std::string& name = "song.mp3")
    {
        const std::string path = m_dir.file(name);
        test::writeFile(path, bytes);
        return path;
    }

    std::size_t filesInFolder() const
    {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(m_dir.path()),
                          std::filesystem::directory_iterator()));
    }

    test::ScopedDir m_dir;
};

TEST_F(TagWritingTest, WritingATagAppendsOnceThenOverwrites)
{
    const Bytes original = audio(3000);
    const std::string path = make(original);
    Mp3Analysis info;
    info.analyse(path);
    ASSERT_FALSE(info.hasId3v1Tag());

    info.setTitle("First");
    EXPECT_TRUE(info.writeTag(false));
    EXPECT_TRUE(info.hasId3v1Tag());
    EXPECT_EQ(info.fileSize(), 3000) << "writing does not analyse again";
    Bytes expected = test::concat({original, test::id3v1Tag({.title = "First"})});
    EXPECT_EQ(test::readFile(path), expected) << "untouched fields are NULs and genre 0";

    info.setTitle("Second");
    info.setArtist("Someone");
    info.setYear("1984");
    info.setGenreId(148);
    EXPECT_TRUE(info.writeTag(false));
    expected = test::concat(
        {original,
         test::id3v1Tag({.title = "Second", .artist = "Someone", .year = "1984", .genre = 148})});
    EXPECT_EQ(test::readFile(path), expected);

    Mp3Analysis reread;
    reread.analyse(path);
    EXPECT_EQ(reread.title(), "Second");
    EXPECT_EQ(reread.genreName(), "Synthpop");
}

TEST_F(TagWritingTest, TrackNumberWinsOverTheLastTwoCommentBytes)
{
    const std::string path = make(audio(1000));
    Mp3Analysis info;
    info.analyse(path);
    info.setComment(std::string(30, 'k'));
    info.setTrackNumber(5);
    info.writeTag(false);
    const Bytes tag = slice(test::readFile(path), 1000, 1128);
    EXPECT_EQ(slice(tag, 97, 125), Bytes(28, 'k'));
    EXPECT_EQ(tag[125], 0);
    EXPECT_EQ(tag[126], 5);

    Mp3Analysis reread;
    reread.analyse(path);
    EXPECT_EQ(reread.trackNumber(), 5);
    EXPECT_EQ(reread.comment(), std::string(28, 'k'));
}

TEST_F(TagWritingTest, BytesReadFromTheFileGoBackUnchanged)
{
    std::string title;
    for (int b = 0x80; b < 0x80 + 30; ++b) {
        title.push_back(static_cast<char>(b));
    }
    const Bytes tagged = test::concat(
        {audio(2000),
         test::id3v1Tag({.title = title, .artist = "Caf\xE9", .comment = "\xA9 1999"}, ' ')});
    const std::string path = make(tagged);
    Mp3Analysis info;
    info.analyse(path);
    ASSERT_TRUE(info.hasId3v1Tag());
    EXPECT_EQ(info.artist(), "Caf\xC3\xA9   " + std::string(23, ' '));
    info.setYear("2000");
    info.writeTag(false);

    Bytes expected = tagged;
    put(expected, 2000 + 93, Bytes{'2', '0', '0', '0'});
    EXPECT_EQ(test::readFile(path), expected);
}

TEST_F(TagWritingTest, WritingATagNeedsAnExistingFile)
{
    Mp3Analysis info;
    info.analyse(m_dir.file("missing.mp3"));
    EXPECT_THROW(info.writeTag(false), std::system_error);
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("missing.mp3")));

    std::filesystem::create_directory(m_dir.file("folder.mp3"));
    info.analyse(m_dir.file("folder.mp3"));
    EXPECT_THROW(info.writeTag(false), std::runtime_error);
    EXPECT_FALSE(info.hasId3v1Tag());
}

TEST_F(TagWritingTest, RemovingTheTagCutsTheLast128BytesOnly)
{
    const Bytes original = audio(5000);
    const std::string path = make(test::concat({original, test::id3v1Tag({.title = "Gone"})}));
    Mp3Analysis info;
    info.analyse(path);
    ASSERT_TRUE(info.hasId3v1Tag());

    EXPECT_TRUE(info.removeTag(false));
    EXPECT_EQ(test::readFile(path), original);
    EXPECT_FALSE(info.hasId3v1Tag());
    EXPECT_EQ(info.title(), "Gone") << "the record keeps its contents";
    EXPECT_EQ(info.fileSize(), 5128) << "the properties still describe the old file";
    EXPECT_EQ(filesInFolder(), 1u) << "no temporary file left behind";

    EXPECT_FALSE(info.removeTag(false)) << "nothing left to remove";
    EXPECT_TRUE(info.writeTag(false));
    EXPECT_EQ(test::readFile(path), test::concat({original, test::id3v1Tag({.title = "Gone"})}))
        << "the old record is appended again";
}

TEST_F(TagWritingTest, RemovingTheTagWithoutATagChangesNothing)
{
    const Bytes original = audio(5000);
    const std::string path = make(original);
    Mp3Analysis info;
    info.analyse(path);
    EXPECT_FALSE(info.removeTag(false));
    EXPECT_EQ(test::readFile(path), original);

    Mp3Analysis nothing;
    EXPECT_FALSE(nothing.removeTag(false));
    EXPECT_FALSE(nothing.removeBytesBeforeFirstFrame(false));
}

TEST_F(TagWritingTest, RemovingTheTagLooksAgainWhenTheFileChangedLength)
{
    const Bytes original = audio(5000);
    const std::string path = make(original);
    Mp3Analysis info;
    info.analyse(path);
    info.setTitle("Appended");
    info.writeTag(false); // the file grew, FileSize did not
    EXPECT_TRUE(info.removeTag(false));
    EXPECT_EQ(test::readFile(path), original);

    // Tag written by someone else after the analysis, then removed by them again: a new
    // analysis finds no tag and nothing is cut.
    const Bytes tagged = test::concat({original, test::id3v1Tag({})});
    test::writeFile(path, tagged);
    info.analyse(path);
    test::writeFile(path, test::concat({original, Bytes(200, 1)}));
    EXPECT_FALSE(info.removeTag(false));
    EXPECT_EQ(test::readFile(path), test::concat({original, Bytes(200, 1)}));
}

TEST_F(TagWritingTest, RemovingTheTagNeverCutsBytesThatAreNoLongerATag)
{
    const Bytes original = audio(5000);
    const std::string path = make(test::concat({original, test::id3v1Tag({})}));
    Mp3Analysis info;
    info.analyse(path);
    const Bytes replaced = test::concat({original, Bytes(128, 3)}); // same length, no tag
    test::writeFile(path, replaced);
    EXPECT_FALSE(info.removeTag(false));
    EXPECT_EQ(test::readFile(path), replaced);
    EXPECT_FALSE(info.hasId3v1Tag());
}

TEST_F(TagWritingTest, RemovePreHeaderDropsTheLeadingTag)
{
    Bytes leading = test::id3v2Header(4086);
    leading.resize(4096, 0);
    const Bytes rest = test::concat({audio(20000), test::id3v1Tag({.title = "Stays"})});
    const std::string path = make(test::concat({leading, rest}));
    Mp3Analysis info;
    info.analyse(path);
    ASSERT_EQ(info.firstFrameOffset(), 4096);
    ASSERT_TRUE(info.hasId3v2Tag());

    EXPECT_TRUE(info.removeBytesBeforeFirstFrame(false));
    EXPECT_EQ(test::readFile(path), rest);
    EXPECT_FALSE(info.hasId3v2Tag());
    EXPECT_EQ(info.id3v2Offset(), 0);
    EXPECT_EQ(info.id3v2Size(), 0);
    EXPECT_EQ(info.firstFrameOffset(), 4096) << "still the old file's values";

    EXPECT_FALSE(info.removeBytesBeforeFirstFrame(false)) << "a new analysis finds the frame at 0";
    EXPECT_EQ(test::readFile(path), rest);
}

TEST_F(TagWritingTest, RemovePreHeaderKeepsAnAppendedTagsFlags)
{
    Bytes bytes = audio(20000, 300);
    put(bytes, 20000 - 10, test::id3v2Header(30, true));
    const std::string path = make(bytes);
    Mp3Analysis info;
    info.analyse(path);
    ASSERT_TRUE(info.hasId3v2Tag());
    ASSERT_EQ(info.firstFrameOffset(), 300);
    EXPECT_TRUE(info.removeBytesBeforeFirstFrame(false));
    EXPECT_EQ(test::readFile(path), slice(bytes, 300, bytes.size()));
    EXPECT_TRUE(info.hasId3v2Tag()) << "the appended tag was not among the removed bytes";
}

TEST_F(TagWritingTest, RemovePreHeaderAtOffsetZeroDoesNothing)
{
    const Bytes original = audio(5000);
    const std::string path = make(original);
    Mp3Analysis info;
    info.analyse(path);
    EXPECT_FALSE(info.removeBytesBeforeFirstFrame(false));
    EXPECT_EQ(test::readFile(path), original);
}

TEST_F(TagWritingTest, RetainDateKeepsAccessAndModificationTimes)
{
    const std::string path = make(test::concat({audio(5000, 100), test::id3v1Tag({})}));
    const auto setTimes = [&] {
        timespec times[2]{};
        times[0].tv_sec = 946684800; // 2000-01-01
        times[0].tv_nsec = 123456789;
        times[1].tv_sec = 978307200; // 2001-01-01
        times[1].tv_nsec = 987654321;
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    };
    const auto expectTimesKept = [&](const char* what) {
        struct stat status = {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_atim.tv_sec, 946684800) << what;
        EXPECT_EQ(status.st_atim.tv_nsec, 123456789) << what;
        EXPECT_EQ(status.st_mtim.tv_sec, 978307200) << what;
        EXPECT_EQ(status.st_mtim.tv_nsec, 987654321) << what;
    };
    Mp3Analysis info;
    info.analyse(path);
    setTimes();
    info.writeTag(true);
    expectTimesKept("WriteTag");
    info.removeTag(true);
    expectTimesKept("RemoveTag");
    info.removeBytesBeforeFirstFrame(true);
    expectTimesKept("RemovePreHeader");

    setTimes();
    info.analyse(path);
    info.writeTag(false);
    struct stat status = {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_GT(status.st_mtim.tv_sec, 978307200) << "without the flag the write time is new";
}

TEST_F(TagWritingTest, RewrittenFileKeepsItsOwnerPermissionsAttributesAndLink)
{
    const Bytes original = audio(5000);
    const Bytes tagged = test::concat({original, test::id3v1Tag({})});
    const std::string target = make(tagged, "target.mp3");
    ASSERT_EQ(::chown(target.c_str(), test::unprivilegedUserId(), test::unprivilegedGroupId()), 0);
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const bool attributes = ::setxattr(target.c_str(), "user.tunesift", "kept", 4, 0) == 0;
    const std::string link = m_dir.file("link.mp3");
    std::filesystem::create_symlink(target, link);

    // A second name of the same file would keep the old contents after a rename.
    const std::string second = m_dir.file("second.mp3");
    std::filesystem::create_hard_link(target, second);
    Mp3Analysis info;
    info.analyse(link);
    EXPECT_NE(errorOf([&] { info.removeTag(false); }).find(link), std::string::npos);
    EXPECT_EQ(test::readFile(target), tagged);
    std::filesystem::remove(second);

    ASSERT_TRUE(info.removeTag(false));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(test::readFile(target), original);
    struct stat status = {};
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(status.st_uid, test::unprivilegedUserId());
    EXPECT_EQ(status.st_gid, test::unprivilegedGroupId());
    if (attributes) {
        char value[8] = {};
        EXPECT_EQ(::getxattr(target.c_str(), "user.tunesift", value, sizeof value), 4);
        EXPECT_STREQ(value, "kept");
    }
}

// Writes beyond the limit fail with EFBIG, for the superuser as well: a stand-in for a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};

TEST_F(TagWritingTest, FailedRewriteLeavesTheOriginalAndNoLeftovers)
{
    const Bytes whole = wholeSong();
    const std::string path = make(whole);
    Mp3Analysis info;
    info.analyse(path);
    ASSERT_TRUE(info.hasId3v1Tag());
    ASSERT_EQ(info.firstFrameOffset(), 1000);
    {
        const FileSizeLimit limit(4096);
        EXPECT_THROW(info.removeTag(false), std::system_error);
        EXPECT_THROW(info.removeBytesBeforeFirstFrame(false), std::system_error);
    }
    EXPECT_EQ(test::readFile(path), whole);
    EXPECT_EQ(filesInFolder(), 1u);
    EXPECT_TRUE(info.hasId3v1Tag()) << "a failed removal changes no flag";
    EXPECT_TRUE(info.hasId3v2Tag());

    EXPECT_TRUE(info.removeTag(false));
    EXPECT_EQ(test::readFile(path), slice(whole, 0, whole.size() - 128));
}

TEST_F(TagWritingTest, NothingIsWrittenThatTheCallerMayNotWrite)
{
    const Bytes whole = wholeSong();
    // All in a folder the caller may write, where a rewrite could take any file over.
    const bool root = ::geteuid() == 0;
    const struct
    {
        std::string path;
        mode_t mode;
        bool ownedByCaller;
        bool writable; // WriteTag may write it in place; a rewrite still cannot keep its owner
    } files[] = {
        {make(whole, "readonly.mp3"), 0444, true, false},
        {make(whole, "others.mp3"), 0644, false, false},
        {make(whole, "shared.mp3"), 0666, false, true},
    };
    ASSERT_EQ(
        ::chown(m_dir.path().c_str(), test::unprivilegedUserId(), test::unprivilegedGroupId()), 0);
    for (const auto& file : files) {
        if (file.ownedByCaller) {
            ASSERT_EQ(
                ::chown(file.path.c_str(), test::unprivilegedUserId(), test::unprivilegedGroupId()),
                0);
        }
        ASSERT_EQ(::chmod(file.path.c_str(), file.mode), 0);
    }
    test::asUnprivilegedUser([&] {
        for (const auto& file : files) {
            if (!file.ownedByCaller && !root) {
                continue; // only the superuser can give a file to another owner
            }
            Mp3Analysis info;
            info.analyse(file.path);
            if (!file.writable) {
                EXPECT_NE(errorOf([&] { info.writeTag(false); }).find(file.path),
                          std::string::npos);
            }
            EXPECT_THROW(info.removeTag(false), std::system_error) << file.path;
            EXPECT_THROW(info.removeBytesBeforeFirstFrame(false), std::system_error) << file.path;
        }
        // A writable file in a folder that is not: the new copy cannot be made.
        ASSERT_EQ(::chmod(files[0].path.c_str(), 0644), 0);
        ASSERT_EQ(::chmod(m_dir.path().c_str(), 0500), 0);
        Mp3Analysis info;
        info.analyse(files[0].path);
        EXPECT_THROW(info.removeTag(false), std::system_error);
        ::chmod(m_dir.path().c_str(), 0700);
    });
    for (const auto& file : files) {
        EXPECT_EQ(test::readFile(file.path), whole) << file.path;
        struct stat status = {};
        ASSERT_EQ(::stat(file.path.c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, file.ownedByCaller ? test::unprivilegedUserId() : ::geteuid())
            << file.path;
    }
    EXPECT_EQ(filesInFolder(), 3u);
}

TEST_F(TagWritingTest, WritingATagLeavesAFileChangedSinceTheAnalysisAlone)
{
    const Bytes original = audio(3000);
    const Bytes tagged = test::concat({original, test::id3v1Tag({.title = "Theirs"})});
    const struct
    {
        const char* what;
        Bytes analysed;
        Bytes changed;
    } cases[] = {
        {"tag stripped (the audio's end would be overwritten)", tagged, original},
        {"tag added (a second would be appended)", original, tagged},
        {"audio appended", tagged, test::concat({tagged, Bytes(50, 9)})},
        {"tag bytes replaced, same length", tagged, test::concat({original, Bytes(128, 3)})},
    };
    for (const auto& c : cases) {
        const std::string path = make(c.analysed);
        Mp3Analysis info;
        info.analyse(path);
        test::writeFile(path, c.changed);
        info.setTitle("Mine");
        EXPECT_NE(errorOf([&] { info.writeTag(false); }).find(path), std::string::npos) << c.what;
        EXPECT_EQ(test::readFile(path), c.changed) << c.what;
    }

    // Nothing to tag: the message still names the file.
    const std::string empty = make({}, "empty.mp3");
    Mp3Analysis info;
    info.analyse(empty);
    EXPECT_NE(errorOf([&] { info.writeTag(false); }).find(empty), std::string::npos);
    EXPECT_TRUE(test::readFile(empty).empty());
}

TEST_F(TagWritingTest, FaultsOnTheWayLeaveTheFileAsItWas)
{
    const Bytes whole = wholeSong();
    const Bytes untagged(whole.begin(), whole.end() - 128);
    const struct
    {
        const char* what;
        WriteStep step;
        int error;
        std::size_t shortWrite;
    } faults[] = {
        {"short write, then a full disk", WriteStep::Write, ENOSPC, 10},
        {"full disk", WriteStep::Write, ENOSPC, 0},
        {"failing flush", WriteStep::Flush, EIO, 0},
        {"failing rename", WriteStep::Rename, EIO, 0},
    };
    using Operation = std::function<bool(Mp3Analysis&)>;
    const struct
    {
        const char* what;
        const Bytes& file;
        bool rewrites;
        Operation operation;
    } operations[] = {
        {"append", untagged, false, [](Mp3Analysis& info) { return info.writeTag(false); }},
        {"overwrite", whole, false, [](Mp3Analysis& info) { return info.writeTag(false); }},
        {"RemoveTag", whole, true, [](Mp3Analysis& info) { return info.removeTag(false); }},
        {"RemovePreHeader", whole, true,
         [](Mp3Analysis& info) { return info.removeBytesBeforeFirstFrame(false); }},
    };
    for (const auto& fault : faults) {
        for (const auto& op : operations) {
            if (fault.step == WriteStep::Rename && !op.rewrites) {
                continue;
            }
            const std::string path = make(op.file);
            Mp3Analysis info;
            info.analyse(path);
            info.setTitle("New");
            const InjectedFault injected(fault.step, fault.error, fault.shortWrite);
            const std::string error = errorOf([&] { op.operation(info); });
            EXPECT_NE(error.find(path), std::string::npos) << fault.what << ", " << op.what;
            EXPECT_EQ(test::readFile(path), op.file) << fault.what << ", " << op.what;
            EXPECT_EQ(filesInFolder(), 1u) << fault.what << ", " << op.what;
        }
    }
}

Bytes flipped(Bytes bytes, std::size_t at)
{
    bytes[at] ^= 0xFF;
    return bytes;
}

// Another program's edit in place that leaves length and modification time as they were.
void flipKeepingTimes(const std::string& path, std::size_t at)
{
    struct stat status = {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    test::writeFile(path, flipped(test::readFile(path), at));
    const timespec times[2] = {status.st_atim, status.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(TagWritingTest, RewriteKeepsWhatAnotherProgramDidMeanwhile)
{
    const Bytes whole = wholeSong();
    const Bytes theirs = audio(777);
    const std::string path = m_dir.file("song.mp3");
    const struct
    {
        const char* what;
        std::function<void()> change;
        std::optional<Bytes> after; // nothing: the file is gone
        // When: before the checks, or after them, just before the new copy takes the name.
        WriteStep at = WriteStep::BeforeReplace;
    } changes[] = {
        {"appended to",
         [&] {
             test::writeFile(path, test::concat({whole, theirs}));
         },
         test::concat({whole, theirs})},
        {"deleted", [&] { std::filesystem::remove(path); }, std::nullopt},
        {"replaced",
         [&] {
             test::writeFile(path + ".new", theirs);
             std::filesystem::rename(path + ".new", path);
         },
         theirs},
        {"linked elsewhere", [&] { std::filesystem::create_hard_link(path, path + ".2"); }, whole},
        {"rewritten in place, times put back", [&] { flipKeepingTimes(path, 5000); },
         flipped(whole, 5000)},
        {"leading tag rewritten in place", [&] { flipKeepingTimes(path, 500); },
         flipped(whole, 500)},
        {"appended to after the checks",
         [&] {
             test::writeFile(path, test::concat({whole, theirs}));
         },
         test::concat({whole, theirs}), WriteStep::Rename},
        {"replaced after the checks",
         [&] {
             test::writeFile(path + ".new", theirs);
             std::filesystem::rename(path + ".new", path);
         },
         theirs, WriteStep::Rename},
    };
    for (const bool preHeader : {false, true}) {
        for (const auto& c : changes) {
            std::filesystem::remove(path + ".2");
            make(whole);
            Mp3Analysis info;
            info.analyse(path);
            const InjectedFault injected(c.at, 0, 0, c.change);
            EXPECT_NE(errorOf([&] {
                          preHeader ? info.removeBytesBeforeFirstFrame(false)
                                    : info.removeTag(false);
                      }).find(path),
                      std::string::npos)
                << c.what;
            EXPECT_EQ(std::filesystem::exists(path), c.after.has_value()) << c.what;
            if (c.after) {
                EXPECT_EQ(test::readFile(path), *c.after) << c.what;
            }
            EXPECT_TRUE(info.hasId3v1Tag() && info.hasId3v2Tag()) << c.what;
        }
    }
}

TEST_F(TagWritingTest, RemovePreHeaderCutsOnlyInFrontOfAConfirmedFrame)
{
    // A chance Layer I sync inside a free-format stream, whose own headers (bit-rate index 0) the
    // analysis skips: 32 kbit/s at 44100 Hz gives a frame of 32 bytes.
    const auto layerOne = test::frameHeader({.layer = 3, .bitRateIndex = 1});
    const auto layerThree = test::frameHeader({});
    const auto song = [&](std::size_t size, std::initializer_list<std::size_t> layerOneAt,
                          bool tagged = false) {
        Bytes bytes = pattern(size);
        put(bytes, 0, test::frameHeader({.bitRateIndex = 0}));
        for (const std::size_t at : layerOneAt) {
            put(bytes, at, layerOne);
        }
        return tagged ? test::concat({bytes, test::id3v1Tag({})}) : bytes;
    };
    Bytes otherLayerNext = song(8000, {3397});
    put(otherLayerNext, 3429, layerThree);
    const struct
    {
        const char* what;
        Bytes file;
        bool cut;
    } cases[] = {
        {"nothing follows the frame", song(8000, {3397}), false},
        {"a header of another layer follows", otherLayerNext, false},
        {"the next header follows", song(8000, {3397, 3429}), true},
        {"the frame ends where the audio ends", song(3429, {3397}, true), true},
        {"the frame runs past the audio", song(3428, {3397}, true), false},
    };
    for (const auto& c : cases) {
        const std::string path = make(c.file);
        Mp3Analysis info;
        info.analyse(path);
        ASSERT_EQ(info.firstFrameOffset(), 3397) << c.what;
        EXPECT_EQ(info.removeBytesBeforeFirstFrame(false), c.cut) << c.what;
        EXPECT_EQ(test::readFile(path), c.cut ? slice(c.file, 3397, c.file.size()) : c.file)
            << c.what;
    }
}

TEST(FileAccess, WritableFileRejectsWhatItCannotWrite)
{
    test::ScopedDir dir;
    WritableFile file;
    EXPECT_THROW(file.open(dir.file("missing.mp3")), std::system_error);
    std::filesystem::create_directory(dir.file("folder.mp3"));
    EXPECT_THROW(file.open(dir.file("folder.mp3")), std::runtime_error);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder.mp3")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.mp3")));
}

} // namespace
} // namespace tunesift
