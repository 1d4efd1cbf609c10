#include "search/passes.h"

#include "mp3/id3v1.h"
#include "mp3/mp3info.h"
#include "search/filesize.h"
#include "search/parallel.h"
#include "search/similar.h"
#include "search/textcase.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>

namespace tunesift {

namespace {

constexpr std::uint32_t kNoText = std::numeric_limits<std::uint32_t>::max();

const char* const kResultsFullText =
    "Tunesift can list at most 1,000,001 rows in one search. The list is full, so the search "
    "stopped adding rows; the rows found so far are shown.";

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
        for (std::size_t slot = hash & m_mask;; slot = (slot + 1) & m_mask) {
            const std::uint32_t held = m_slots[slot];
            if (held == 0) {
                m_slots[slot] = ++m_count;
                return {m_count - 1, true};
            }
            if (equalTo(held - 1))
                return {held - 1, false};
        }
    }

private:
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
            std::size_t slot = hashOf(id) & mask;
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

template <typename Key, typename KeyOf>
TextGroups<Key> groupEntries(std::size_t count, KeyOf keyOf)
{
    TextGroups<Key> groups;
    groups.textOf.assign(count, kNoText);
    const std::hash<Key> hasher;
    std::vector<std::uint32_t> sizes;
    {
        DenseIds ids(count / 2);
        for (std::size_t entry = 0; entry < count; ++entry) {
            const std::optional<Key> key = keyOf(entry);
            if (!key)
                continue;
            const auto [id, inserted] = ids.intern(
                hasher(*key), [&](std::uint32_t t) { return groups.keys[t] == *key; },
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

bool AddResultRow(RunState& state, std::uint32_t entry, Criterion criterion)
{
    ResultList& results = state.session.results();
    if (results.full()) {
        if (!state.resultsFullReported) {
            state.resultsFullReported = true;
            state.host.showMessage(kResultsFullText, kProductName, MessageButtons::Ok);
        }
        return false;
    }
    const std::uint32_t id = state.pathId[entry];
    RunState::RowInfo& info = state.rowInfo[id];
    if (!info.known) {
        const std::string path = state.session.catalogue().path(entry);
        FileFacts* facts = state.facts.of(id, path);
        if (facts && facts->analysed) {
            info.size = facts->rowSize;
            info.songLength = facts->songLength;
            info.bitRate = facts->bitRate;
        } else {
            clsMP3Info& analysis = state.rowMp3Info;
            analysis.SetFileName(path);
            info.songLength = analysis.SongLength();
            info.bitRate = analysis.BitRate();
            // The analysis opened the file and knows its length; only when it kept none (the
            // file could not be opened, or holds no frame) is the size asked for on its own.
            info.size = analysis.FileSize();
            if (info.size <= 0)
                info.size = FileSize2(path);
            if (facts && info.size > 0) {
                facts->analysed = true;
                facts->rowSize = info.size;
                facts->songLength = info.songLength;
                facts->bitRate = info.bitRate;
                facts->headerOffset = analysis.FileName().empty() ? -1 : analysis.HeaderOffset();
                state.facts.noteRead(id);
            }
        }
        info.known = true;
    }
    ResultRow row;
    row.entry = entry;
    row.pathId = id;
    row.size = info.size;
    row.songLength = info.songLength;
    row.bitRate = info.bitRate;
    row.criterion = criterion;
    results.append(row, ColorGroupOf(criterion, state.darkShade));
    state.listed[id] = 1;
    return true;
}

// The pair walk over all pairs i < j in catalogue order, without visiting every pair: for the
// outer entry i it asks which texts pass against i's text and visits only their members after i.
// Members whose path this criterion has listed already are skipped through a "next unlisted"
// chain, so every entry is looked at a bounded number of times however large its group.
template <typename Key>
class PairWalk
{
public:
    PairWalk(RunState& state, Criterion criterion, const TextGroups<Key>& groups)
        : m_state(state), m_criterion(criterion), m_groups(groups),
          m_next(groups.members.size() + 1)
    {
        for (std::size_t k = 0; k < m_next.size(); ++k)
            m_next[k] = static_cast<std::uint32_t>(k);
    }

    // Source tells, for a text, the greatest entry among its partner texts' members (plus one;
    // 0 for none) and walks its partner texts that may still hold unlisted members, dropping
    // those the visitor reports as exhausted.
    template <typename Source>
    PassOutcome run(Source& source)
    {
        SearchHost& host = m_state.host;
        const std::size_t n = m_state.session.catalogue().count();
        std::vector<std::uint32_t> gathered;
        for (std::size_t i = 0; i < n; ++i) {
            host.setProgress(static_cast<int>(
                std::floor(static_cast<double>(i + 1) / static_cast<double>(n) * 100.0)));
            const std::uint32_t text = m_groups.textOf[i];
            if (text == kNoText || source.lastPartnerEntryPlusOne(text) <= i + 1)
                continue; // no pair of this outer step passes
            const auto outer = static_cast<std::uint32_t>(i);

            // Unlisted partners after i. A partner text without any is exhausted for good: the
            // outer index only grows and listing only grows within a criterion.
            gathered.clear();
            std::size_t texts = 0;
            source.forEachActivePartner(text, [&](std::uint32_t partner) {
                const std::uint32_t end = m_groups.start[partner + 1];
                const auto* first = m_groups.members.data() + m_groups.start[partner];
                const auto* last = m_groups.members.data() + end;
                auto pos = static_cast<std::uint32_t>(std::upper_bound(first, last, outer) -
                                                      m_groups.members.data());
                pos = findUnlisted(pos, end);
                if (pos == end)
                    return false;
                ++texts;
                for (; pos < end; pos = findUnlisted(pos + 1, end))
                    gathered.push_back(m_groups.members[pos]);
                return true;
            });
            if (texts > 1)
                std::sort(gathered.begin(), gathered.end());

            // A passing pair: the stop flag is read before anything of it is written.
            if (host.isStopRequested())
                return PassOutcome::Stopped;
            if (!m_state.listed[m_state.pathId[outer]]) {
                m_state.groupHeadAdded = true;
                if (!AddResultRow(m_state, outer, m_criterion))
                    return PassOutcome::ResultsFull;
            }
            for (const std::uint32_t inner : gathered) {
                if (m_state.listed[m_state.pathId[inner]])
                    continue; // an equal path met earlier in this step
                if (host.isStopRequested())
                    return PassOutcome::Stopped;
                if (!AddResultRow(m_state, inner, m_criterion))
                    return PassOutcome::ResultsFull;
            }
            if (m_state.groupHeadAdded) {
                m_state.groupHeadAdded = false;
                m_state.darkShade = !m_state.darkShade;
            }
        }
        return PassOutcome::Completed;
    }

private:
    bool isListed(std::uint32_t pos) const
    {
        return m_state.listed[m_state.pathId[m_groups.members[pos]]] != 0;
    }

    // First position at or after pos (below end) whose entry's path is not listed yet. Listing
    // only grows within a criterion, so skipped positions stay skipped.
    std::uint32_t findUnlisted(std::uint32_t pos, std::uint32_t end)
    {
        std::uint32_t root = pos;
        while (root < end) {
            if (m_next[root] != root) {
                root = m_next[root];
                continue;
            }
            if (!isListed(root))
                break;
            m_next[root] = root + 1;
            root = root + 1;
        }
        while (pos < root) {
            const std::uint32_t following = m_next[pos];
            m_next[pos] = root;
            pos = following;
        }
        return root;
    }

    RunState& m_state;
    Criterion m_criterion;
    const TextGroups<Key>& m_groups;
    std::vector<std::uint32_t> m_next;
};

// The first position at or after from whose value is not below value, in a sorted range:
// doubling steps, then a binary search, so walking one sorted list through another costs little
// more than the shorter of the two.
const std::uint32_t* gallopTo(const std::uint32_t* from, const std::uint32_t* end,
                              std::uint32_t value)
{
    if (from == end || *from >= value)
        return from;
    const std::uint32_t* low = from; // *low < value
    std::size_t step = 1;
    while (static_cast<std::size_t>(end - low) > step && low[step] < value) {
        low += step;
        step *= 2;
    }
    const std::uint32_t* high = static_cast<std::size_t>(end - low) > step ? low + step : end;
    return std::lower_bound(low + 1, high, value);
}

// Which texts pass the similarity test against a given (outer) text. A pair can pass only when
// more than 90% of the outer text's words occur in the inner one, so the inner text must contain
// at least one of the outer text's rarest words: those are looked up in an index from folded word
// to texts, and only the texts found are measured. Each text is split and folded once.
class SimilarPartners
{
public:
    explicit SimilarPartners(const std::vector<std::string_view>& texts)
    {
        const std::size_t count = texts.size();
        m_wordCount.reserve(count);
        m_uniqueStart.reserve(count + 1);
        m_uniqueStart.push_back(0);
        std::vector<std::uint32_t> postingCounts;
        {
            // The folded words, each stored once in one arena.
            std::string wordText;
            std::vector<std::uint32_t> wordStart{0};
            const auto word = [&](std::uint32_t id) {
                return std::string_view(wordText).substr(wordStart[id],
                                                         wordStart[id + 1] - wordStart[id]);
            };
            const std::hash<std::string_view> hasher;
            DenseIds wordIds(count);
            std::vector<std::uint32_t> ids;
            for (const std::string_view text : texts) {
                ids.clear();
                for (const std::string& stored : SplitWords(text)) {
                    const std::string folded = UpperCase(stored);
                    const auto [id, inserted] = wordIds.intern(
                        hasher(folded), [&](std::uint32_t w) { return word(w) == folded; },
                        [&](std::uint32_t w) { return hasher(word(w)); });
                    if (inserted) {
                        wordText.append(folded);
                        wordStart.push_back(static_cast<std::uint32_t>(wordText.size()));
                        postingCounts.push_back(0);
                    }
                    ids.push_back(id);
                }
                m_wordCount.push_back(static_cast<std::uint32_t>(ids.size()));
                std::sort(ids.begin(), ids.end());
                for (std::size_t k = 0; k < ids.size();) {
                    std::size_t end = k;
                    while (end < ids.size() && ids[end] == ids[k])
                        ++end;
                    m_uniqueWords.push_back(ids[k]);
                    m_occurrences.push_back(static_cast<std::uint16_t>(
                        std::min<std::size_t>(end - k, std::numeric_limits<std::uint16_t>::max())));
                    ++postingCounts[ids[k]];
                    k = end;
                }
                m_uniqueStart.push_back(static_cast<std::uint32_t>(m_uniqueWords.size()));
            }
        }
        m_postingStart.resize(postingCounts.size() + 1, 0);
        for (std::size_t w = 0; w < postingCounts.size(); ++w)
            m_postingStart[w + 1] = m_postingStart[w] + postingCounts[w];
        m_postings.resize(m_postingStart.back());
        std::vector<std::uint32_t> cursor(m_postingStart.begin(), m_postingStart.end() - 1);
        for (std::uint32_t t = 0; t < count; ++t)
            for (std::uint32_t k = m_uniqueStart[t]; k < m_uniqueStart[t + 1]; ++k)
                m_postings[cursor[m_uniqueWords[k]]++] = t;
        m_textStamp.assign(count, 0);
    }

    // The texts that pass against the outer text, in no particular order.
    std::vector<std::uint32_t> of(std::uint32_t outer) { return compute(outer); }

private:
    struct Probe
    {
        std::uint32_t frequency;
        std::uint32_t word;
        std::uint32_t occurrences;
    };

    std::uint32_t documentFrequency(std::uint32_t word) const
    {
        return m_postingStart[word + 1] - m_postingStart[word];
    }

    bool contains(std::uint32_t text, std::uint32_t word) const
    {
        const auto* first = m_uniqueWords.data() + m_uniqueStart[text];
        const auto* last = m_uniqueWords.data() + m_uniqueStart[text + 1];
        return std::binary_search(first, last, word);
    }

    std::vector<std::uint32_t> compute(std::uint32_t outer)
    {
        const std::uint32_t na = m_wordCount[outer];

        // The most outer words that may go unmatched while the pair can still pass.
        std::uint32_t maxMiss = 0;
        while (maxMiss + 1 <= na &&
               IsSimilar(static_cast<double>(na - maxMiss - 1) / static_cast<double>(na)))
            ++maxMiss;

        // Distinct outer words, rarest first, with how often each stands in the outer text.
        std::vector<Probe> probes;
        for (std::uint32_t k = m_uniqueStart[outer]; k < m_uniqueStart[outer + 1]; ++k)
            probes.push_back(
                {documentFrequency(m_uniqueWords[k]), m_uniqueWords[k], m_occurrences[k]});
        std::sort(probes.begin(), probes.end(), [](const Probe& a, const Probe& b) {
            return a.frequency != b.frequency ? a.frequency < b.frequency : a.word < b.word;
        });

        std::vector<std::uint32_t> passing;
        if (maxMiss == 0 && probes.size() >= 2) {
            // Every outer word must occur: only texts holding both rarest words can pass.
            const auto* second = m_postings.data() + m_postingStart[probes[1].word];
            const auto* secondEnd = m_postings.data() + m_postingStart[probes[1].word + 1];
            for (std::uint32_t k = m_postingStart[probes[0].word];
                 k < m_postingStart[probes[0].word + 1] && second != secondEnd; ++k) {
                const std::uint32_t inner = m_postings[k];
                second = gallopTo(second, secondEnd, inner);
                if (second == secondEnd || *second != inner || inner == outer)
                    continue;
                if (passes(na, probes, maxMiss, inner))
                    passing.push_back(inner);
            }
            return passing;
        }
        ++m_stamp;
        std::uint32_t probed = 0;
        for (const Probe& probe : probes) {
            for (std::uint32_t k = m_postingStart[probe.word]; k < m_postingStart[probe.word + 1];
                 ++k) {
                const std::uint32_t inner = m_postings[k];
                if (inner == outer || m_textStamp[inner] == m_stamp)
                    continue;
                m_textStamp[inner] = m_stamp;
                if (passes(na, probes, maxMiss, inner))
                    passing.push_back(inner);
            }
            // Once more outer words than may be missed are among the probed ones, a text that
            // holds none of them cannot pass.
            probed += probe.occurrences;
            if (probed > maxMiss)
                break;
        }
        return passing;
    }

    // The measure of the pair: the outer words the inner text lacks are counted rarest first, so
    // most candidates fail after a look or two.
    bool passes(std::uint32_t na, const std::vector<Probe>& probes, std::uint32_t maxMiss,
                std::uint32_t inner) const
    {
        const std::uint32_t nb = m_wordCount[inner];
        const double longer = static_cast<double>(std::max(na, nb));
        if (!IsSimilar(static_cast<double>(na) / longer))
            return false; // even all outer words matched would not be enough
        std::uint32_t missed = 0;
        for (const Probe& probe : probes) {
            if (contains(inner, probe.word))
                continue;
            missed += probe.occurrences;
            if (missed > maxMiss)
                return false;
        }
        return IsSimilar(static_cast<double>(na - missed) / longer);
    }

    std::vector<std::uint32_t> m_wordCount;   // per text, words with repeats
    std::vector<std::uint32_t> m_uniqueStart; // per text, into m_uniqueWords; one sentinel
    std::vector<std::uint32_t> m_uniqueWords; // distinct folded word ids of every text, ascending
    std::vector<std::uint16_t> m_occurrences; // beside m_uniqueWords: how often the word stands
    std::vector<std::uint32_t> m_postingStart;
    std::vector<std::uint32_t> m_postings; // per word, the texts holding it, ascending
    std::vector<std::uint32_t> m_textStamp;
    std::uint32_t m_stamp = 0;
};

void beginCriterion(RunState& state)
{
    state.listed.assign(state.pathCount, 0);
}

// Exact criteria: the partners of a text are the other members of the same text.
template <typename Key>
class EqualTextPartners
{
public:
    explicit EqualTextPartners(const TextGroups<Key>& groups)
        : m_groups(groups), m_exhausted(groups.textCount(), 0)
    {}

    std::uint32_t lastPartnerEntryPlusOne(std::uint32_t text) const
    {
        return m_groups.members[m_groups.start[text + 1] - 1] + 1;
    }

    template <typename Visit>
    void forEachActivePartner(std::uint32_t text, Visit visit)
    {
        if (!m_exhausted[text] && !visit(text))
            m_exhausted[text] = 1;
    }

private:
    const TextGroups<Key>& m_groups;
    std::vector<std::uint8_t> m_exhausted;
};

// Similar criteria: the partners of a text are found once, when the text is first met as an
// outer text, and kept while they may still hold members to list.
class SimilarTextPartners
{
public:
    explicit SimilarTextPartners(const TextGroups<std::string_view>& groups)
        : m_groups(groups), m_measure(groups.keys), m_first(groups.textCount(), 0),
          m_count(groups.textCount(), 0), m_lastPlusOne(groups.textCount(), 0),
          m_known(groups.textCount(), 0)
    {}

    std::uint32_t lastPartnerEntryPlusOne(std::uint32_t text)
    {
        if (!m_known[text]) {
            m_known[text] = 1;
            const std::vector<std::uint32_t> partners = m_measure.of(text);
            m_first[text] = m_partners.size();
            m_count[text] = static_cast<std::uint32_t>(partners.size());
            m_partners.insert(m_partners.end(), partners.begin(), partners.end());
            std::uint32_t last = 0;
            for (const std::uint32_t partner : partners)
                last = std::max(last, m_groups.members[m_groups.start[partner + 1] - 1] + 1);
            m_lastPlusOne[text] = last;
        }
        return m_lastPlusOne[text];
    }

    template <typename Visit>
    void forEachActivePartner(std::uint32_t text, Visit visit)
    {
        // The active partners of a text are the first m_count[text] of its stretch of
        // m_partners; an exhausted one is swapped behind them.
        std::uint32_t* active = m_partners.data() + m_first[text];
        std::uint32_t& count = m_count[text];
        for (std::uint32_t k = 0; k < count;) {
            if (visit(active[k]))
                ++k;
            else
                std::swap(active[k], active[--count]);
        }
    }

private:
    const TextGroups<std::string_view>& m_groups;
    SimilarPartners m_measure;
    std::vector<std::uint32_t> m_partners; // the partner texts of every text met so far
    std::vector<std::uint64_t> m_first;    // per text, where its partners start
    std::vector<std::uint32_t> m_count;    // per text, how many of them are still active
    std::vector<std::uint32_t> m_lastPlusOne;
    std::vector<std::uint8_t> m_known;
};

template <typename Key>
PassOutcome runExact(RunState& state, Criterion criterion, const TextGroups<Key>& groups)
{
    beginCriterion(state);
    EqualTextPartners<Key> partners(groups);
    PairWalk<Key> walk(state, criterion, groups);
    return walk.run(partners);
}

PassOutcome runSimilar(RunState& state, Criterion criterion,
                       const TextGroups<std::string_view>& groups)
{
    beginCriterion(state);
    SimilarTextPartners partners(groups);
    PairWalk<std::string_view> walk(state, criterion, groups);
    return walk.run(partners);
}

TextGroups<std::string_view> groupByName(const Catalogue& catalogue)
{
    return groupEntries<std::string_view>(catalogue.count(), [&](std::size_t entry) {
        return std::optional<std::string_view>(catalogue.name(entry));
    });
}

} // namespace

void AssignPathIds(RunState& state)
{
    const Catalogue& catalogue = state.session.catalogue();
    const std::size_t n = catalogue.count();
    state.pathId.resize(n);
    state.pathCount = static_cast<std::uint32_t>(n);
    state.rowInfo.assign(n, {});

    // A row names a file, and one file may have been catalogued under several paths: its folder
    // listed twice, inside another listed folder, under another spelling or through a listed
    // link. Entries of one file share the path id of its first entry. Names within one listing
    // are distinct, so only entries of folders catalogued more than once can share a file.
    std::unordered_map<std::string_view, std::uint32_t> canonical;
    std::vector<std::uint32_t> canonicalOf(catalogue.folderCount());
    std::vector<std::uint32_t> foldersPerCanonical;
    for (std::uint32_t folder = 0; folder < catalogue.folderCount(); ++folder) {
        const auto [it, inserted] =
            canonical.try_emplace(catalogue.canonicalFolder(folder),
                                  static_cast<std::uint32_t>(foldersPerCanonical.size()));
        if (inserted)
            foldersPerCanonical.push_back(0);
        canonicalOf[folder] = it->second;
        ++foldersPerCanonical[it->second];
    }
    std::unordered_map<std::string, std::uint32_t> repeated;
    for (std::uint32_t entry = 0; entry < n; ++entry) {
        state.pathId[entry] = entry;
        const std::uint32_t folder = canonicalOf[catalogue.folderId(entry)];
        if (foldersPerCanonical[folder] < 2)
            continue;
        std::string file(catalogue.canonicalFolder(catalogue.folderId(entry)));
        file.append(catalogue.name(entry));
        const auto [it, inserted] = repeated.try_emplace(std::move(file), entry);
        state.pathId[entry] = it->second;
    }
}

namespace {

void keepTitles(RunState& state, std::uint32_t id, FileFacts& facts, SizeAndTagTitle&& read)
{
    if (!read.size)
        return;
    facts.id3v1Read = true;
    facts.id3v1Title = std::move(read.title);
    if (state.id3v2Titles) {
        facts.id3v2Read = true;
        facts.id3v2Title = std::move(read.id3v2Title);
    }
    state.facts.noteRead(id);
}

} // namespace

void ReadTitles(RunState& state)
{
    Catalogue& catalogue = state.session.catalogue();
    std::vector<std::string>& titles = state.session.titles();
    titles.assign(catalogue.count(), std::string());
    const bool id3v2 = state.id3v2Titles;
    ParallelFor(catalogue.count(), [&](std::size_t entry) {
        const std::string path = catalogue.path(entry);
        // A file catalogued twice is looked up and kept under its first entry only.
        const auto id = static_cast<std::uint32_t>(entry);
        FileFacts* facts = state.pathId[entry] == id ? state.facts.of(id, path) : nullptr;
        if (facts && facts->id3v1Read && (facts->id3v2Read || !id3v2)) {
            titles[entry] =
                ComparedTitle(facts->id3v1Title, id3v2 ? facts->id3v2Title : std::nullopt);
            return;
        }
        if (catalogue.hasTitle(entry)) {
            // Read when the scan asked for the size: still good while the file is unchanged.
            const std::optional<FileStamp> now = QueryFileStamp(path);
            if (now && *now == FileStamp{catalogue.size(entry), catalogue.titleModifiedNs(entry)}) {
                titles[entry] = catalogue.takeTitle(entry);
                return;
            }
        }
        if (!facts && !id3v2) {
            titles[entry] = ReadTagTitle(path).value_or(std::string());
            return;
        }
        SizeAndTagTitle read = ReadSizeAndTagTitle(path, id3v2);
        titles[entry] = ComparedTitle(read.title, read.id3v2Title);
        if (facts)
            keepTitles(state, id, *facts, std::move(read));
    });
    catalogue.dropTitles();
    state.titlesRead = true;
}

bool IsPathListed(const ResultList& list, std::string_view path, std::size_t firstRow)
{
    const std::size_t rows = list.size();
    for (std::size_t k = std::max<std::size_t>(firstRow, 1); k <= rows; ++k)
        if (list.path(k - 1) == path)
            return true;
    return false;
}

PassOutcome FindDupesExactFilename(RunState& state)
{
    return runExact(state, Criterion::ExactFilename, groupByName(state.session.catalogue()));
}

PassOutcome FindDupesExactFilesize(RunState& state)
{
    Catalogue& catalogue = state.session.catalogue();
    // With a cache the scan leaves the reading to this step, which then reads the titles in the
    // same visit where a tag criterion will want them.
    const bool withTitles =
        state.facts.enabled() && (state.host.isCriterionTicked(Criterion::ExactTag) ||
                                  state.host.isCriterionTicked(Criterion::SimilarTag));
    // Sizes the scan did not read (the box was ticked later) are read now: empty size texts must
    // never make files of different sizes equal.
    ParallelFor(catalogue.count(), [&](std::size_t entry) {
        if (catalogue.size(entry) != Catalogue::kSizeNotRead)
            return;
        const std::string path = catalogue.path(entry);
        // A file the cache knows was readable when its key was the same as now.
        const auto id = static_cast<std::uint32_t>(entry);
        const bool first = state.pathId[entry] == id;
        const std::optional<std::int64_t> known =
            first ? state.facts.knownSize(id, path) : std::nullopt;
        if (known) {
            catalogue.setSize(entry, *known);
            return;
        }
        FileFacts* facts = first && withTitles ? state.facts.of(id, path) : nullptr;
        if (!facts) {
            catalogue.setSize(entry, QueryFileSize(path).value_or(Catalogue::kSizeUnreadable));
            return;
        }
        SizeAndTagTitle read = ReadSizeAndTagTitle(path, state.id3v2Titles);
        catalogue.setSize(entry, read.size.value_or(Catalogue::kSizeUnreadable));
        keepTitles(state, id, *facts, std::move(read));
    });
    const auto groups = groupEntries<std::int64_t>(catalogue.count(), [&](std::size_t entry) {
        const std::int64_t size = catalogue.size(entry);
        return size >= 0 ? std::optional<std::int64_t>(size) : std::nullopt;
    });
    return runExact(state, Criterion::ExactFilesize, groups);
}

PassOutcome FindDupesSimilarFilename(RunState& state)
{
    return runSimilar(state, Criterion::SimilarFilename, groupByName(state.session.catalogue()));
}

PassOutcome FindDupesExactTag(RunState& state)
{
    if (!state.titlesRead)
        ReadTitles(state);
    const std::vector<std::string>& titles = state.session.titles();
    const auto groups = groupEntries<std::string_view>(titles.size(), [&](std::size_t entry) {
        const std::string& title = titles[entry];
        // An empty title, or one that starts with NUL, never matches.
        if (title.empty() || title[0] == '\0')
            return std::optional<std::string_view>();
        return std::optional<std::string_view>(title);
    });
    return runExact(state, Criterion::ExactTag, groups);
}

PassOutcome FindDupesSimilarTag(RunState& state)
{
    if (!state.titlesRead)
        ReadTitles(state);
    const std::vector<std::string>& titles = state.session.titles();
    const auto groups = groupEntries<std::string_view>(titles.size(), [&](std::size_t entry) {
        return std::optional<std::string_view>(titles[entry]);
    });
    return runSimilar(state, Criterion::SimilarTag, groups);
}

} // namespace tunesift
