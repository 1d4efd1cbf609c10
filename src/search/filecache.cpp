#include "search/filecache.h"

namespace tunesift {

namespace {

constexpr std::size_t kSlotsPerChunk = 4096;

} // namespace

RunFacts::RunFacts(FileCache* cache, std::size_t files) : m_cache(cache)
{
    if (m_cache) {
        m_slots = std::make_unique<Slots>();
        m_slots->of.assign(files, nullptr);
    }
}

template <typename Query>
FileFacts* RunFacts::lookUp(std::uint32_t id, Query query)
{
    if (!m_cache)
        return nullptr;
    // A file is looked up by one thread at a time; others may look up other files meanwhile.
    Slot* slot = m_slots->of[id];
    if (!slot) {
        std::optional<FileStamp> key = query();
        std::optional<FileFacts> found;
        if (key)
            found = m_cache->find(*key);
        {
            std::lock_guard lock(m_slots->mutex);
            if (m_slots->chunks.empty() || m_slots->used == kSlotsPerChunk) {
                m_slots->chunks.push_back(std::make_unique<Slot[]>(kSlotsPerChunk));
                m_slots->used = 0;
            }
            slot = &m_slots->chunks.back()[m_slots->used++];
            m_slots->of[id] = slot;
        }
        slot->key = key;
        slot->hit = found.has_value();
        if (found)
            slot->facts = std::move(*found);
    }
    return slot->key ? &slot->facts : nullptr;
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
    if (!of(id, path) || !m_slots->of[id]->hit)
        return std::nullopt;
    return m_slots->of[id]->key->size;
}

void RunFacts::storeRead()
{
    if (!m_cache)
        return;
    for (std::unique_ptr<Slot[]>& chunk : m_slots->chunks)
        for (std::size_t k = 0; k < kSlotsPerChunk; ++k) {
            Slot& slot = chunk[k];
            if (slot.read && slot.key)
                m_cache->store(*slot.key, slot.facts);
            slot.read = false;
        }
    m_cache->flush();
}

} // namespace tunesift
