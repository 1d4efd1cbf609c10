#include "search/catalogue.h"

namespace tunesift {

void Catalogue::clear()
{
    m_entries.clear();
    m_folders.clear();
    m_identities.clear();
    m_names.clear();
    dropTitles();
}

void Catalogue::setTitle(std::size_t entry, std::string title, const FileStamp& stamp)
{
    m_titles[entry] = {std::move(title), stamp};
}

void Catalogue::reserveTitles()
{
    m_titles.resize(m_entries.size());
}

void Catalogue::dropTitles()
{
    std::vector<ReadTitle>().swap(m_titles);
}

std::uint32_t Catalogue::addFolder(std::string_view folder, std::string_view identity)
{
    m_folders.emplace_back(folder);
    m_identities.emplace_back(identity == folder ? std::string_view{} : identity);
    return static_cast<std::uint32_t>(m_folders.size() - 1);
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
