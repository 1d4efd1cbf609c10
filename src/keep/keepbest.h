#pragma once

#include "search/resultlist.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tunesift {

// Folders whose files are treated alike (protected, preferred), known by what they are rather
// than by how they are spelt: a file is inside when its folder or a folder above it is one of
// them, reached by whatever path (a link to it, a link above it, another spelling).
class FolderSet
{
public:
    FolderSet() = default;
    explicit FolderSet(std::vector<std::string> folders);

    bool empty() const { return m_folders.empty(); }
    const std::vector<std::string>& folders() const { return m_folders; }
    // folder: a folder text as the catalogue keeps it (ending in the separator). The answer is
    // kept per folder text for the life of the set.
    bool containsFolder(std::string_view folder) const;

private:
    bool lookUp(const std::string& folder) const;

    std::vector<std::string> m_folders; // each ending in the separator
    std::unordered_set<std::string> m_identities;
    mutable std::unordered_map<std::string, bool> m_known;
};

// Whether the file of the row lies inside one of the folders.
bool RowInFolders(const ResultList& list, std::size_t position, const FolderSet& folders);

// The rules that pick the file to keep in a group, tried in the user's order.
enum class KeepRule : std::uint8_t
{
    InPreferredFolder, // inside a preferred or protected folder
    HighestBitRate,
    LongestPlayingTime,
    LargestFile,
    MostCompleteTags, // title, artist and album present
    OldestModification,
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
// The rule's name in the settings ("Preferred", "Bitrate", "Length", "Size", "Tags", "Oldest",
// "Path").
std::string_view KeepRuleName(KeepRule rule);
std::optional<KeepRule> KeepRuleFromName(std::string_view name);
// The settings' texts: the order as names joined by commas, and the names of the rules switched
// off. Unknown names are skipped; a rule the order does not name takes its default place.
std::string KeepRuleOrderText(const KeepRules& rules);
std::string KeepRulesOffText(const KeepRules& rules);
KeepRules KeepRulesFromText(std::string_view order, std::string_view off);

// What the helpers need besides the rows. Modification times and tag contents are read only for
// groups still tied when that rule's turn comes, at most once per file and all in one call per
// rule (one row stands for each file; the answer holds one value per row asked).
struct KeepInputs
{
    const ResultList* list = nullptr;
    KeepRules rules = DefaultKeepRules();
    FolderSet preferred;
    FolderSet protectedFolders;
    // Also act in groups that only name, size or title found (a guess, not a proven copy).
    bool unprovenGroups = false;
    // Nothing for a file that cannot be read, which counts as the newest.
    std::function<std::vector<std::optional<std::int64_t>>(const std::vector<std::size_t>& rows)>
        modifiedTimes;
    // How many of title, artist and album each file's tags hold.
    std::function<std::vector<int>(const std::vector<std::size_t>& rows)> tagFields;
};

// Whether the helpers may tick in the group whose rows the criterion wrote.
bool MayTickIn(Criterion criterion, const KeepInputs& inputs);

// For each group (every group, whatever its evidence), the row of the file to keep: a file
// inside a protected folder where the group has one, otherwise the best by the rules.
std::vector<std::size_t> BestRowOfEachGroup(const KeepInputs& inputs);

// Ticks for whole files, by the rows' pathId: -1 leaves a file as it is, 0 unticks, 1 ticks.
using FileTicks = std::vector<signed char>;
// The tick of every row once the file ticks are applied to the list's current ticks.
std::vector<char> RowTicks(const ResultList& list, const FileTicks& files);

struct TickOutcome
{
    FileTicks files;
    std::size_t provenGroups = 0;   // groups acted in
    std::size_t unprovenGroups = 0; // groups left alone for want of proof
};

// "Tick all but the best": in every group the helpers may act in, every file but the keeper
// is ticked. A file kept in any such group is kept everywhere; a file inside a protected folder
// is never ticked.
TickOutcome TickAllButBest(const KeepInputs& inputs);
// "Keep this one": the row's file is unticked; the other files of its group are ticked (but
// those inside protected folders). Nothing is ticked when the group may not be acted in.
TickOutcome KeepThisOne(const KeepInputs& inputs, std::size_t row);
// "Tick all in this folder": the files of the row's folder that stand in a group the helpers
// may act in; files inside protected folders are never ticked.
TickOutcome TickAllInFolder(const KeepInputs& inputs, std::size_t row);

// The groups that would lose every copy if the rows marked in `going` (one flag per row) went.
// Groups with a row not going keep a copy; the result holds group numbers, ascending.
std::vector<std::uint32_t> GroupsLosingEveryCopy(const ResultList& list,
                                                 const std::vector<char>& going);

// What the files of the given rows are: files standing in a group that proves a copy, and files
// matched only by name, size or title; and their bytes. Each file counts once.
struct GoingFiles
{
    std::size_t provenCopies = 0;
    std::size_t unproven = 0;
    std::int64_t bytes = 0;
};
GoingFiles DescribeGoingFiles(const ResultList& list, const std::vector<std::size_t>& rows);

// The numbers of the summary line under the list: the groups that still hold two files or more,
// the files standing in them (and whether some file stands in more than one), and the ticked
// files of the whole list.
struct ResultsSummary
{
    std::size_t groups = 0;
    std::size_t files = 0;
    bool fileInSeveralGroups = false;
    std::size_t tickedFiles = 0;
    std::int64_t tickedBytes = 0;
    bool operator==(const ResultsSummary&) const = default;
};
ResultsSummary SummarizeResults(const ResultList& list);

// Whether the list holds rows of a criterion that proves a copy.
bool HasProvenGroups(const ResultList& list);

} // namespace tunesift
