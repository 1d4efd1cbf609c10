#include "mp3/fileaccess.h"
#include "mp3/mp3info.h"
#include "mp3/mp3testutil.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace tunesift {
namespace {

using test::Bytes;
using test::put;

Bytes audio(std::size_t size, std::size_t headerAt = 0)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(i * 7 % 251); // no 0xFF, recognisable
    }
    put(bytes, headerAt, test::frameHeader({}));
    return bytes;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t to)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(to));
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

TEST_F(TagWritingTest, WriteTagAppendsOnceThenOverwrites)
{
    const Bytes original = audio(3000);
    const std::string path = make(original);
    clsMP3Info info;
    info.SetFileName(path);
    ASSERT_FALSE(info.ID3Present());

    info.SetTitle("First");
    EXPECT_TRUE(info.WriteTag(false));
    EXPECT_TRUE(info.ID3Present());
    EXPECT_EQ(info.FileSize(), 3000) << "writing does not analyse again";
    Bytes expected = test::concat({original, test::id3v1Tag({.title = "First"})});
    EXPECT_EQ(test::readFile(path), expected) << "untouched fields are NULs and genre 0";

    info.SetTitle("Second");
    info.SetArtist("Someone");
    info.SetYear("1984");
    info.SetGenreID(148);
    EXPECT_TRUE(info.WriteTag(false));
    expected = test::concat(
        {original,
         test::id3v1Tag({.title = "Second", .artist = "Someone", .year = "1984", .genre = 148})});
    EXPECT_EQ(test::readFile(path), expected);

    clsMP3Info reread;
    reread.SetFileName(path);
    EXPECT_EQ(reread.Title(), "Second");
    EXPECT_EQ(reread.GenreString(), "Synthpop");
}

TEST_F(TagWritingTest, TrackNumberWinsOverTheLastTwoCommentBytes)
{
    const std::string path = make(audio(1000));
    clsMP3Info info;
    info.SetFileName(path);
    info.SetComment(std::string(30, 'k'));
    info.SetTrackNum(5);
    info.WriteTag(false);
    const Bytes tag = slice(test::readFile(path), 1000, 1128);
    EXPECT_EQ(slice(tag, 97, 125), Bytes(28, 'k'));
    EXPECT_EQ(tag[125], 0);
    EXPECT_EQ(tag[126], 5);

    clsMP3Info reread;
    reread.SetFileName(path);
    EXPECT_EQ(reread.TrackNum(), 5);
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
    clsMP3Info info;
    info.SetFileName(path);
    ASSERT_TRUE(info.ID3Present());
    EXPECT_EQ(info.artist(), "Caf\xC3\xA9   " + std::string(23, ' '));
    info.SetYear("2000");
    info.WriteTag(false);

    Bytes expected = tagged;
    put(expected, 2000 + 93, Bytes{'2', '0', '0', '0'});
    EXPECT_EQ(test::readFile(path), expected);
}

TEST_F(TagWritingTest, WriteTagNeedsAnExistingFile)
{
    clsMP3Info info;
    info.SetFileName(m_dir.file("missing.mp3"));
    EXPECT_THROW(info.WriteTag(false), std::system_error);
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("missing.mp3")));

    std::filesystem::create_directory(m_dir.file("folder.mp3"));
    info.SetFileName(m_dir.file("folder.mp3"));
    EXPECT_THROW(info.WriteTag(false), std::runtime_error);
    EXPECT_FALSE(info.ID3Present());
}

TEST_F(TagWritingTest, RemoveTagCutsTheLast128BytesOnly)
{
    const Bytes original = audio(5000);
    const std::string path = make(test::concat({original, test::id3v1Tag({.title = "Gone"})}));
    clsMP3Info info;
    info.SetFileName(path);
    ASSERT_TRUE(info.ID3Present());

    EXPECT_TRUE(info.RemoveTag(false));
    EXPECT_EQ(test::readFile(path), original);
    EXPECT_FALSE(info.ID3Present());
    EXPECT_EQ(info.Title(), "Gone") << "the record keeps its contents";
    EXPECT_EQ(info.FileSize(), 5128) << "the properties still describe the old file";
    EXPECT_EQ(filesInFolder(), 1u) << "no temporary file left behind";

    EXPECT_FALSE(info.RemoveTag(false)) << "nothing left to remove";
    EXPECT_TRUE(info.WriteTag(false));
    EXPECT_EQ(test::readFile(path), test::concat({original, test::id3v1Tag({.title = "Gone"})}))
        << "the old record is appended again";
}

