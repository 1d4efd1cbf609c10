#include "files/fileaccess.h"
#include "search/rowtext.h"
#include "search/testtree.h"

#include <gtest/gtest.h>

namespace tunesift {
namespace {

constexpr std::int64_t kKiB = 1024;
constexpr std::int64_t kMiB = 1024 * kKiB;
constexpr std::int64_t kGiB = 1024 * kMiB;

std::string english(std::int64_t bytes)
{
    return FormatFileSize(bytes, ",", ".");
}

TEST(FormatFileSize, CountsOfOneByteOrLessHaveNoText)
{
    EXPECT_EQ(english(0), "");
    EXPECT_EQ(english(1), "");
    EXPECT_EQ(english(-1), "");
    EXPECT_EQ(english(-3 * kGiB), "");
}

TEST(FormatFileSize, BytesAndKilobytesAreWholeNumbersWithThousandsSeparators)
{
    EXPECT_EQ(english(2), "2 Bytes");
    EXPECT_EQ(english(999), "999 Bytes");
    EXPECT_EQ(english(1023), "1,023 Bytes");
    EXPECT_EQ(english(1024), "1 KB");
    EXPECT_EQ(english(1'000'000), "977 KB"); // 976.56 rounds up
    EXPECT_EQ(english(1'024'000), "1,000 KB");
    EXPECT_EQ(english(kMiB - 1), "1,024 KB");
}

TEST(FormatFileSize, MegabytesKeepTheDecimalSeparatorWithoutDecimals)
{
    EXPECT_EQ(english(kMiB), "1. MB");
    EXPECT_EQ(english(3 * kMiB), "3. MB");
    EXPECT_EQ(english(4 * kMiB + kMiB / 2), "4.5 MB");
    EXPECT_EQ(english(12'345'678), "11.77 MB");
    EXPECT_EQ(english(10'490'000), "10. MB"); // 10.004 loses its decimals
    EXPECT_EQ(english(999'999'999), "953.67 MB");
    EXPECT_EQ(english(1000 * kMiB), "1,000. MB");
    EXPECT_EQ(english(kGiB - 1), "1,024. MB");
}

TEST(FormatFileSize, GigabytesBeyondTheLow32BitsAreCarried)
{
    EXPECT_EQ(english(kGiB), "1. GB");
    EXPECT_EQ(english(1'234'567'890), "1.15 GB");
    EXPECT_EQ(english(2 * kGiB), "2. GB");
    EXPECT_EQ(english(2 * kGiB + kGiB / 2), "2.5 GB");
    EXPECT_EQ(english(4 * kGiB + 300), "4. GB");
    EXPECT_EQ(english(5120 * kGiB), "5,120. GB");
}

TEST(FormatFileSize, UsesTheSeparatorsItIsGiven)
{
    EXPECT_EQ(FormatFileSize(1023, ".", ","), "1.023 Bytes");
    EXPECT_EQ(FormatFileSize(4 * kMiB + kMiB / 2, ".", ","), "4,5 MB");
    EXPECT_EQ(FormatFileSize(1000 * kMiB + kMiB / 4, ".", ","), "1.000,25 MB");
    // Separators of more than one byte (a narrow no-break space in UTF-8).
    EXPECT_EQ(FormatFileSize(1023, "\xE2\x80\xAF", ","), "1\xE2\x80\xAF"
                                                         "023 Bytes");
    EXPECT_EQ(FormatFileSize(1023 * kMiB, "\xE2\x80\xAF", ","), "1\xE2\x80\xAF"
                                                                "023, MB");
}

TEST(FileSize, MissingAndUnopenableFilesHaveNoSize)
{
    test::TempDir dir;
    EXPECT_EQ(FileSize(dir / "missing.mp3"), std::nullopt);
    EXPECT_EQ(FileSize(""), std::nullopt);
    test::MakeFolder(dir / "folder.mp3");
    EXPECT_EQ(FileSize(dir / "folder.mp3"), std::nullopt); // only a regular file has a size
#ifndef _WIN32 // symbolic links need privileges on Windows, and Wine makes none
    test::MakeSymlink(dir / "nowhere", dir / "dangling.mp3");
    EXPECT_EQ(FileSize(dir / "dangling.mp3"), std::nullopt);
#endif
}

TEST(FileSize, ReportsTheWholeLengthOfLargeFiles)
{
    test::TempDir dir;
    test::WriteBytes(dir / "empty.mp3", "");
    test::WriteBytes(dir / "three.mp3", "abc");
    // Sizes whose low 32 bits are negative, zero or small as a signed number.
    test::WriteSparseMp3File(dir / "3gib.mp3", 3 * kGiB);
    test::WriteSparseMp3File(dir / "4gib.mp3", 4 * kGiB);
    test::WriteSparseMp3File(dir / "4gib+3.mp3", 4 * kGiB + 3);

    EXPECT_EQ(FileSize(dir / "empty.mp3"), 0);
    EXPECT_EQ(FileSize(dir / "three.mp3"), 3);
    EXPECT_EQ(FileSize(dir / "3gib.mp3"), 3 * kGiB);
    EXPECT_EQ(FileSize(dir / "4gib.mp3"), 4 * kGiB);
    EXPECT_EQ(FileSize(dir / "4gib+3.mp3"), 4 * kGiB + 3);
    EXPECT_EQ(english(FileSize(dir / "3gib.mp3").value_or(0)), "3. GB");
}

} // namespace
} // namespace tunesift
