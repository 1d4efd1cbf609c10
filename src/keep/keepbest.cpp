#include "keep/keepbest.h"

#include "files/pathops.h"
#include "search/catalogue.h"
#include "search/scan.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>

#ifndef _WIN32
#include <climits>
#include <memory>
#endif

namespace tunesift {

namespace {

constexpr std::size_t kRuleCount = static_cast<std::size_t>(KeepRule::Count);

constexpr std::array<std::string_view, kRuleCount> kRuleNames{
    "Preferred", "Bitrate", "Length", "Size", "Tags", "Oldest", "Path",
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

std::string withSeparator(std::string folder)
{
    if (!folder.empty() && folder.back() != kPathSeparator)
        folder += kPathSeparator;
    return folder;
}

// The folder and every folder above it, nearest first ("/a/b/", "/a/", "/").
std::vector<std::string> foldersUpFrom(std::string folder)
{
    std::vector<std::string> chain;
    folder = withSeparator(std::move(folder));
    while (!folder.empty()) {
        chain.push_back(folder);
        const std::size_t cut = folder.find_last_of(kPathSeparator, folder.size() - 2);
        if (folder.size() < 2 || cut == std::string::npos)
            break;
        folder.resize(cut + 1);
    }
    return chain;
}

// The folder with every link resolved; nothing when it cannot be resolved (or on Windows, where
// the identity resolves links already).
std::optional<std::string> resolvedFolder(const std::string& folder)
{
#ifdef _WIN32
    (void)folder;
    return std::nullopt;
#else
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(folder.c_str(), nullptr),
                                                     &std::free);
    if (!real)
        return std::nullopt;
    return withSeparator(real.get());
#endif
}

// The rows of every group, one run after another: group g's rows are rows[start[g]] up to
// rows[start[g + 1]], in list order. Groups are runs of the list when the search writes them,
// but a delete and its undo may leave a group's rows apart.
struct GroupRows
{
    explicit GroupRows(const ResultList& list)
    {
        std::size_t count = 0;
        for (std::size_t row = 0; row < list.size(); ++row)
            count = std::max<std::size_t>(count, list.row(row).group + std::size_t{1});
        start.assign(count + 1, 0);
        criterion.assign(count, Criterion::ExactFilename);
        for (std::size_t row = 0; row < list.size(); ++row) {
            const std::uint32_t g = list.row(row).group;
            ++start[g + 1];
            criterion[g] = list.row(row).criterion;
        }
        for (std::size_t g = 0; g < count; ++g)
            start[g + 1] += start[g];
        rows.resize(list.size());
        std::vector<std::size_t> filled(count, 0);
        for (std::size_t row = 0; row < list.size(); ++row) {
            const std::uint32_t g = list.row(row).group;
            rows[start[g] + filled[g]++] = row;
        }
    }
    std::size_t count() const { return criterion.size(); }
    std::size_t size(std::size_t g) const { return start[g + 1] - start[g]; }

    std::vector<std::size_t> start;
    std::vector<std::size_t> rows;
    std::vector<Criterion> criterion; // of the rows of each group
};

// Each rule as a number per row, the larger the better. Values that cost a file read are fetched
// only for the rows still tied when that rule's turn comes.
class RuleMeasure
{
public:
    explicit RuleMeasure(const KeepInputs& inputs)
        : m_in(inputs), m_list(*inputs.list), m_modified(pathSlots(*inputs.list), kNotRead),
          m_tags(pathSlots(*inputs.list), kNotRead)
    {}

    // Reads what the rule needs of the rows' files and is not known yet, all in one go.
    void prepare(KeepRule rule, const std::vector<std::size_t>& rows)
    {
        if (rule == KeepRule::OldestModification) {
            fetch(rows, m_modified, m_in.modifiedTimes, [](const std::optional<std::int64_t>& t) {
                // The older the better; a file that cannot be read counts as the newest.
                return t ? -std::clamp(*t, kUnreadable + 2, kNoValue - 1) : kUnreadable + 1;
            });
        } else if (rule == KeepRule::MostCompleteTags) {
            fetch(rows, m_tags, m_in.tagFields, [](int fields) { return std::int64_t{fields}; });
        }
    }