TEST_F(TagWritingTest, RemoveTagWithoutATagChangesNothing)
{
    const Bytes original = audio(5000);
    const std::string path = make(original);
    clsMP3Info info;
    info.SetFileName(path);
    EXPECT_FALSE(info.RemoveTag(false));
    EXPECT_EQ(test::readFile(path), original);

    clsMP3Info nothing;
    EXPECT_FALSE(nothing.RemoveTag(false));
    EXPECT_FALSE(nothing.RemovePreHeader(false));
}

TEST_F(TagWritingTest, RemoveTagLooksAgainWhenTheFileChangedLength)
{
    const Bytes original = audio(5000);
    const std::string path = make(original);
    clsMP3Info info;
    info.SetFileName(path);
    info.SetTitle("Appended");
    info.WriteTag(false); // the file grew, FileSize did not
    EXPECT_TRUE(info.RemoveTag(false));
    EXPECT_EQ(test::readFile(path), original);

    // Tag written by someone else after the analysis, then removed by them again: a new
    // analysis finds no tag and nothing is cut.
    const Bytes tagged = test::concat({original, test::id3v1Tag({})});
    test::writeFile(path, tagged);
    info.SetFileName(path);
    test::writeFile(path, test::concat({original, Bytes(200, 1)}));
    EXPECT_FALSE(info.RemoveTag(false));
    EXPECT_EQ(test::readFile(path), test::concat({original, Bytes(200, 1)}));
}

TEST_F(TagWritingTest, RemoveTagNeverCutsBytesThatAreNoLongerATag)
{
    const Bytes original = audio(5000);
    const std::string path = make(test::concat({original, test::id3v1Tag({})}));
    clsMP3Info info;
    info.SetFileName(path);
    const Bytes replaced = test::concat({original, Bytes(128, 3)}); // same length, no tag
    test::writeFile(path, replaced);
    EXPECT_FALSE(info.RemoveTag(false));
    EXPECT_EQ(test::readFile(path), replaced);
    EXPECT_FALSE(info.ID3Present());
}

TEST_F(TagWritingTest, RemovePreHeaderDropsTheLeadingTag)
{
    Bytes leading = test::id3v2Header(4086);
    leading.resize(4096, 0);
    const Bytes rest = test::concat({audio(20000), test::id3v1Tag({.title = "Stays"})});
    const std::string path = make(test::concat({leading, rest}));
    clsMP3Info info;
    info.SetFileName(path);
    ASSERT_EQ(info.HeaderOffset(), 4096);
    ASSERT_TRUE(info.ID3v2Present());

    EXPECT_TRUE(info.RemovePreHeader(false));
    EXPECT_EQ(test::readFile(path), rest);
    EXPECT_FALSE(info.ID3v2Present());
    EXPECT_EQ(info.ID3v2Offset(), 0);
    EXPECT_EQ(info.ID3v2Size(), 0);
    EXPECT_EQ(info.HeaderOffset(), 4096) << "still the old file's values";

    EXPECT_FALSE(info.RemovePreHeader(false)) << "a new analysis finds the frame at 0";
    EXPECT_EQ(test::readFile(path), rest);
}

TEST_F(TagWritingTest, RemovePreHeaderKeepsAnAppendedTagsFlags)
{
    Bytes bytes = audio(20000, 300);
    put(bytes, 20000 - 10, test::id3v2Header(30, true));
    const std::string path = make(bytes);
    clsMP3Info info;
    info.SetFileName(path);
    ASSERT_TRUE(info.ID3v2Present());
    ASSERT_EQ(info.HeaderOffset(), 300);
    EXPECT_TRUE(info.RemovePreHeader(false));
    EXPECT_EQ(test::readFile(path), slice(bytes, 300, bytes.size()));
    EXPECT_TRUE(info.ID3v2Present()) << "the appended tag was not among the removed bytes";
}

