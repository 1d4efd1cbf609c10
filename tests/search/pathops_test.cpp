#include "search/pathops.h"
#include "search/testtree.h"

#include <gtest/gtest.h>

namespace tunesift {
namespace {

TEST(PathOps, FileNameIsTheTextAfterTheLastSeparator)
{
    EXPECT_EQ(FileNameOfPath("/music/a b/Song.mp3"), "Song.mp3");
    EXPECT_EQ(FileNameOfPath("Song.mp3"), "Song.mp3");
    EXPECT_EQ(FileNameOfPath("/music/"), "");
    EXPECT_EQ(FileNameOfPath("/"), "");
    EXPECT_EQ(FileNameOfPath(""), "");
    EXPECT_EQ(FileNameOfPath("/music//x"), "x");
    EXPECT_EQ(FileNameOfPath("a\\b.mp3"), "a\\b.mp3"); // a backslash is part of a Linux name
}

TEST(PathOps, FolderIsTheTextUpToAndIncludingTheLastSeparator)
{
    EXPECT_EQ(FolderOfPath("/music/a b/Song.mp3"), "/music/a b/");
    EXPECT_EQ(FolderOfPath("Song.mp3"), "");
    EXPECT_EQ(FolderOfPath("/music/"), "/music/");
    EXPECT_EQ(FolderOfPath("/x"), "/");
    EXPECT_EQ(FolderOfPath(""), "");
    EXPECT_EQ(FolderOfPath("/music//x"), "/music//");
}

TEST(PathOps, FolderAndFileNameRebuildThePath)
{
    for (std::string_view path : {"/a/b/c.mp3", "c.mp3", "/a/", "", "//", "/a/b?c/\xC3\xA9.MP3"})
        EXPECT_EQ(std::string(FolderOfPath(path)) + std::string(FileNameOfPath(path)), path);
}

TEST(PathOps, IsFolderTellsFoldersFromEverythingElse)
{
    test::TempDir dir;
    test::MakeFolder(dir / "sub");
    test::WriteBytes(dir / "file.mp3", "x");
    test::MakeSymlink(dir / "sub", dir / "link-to-sub");
    test::MakeSymlink(dir / "nowhere", dir / "dangling");

    EXPECT_TRUE(IsFolder(dir.path()));
    EXPECT_TRUE(IsFolder(dir / "sub"));
    EXPECT_TRUE(IsFolder(dir / "sub/"));
    EXPECT_TRUE(IsFolder(dir / "link-to-sub"));
    EXPECT_FALSE(IsFolder(dir / "file.mp3"));
    EXPECT_FALSE(IsFolder(dir / "missing"));
    EXPECT_FALSE(IsFolder(dir / "dangling"));
    EXPECT_FALSE(IsFolder(dir / "file.mp3/x"));
    EXPECT_FALSE(IsFolder(""));
}

TEST(PathOps, FileExistsForFilesAndFoldersOnly)
{
    test::TempDir dir;
    test::WriteBytes(dir / "file.mp3", "");
    test::MakeFolder(dir / "sub");

    EXPECT_TRUE(FileExists(dir / "file.mp3"));
    EXPECT_TRUE(FileExists(dir / "sub"));
    EXPECT_FALSE(FileExists(dir / "missing.mp3"));
    EXPECT_FALSE(FileExists(dir / "file.mp3/x"));
    EXPECT_FALSE(FileExists(""));
}

} // namespace
} // namespace tunesift
