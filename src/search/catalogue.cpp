#include "search/catalogue.h"

#include <algorithm>

namespace tunesift {

void Catalogue::clear()
{
    m_entries.clear();
    m_folders.clear();
    m_identities.clear();
    m_names.clear();
    dropTitles();
    std::vector<FileStamp>().swap(m_listedStamps);
    m_filesAreDistant = false;
}

void Catalogue::setListedStamp(std::size_t entry, const FileStamp& stamp)
{
    if (entry >= m_listedStamps.size()) {
        FileStamp none;
        none.size = kNoStamp;
        m_listedStamps.resize(m_entries.size(), none);
    }
    m_listedStamps[entry] = stamp;
}

void Catalogue::reserveTitles()
{
    m_titles.resize(m_entries.size() - m_titleStamps.size());
    m_readColumns.resize(m_entries.size());
}

void Catalogue::setTitle(std::size_t entry, std::string title, const FileStamp& stamp,
                         const RowColumns& columns)
{
    m_titles[entry - m_titleStamps.size()] = {std::move(title), stamp};
    m_readColumns[entry] = columns;
}

void Catalogue::packTitles()
{
    // A string of its own per title costs about as much again as the title.
    std::size_t bytes = m_titleText.size();
    for (const ReadTitle& read : m_titles)
        bytes += read.title.size();
    m_titleText.reserve(bytes);
    m_titleEnds.reserve(m_titleEnds.size() + m_titles.size());
    m_titleStamps.reserve(m_titleStamps.size() + m_titles.size());
    FileStamp none;
    none.size = kNoStamp;
    for (ReadTitle& read : m_titles) {
        m_titleText.append(read.title);
        m_titleEnds.push_back(m_titleText.size());
        m_titleStamps.push_back(read.stamp.value_or(none));
        std::string().swap(read.title);
    }
    std::vector<ReadTitle>().swap(m_titles);
}

void Catalogue::dropTitles()
{
    std::vector<ReadTitle>().swap(m_titles);
    std::string().swap(m_titleText);
    std::vector<std::size_t>().swap(m_titleEnds);
    std::vector<FileStamp>().swap(m_titleStamps);
    std::vector<RowColumns>().swap(m_readColumns);
}

std::uint32_t Catalogue::addFolder(std::string_view folder, std::string_view identity)
{
    m_folders.emplace_back(folder);
    m_identities.emplace_back(identity == folder ? std::string_view{} : identity);
    return static_cast<std::uint32_t>(m_folders.size() - 1);
}

void Catalogue::reserve(std::size_t entries, std::size_t nameBytes)
{
    m_entries.reserve(std::min(m_entries.size() + entries, kCapacity));
    m_names.reserve(m_names.size() + nameBytes);
}

bool Catalogue::append(std::uint32_t folder, std::string_view name, std::int64_t size)
{
    if (full())
        return false;
    Entry entry{};
    entry.nameOffset = m_names.size();
    entry.nameLength = static_cast<std::uint32_t>(name.size());
    entry.folder = folder;
    entry.size = size;
    m_names.append(name);
    m_entries.push_back(entry);
    return true;
}

std::string Catalogue::path(std::size_t entry) const
{
    const std::string_view f = folder(entry);
    const std::string_view n = name(entry);
    std::string out;
    out.reserve(f.size() + n.size());
    out.append(f);
    out.append(n);
    return out;
}

} // namespace tunesift