TEST_F(TagWritingTest, RemovePreHeaderAtOffsetZeroDoesNothing)
{
    const Bytes original = audio(5000);
    const std::string path = make(original);
    clsMP3Info info;
    info.SetFileName(path);
    EXPECT_FALSE(info.RemovePreHeader(false));
    EXPECT_EQ(test::readFile(path), original);
}

#ifndef _WIN32 // POSIX time stamps, permission bits, symbolic links and file-size limits
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
    clsMP3Info info;
    info.SetFileName(path);
    setTimes();
    info.WriteTag(true);
    expectTimesKept("WriteTag");
    info.RemoveTag(true);
    expectTimesKept("RemoveTag");
    info.RemovePreHeader(true);
    expectTimesKept("RemovePreHeader");

    setTimes();
    info.SetFileName(path);
    info.WriteTag(false);
    struct stat status = {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_GT(status.st_mtim.tv_sec, 978307200) << "without the flag the write time is new";
}

TEST_F(TagWritingTest, RewrittenFileKeepsItsPermissionsAndStaysBehindItsLink)
{
    const Bytes original = audio(5000);
    const std::string target = make(test::concat({original, test::id3v1Tag({})}), "target.mp3");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const std::string link = m_dir.file("link.mp3");
    std::filesystem::create_symlink(target, link);

    clsMP3Info info;
    info.SetFileName(link);
    ASSERT_TRUE(info.RemoveTag(false));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(test::readFile(target), original);
    struct stat status = {};
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
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
    Bytes leading = test::id3v2Header(990);
    leading.resize(1000, 0);
    const Bytes whole = test::concat({leading, audio(20000), test::id3v1Tag({.title = "Safe"})});
    const std::string path = make(whole);
    clsMP3Info info;
    info.SetFileName(path);
    ASSERT_TRUE(info.ID3Present());
    ASSERT_EQ(info.HeaderOffset(), 1000);
    {
        const FileSizeLimit limit(4096);
        EXPECT_THROW(info.RemoveTag(false), std::system_error);
        EXPECT_THROW(info.RemovePreHeader(false), std::system_error);
    }
    EXPECT_EQ(test::readFile(path), whole);
    EXPECT_EQ(filesInFolder(), 1u);
    EXPECT_TRUE(info.ID3Present()) << "a failed removal changes no flag";
    EXPECT_TRUE(info.ID3v2Present());

    EXPECT_TRUE(info.RemoveTag(false));
    EXPECT_EQ(test::readFile(path), slice(whole, 0, whole.size() - 128));
}

TEST_F(TagWritingTest, FolderWithoutWritePermissionIsReportedNotSwallowed)
{
    if (const char* reason = test::whyPermissionsDoNotBind()) {
        GTEST_SKIP() << reason;
    }
    const Bytes whole = test::concat({audio(5000), test::id3v1Tag({})});
    const std::string path = make(whole);
    clsMP3Info info;
    info.SetFileName(path);
    ::chmod(m_dir.path().c_str(), 0500);
    EXPECT_THROW(info.RemoveTag(false), std::system_error);
    ::chmod(m_dir.path().c_str(), 0700);
    EXPECT_EQ(test::readFile(path), whole);
}
#endif

TEST(FileAccess, ReplaceFileContentsRejectsWhatItCannotReplace)
{
    test::ScopedDir dir;
    const Bytes data{1, 2, 3};
    EXPECT_THROW(ReplaceFileContents(dir.file("missing.mp3"), data), std::system_error);
    std::filesystem::create_directory(dir.file("folder.mp3"));
    EXPECT_THROW(ReplaceFileContents(dir.file("folder.mp3"), data), std::runtime_error);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder.mp3")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.mp3")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

} // namespace
} // namespace tunesift
