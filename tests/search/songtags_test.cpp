// The song tags a results list shows: each text from the leading ID3v2 tag where it has one, else
// from the ID3v1 tag; kept in a table of their own in the cache file, found again only for the
// file as it was.

#include "cache/sqlitecache.h"
#include "cache/sqlitesongtags.h"
#include "mp3/mp3testutil.h"
#include "search/songtagcache.h"
#include "search/testtree.h"

#include <gtest/gtest.h>

namespace tunesift::test {
namespace {

// A text frame of version 2.3 (four-letter id) or 2.2 (three letters): encoding byte, text.
std::string textFrame(std::string_view id, std::string_view text, char encoding = 0)
{
    const std::string payload = encoding + std::string(text);
    const auto size = static_cast<std::uint32_t>(payload.size());
    std::string out(id);
    if (id.size() == 3) {
        out +=
            {static_cast<char>(size >> 16), static_cast<char>(size >> 8), static_cast<char>(size)};
    } else {
        out += {static_cast<char>(size >> 24),
                static_cast<char>(size >> 16),
                static_cast<char>(size >> 8),
                static_cast<char>(size),
                0,
                0};
    }
    return out + payload;
}

std::string leadingTag(unsigned char major, const std::string& frames)
{
    const Bytes header =
        id3v2Header(static_cast<std::uint32_t>(frames.size() + 8), false, 0, major);
    return std::string(header.begin(), header.end()) + frames + std::string(8, '\0');
}

std::string trailingTag(const TagFields& fields, char filler = '\0')
{
    const Bytes tag = id3v1Tag(fields, filler);
    return std::string(tag.begin(), tag.end());
}

const std::string kAudio = std::string("\xFF\xFB\x90\x00", 4) + std::string(600, '\0');

TEST(SongTags, EachTextFromTheLeadingTagElseFromTheTrailingOne)
{
    struct Case
    {
        const char* name;
        std::string bytes;
        SongTags tags;
    };
    const TagFields old{"Old Title", "Old Band", "Old Album   ", "1999", "", 17};
    const std::string utf16Band = std::string("\xFF\xFE", 2) + std::string("B\0a\0n\0d\0", 8);
    const Case cases[] = {
        {"both tags; the leading one lacks the album and has an empty artist",
         leadingTag(3, textFrame("TIT2", "Red Song") + textFrame("TPE1", "  ")) + kAudio +
             trailingTag(old),
         {"Old Band", "Old Album", "Red Song"}},
        {"version 2.2 frame names",
         leadingTag(2, textFrame("TT2", "Tiny") + textFrame("TP1", "Duo") +
                           textFrame("TAL", "Short")) +
             kAudio,
         {"Duo", "Short", "Tiny"}},
        {"version 2.3, UTF-16 with byte-order mark",
         leadingTag(3, textFrame("TPE1", utf16Band, 1)) + kAudio + trailingTag(old),
         {"Band", "Old Album", "Old Title"}},
        {"the trailing tag alone: cut at NUL, spaces after the text gone, Latin-1",
         kAudio + trailingTag({std::string("Caf\xE9 Song\0junk", 14), "A", "", "", "", 0}, ' '),
         {"A", "", "Caf\xC3\xA9 Song"}},
        {"no tag at all", kAudio, {"", "", ""}},
        {"shorter than a trailing tag", "ID3", {"", "", ""}},
    };
    const TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / "song.mp3";
        WriteBytes(path, c.bytes);
        const std::optional<SongTags> tags = SongTagsOf(path, nullptr);
        ASSERT_TRUE(tags.has_value());
        EXPECT_EQ(tags->artist, c.tags.artist);
        EXPECT_EQ(tags->album, c.tags.album);
        EXPECT_EQ(tags->title, c.tags.title);
    }
    EXPECT_FALSE(SongTagsOf(dir / "missing.mp3", nullptr).has_value());
    EXPECT_FALSE(SongTagsOf(dir.path(), nullptr).has_value()); // a folder
}

TEST(SongTags, TheCacheGivesTagsOnlyForTheFileAsItWas)
{
    const TempDir dir;
    const std::string cacheFile = dir / "cache/files.sqlite3";
    const std::string path = dir / "song.mp3";
    WriteBytes(path, kAudio + trailingTag({"Title", "Artist", "Album", "", "", 0}));
    const FileStamp stamp = *QueryFileStamp(path);

    {
        const std::unique_ptr<SongTagCache> cache = OpenSongTagCache(cacheFile, {});
        ASSERT_TRUE(cache);
        EXPECT_EQ(SongTagsOf(path, cache.get()), (SongTags{"Artist", "Album", "Title"}));
        EXPECT_EQ(cache->find(stamp), (SongTags{"Artist", "Album", "Title"}));
        // What the cache holds for the stamp is what the file is taken to say.
        cache->store(stamp, {"Kept", "", ""});
    }
    // The facts cache lays its own table out afresh in the same file; the tags stay.
    {
        SqliteFileCache facts(cacheFile, nullptr);
        ASSERT_TRUE(facts.usable());
    }
    {
        const std::unique_ptr<SongTagCache> cache = OpenSongTagCache(cacheFile, {});
        ASSERT_TRUE(cache);
        EXPECT_EQ(SongTagsOf(path, cache.get()), (SongTags{"Kept", "", ""}));
        FileStamp changed = stamp;
        changed.modifiedNs += 1;
        EXPECT_FALSE(cache->find(changed).has_value());
    }
    // Rewritten: read again.
    WriteBytes(path, kAudio + "x" + trailingTag({"New", "", "", "", "", 0}));
    {
        const std::unique_ptr<SongTagCache> cache = OpenSongTagCache(cacheFile, {});
        EXPECT_EQ(SongTagsOf(path, cache.get()), (SongTags{"", "", "New"}));
    }
    // A file changed just before the cache opened is read but not kept.
    {
        const std::unique_ptr<SongTagCache> cache = OpenSongTagCache(cacheFile);
        WriteBytes(path, kAudio + "xy" + trailingTag({"Newer", "", "", "", "", 0}));
        EXPECT_EQ(SongTagsOf(path, cache.get()), (SongTags{"", "", "Newer"}));
        EXPECT_FALSE(cache->find(*QueryFileStamp(path)).has_value());
    }
    // A cache that cannot be opened is none: the tags are read.
    WriteBytes(dir / "blocker", "a file where the cache folder would be");
    EXPECT_FALSE(OpenSongTagCache(dir / "blocker/files.sqlite3", {}));
}

} // namespace
} // namespace tunesift::test
