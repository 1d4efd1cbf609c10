#include "ui/results/groupsort.h"

#include "search/catalogue.h"
#include "text/textcase.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <string>

namespace tunesift {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// The groups in the order of their first rows, and for each its first row and its rows' count.
struct Groups
{
    std::vector<std::uint32_t> ofRow; // per position: the group's index here
    std::vector<std::uint32_t> firstRow;
    std::vector<std::uint32_t> count;
};

Groups groupsOf(const ResultList& list, const std::vector<std::uint32_t>& bySearch)
{
    Groups groups;
    std::uint32_t largest = 0;
    for (std::size_t row = 0; row < list.size(); ++row)
        largest = std::max(largest, list.row(row).group);
    std::vector<std::uint32_t> index(list.empty() ? 0 : std::size_t{largest} + 1, kNone);
    groups.ofRow.resize(list.size());
    for (const std::uint32_t position : bySearch) {
        std::uint32_t& slot = index[list.row(position).group];
        if (slot == kNone) {
            slot = static_cast<std::uint32_t>(groups.firstRow.size());
            groups.firstRow.push_back(position);
            groups.count.push_back(0);
        }
        groups.ofRow[position] = slot;
        ++groups.count[slot];
    }
    return groups;
}

std::string textKey(const ResultList& list, std::uint32_t position, GroupSortKey key,
                    const SongTagsOfFile& tags)
{
    const ResultRow& row = list.row(position);
    if (key == GroupSortKey::Path)
        return LowerCase(list.catalogue().path(row.entry));
    if (key == GroupSortKey::Type)
        return std::string(MatchTypeWord(row.criterion));
    const SongTags* known = tags ? tags(row.pathId) : nullptr;
    if (known == nullptr)
        return {};
    return LowerCase(key == GroupSortKey::Artist  ? known->artist
                     : key == GroupSortKey::Album ? known->album
                                                  : known->title);
}

std::int64_t numberKey(const ResultList& list, const Groups& groups, std::uint32_t group,
                       GroupSortKey key)
{
    const ResultRow& row = list.row(groups.firstRow[group]);
    switch (key) {
    case GroupSortKey::Size:
        return row.size;
    case GroupSortKey::Length:
        return row.songLength;
    case GroupSortKey::BitRate:
        return row.bitRate;
    default:
        return groups.count[group];
    }
}

} // namespace

bool InSearchOrder(const ResultList& list)
{
    for (std::size_t row = 1; row < list.size(); ++row) {
        if (list.row(row - 1).written > list.row(row).written)
            return false;
    }
    return true;
}

std::vector<std::uint32_t> SearchOrder(const ResultList& list)
{
    std::vector<std::uint32_t> order(list.size());
    std::iota(order.begin(), order.end(), 0u);
    const auto written = [&list](std::uint32_t a, std::uint32_t b) {
        return list.row(a).written < list.row(b).written;
    };
    if (!std::is_sorted(order.begin(), order.end(), written))
        std::sort(order.begin(), order.end(), written);
    return order;
}

std::vector<std::uint32_t> GroupSortOrder(const ResultList& list, GroupSortKey key, bool descending,
                                          const SongTagsOfFile& tags)
{
    const std::vector<std::uint32_t> bySearch = SearchOrder(list);
    const Groups groups = groupsOf(list, bySearch);
    const std::size_t groupCount = groups.firstRow.size();

    std::vector<std::uint32_t> groupOrder(groupCount);
    std::iota(groupOrder.begin(), groupOrder.end(), 0u);
    const bool textual = key == GroupSortKey::Path || key == GroupSortKey::Type ||
                         key == GroupSortKey::Artist || key == GroupSortKey::Album ||
                         key == GroupSortKey::Title;
    if (textual) {
        std::vector<std::string> values(groupCount);
        for (std::size_t group = 0; group < groupCount; ++group)
            values[group] = textKey(list, groups.firstRow[group], key, tags);
        std::stable_sort(groupOrder.begin(), groupOrder.end(),
                         [&](std::uint32_t a, std::uint32_t b) {
                             return descending ? values[b] < values[a] : values[a] < values[b];
                         });
    } else {
        std::vector<std::int64_t> values(groupCount);
        for (std::size_t group = 0; group < groupCount; ++group)
            values[group] = numberKey(list, groups, static_cast<std::uint32_t>(group), key);
        std::stable_sort(groupOrder.begin(), groupOrder.end(),
                         [&](std::uint32_t a, std::uint32_t b) {
                             return descending ? values[b] < values[a] : values[a] < values[b];
                         });
    }

    // Each group's first place in the result, then its rows in the search's order.
    std::vector<std::uint32_t> next(groupCount);
    std::uint32_t place = 0;
    for (const std::uint32_t group : groupOrder) {
        next[group] = place;
        place += groups.count[group];
    }
    std::vector<std::uint32_t> order(list.size());
    for (const std::uint32_t position : bySearch)
        order[next[groups.ofRow[position]]++] = position;
    return order;
}

} // namespace tunesift
