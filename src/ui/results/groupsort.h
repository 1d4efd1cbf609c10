#pragma once

#include "mp3/songtags.h"
#include "search/resultlist.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace tunesift {

// What the groups of a result list can be sorted by: a column's value in the group's first row
// (in the search's order), or the number of rows in the group.
enum class GroupSortKey
{
    Path,
    Size,
    Length,
    BitRate,
    Type,
    GroupSize,
    Artist,
    Album,
    Title,
};

// A file's tags by its path id; nullptr while not known (sorted as empty texts).
using SongTagsOfFile = std::function<const SongTags*(std::uint32_t pathId)>;

// The positions of the rows in the search's order: position k of the result holds the row the
// run wrote k-th among those still on the list.
std::vector<std::uint32_t> SearchOrder(const ResultList& list);
bool InSearchOrder(const ResultList& list);

// The positions of the rows with the groups sorted by the key: each group's rows together, in the
// search's order; groups of equal value in the search's order (of their first rows), also when
// descending. Texts compare without regard to letter case.
std::vector<std::uint32_t> GroupSortOrder(const ResultList& list, GroupSortKey key, bool descending,
                                          const SongTagsOfFile& tags = {});

} // namespace tunesift
