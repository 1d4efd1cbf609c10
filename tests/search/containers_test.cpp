#include "search/catalogue.h"
#include "search/denseids.h"
#include "search/resultlist.h"

#include <gtest/gtest.h>

namespace tunesift {
namespace {

TEST(Catalogue, EntriesReferToTheFolderTheyWereAddedUnder)
{
    Catalogue catalogue;
    const auto first = catalogue.addFolder("/m/a/");
    ASSERT_TRUE(catalogue.append(first, "x.mp3"));
    ASSERT_TRUE(catalogue.append(first, "y.MP3", 42));
    const auto second = catalogue.addFolder("/m/a/b c/");
    ASSERT_TRUE(catalogue.append(second, "x.mp3", 0));

    ASSERT_EQ(catalogue.count(), 3u);
    EXPECT_EQ(catalogue.path(0), "/m/a/x.mp3");
    EXPECT_EQ(catalogue.path(1), "/m/a/y.MP3");
    EXPECT_EQ(catalogue.path(2), "/m/a/b c/x.mp3");
    EXPECT_EQ(catalogue.name(2), "x.mp3");
    EXPECT_EQ(catalogue.folder(2), "/m/a/b c/");
    EXPECT_EQ(catalogue.size(0), Catalogue::kSizeNotRead);
    EXPECT_EQ(catalogue.size(1), 42);
    EXPECT_EQ(catalogue.size(2), 0);

    catalogue.clear();
    EXPECT_EQ(catalogue.count(), 0u);
    const auto again = catalogue.addFolder("/n/");
    ASSERT_TRUE(catalogue.append(again, "z.mp3"));
    EXPECT_EQ(catalogue.path(0), "/n/z.mp3");
}

// Titles read ahead by the scans of two listed folders, each packed when its scan ends.
TEST(Catalogue, KeepsTheTitlesReadAheadOfEveryScan)
{
    Catalogue catalogue;
    const auto first = catalogue.addFolder("/a/");
    ASSERT_TRUE(catalogue.append(first, "x.mp3", 1));
    ASSERT_TRUE(catalogue.append(first, "y.mp3", 2));
    FileStamp stamp;
    stamp.size = 2;
    stamp.inode = 9;
    catalogue.reserveTitles();
    catalogue.setTitle(1, "Hey Jude", stamp, {});
    catalogue.packTitles();
    const auto second = catalogue.addFolder("/b/");
    ASSERT_TRUE(catalogue.append(second, "z.mp3", 0));
    ASSERT_TRUE(catalogue.append(second, "w.mp3", 3));
    catalogue.reserveTitles();
    catalogue.setTitle(3, "", stamp, {});
    catalogue.packTitles();

    EXPECT_FALSE(catalogue.hasTitle(0));
    ASSERT_TRUE(catalogue.hasTitle(1));
    EXPECT_EQ(catalogue.title(1), "Hey Jude");
    EXPECT_EQ(catalogue.titleStamp(1), stamp);
    EXPECT_FALSE(catalogue.hasTitle(2));
    ASSERT_TRUE(catalogue.hasTitle(3));
    EXPECT_EQ(catalogue.title(3), "");
    catalogue.dropTitles();
    EXPECT_FALSE(catalogue.hasTitle(1));
}

// The last usable slot is number 1,000,000; the one after it is refused without a trace.
TEST(Catalogue, HoldsOneMillionAndOneEntries)
{
    Catalogue catalogue;
    const auto folder = catalogue.addFolder("/f/");
    for (std::size_t k = 0; k < Catalogue::kCapacity; ++k)
        ASSERT_TRUE(catalogue.append(folder, "n.mp3", 7)) << k;
    EXPECT_TRUE(catalogue.full());
    EXPECT_FALSE(catalogue.append(folder, "over.mp3", 8));
    EXPECT_EQ(catalogue.count(), 1'000'001u);
    EXPECT_EQ(catalogue.path(1'000'000), "/f/n.mp3");
    EXPECT_EQ(catalogue.size(1'000'000), 7);
}

TEST(ResultList, HoldsOneMillionAndOneRowsWithTheirColours)
{
    Catalogue catalogue;
    const auto folder = catalogue.addFolder("/f/");
    ASSERT_TRUE(catalogue.append(folder, "n.mp3"));
    ResultList list(catalogue);
    ResultRow row;
    for (std::size_t k = 0; k < ResultList::kCapacity; ++k)
        ASSERT_TRUE(list.append(row, k % 2 ? ColorGroup::Blue : ColorGroup::LightBlue)) << k;
    EXPECT_TRUE(list.full());
    EXPECT_FALSE(list.append(row, ColorGroup::Red));
    EXPECT_EQ(list.size(), 1'000'001u);
    EXPECT_EQ(list.color(1'000'000), ColorGroup::LightBlue);
    EXPECT_EQ(list.color(999'999), ColorGroup::Blue);
    EXPECT_EQ(list.color(1'000'001), ColorGroup::None);
}

TEST(ResultList, ColumnTextsComeFromTheRowValues)
{
    Catalogue catalogue;
    const auto folder = catalogue.addFolder("/f/");
    ASSERT_TRUE(catalogue.append(folder, "a.mp3"));
    ResultList list(catalogue);
    ResultRow row;
    row.size = 4 * 1024 * 1024 + 512 * 1024;
    row.songLength = 3725;
    row.bitRate = 192;
    row.criterion = Criterion::SimilarTag;
    ASSERT_TRUE(list.append(row, ColorGroup::Purple));
    row.size = 1;
    row.songLength = 0;
    row.bitRate = 0;
    row.criterion = Criterion::SimilarFilename;
    ASSERT_TRUE(list.append(row, ColorGroup::LightGreen));

    EXPECT_EQ(list.path(0), "/f/a.mp3");
    EXPECT_EQ(list.sizeText(0, ",", "."), "4.5 MB");
    EXPECT_EQ(list.sizeText(0, ".", ","), "4,5 MB");
    EXPECT_EQ(list.lengthText(0), "1:02:05");
    EXPECT_EQ(list.bitRateText(0), "192");
    EXPECT_EQ(list.typeText(0), "Exact Tag");
    EXPECT_EQ(ColorGroupName(list.color(0)), "purple");
    EXPECT_EQ(list.sizeText(1, ",", "."), "");
    EXPECT_EQ(list.lengthText(1), "00:00");
    EXPECT_EQ(list.bitRateText(1), "0");
    EXPECT_EQ(list.typeText(1), "Close");
    EXPECT_EQ(ColorGroupName(list.color(1)), "light green");
}

// Keys that share their low bits (sizes that are all multiples of a MiB, whose standard hash is
// the size itself) must not pile up in one run of slots: every look-up stays a probe or two.
TEST(DenseIds, KeysSharingTheirLowBitsSpreadOverTheTable)
{
    constexpr std::size_t kKeys = 20'000;
    std::vector<std::uint64_t> keys;
    for (std::size_t k = 1; k <= kKeys; ++k)
        keys.push_back(k << 20);
    for (const std::size_t expected : {std::size_t{0}, kKeys}) {
        DenseIds ids(expected);
        std::size_t probes = 0;
        for (int round = 0; round < 2; ++round) {
            for (std::size_t k = 0; k < kKeys; ++k) {
                const auto [id, inserted] = ids.intern(
                    std::hash<std::uint64_t>()(keys[k]),
                    [&](std::uint32_t t) {
                        ++probes;
                        return keys[t] == keys[k];
                    },
                    [&](std::uint32_t t) { return std::hash<std::uint64_t>()(keys[t]); });
                ASSERT_EQ(id, k);
                ASSERT_EQ(inserted, round == 0);
            }
        }
        EXPECT_EQ(ids.size(), kKeys);
        EXPECT_LT(probes, 4 * kKeys) << "expected room for " << expected;
    }
}

} // namespace
} // namespace tunesift
