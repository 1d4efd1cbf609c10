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

// Each rule as a number per row, the larger the better. Values that cost a file read or a walk
// over the path are fetched only for the rows still tied when that rule's turn comes.
class RuleMeasure
{
public:
    explicit RuleMeasure(const MarkingInputs& inputs)
        : m_in(inputs), m_list(*inputs.list), m_modified(pathSlots(*inputs.list), kNotRead)
    {}

    // Reads the modification times of the rows' files not known yet, all in one go.
    void prepare(KeepRule rule, const std::vector<std::size_t>& rows)
    {
        if (rule != KeepRule::NewestModification)
            return;
        std::vector<std::size_t> unread;
        for (const std::size_t row : rows) {
            std::int64_t& slot = m_modified[m_list.row(row).pathId];
            if (slot == kNotRead) {
                slot = kUnreadable; // also marks the file as asked for once
                unread.push_back(row);
            }
        }
        if (unread.empty() || !m_in.modifiedTimes)
            return;
        const std::vector<std::optional<std::int64_t>> times = m_in.modifiedTimes(unread);
        for (std::size_t k = 0; k < unread.size() && k < times.size(); ++k) {
            if (times[k])
                m_modified[m_list.row(unread[k]).pathId] = std::max(*times[k], kUnreadable + 1);
        }
    }

    std::int64_t operator()(KeepRule rule, std::size_t row) const
    {
        const ResultRow& r = m_list.row(row);
        switch (rule) {
        case KeepRule::HighestBitRate:
            return r.bitRate;
        case KeepRule::LongestPlayingTime:
            return r.songLength;
        case KeepRule::LargestFile:
            return r.size;
        case KeepRule::NewestModification:
            return m_modified[r.pathId];
        case KeepRule::InPreferredFolder:
            return RowInFolders(m_list, row, m_in.preferred) ? 1 : 0;
        case KeepRule::ShortestPath: {
            const Catalogue& catalogue = m_list.catalogue();
            return -static_cast<std::int64_t>(codePoints(catalogue.folder(r.entry)) +
                                              codePoints(catalogue.name(r.entry)));
        }
        case KeepRule::Count:
            break;
        }
        return 0;
    }

private:
    // A file that cannot be read counts as the oldest.
    static constexpr std::int64_t kNotRead = std::numeric_limits<std::int64_t>::min();
    static constexpr std::int64_t kUnreadable = kNotRead + 1;

    const MarkingInputs& m_in;
    const ResultList& m_list;
    std::vector<std::int64_t> m_modified;
};

} // namespace

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
    // The rows of each group in list order, one run after another: group g's run starts at
    // start[g]. Groups are runs of the list too, but rows removed by a delete may leave a
    // group's rows apart from each other.
    std::size_t groupCount = 0;
    for (std::size_t row = 0; row < list.size(); ++row)
        groupCount = std::max<std::size_t>(groupCount, groupOfRow[row] + 1);
    std::vector<std::size_t> start(groupCount + 1, 0);
    for (std::size_t row = 0; row < list.size(); ++row)
        ++start[groupOfRow[row] + 1];
    for (std::size_t g = 0; g < groupCount; ++g)
        start[g + 1] += start[g];
    std::vector<std::size_t> rows(list.size());
    std::vector<std::size_t> left(groupCount, 0); // the rows still in the running
    for (std::size_t row = 0; row < list.size(); ++row) {
        const std::uint32_t g = groupOfRow[row];
        rows[start[g] + left[g]++] = row;
    }

    // Each rule in turn keeps the rows of a still tied group that score highest; whatever ties
    // after the last rule goes to the earliest row.
    RuleMeasure measure(inputs);
    std::vector<std::int64_t> score(list.size());
    std::vector<std::size_t> tied;
    for (const KeepRuleSetting& setting : inputs.rules) {
        if (!setting.enabled)
            continue;
        if (setting.rule == KeepRule::NewestModification) {
            tied.clear();
            for (std::size_t g = 0; g < groupCount; ++g) {
                if (left[g] > 1)
                    tied.insert(tied.end(), rows.begin() + static_cast<std::ptrdiff_t>(start[g]),
                                rows.begin() + static_cast<std::ptrdiff_t>(start[g] + left[g]));
            }
            measure.prepare(setting.rule, tied);
        }
        bool stillTied = false;
        for (std::size_t g = 0; g < groupCount; ++g) {
            if (left[g] < 2)
                continue;
            const std::size_t first = start[g];
            const std::size_t end = first + left[g];
            std::int64_t top = std::numeric_limits<std::int64_t>::min();
            for (std::size_t k = first; k < end; ++k) {
                score[k] = measure(setting.rule, rows[k]);
                top = std::max(top, score[k]);
            }
            std::size_t kept = first;
            for (std::size_t k = first; k < end; ++k) {
                if (score[k] == top)
                    rows[kept++] = rows[k];
            }
            left[g] = kept - first;
            stillTied = stillTied || left[g] > 1;
        }
        if (!stillTied)
            break;
    }

    std::vector<std::size_t> best;
    for (std::size_t g = 0; g < groupCount; ++g) {
        // Group numbers that no longer have a row drop out.
        if (left[g] > 0)
            best.push_back(rows[start[g]]);
    }
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
