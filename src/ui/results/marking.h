#pragma once

#include "search/resultlist.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tunesift {

// Folders whose files are treated alike (protected, preferred). A file is inside a folder when
// its path continues the folder's path at a separator; subfolders count.
class FolderSet
{
public:
    FolderSet() = default;
    explicit FolderSet(std::vector<std::string> folders);

    bool empty() const { return m_folders.empty(); }
    // folder is a folder text as the catalogue keeps it (ending in the separator) or a path.
    bool contains(std::string_view path) const;
    const std::vector<std::string>& folders() const { return m_folders; }

private:
    std::vector<std::string> m_folders; // each ending in the separator
};

// The rules that pick the file to keep in a group, tried in the user's order.
enum class KeepRule : std::uint8_t
{
    HighestBitRate,
    LongestPlayingTime,
    LargestFile,
    NewestModification,
    InPreferredFolder,
    ShortestPath,
    Count
};

struct KeepRuleSetting
{
    KeepRule rule;
    bool enabled = true;
    bool operator==(const KeepRuleSetting&) const = default;
};
using KeepRules = std::vector<KeepRuleSetting>;

KeepRules DefaultKeepRules();
// The rule's name in the settings ("Bitrate", "Length", "Size", "Modified", "Preferred", "Path").
std::string_view KeepRuleName(KeepRule rule);
std::optional<KeepRule> KeepRuleFromName(std::string_view name);
// The settings' texts: the order as names joined by commas, and the names of the rules switched
// off. Unknown names are skipped; rules missing from the order follow at its end.
std::string KeepRuleOrderText(const KeepRules& rules);
std::string KeepRulesOffText(const KeepRules& rules);
KeepRules KeepRulesFromText(std::string_view order, std::string_view off);

// What the helpers need besides the rows. Modification times are read only for groups that are
// still tied when that rule's turn comes, at most once per file and all in one call (one row
// stands for each file; the answer holds one time per row asked, nothing for a file that cannot
// be read, which counts as the oldest).
struct MarkingInputs
{
    const ResultList* list = nullptr;
    const std::vector<std::uint32_t>* groupOfRow = nullptr;
    KeepRules rules = DefaultKeepRules();
    FolderSet preferred;
    FolderSet protectedFolders;
    std::function<std::vector<std::optional<std::int64_t>>(const std::vector<std::size_t>& rows)>
        modifiedTimes;
};

// For each group, the row of the file to keep.
std::vector<std::size_t> BestRowOfEachGroup(const MarkingInputs& inputs);

// The ticks of "tick all but the best" for every row (1 ticked, 0 not). A file that is the best
// of any group is kept everywhere; a file inside a protected folder is never ticked; every other
// file of a group is ticked in all its rows.
std::vector<char> TickAllButBest(const MarkingInputs& inputs);

// Whether the file of the row lies inside one of the folders.
bool RowInFolders(const ResultList& list, std::size_t position, const FolderSet& folders);

// The groups that would lose every copy if the rows marked in `going` (one flag per row) went.
// Groups with a row not going keep a copy; the result holds group numbers, ascending.
std::vector<std::uint32_t> GroupsLosingEveryCopy(const std::vector<std::uint32_t>& groupOfRow,
                                                 const std::vector<char>& going);

// The numbers of the summary line under the list.
struct ResultsSummary
{
    std::size_t groups = 0;
    std::size_t files = 0;
    std::size_t tickedFiles = 0;
    std::int64_t tickedBytes = 0;
    bool operator==(const ResultsSummary&) const = default;
};
ResultsSummary SummarizeResults(const ResultList& list,
                                const std::vector<std::uint32_t>& groupOfRow);

} // namespace tunesift
