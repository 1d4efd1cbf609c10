#pragma once

#include "search/denseids.h"
#include "search/stopsignal.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace tunesift {

inline constexpr std::uint32_t kNoText = std::numeric_limits<std::uint32_t>::max();

// Catalogue entries grouped by the text a criterion compares (name, size or title). Text ids
// follow the order of first appearance; the members of a text are in catalogue order.
template <typename Key>
struct TextGroups
{
    std::vector<std::uint32_t> textOf; // per entry; kNoText when the entry takes no part
    std::vector<std::uint32_t> start;  // per text, its first position in members; one sentinel
    std::vector<std::uint32_t> members;
    std::vector<Key> keys; // per text

    std::uint32_t textCount() const { return static_cast<std::uint32_t>(keys.size()); }
};

// Groups the entries 0 .. count-1 by keyOf(entry) (nothing: the entry takes no part). With a stop
// signal the grouping, which takes a second over a million entries on a busy machine, ends once
// the signal is raised, with groups of no use.
template <typename Key, typename KeyOf>
TextGroups<Key> groupEntries(std::size_t count, KeyOf keyOf, StopSignal* stop = nullptr)
{
    constexpr std::size_t kStopEvery = std::size_t{1} << 14; // entries between stop checks
    TextGroups<Key> groups;
    groups.textOf.assign(count, kNoText);
    const std::hash<Key> hasher;
    std::vector<std::uint32_t> sizes;
    {
        DenseIds ids(count / 2);
        // Each key is hashed a few entries ahead and its slot fetched meanwhile: a table of a
        // million keys is mostly out of the caches.
        constexpr std::size_t kAhead = 8;
        std::array<std::pair<std::optional<Key>, std::size_t>, kAhead> ahead;
        const auto hashAhead = [&](std::size_t entry) {
            auto& [key, hash] = ahead[entry % kAhead];
            key = keyOf(entry);
            if (key) {
                hash = hasher(*key);
                ids.prefetch(hash);
            }
        };
        for (std::size_t entry = 0; entry < std::min(kAhead, count); ++entry)
            hashAhead(entry);
        for (std::size_t entry = 0; entry < count; ++entry) {
            if (stop && entry % kStopEvery == 0 && stop->check())
                return groups;
            const std::optional<Key> key = ahead[entry % kAhead].first;
            const std::size_t hash = ahead[entry % kAhead].second;
            if (entry + kAhead < count)
                hashAhead(entry + kAhead);
            if (!key)
                continue;
            const auto [id, inserted] = ids.intern(
                hash, [&](std::uint32_t t) { return groups.keys[t] == *key; },
                [&](std::uint32_t t) { return hasher(groups.keys[t]); });
            if (inserted) {
                groups.keys.push_back(*key);
                sizes.push_back(0);
            }
            groups.textOf[entry] = id;
            ++sizes[id];
        }
    }
    groups.start.resize(sizes.size() + 1, 0);
    for (std::size_t t = 0; t < sizes.size(); ++t)
        groups.start[t + 1] = groups.start[t] + sizes[t];
    groups.members.resize(groups.start.back());
    std::vector<std::uint32_t>& cursor = sizes; // reused: the next free position of each text
    for (std::size_t t = 0; t + 1 < groups.start.size(); ++t)
        cursor[t] = groups.start[t];
    for (std::size_t entry = 0; entry < count; ++entry) {
        const std::uint32_t t = groups.textOf[entry];
        if (t != kNoText)
            groups.members[cursor[t]++] = static_cast<std::uint32_t>(entry);
    }
    return groups;
}

} // namespace tunesift
