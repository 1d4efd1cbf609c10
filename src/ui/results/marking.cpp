#include "ui/results/marking.h"

#include "search/catalogue.h"
#include "search/pathops.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>

namespace tunesift {

namespace {

constexpr std::size_t kRuleCount = static_cast<std::size_t>(KeepRule::Count);

constexpr std::array<std::string_view, kRuleCount> kRuleNames{
    "Bitrate", "Length", "Size", "Modified", "Preferred", "Path",
};

std::uint32_t pathSlots(const ResultList& list)
{
    std::uint32_t top = 0;
    for (std::size_t row = 0; row < list.size(); ++row)
        top = std::max(top, list.row(row).pathId + 1);
    return top;
}

std::size_t codePoints(std::string_view text)
{
    std::size_t count = 0;
    for (const char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

// Compares two rows of one group under the enabled rules, in order. Per-file values that cost a
// file read or a walk over the path are fetched on first need.
class RowComparer
{
public:
    explicit RowComparer(const MarkingInputs& inputs)
        : m_in(inputs), m_list(*inputs.list), m_modified(pathSlots(*inputs.list))
    {}

    // True when row b is a better keep than row a (a strict win; ties keep a).
    bool better(std::size_t a, std::size_t b)
    {
        const ResultRow& ra = m_list.row(a);
        const ResultRow& rb = m_list.row(b);
        for (const KeepRuleSetting& setting : m_in.rules) {
            if (!setting.enabled)
                continue;
            int order = 0; // > 0 when b wins
            switch (setting.rule) {
            case KeepRule::HighestBitRate:
                order = compare(rb.bitRate, ra.bitRate);
                break;
            case KeepRule::LongestPlayingTime:
                order = compare(rb.songLength, ra.songLength);
                break;
            case KeepRule::LargestFile:
                order = compare(rb.size, ra.size);
                break;
            case KeepRule::NewestModification:
                order = compare(modified(b), modified(a));
                break;
            case KeepRule::InPreferredFolder:
                order = compare(RowInFolders(m_list, b, m_in.preferred),
                                RowInFolders(m_list, a, m_in.preferred));
                break;
            case KeepRule::ShortestPath:
                order = compare(pathLength(a), pathLength(b));
                break;
            case KeepRule::Count:
                break;
            }
            if (order != 0)
                return order > 0;
        }
        return false;
    }

private:
    template <typename T>
    static int compare(const T& x, const T& y)
    {
        return x < y ? -1 : (y < x ? 1 : 0);
    }

    std::int64_t modified(std::size_t row)
    {
        std::optional<std::int64_t>& slot = m_modified[m_list.row(row).pathId];
        if (!slot) {
            std::optional<std::int64_t> read;
            if (m_in.modifiedTime)
                read = m_in.modifiedTime(row);
            slot = read.value_or(std::numeric_limits<std::int64_t>::min());
        }
        return *slot;
    }

    std::size_t pathLength(std::size_t row) const
    {
        const Catalogue& catalogue = m_list.catalogue();
        const std::uint32_t entry = m_list.row(row).entry;
        return codePoints(catalogue.folder(entry)) + codePoints(catalogue.name(entry));
    }

    const MarkingInputs& m_in;
    const ResultList& m_list;
    std::vector<std::optional<std::int64_t>> m_modified;
};

} // namespace

std::vector<std::uint32_t> GroupRowsByShade(const ResultList& list)
{
    std::vector<std::uint32_t> groups(list.size());
    std::uint32_t group = 0;
    for (std::size_t row = 1; row < list.size(); ++row) {
        if (list.color(row) != list.color(row - 1) || list.typeText(row) != list.typeText(row - 1))
            ++group;
        groups[row] = group;
    }
    return groups;
}

FolderSet::FolderSet(std::vector<std::string> folders)
{
    for (std::string& folder : folders) {
        if (folder.empty())
            continue;
        if (!folder.ends_with(kPathSeparator))
            folder += kPathSeparator;
        m_folders.push_back(std::move(folder));
    }
}

bool FolderSet::contains(std::string_view path) const
{
    // Files on Windows are found whatever the letter case; there a folder matches likewise.
    for (const std::string& folder : m_folders) {
        if (path.size() < folder.size())
            continue;
#ifdef _WIN32
        const auto lower = [](char c) {
            return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        };
        if (std::equal(folder.begin(), folder.end(), path.begin(),
                       [&](char x, char y) { return lower(x) == lower(y); }))
            return true;
#else
        if (path.starts_with(folder))
            return true;
#endif
    }
    return false;
}

KeepRules DefaultKeepRules()
{
    KeepRules rules;
    for (std::size_t k = 0; k < kRuleCount; ++k)
        rules.push_back({static_cast<KeepRule>(k), true});
    return rules;
}

std::string_view KeepRuleName(KeepRule rule)
{
    const auto index = static_cast<std::size_t>(rule);
    return index < kRuleCount ? kRuleNames[index] : std::string_view{};
}

std::optional<KeepRule> KeepRuleFromName(std::string_view name)
{
    for (std::size_t k = 0; k < kRuleCount; ++k) {
        if (kRuleNames[k] == name)
            return static_cast<KeepRule>(k);
    }
    return std::nullopt;
}

namespace {

template <typename Visit>
void splitNames(std::string_view text, Visit visit)
{
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::string_view name = text.substr(0, comma);
        while (!name.empty() && name.front() == ' ')
            name.remove_prefix(1);
        while (!name.empty() && name.back() == ' ')
            name.remove_suffix(1);
        if (const auto rule = KeepRuleFromName(name))
            visit(*rule);
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
}

std::string joinNames(const KeepRules& rules, bool onlyOff)
{
    std::string text;
    for (const KeepRuleSetting& setting : rules) {
        if (onlyOff && setting.enabled)
            continue;
        if (!text.empty())
            text += ',';
        text += KeepRuleName(setting.rule);
    }
    return text;
}

} // namespace

std::string KeepRuleOrderText(const KeepRules& rules)
{
    return joinNames(rules, false);
}

std::string KeepRulesOffText(const KeepRules& rules)
{
    return joinNames(rules, true);
}

KeepRules KeepRulesFromText(std::string_view order, std::string_view off)
{
    KeepRules rules;
    std::array<bool, kRuleCount> seen{};
    splitNames(order, [&](KeepRule rule) {
        if (!seen[static_cast<std::size_t>(rule)]) {
            seen[static_cast<std::size_t>(rule)] = true;
            rules.push_back({rule, true});
        }
    });
    // A rule the stored order does not name (one added since) follows the others.
    for (std::size_t k = 0; k < kRuleCount; ++k) {
        if (!seen[k])
            rules.push_back({static_cast<KeepRule>(k), true});
    }
    splitNames(off, [&](KeepRule rule) {
        for (KeepRuleSetting& setting : rules) {
            if (setting.rule == rule)
                setting.enabled = false;
        }
    });
    return rules;
}

bool RowInFolders(const ResultList& list, std::size_t position, const FolderSet& folders)
{
    return !folders.empty() && folders.contains(list.catalogue().folder(list.row(position).entry));
}

std::vector<std::size_t> BestRowOfEachGroup(const MarkingInputs& inputs)
{
    const ResultList& list = *inputs.list;
    const std::vector<std::uint32_t>& groupOfRow = *inputs.groupOfRow;
    RowComparer comparer(inputs);
    std::vector<std::size_t> best;
    for (std::size_t row = 0; row < list.size(); ++row) {
        // Groups are runs, but rows removed by a delete may leave a group's rows apart from
        // each other; a group seen again is compared against its best so far.
        const std::uint32_t group = groupOfRow[row];
        if (group >= best.size())
            best.resize(group + 1, list.size());
        std::size_t& current = best[group];
        if (current == list.size() || comparer.better(current, row))
            current = row;
    }
    // Group numbers that no longer have a row drop out.
    std::erase(best, list.size());
    return best;
}

std::vector<char> TickAllButBest(const MarkingInputs& inputs)
{
    const ResultList& list = *inputs.list;
    std::vector<char> kept(pathSlots(list), 0);
    for (const std::size_t row : BestRowOfEachGroup(inputs))
        kept[list.row(row).pathId] = 1;
    std::vector<char> ticks(list.size(), 0);
    for (std::size_t row = 0; row < list.size(); ++row)
        ticks[row] =
            !kept[list.row(row).pathId] && !RowInFolders(list, row, inputs.protectedFolders);
    return ticks;
}

std::vector<std::uint32_t> GroupsLosingEveryCopy(const std::vector<std::uint32_t>& groupOfRow,
                                                 const std::vector<char>& going)
{
    // 0: no row seen, 1: every row seen goes, 2: some row stays.
    std::vector<char> state;
    for (std::size_t row = 0; row < groupOfRow.size(); ++row) {
        const std::uint32_t group = groupOfRow[row];
        if (group >= state.size())
            state.resize(group + 1, 0);
        if (!going[row])
            state[group] = 2;
        else if (state[group] == 0)
            state[group] = 1;
    }
    std::vector<std::uint32_t> losing;
    for (std::size_t group = 0; group < state.size(); ++group) {
        if (state[group] == 1)
            losing.push_back(static_cast<std::uint32_t>(group));
    }
    return losing;
}

ResultsSummary SummarizeResults(const ResultList& list,
                                const std::vector<std::uint32_t>& groupOfRow)
{
    ResultsSummary summary;
    // Per file: 1 counted, 2 counted as ticked (all rows of a file tick together, but a list
    // edited by hand elsewhere may not hold to that; one ticked row counts the file once).
    std::vector<char> fileState(pathSlots(list), 0);
    std::vector<char> groupSeen;
    for (std::size_t row = 0; row < list.size(); ++row) {
        const ResultRow& r = list.row(row);
        const std::uint32_t group = groupOfRow[row];
        if (group >= groupSeen.size())
            groupSeen.resize(group + 1, 0);
        if (!groupSeen[group]) {
            groupSeen[group] = 1;
            ++summary.groups;
        }
        char& state = fileState[r.pathId];
        if (state == 0) {
            state = 1;
            ++summary.files;
        }
        if (r.checked && state == 1) {
            state = 2;
            ++summary.tickedFiles;
            summary.tickedBytes += std::max<std::int64_t>(r.size, 0);
        }
    }
    return summary;
}

} // namespace tunesift