    std::int64_t operator()(KeepRule rule, std::size_t row) const
    {
        const ResultRow& r = m_list.row(row);
        switch (rule) {
        case KeepRule::InPreferredFolder:
            return RowInFolders(m_list, row, m_in.preferred) ||
                   RowInFolders(m_list, row, m_in.protectedFolders);
        case KeepRule::HighestBitRate:
            return r.bitRate;
        case KeepRule::LongestPlayingTime:
            return r.songLength;
        case KeepRule::LargestFile:
            return r.size;
        case KeepRule::MostCompleteTags:
            return m_tags[r.pathId];
        case KeepRule::OldestModification:
            return m_modified[r.pathId];
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
    static constexpr std::int64_t kNotRead = std::numeric_limits<std::int64_t>::min();
    static constexpr std::int64_t kUnreadable = kNotRead + 1;
    static constexpr std::int64_t kNoValue = std::numeric_limits<std::int64_t>::max();

    template <typename Reader, typename Score>
    void fetch(const std::vector<std::size_t>& rows, std::vector<std::int64_t>& slots,
               const Reader& reader, Score score)
    {
        std::vector<std::size_t> unread;
        for (const std::size_t row : rows) {
            std::int64_t& slot = slots[m_list.row(row).pathId];
            if (slot == kNotRead) {
                slot = kUnreadable; // also marks the file as asked for once
                unread.push_back(row);
            }
        }
        if (unread.empty() || !reader)
            return;
        const auto values = reader(unread);
        for (std::size_t k = 0; k < unread.size() && k < values.size(); ++k)
            slots[m_list.row(unread[k]).pathId] = score(values[k]);
    }

    const KeepInputs& m_in;
    const ResultList& m_list;
    std::vector<std::int64_t> m_modified;
    std::vector<std::int64_t> m_tags;
};

// Which files stand in a group the helpers may act in.
std::vector<char> filesInActedGroups(const KeepInputs& inputs)
{
    const ResultList& list = *inputs.list;
    std::vector<char> acted(pathSlots(list), 0);
    for (std::size_t row = 0; row < list.size(); ++row) {
        if (MayTickIn(list.row(row).criterion, inputs))
            acted[list.row(row).pathId] = 1;
    }
    return acted;
}

} // namespace

FolderSet::FolderSet(std::vector<std::string> folders)
{
    for (std::string& folder : folders) {
        if (folder.empty())
            continue;
        folder = withSeparator(std::move(folder));
        m_identities.insert(FolderIdentity(folder));
        // A folder that cannot be examined now still matches by its text.
        m_identities.insert(folder);
        m_folders.push_back(std::move(folder));
    }
}

bool FolderSet::containsFolder(std::string_view folder) const
{
    if (m_folders.empty())
        return false;
    std::string key(folder);
    if (const auto known = m_known.find(key); known != m_known.end())
        return known->second;
    const bool inside = lookUp(key);
    m_known.emplace(std::move(key), inside);
    return inside;
}

bool FolderSet::lookUp(const std::string& folder) const
{
    // Up the path as written (a link on the way leads through the folder it names) and up the
    // path with its links resolved (where the file really lies).
    std::vector<std::string> chain = foldersUpFrom(folder);
    if (const auto real = resolvedFolder(folder)) {
        const std::vector<std::string> more = foldersUpFrom(*real);
        chain.insert(chain.end(), more.begin(), more.end());
    }
    for (const std::string& step : chain) {
#ifdef _WIN32
        std::string lower = step;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        for (const std::string& mine : m_folders) {
            std::string mineLower = mine;
            std::transform(mineLower.begin(), mineLower.end(), mineLower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (mineLower == lower)
                return true;
        }
#endif
        if (m_identities.contains(step) || m_identities.contains(FolderIdentity(step)))
            return true;
    }
    return false;
}

bool RowInFolders(const ResultList& list, std::size_t position, const FolderSet& folders)
{
    return !folders.empty() &&
           folders.containsFolder(list.catalogue().folder(list.row(position).entry));
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
    // A rule the stored order does not name (one added since) takes its default place, as far as
    // the stored order reaches.
    for (std::size_t k = 0; k < kRuleCount; ++k) {
        if (!seen[k])
            rules.insert(rules.begin() + static_cast<std::ptrdiff_t>(std::min(k, rules.size())),
                         {static_cast<KeepRule>(k), true});
    }
    splitNames(off, [&](KeepRule rule) {
        for (KeepRuleSetting& setting : rules) {
            if (setting.rule == rule)
                setting.enabled = false;
        }
    });
    return rules;
}

bool MayTickIn(Criterion criterion, const KeepInputs& inputs)
{
    return inputs.unprovenGroups || EvidenceOf(criterion) == Evidence::SameRecording;
}

std::vector<std::size_t> BestRowOfEachGroup(const KeepInputs& inputs)
{
    const ResultList& list = *inputs.list;
    const GroupRows groups(list);
    std::vector<std::size_t> rows = groups.rows;
    std::vector<std::size_t> left(groups.count());
    for (std::size_t g = 0; g < groups.count(); ++g) {
        // The copies inside protected folders are the ones the user keeps: where there are
        // any, the rules choose among them only.
        const auto first = rows.begin() + static_cast<std::ptrdiff_t>(groups.start[g]);
        const auto end = rows.begin() + static_cast<std::ptrdiff_t>(groups.start[g + 1]);
        const auto guarded = std::stable_partition(first, end, [&](std::size_t row) {
            return RowInFolders(list, row, inputs.protectedFolders);
        });
        left[g] = static_cast<std::size_t>(guarded == first ? end - first : guarded - first);
    }

    // Each rule in turn keeps the rows of a still tied group that score highest; whatever ties
    // after the last rule goes to the earliest row.
    RuleMeasure measure(inputs);
    std::vector<std::int64_t> score(list.size());
    std::vector<std::size_t> tied;
    for (const KeepRuleSetting& setting : inputs.rules) {
        if (!setting.enabled)
            continue;
        tied.clear();
        for (std::size_t g = 0; g < groups.count(); ++g) {
            if (left[g] > 1)
                tied.insert(tied.end(), rows.begin() + static_cast<std::ptrdiff_t>(groups.start[g]),
                            rows.begin() + static_cast<std::ptrdiff_t>(groups.start[g] + left[g]));
        }
        if (tied.empty())
            break;
        measure.prepare(setting.rule, tied);
        for (std::size_t g = 0; g < groups.count(); ++g) {
            if (left[g] < 2)
                continue;
            const std::size_t first = groups.start[g];
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
        }
    }

    std::vector<std::size_t> best;
    for (std::size_t g = 0; g < groups.count(); ++g) {
        // Group numbers that no longer have a row drop out.
        if (left[g] > 0)
            best.push_back(rows[groups.start[g]]);
    }
    return best;
}

std::vector<char> RowTicks(const ResultList& list, const FileTicks& files)
{
    std::vector<char> ticks(list.size());
    for (std::size_t row = 0; row < list.size(); ++row) {
        const std::uint32_t file = list.row(row).pathId;
        const signed char state = file < files.size() ? files[file] : -1;
        ticks[row] = state < 0 ? list.row(row).checked : state;
    }
    return ticks;
}

TickOutcome TickAllButBest(const KeepInputs& inputs)
{
    const ResultList& list = *inputs.list;
    const GroupRows groups(list);
    TickOutcome outcome;
    for (std::size_t g = 0; g < groups.count(); ++g) {
        if (groups.size(g) < 2)
            continue;
        if (MayTickIn(groups.criterion[g], inputs))
            ++outcome.provenGroups;
        else
            ++outcome.unprovenGroups;
    }
    std::vector<char> kept(pathSlots(list), 0);
    for (const std::size_t row : BestRowOfEachGroup(inputs)) {
        if (MayTickIn(list.row(row).criterion, inputs))
            kept[list.row(row).pathId] = 1;
    }
    const std::vector<char> acted = filesInActedGroups(inputs);
    // Every file's tick is decided anew: a file that stands in no group acted in is unticked.
    outcome.files.assign(pathSlots(list), 0);
    for (std::size_t row = 0; row < list.size(); ++row) {
        const std::uint32_t file = list.row(row).pathId;
        if (acted[file] && !kept[file] && !RowInFolders(list, row, inputs.protectedFolders))
            outcome.files[file] = 1;
    }
    return outcome;
}

TickOutcome KeepThisOne(const KeepInputs& inputs, std::size_t row)
{
    const ResultList& list = *inputs.list;
    TickOutcome outcome;
    outcome.files.assign(pathSlots(list), -1);
    const ResultRow& kept = list.row(row);
    if (!MayTickIn(kept.criterion, inputs)) {
        outcome.unprovenGroups = 1;
        return outcome;
    }
    outcome.provenGroups = 1;
    outcome.files[kept.pathId] = 0;
    for (std::size_t other = 0; other < list.size(); ++other) {
        const ResultRow& r = list.row(other);
        if (r.group == kept.group && outcome.files[r.pathId] < 0 &&
            !RowInFolders(list, other, inputs.protectedFolders))
            outcome.files[r.pathId] = 1;
    }
    return outcome;
}

TickOutcome TickAllInFolder(const KeepInputs& inputs, std::size_t row)
{
    const ResultList& list = *inputs.list;
    const Catalogue& catalogue = list.catalogue();
    const GroupRows groups(list);
    TickOutcome outcome;
    outcome.files.assign(pathSlots(list), -1);
    const std::string_view folder =
        catalogue.folderIdentity(catalogue.folderId(list.row(row).entry));
    const std::vector<char> acted = filesInActedGroups(inputs);
    std::vector<char> groupSeen(groups.count(), 0);
    for (std::size_t other = 0; other < list.size(); ++other) {
        const ResultRow& r = list.row(other);
        if (catalogue.folderIdentity(catalogue.folderId(r.entry)) != folder ||
            RowInFolders(list, other, inputs.protectedFolders))
            continue;
        if (!groupSeen[r.group]) {
            groupSeen[r.group] = 1;
            ++(MayTickIn(r.criterion, inputs) ? outcome.provenGroups : outcome.unprovenGroups);
        }
        if (acted[r.pathId])
            outcome.files[r.pathId] = 1;
    }
    return outcome;
}

std::vector<std::uint32_t> GroupsLosingEveryCopy(const ResultList& list,
                                                 const std::vector<char>& going)
{
    // 0: no row seen, 1: every row seen goes, 2: some row stays.
    std::vector<char> state;
    for (std::size_t row = 0; row < list.size() && row < going.size(); ++row) {
        const std::uint32_t group = list.row(row).group;
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

GoingFiles DescribeGoingFiles(const ResultList& list, const std::vector<std::size_t>& rows)
{
    std::vector<char> proven(pathSlots(list), 0);
    for (std::size_t row = 0; row < list.size(); ++row) {
        if (EvidenceOf(list.row(row).criterion) == Evidence::SameRecording)
            proven[list.row(row).pathId] = 1;
    }
    GoingFiles going;
    std::vector<char> counted(proven.size(), 0);
    for (const std::size_t row : rows) {
        if (row >= list.size())
            continue;
        const ResultRow& r = list.row(row);
        if (counted[r.pathId])
            continue;
        counted[r.pathId] = 1;
        ++(proven[r.pathId] ? going.provenCopies : going.unproven);
        going.bytes += std::max<std::int64_t>(r.size, 0);
    }
    return going;
}

ResultsSummary SummarizeResults(const ResultList& list)
{
    const GroupRows groups(list);
    ResultsSummary summary;
    // Per file: the groups of two files or more it stands in (up to 2), and whether its tick has
    // been counted (all rows of a file tick together, but one ticked row counts the file once).
    std::vector<char> groupsOfFile(pathSlots(list), 0);
    std::vector<char> tickCounted(groupsOfFile.size(), 0);
    for (std::size_t g = 0; g < groups.count(); ++g) {
        if (groups.size(g) < 2)
            continue;
        ++summary.groups;
        for (std::size_t k = groups.start[g]; k < groups.start[g + 1]; ++k) {
            char& count = groupsOfFile[list.row(groups.rows[k]).pathId];
            if (count == 0)
                ++summary.files;
            else
                summary.fileInSeveralGroups = true;
            count = 1;
        }
    }
    for (std::size_t row = 0; row < list.size(); ++row) {
        const ResultRow& r = list.row(row);
        if (r.checked && !tickCounted[r.pathId]) {
            tickCounted[r.pathId] = 1;
            ++summary.tickedFiles;
            summary.tickedBytes += std::max<std::int64_t>(r.size, 0);
        }
    }
    return summary;
}

bool HasProvenGroups(const ResultList& list)
{
    for (std::size_t row = 0; row < list.size(); ++row) {
        if (EvidenceOf(list.row(row).criterion) == Evidence::SameRecording)
            return true;
    }
    return false;
}

} // namespace tunesift
