#include "search/filecache.h"

namespace tunesift {

RunFacts::RunFacts(FileCache* cache, std::size_t files) : m_cache(cache)
{
    if (m_cache)
        m_slots.resize(files);
}

template <typename Query>
FileFacts* RunFacts::lookUp(std::uint32_t id, Query query)
{
    if (!m_cache)
        return nullptr;
    Slot& slot = m_slots[id];
    if (!slot.looked) {
        slot.looked = true;
        slot.key = query();
        if (slot.key) {
            std::optional<FileFacts> found = m_cache->find(*slot.key);
            slot.hit = found.has_value();
            if (found)
                slot.facts = std::move(*found);
        }
    }
    return slot.key ? &slot.facts : nullptr;
}

FileFacts* RunFacts::of(std::uint32_t id, const std::string& path)
{
    return lookUp(id, [&] { return QueryFileStamp(path); });
}

FileFacts* RunFacts::of(std::uint32_t id, const FolderHandle& folder, std::string_view name)
{
    return lookUp(id, [&] { return QueryFileStamp(folder, name); });
}

std::optional<std::int64_t> RunFacts::knownSize(std::uint32_t id, const std::string& path)
{
    if (!of(id, path) || !m_slots[id].hit)
        return std::nullopt;
    return m_slots[id].key->size;
}

void RunFacts::storeRead()
{
    if (!m_cache)
        return;
    for (Slot& slot : m_slots) {
        if (slot.read && slot.key)
            m_cache->store(*slot.key, slot.facts);
        slot.read = false;
    }
    m_cache->flush();
}

} // namespace tunesift
