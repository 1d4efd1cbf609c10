#pragma once

#include "files/fileaccess.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tunesift {

// A file's analysis as its result rows show it, besides its size.
struct RowColumns
{
    std::int64_t songLength = 0; // seconds
    std::int32_t bitRate = 0;    // kbit/s
};

// The files a run compares, in scan order. Each folder text is stored once and the entries refer
// to it; names live in one character arena, so a million entries stay small.
class Catalogue
{
public:
    static constexpr std::size_t kCapacity = 1'000'001;

    // Size states besides a real byte count.
    static constexpr std::int64_t kSizeNotRead = -1;    // Exact Filesize was not ticked
    static constexpr std::int64_t kSizeUnreadable = -2; // the file could not be opened

    void clear();

    std::size_t count() const { return m_entries.size(); }
    bool full() const { return m_entries.size() >= kCapacity; }

    // Starts a new folder (a text ending in the separator); later entries belong to it.
    // identity is equal for two folder texts exactly when they name the same folder (however
    // spelt, or reached through a link), so that one file reached under two folder texts is known
    // as one file; empty means the text itself.
    std::uint32_t addFolder(std::string_view folder, std::string_view identity = {});
    // Room for that many more entries (as far as the catalogue takes them) and name bytes.
    void reserve(std::size_t entries, std::size_t nameBytes);
    // False when the catalogue is full; nothing is stored then.
    bool append(std::uint32_t folder, std::string_view name, std::int64_t size = kSizeNotRead);

    std::string_view name(std::size_t entry) const
    {
        const Entry& e = m_entries[entry];
        return {m_names.data() + e.nameOffset, e.nameLength};
    }
    std::string_view folder(std::size_t entry) const { return m_folders[m_entries[entry].folder]; }
    std::uint32_t folderId(std::size_t entry) const { return m_entries[entry].folder; }
    std::string path(std::size_t entry) const;

    std::int64_t size(std::size_t entry) const { return m_entries[entry].size; }
    void setSize(std::size_t entry, std::int64_t size) { m_entries[entry].size = size; }

    // Titles and row columns read ahead where a file was opened anyway (for its size), with the
    // file's stamp at that moment; the run takes them, and the size, while the file is unchanged.
    // reserveTitles() makes room for the titles of the entries added since the last
    // packTitles(), so that setTitle() may run on several threads; packTitles() then moves them
    // into one arena.
    void reserveTitles();
    void setTitle(std::size_t entry, std::string title, const FileStamp& stamp,
                  const RowColumns& columns);
    void packTitles();
    bool hasTitle(std::size_t entry) const
    {
        return entry < m_titleStamps.size() && m_titleStamps[entry].size != kNoStamp;
    }
    const FileStamp& titleStamp(std::size_t entry) const { return m_titleStamps[entry]; }
    const RowColumns& readColumns(std::size_t entry) const { return m_readColumns[entry]; }
    std::string_view title(std::size_t entry) const
    {
        const std::size_t start = entry == 0 ? 0 : m_titleEnds[entry - 1];
        return std::string_view(m_titleText).substr(start, m_titleEnds[entry] - start);
    }
    void dropTitles();

    // Files on a file system reached over a network (or through a user-space file system), where
    // every request waits a round trip: what the run looked at of such a file once, the scan's
    // read or its stamp taken while the folder's listing was fresh, stands for the rest of the
    // run instead of being looked at again. Elsewhere a read made earlier in the run is checked
    // against the file as it is at the criterion's turn.
    void setFilesAreDistant(bool distant) { m_filesAreDistant = distant; }
    bool filesAreDistant() const { return m_filesAreDistant; }
    // Stamps taken while the folder's listing was fresh (only of distant files).
    void setListedStamp(std::size_t entry, const FileStamp& stamp);
    std::optional<FileStamp> listedStamp(std::size_t entry) const
    {
        if (entry >= m_listedStamps.size() || m_listedStamps[entry].size == kNoStamp)
            return std::nullopt;
        return m_listedStamps[entry];
    }

    std::size_t folderCount() const { return m_folders.size(); }
    std::string_view folderText(std::uint32_t folder) const { return m_folders[folder]; }
    std::string_view folderIdentity(std::uint32_t folder) const
    {
        return m_identities[folder].empty() ? std::string_view(m_folders[folder])
                                            : std::string_view(m_identities[folder]);
    }

private:
    struct Entry
    {
        std::uint64_t nameOffset;
        std::uint32_t nameLength;
        std::uint32_t folder;
        std::int64_t size;
    };
    std::vector<Entry> m_entries;
    std::vector<std::string> m_folders;
    std::vector<std::string> m_identities; // empty where the folder text itself
    std::string m_names;
    struct ReadTitle
    {
        std::string title;
        std::optional<FileStamp> stamp; // none: nothing read ahead
    };
    std::vector<ReadTitle> m_titles; // from entry m_titleStamps.size() on, until packed
    // Packed: the titles one after another, where each ends, and the stamps (kNoStamp as the
    // size where nothing was read ahead).
    static constexpr std::int64_t kNoStamp = -1;
    std::string m_titleText;
    std::vector<std::size_t> m_titleEnds;
    std::vector<FileStamp> m_titleStamps;
    std::vector<RowColumns> m_readColumns; // per entry, from the reserved ones on
    std::vector<FileStamp> m_listedStamps; // kNoStamp as the size where none was taken
    bool m_filesAreDistant = false;
};

} // namespace tunesift
