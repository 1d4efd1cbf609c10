#include "files/pathops.h"
#include "search/testtree.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tunesift {
namespace {

// The path with the platform's separator in place of each "/".
std::string native(std::string_view path)
{
    std::string text(path);
    std::replace(text.begin(), text.end(), '/', kPathSeparator);
    return text;
}

TEST(PathOps, FileNameIsTheTextAfterTheLastSeparator)
{
    EXPECT_EQ(FileNameOfPath(native("/music/a b/Song.mp3")), "Song.mp3");
    EXPECT_EQ(FileNameOfPath("Song.mp3"), "Song.mp3");
    EXPECT_EQ(FileNameOfPath(native("/music/")), "");
    EXPECT_EQ(FileNameOfPath(native("/")), "");
    EXPECT_EQ(FileNameOfPath(""), "");
    EXPECT_EQ(FileNameOfPath(native("/music//x")), "x");
#ifndef _WIN32
    EXPECT_EQ(FileNameOfPath("a\\b.mp3"), "a\\b.mp3"); // a backslash is part of a Linux name
#endif
}

TEST(PathOps, FolderIsTheTextUpToAndIncludingTheLastSeparator)
{
    EXPECT_EQ(FolderOfPath(native("/music/a b/Song.mp3")), native("/music/a b/"));
    EXPECT_EQ(FolderOfPath("Song.mp3"), "");
    EXPECT_EQ(FolderOfPath(native("/music/")), native("/music/"));
    EXPECT_EQ(FolderOfPath(native("/x")), native("/"));
    EXPECT_EQ(FolderOfPath(""), "");
    EXPECT_EQ(FolderOfPath(native("/music//x")), native("/music//"));
}

TEST(PathOps, FolderAndFileNameRebuildThePath)
{
    for (std::string_view path : {"/a/b/c.mp3", "c.mp3", "/a/", "", "//", "/a/b?c/\xC3\xA9.MP3"}) {
        const std::string text = native(path);
        EXPECT_EQ(std::string(FolderOfPath(text)) + std::string(FileNameOfPath(text)), text);
    }
}

TEST(PathOps, IsFolderTellsFoldersFromEverythingElse)
{
    test::TempDir dir;
    test::MakeFolder(dir / "sub");
    test::WriteBytes(dir / "file.mp3", "x");
#ifndef _WIN32 // symbolic links need privileges on Windows, and Wine makes none
    test::MakeSymlink(dir / "sub", dir / "link-to-sub");
    test::MakeSymlink(dir / "nowhere", dir / "dangling");
    EXPECT_TRUE(IsFolder(dir / "link-to-sub"));
    EXPECT_FALSE(IsFolder(dir / "dangling"));
#endif

    EXPECT_TRUE(IsFolder(dir.path()));
    EXPECT_TRUE(IsFolder(dir / "sub"));
    EXPECT_TRUE(IsFolder(dir / "sub/"));
    EXPECT_FALSE(IsFolder(dir / "file.mp3"));
    EXPECT_FALSE(IsFolder(dir / "missing"));
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
