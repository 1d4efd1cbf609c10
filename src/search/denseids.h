#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tunesift {

// Dense ids for distinct keys, in order of first appearance: an open-addressing table of ids
// (a slot holds id + 1, 0 is empty). The keys stay with the caller, so a million keys cost a few
// bytes each rather than a node of a standard hash map.
class DenseIds
{
public:
    explicit DenseIds(std::size_t expected)
    {
        rebuild(capacityFor(expected), [](std::uint32_t) { return std::size_t{0}; });
    }

    std::uint32_t size() const { return m_count; }

    // The id of the key with the given hash that equalTo() accepts, or the next id when there
    // is none yet. hashOf(id) gives the hash of a stored key (needed when the table grows).
    template <typename EqualTo, typename HashOf>
    std::pair<std::uint32_t, bool> intern(std::size_t hash, EqualTo equalTo, HashOf hashOf)
    {
        if ((static_cast<std::size_t>(m_count) + 1) * 2 > m_slots.size())
            rebuild(m_slots.size() * 2, hashOf);
        for (std::size_t slot = mixed(hash) & m_mask;; slot = (slot + 1) & m_mask) {
            const std::uint32_t held = m_slots[slot];
            if (held == 0) {
                m_slots[slot] = ++m_count;
                return {m_count - 1, true};
            }
            if (equalTo(held - 1))
                return {held - 1, false};
        }
    }

    // Brings the slot a key with this hash starts at into the caches ahead of its look-up.
    void prefetch(std::size_t hash) const
    {
#if defined(__GNUC__) || defined(__clang__)
        __builtin_prefetch(m_slots.data() + (mixed(hash) & m_mask));
#else
        static_cast<void>(hash);
#endif
    }

private:
    // The slot comes from the low bits, and the standard hash of an integer is the integer
    // itself: sizes that are all multiples of a MiB would share one run of slots. Every hash is
    // mixed first (the 64-bit finaliser of MurmurHash3).
    static std::size_t mixed(std::size_t hash)
    {
        std::uint64_t h = hash;
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        h *= 0xc4ceb9fe1a85ec53ULL;
        h ^= h >> 33;
        return static_cast<std::size_t>(h);
    }

    static std::size_t capacityFor(std::size_t expected)
    {
        std::size_t capacity = 16;
        while (capacity < expected * 2)
            capacity *= 2;
        return capacity;
    }

    template <typename HashOf>
    void rebuild(std::size_t capacity, HashOf hashOf)
    {
        std::vector<std::uint32_t> slots(capacity, 0);
        const std::size_t mask = capacity - 1;
        for (std::uint32_t id = 0; id < m_count; ++id) {
            std::size_t slot = mixed(hashOf(id)) & mask;
            while (slots[slot] != 0)
                slot = (slot + 1) & mask;
            slots[slot] = id + 1;
        }
        m_slots = std::move(slots);
        m_mask = mask;
    }

    std::vector<std::uint32_t> m_slots;
    std::size_t m_mask = 0;
    std::uint32_t m_count = 0;
};

} // namespace tunesift
