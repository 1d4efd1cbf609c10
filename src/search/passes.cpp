#include "search/passes.h"

#include "mp3/id3v1.h"
#include "mp3/mp3info.h"
#include "search/denseids.h"
#include "search/filesize.h"
#include "search/folderreads.h"
#include "search/parallel.h"
#include "search/similar.h"
#include "search/textcase.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>

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

template <typename Key, typename KeyOf>
TextGroups<Key> groupEntries(std::size_t count, KeyOf keyOf)
{
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

// The columns of a file's rows from the analysis just made of it.
void fillRowInfo(RunState::RowInfo& info, const clsMP3Info& analysis, const std::string& path)
{
    info.songLength = analysis.SongLength();
    info.bitRate = analysis.BitRate();
    // The analysis opened the file and knows its length; only when it kept none (the file could
    // not be opened, or holds no frame) is the size asked for on its own.
    info.size = analysis.FileSize();
    if (info.size <= 0)
        info.size = FileSize2(path);
    info.known = true;
}

void takeReadColumns(RunState::RowInfo& info, const Catalogue& catalogue, std::uint32_t entry)
{
    const RowColumns& columns = catalogue.readColumns(entry);
    info.size = catalogue.size(entry);
    info.songLength = columns.songLength;
    info.bitRate = columns.bitRate;
    info.known = true;
}

// Adds what an analysis found for the file's rows to its facts, when it found the file's length.
bool addAnalysis(FileFacts& facts, const RunState::RowInfo& info, const clsMP3Info& analysis)
{
    if (info.size <= 0)
        return false;
    facts.analysed = true;
    facts.rowSize = info.size;
    facts.songLength = info.songLength;
    facts.bitRate = info.bitRate;
    facts.headerOffset = analysis.FileName().empty() ? -1 : analysis.HeaderOffset();
    return true;
}

// The file as the cache knows it; the columns of its rows are taken from there when known.
template <typename... Where>
std::optional<CachedFile> lookUpFile(RunState& state, std::uint32_t id, Where&&... where)
{
    std::optional<CachedFile> file = state.facts.of(id, std::forward<Where>(where)...);
    RunState::RowInfo& info = state.rowInfo[id];
    if (file && file->facts.analysed && !info.known) {
        info.size = file->facts.rowSize;
        info.songLength = file->facts.songLength;
        info.bitRate = file->facts.bitRate;
        info.known = true;
    }
    return file;
}

// Looks the files of entries (first entries of their files, in catalogue order) up in the cache,
// a block at a time. A block's stamps are taken on a few threads, each file relative to its
// folder held open; the look-ups then run on this thread in the order of the files' (device,
// inode), which walks the cache's index in order and never hands its lock between threads.
// found(entry, file) takes what the cache knew and tells whether the entry is done; the others go
// to read(folder, entry, file) on a few threads, file being nothing where the file could not be
// examined or changed during the run. Without a cache, or with one that held nothing, every entry
// goes to read unlooked-up, with nothing for file.
template <typename Found, typename Read>
void lookUpThenRead(RunState& state, std::span<const std::uint32_t> entries, bool withFacts,
                    Found found, Read read)
{
    const Catalogue& catalogue = state.session.catalogue();
    if (!state.facts.mayFind()) {
        ForEachInFolders(
            catalogue, entries.size(), [&](std::size_t k) { return entries[k]; },
            [&](const FolderHandle& folder, std::uint32_t entry) {
                read(folder, entry, std::nullopt);
            });
        return;
    }
    constexpr std::size_t kBlock = std::size_t{1} << 16; // bounds the stamps held at once
    std::vector<std::optional<FileStamp>> stamps;
    std::vector<std::uint32_t> order; // positions in the block
    std::vector<std::uint32_t> misses;
    for (std::size_t first = 0; first < entries.size(); first += kBlock) {
        const std::span<const std::uint32_t> block =
            entries.subspan(first, std::min(kBlock, entries.size() - first));
        stamps.assign(block.size(), std::nullopt);
        // A stamp taken while the folder's listing was fresh is not taken again.
        std::vector<std::uint32_t>& unstamped = misses;
        unstamped.clear();
        for (std::uint32_t k = 0; k < block.size(); ++k) {
            stamps[k] = catalogue.listedStamp(block[k]);
            if (!stamps[k])
                unstamped.push_back(k);
        }
        ForEachInFolders(
            catalogue, unstamped.size(), [&](std::size_t j) { return block[unstamped[j]]; },
            [&](const FolderHandle& folder, std::uint32_t entry, std::size_t j) {
                stamps[unstamped[j]] = QueryFileStamp(folder, catalogue.name(entry));
            });
        const auto place = [&](std::uint32_t k) {
            const std::optional<FileStamp>& stamp = stamps[k];
            return stamp ? std::pair(stamp->device, stamp->inode)
                         : std::pair(std::uint64_t{0}, std::uint64_t{0});
        };
        order.resize(block.size());
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return place(a) < place(b); });
        misses.clear();
        for (const std::uint32_t k : order)
            if (!found(block[k], lookUpFile(state, block[k], stamps[k], withFacts)))
                misses.push_back(k);
        std::sort(misses.begin(), misses.end());
        ForEachInFolders(
            catalogue, misses.size(), [&](std::size_t j) { return block[misses[j]]; },
            [&](const FolderHandle& folder, std::uint32_t entry, std::size_t j) {
                // The stamp again, without the facts: the key and whether the cache knew it.
                read(folder, entry, state.facts.of(entry, stamps[misses[j]], false));
            });
    }
}

// Writes the row; its columns come from the file's first reading in this run, which for a file
// new to the run's rows happens when the criterion ends (FillRowColumns).
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
    const RunState::RowInfo& info = state.rowInfo[id];
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

    // Source::step(outer, text, walk) tells whether any pair of the outer step passes (a partner
    // text has a member after the outer entry, listed or not) and hands every partner text that
    // may still hold unlisted members to gather(). Source::ahead(far, near) is told the texts of
    // later steps, so that it can ask for what they will read.
    template <typename Source>
    PassOutcome run(Source& source)
    {
        SearchHost& host = m_state.host;
        const std::size_t n = m_state.session.catalogue().count();
        constexpr std::size_t kFar = 16;
        constexpr std::size_t kNear = 8;
        for (std::size_t i = 0; i < n; ++i) {
            source.ahead(i + kFar < n ? m_groups.textOf[i + kFar] : kNoText,
                         i + kNear < n ? m_groups.textOf[i + kNear] : kNoText);
            host.setProgress(static_cast<int>(
                std::floor(static_cast<double>(i + 1) / static_cast<double>(n) * 100.0)));
            const std::uint32_t text = m_groups.textOf[i];
            if (text == kNoText)
                continue;
            m_outer = static_cast<std::uint32_t>(i);
            m_gathered.clear();
            m_texts = 0;
            if (!source.step(m_outer, text, *this))
                continue; // no pair of this outer step passes
            if (m_texts > 1)
                std::sort(m_gathered.begin(), m_gathered.end());

            // A passing pair: the stop flag is read before anything of it is written.
            if (host.isStopRequested())
                return PassOutcome::Stopped;
            if (!m_state.listed[m_state.pathId[m_outer]]) {
                m_state.groupHeadAdded = true;
                if (!AddResultRow(m_state, m_outer, m_criterion))
                    return PassOutcome::ResultsFull;
            }
            for (const std::uint32_t inner : m_gathered) {
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

    // Takes the unlisted members after the outer entry of a partner text. False when there are
    // none: the text is then exhausted for good, as the outer index only grows and listing only
    // grows within a criterion.
    bool gather(std::uint32_t text)
    {
        const std::uint32_t end = m_groups.start[text + 1];
        const auto* first = m_groups.members.data() + m_groups.start[text];
        const auto* last = m_groups.members.data() + end;
        auto pos = static_cast<std::uint32_t>(std::upper_bound(first, last, m_outer) -
                                              m_groups.members.data());
        pos = findUnlisted(pos, end);
        if (pos == end)
            return false;
        ++m_texts;
        for (; pos < end; pos = findUnlisted(pos + 1, end))
            m_gathered.push_back(m_groups.members[pos]);
        return true;
    }

    // Whether the text holds a member after the outer entry that is another file. Two entries of
    // one file are no pair; they share their text (the keys of a file's later entries are those of
    // its first), so only the outer's own text can hold the outer file's other entries.
    bool anotherFileAfter(std::uint32_t outer, std::uint32_t text) const
    {
        const auto* first = m_groups.members.data() + m_groups.start[text];
        const auto* last = m_groups.members.data() + m_groups.start[text + 1];
        if (first == last || last[-1] <= outer)
            return false;
        if (m_state.pathId[last[-1]] != m_state.pathId[outer])
            return true;
        for (const auto* p = std::upper_bound(first, last, outer); p != last; ++p)
            if (m_state.pathId[*p] != m_state.pathId[outer])
                return true;
        return false;
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
    std::vector<std::uint32_t> m_gathered; // unlisted partners of the outer entry
    std::uint32_t m_outer = 0;
    std::size_t m_texts = 0; // partner texts that gave members this step
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

// Asks for the memory at p to be brought into the caches ahead of its use.
inline void Prefetch(const void* p)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#else
    static_cast<void>(p);
#endif
}

// Keys as bits of a bitmap about 32 times as large as the count of keys, so that few other keys
// hit a set bit: whether a key was added, and whether it was added more than once. The two bits
// of a key share a cache line.
class KeyBits
{
public:
    explicit KeyBits(std::size_t keys)
    {
        std::size_t bits = 64;
        while (bits < keys * 32)
            bits *= 2;
        m_mask = bits - 1;
        m_words.assign(bits / 64 * 2, 0);
    }

    void add(std::uint64_t key)
    {
        std::uint64_t* words = wordsOf(key);
        const std::uint64_t bit = bitOf(key);
        if (words[0] & bit)
            words[1] |= bit;
        words[0] |= bit;
    }

    bool once(std::uint64_t key) const { return (wordsOf(key)[0] & bitOf(key)) != 0; }
    bool twice(std::uint64_t key) const { return (wordsOf(key)[1] & bitOf(key)) != 0; }
    void prefetch(std::uint64_t key) const { Prefetch(wordsOf(key)); }

private:
    std::uint64_t bitOf(std::uint64_t key) const { return std::uint64_t{1} << (key & 63); }
    const std::uint64_t* wordsOf(std::uint64_t key) const
    {
        return m_words.data() + ((key & m_mask) >> 6) * 2;
    }
    std::uint64_t* wordsOf(std::uint64_t key) { return m_words.data() + ((key & m_mask) >> 6) * 2; }

    std::vector<std::uint64_t> m_words; // per 64 bits: added, added twice
    std::uint64_t m_mask = 0;
};

// The similar criteria's partners. Texts fall into classes of equal folded word lists (the same
// words, each as often, in any order and letter case): every text of a class passes against
// every other text of it, and against another text exactly as its class does, so classes are
// measured rather than texts, and a group of names that differ only in letter case is one class.
//
// Nothing is kept from one outer step to the next but what can only shrink: the texts of a class
// that may still hold unlisted members, and the classes that hold none (dead). Each step finds
// the candidate classes again, measures the live ones, and stops measuring dead ones once one
// passing partner with a member after the outer entry is known, so a dense group costs one cheap
// look per candidate after its first step rather than a stored list of every partner.
//
// Candidates come from an index keyed by the set of folded words where it can. An outer text of
// up to twenty words may leave at most one of its words unmatched, and that one only when it
// stands once, so a partner's set is the outer set less at most that word, plus words the outer
// text lacks; the pair's word counts bound how many. Where that leaves room for at most three
// extra words, the partner's set less its extra words is the outer set less its missed word:
// classes are entered under their set and under their set less any one, two or three words
// (each only where some outer class may have such a partner), and the outer looks up its set
// and its set less each word that may go unmatched. Longer texts, texts whose partners may hold
// more extra words, and texts whose partners would cost more keys than probes spare probe the
// inverted index of their rarest words.
class SimilarPartners
{
public:
    // Takes the texts' words into classes and lets go of the texts.
    explicit SimilarPartners(TextGroups<std::string_view>& groups) : m_groups(groups)
    {
        buildClasses();
        std::vector<std::string_view>().swap(groups.keys);
        buildClassTexts();
        chooseSetKeys();
        buildSetIndex();
        buildPostings();
    }

    // With a million texts the index is larger than the caches: the bucket of a later step's
    // set is asked for well ahead, and its entries shortly ahead.
    void ahead(std::uint32_t far, std::uint32_t near) const
    {
        if (far != kNoText)
            Prefetch(&m_bucketStart[m_ownBucket[m_classOf[far]]]);
        if (near != kNoText)
            Prefetch(m_bucketEntries.data() + m_bucketStart[m_ownBucket[m_classOf[near]]]);
    }

    // The outer's own text is never its partner (equal texts are the exact criteria's), and the
    // entries of one file share their text, so no pair found here is two entries of one file.
    template <typename Walk>
    bool step(std::uint32_t outer, std::uint32_t text, Walk& walk)
    {
        const std::uint32_t own = m_classOf[text];
        const std::uint32_t otherTextEnd =
            m_lastText[own] != text ? m_class[own].lastPlusOne : m_secondPlusOne[own];
        bool found = otherTextEnd > outer + 1;
        if (found)
            gatherClass(own, text, walk);

        ++m_stamp;
        markWords(own);
        const std::uint32_t longest = longestPartnerFor(m_class[own].wordCount);
        const auto visit = [&](std::uint32_t other) {
            ClassState& state = m_class[other];
            if (state.lastPlusOne <= outer + 1 || state.wordCount > longest ||
                state.stamp == m_stamp)
                return; // no member after the outer entry, too long, or seen in this step
            state.stamp = m_stamp;
            if (state.dead) {
                if (!found && passes(own, other))
                    found = true;
                return;
            }
            if (!passes(own, other))
                return;
            found = true;
            if (!gatherClass(other, kNoText, walk))
                state.dead = 1;
        };
        if (usesSetIndex(own))
            forEachSetCandidate(own, visit);
        else
            forEachProbedCandidate(own, visit);
        return found;
    }

private:
    struct Probe
    {
        std::uint32_t frequency;
        std::uint32_t word;
        std::uint32_t occurrences;
    };

    // A class entered under a key, with bits of the key that its bucket does not tell.
    struct BucketEntry
    {
        std::uint32_t check;
        std::uint32_t c;
    };

    static std::uint32_t checkOf(std::uint64_t key)
    {
        return static_cast<std::uint32_t>(key >> 32);
    }

    // What a candidate's first look needs, side by side.
    struct ClassState
    {
        std::uint32_t wordCount = 0;   // words with repeats
        std::uint32_t lastPlusOne = 0; // greatest member + 1
        std::uint32_t stamp = 0;       // the step that last looked at the class
        std::uint32_t dead = 0;        // no text with an unlisted member left
    };

    static constexpr std::uint8_t kProbes = 0;       // probes the rarest words instead
    static constexpr std::uint8_t kOwnSet = 1;       // looks up its set only
    static constexpr std::uint8_t kSetLessAWord = 2; // and its set less each word standing once
    static constexpr std::uint32_t kMostExtraWords = 3;
    static constexpr std::size_t kBatch = 256; // keys checked together
    // Keys checked for the index that cost about as much as one probed candidate.
    static constexpr std::uint64_t kKeysPerCandidate = 4;
    static constexpr std::uint64_t kFewKeys = 4096; // too few to weigh against probes

    std::uint32_t classCount() const { return static_cast<std::uint32_t>(m_class.size()); }

    // The most outer words that may go unmatched while a pair can still pass.
    static std::uint32_t maxMissFor(std::uint32_t na)
    {
        std::uint32_t maxMiss = 0;
        while (maxMiss + 1 <= na &&
               IsSimilar(static_cast<double>(na - maxMiss - 1) / static_cast<double>(na)))
            ++maxMiss;
        return maxMiss;
    }

    // The most words an inner text may have while a pair in which matched of the outer's na
    // words are found can still pass (matched passes against na itself).
    static std::uint32_t longestPartnerFor(std::uint32_t na, std::uint32_t matched)
    {
        std::uint32_t nb = na;
        while (IsSimilar(static_cast<double>(matched) / static_cast<double>(nb + 1)))
            ++nb;
        return nb;
    }

    static std::uint32_t longestPartnerFor(std::uint32_t na) { return longestPartnerFor(na, na); }

    static std::uint64_t mixWord(std::uint32_t word)
    {
        std::uint64_t z = (static_cast<std::uint64_t>(word) + 1) * 0x9E3779B97F4A7C15ULL;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    std::span<const std::uint32_t> uniqueWords(std::uint32_t c) const
    {
        return {m_uniqueWords.data() + m_uniqueStart[c], m_uniqueStart[c + 1] - m_uniqueStart[c]};
    }

    std::span<const std::uint16_t> occurrences(std::uint32_t c) const
    {
        return {m_occurrences.data() + m_uniqueStart[c], m_uniqueStart[c + 1] - m_uniqueStart[c]};
    }

    // A set's key is the sum of its words' mixes, so the key of the set less a word is one
    // subtraction away.
    std::uint64_t setKey(std::uint32_t c) const
    {
        std::uint64_t key = 0;
        for (const std::uint32_t word : uniqueWords(c))
            key += mixWord(word);
        return key;
    }

    bool usesSetIndex(std::uint32_t c) const { return m_setKeys[c] != kProbes; }

    // How the partners of a class are found: through the set index when every class that can
    // pass against it holds its set, less at most one word that stands once in it (when one
    // word may go unmatched), plus at most kMostExtraWords others.
    std::uint8_t setKeysOf(std::uint32_t c) const
    {
        const std::uint32_t na = m_class[c].wordCount;
        const auto distinct = static_cast<std::uint32_t>(uniqueWords(c).size());
        const std::uint32_t maxMiss = maxMissFor(na);
        if (maxMiss > 1 || longestPartnerFor(na) > distinct + kMostExtraWords)
            return kProbes;
        if (maxMiss == 0 || std::ranges::find(occurrences(c), 1) == occurrences(c).end())
            return kOwnSet;
        // A missed word leaves distinct - 1 of the outer's words in the partner.
        return longestPartnerFor(na, na - 1) > distinct - 1 + kMostExtraWords ? kProbes
                                                                              : kSetLessAWord;
    }

    // The keys an outer class of the set index looks up: its set, and its set less each word
    // that may go unmatched.
    template <typename Use>
    void forEachLookupKey(std::uint32_t c, Use use) const
    {
        const std::uint64_t key = setKey(c);
        use(key);
        if (m_setKeys[c] != kSetLessAWord)
            return;
        const std::span<const std::uint32_t> words = uniqueWords(c);
        const std::span<const std::uint16_t> counts = occurrences(c);
        for (std::size_t k = 0; k < words.size(); ++k)
            if (counts[k] == 1)
                use(key - mixWord(words[k]));
    }

    void buildClasses()
    {
        const std::uint32_t textCount = m_groups.textCount();
        m_classOf.resize(textCount);
        m_uniqueStart.push_back(0);
        std::string wordText; // the folded words, each stored once
        std::vector<std::uint32_t> wordStart{0};
        const auto word = [&](std::uint32_t id) {
            return std::string_view(wordText).substr(wordStart[id],
                                                     wordStart[id + 1] - wordStart[id]);
        };
        const std::hash<std::string_view> hasher;
        DenseIds wordIds(1024); // grows with the vocabulary, far smaller than the texts
        DenseIds classIds(textCount / 2);
        const auto listHash = [](std::span<const std::uint32_t> words,
                                 std::span<const std::uint16_t> times) {
            std::uint64_t h = words.size();
            for (std::size_t k = 0; k < words.size(); ++k)
                h = (h ^ mixWord(words[k] + (std::uint32_t{times[k]} << 24))) * 0x100000001B3ULL;
            return static_cast<std::size_t>(h ^ (h >> 29));
        };
        // A text's class key is made a few texts before it is looked up, and its slot in the
        // class table fetched meanwhile: with a million texts the table is mostly out of the
        // caches. Words and classes still get their ids in text order.
        struct Key
        {
            std::uint32_t wordCount = 0;
            std::vector<std::uint32_t> unique;
            std::vector<std::uint16_t> counts;
            std::size_t hash = 0;
        };
        constexpr std::uint32_t kAhead = 8;
        std::array<Key, kAhead> keys;
        std::vector<std::uint32_t> ids;
        const auto makeKey = [&](std::uint32_t t, Key& key) {
            ids.clear();
            ForEachComparedWord(m_groups.keys[t], [&](std::string_view folded) {
                const auto [id, inserted] = wordIds.intern(
                    hasher(folded), [&](std::uint32_t w) { return word(w) == folded; },
                    [&](std::uint32_t w) { return hasher(word(w)); });
                if (inserted) {
                    wordText.append(folded);
                    wordStart.push_back(static_cast<std::uint32_t>(wordText.size()));
                }
                ids.push_back(id);
            });
            std::sort(ids.begin(), ids.end());
            key.wordCount = static_cast<std::uint32_t>(ids.size());
            key.unique.clear();
            key.counts.clear();
            for (std::size_t k = 0; k < ids.size();) {
                std::size_t end = k;
                while (end < ids.size() && ids[end] == ids[k])
                    ++end;
                key.unique.push_back(ids[k]);
                key.counts.push_back(static_cast<std::uint16_t>(
                    std::min<std::size_t>(end - k, std::numeric_limits<std::uint16_t>::max())));
                k = end;
            }
            key.hash = listHash(key.unique, key.counts);
            classIds.prefetch(key.hash);
        };
        for (std::uint32_t t = 0; t < std::min(kAhead, textCount); ++t)
            makeKey(t, keys[t]);
        for (std::uint32_t t = 0; t < textCount; ++t) {
            Key& key = keys[t % kAhead];
            const auto [c, inserted] = classIds.intern(
                key.hash,
                [&](std::uint32_t other) {
                    return std::ranges::equal(uniqueWords(other), key.unique) &&
                           std::ranges::equal(occurrences(other), key.counts);
                },
                [&](std::uint32_t other) {
                    return listHash(uniqueWords(other), occurrences(other));
                });
            m_classOf[t] = c;
            if (inserted) {
                m_class.push_back({key.wordCount, 0, 0, 0});
                m_uniqueWords.insert(m_uniqueWords.end(), key.unique.begin(), key.unique.end());
                m_occurrences.insert(m_occurrences.end(), key.counts.begin(), key.counts.end());
                m_uniqueStart.push_back(static_cast<std::uint32_t>(m_uniqueWords.size()));
            }
            if (t + kAhead < textCount)
                makeKey(t + kAhead, key);
        }
        const std::size_t vocabulary = wordStart.size() - 1;
        m_mark.assign(vocabulary, 0);
        m_markCount.assign(vocabulary, 0);
    }

    // The texts of every class, and per class the greatest member (plus one) over its texts
    // and over its texts but the one holding that member.
    void buildClassTexts()
    {
        const std::uint32_t classes = classCount();
        m_classTextStart.assign(classes + 1, 0);
        for (const std::uint32_t c : m_classOf)
            ++m_classTextStart[c + 1];
        for (std::uint32_t c = 0; c < classes; ++c)
            m_classTextStart[c + 1] += m_classTextStart[c];
        m_activeTexts.assign(classes, 0);
        m_classTexts.resize(m_classOf.size());
        m_secondPlusOne.assign(classes, 0);
        m_lastText.assign(classes, kNoText);
        for (std::uint32_t t = 0; t < m_classOf.size(); ++t) {
            const std::uint32_t c = m_classOf[t];
            m_classTexts[m_classTextStart[c] + m_activeTexts[c]++] = t;
            const std::uint32_t end = m_groups.members[m_groups.start[t + 1] - 1] + 1;
            if (end > m_class[c].lastPlusOne) {
                m_secondPlusOne[c] = m_class[c].lastPlusOne;
                m_class[c].lastPlusOne = end;
                m_lastText[c] = t;
            } else if (end > m_secondPlusOne[c]) {
                m_secondPlusOne[c] = end;
            }
        }
    }

    // The partners an outer class of the set index may have, as cells of the index: the
    // partner holds the outer's distinct words (less the one it may miss) and extra ones, and
    // no more words than the pair allows.
    template <typename Use>
    void forEachPartnerCell(std::uint32_t c, Use use) const
    {
        const std::uint32_t na = m_class[c].wordCount;
        const auto distinct = static_cast<std::uint32_t>(uniqueWords(c).size());
        const auto cells = [&](std::uint32_t kept, std::uint32_t longest) {
            for (std::uint32_t extra = 0; extra <= kMostExtraWords && kept + extra <= longest;
                 ++extra)
                for (std::uint32_t nb = kept + extra; nb <= longest; ++nb)
                    use(cellOf(extra, kept + extra, nb));
        };
        cells(distinct, longestPartnerFor(na));
        if (m_setKeys[c] == kSetLessAWord)
            cells(distinct - 1, longestPartnerFor(na, na - 1));
    }

    // The cell of classes with the given count of distinct words and of words, entered under
    // their set less extra words; kNoText beyond the longest partner of any outer class.
    std::uint32_t cellOf(std::uint32_t extra, std::size_t distinct, std::uint32_t words) const
    {
        if (words > m_cellLimit)
            return kNoText;
        return (extra * (m_cellLimit + 1) + static_cast<std::uint32_t>(distinct)) *
                   (m_cellLimit + 1) +
               words;
    }

    // Whether class c is entered under its set less extra words.
    bool entered(std::uint32_t c, std::uint32_t extra) const
    {
        const std::size_t distinct = uniqueWords(c).size();
        const std::uint32_t cell = cellOf(extra, distinct, m_class[c].wordCount);
        return distinct > extra && cell != kNoText && m_cells[cell] != 0;
    }

    // Decides which classes use the set index. Entering a class under its set less two or three
    // words costs many keys, so the cells of such partners are kept only where they spare more
    // than the probes of the outer classes that want them (their rarest words' lists, once per
    // outer step); an outer class that wants a dropped cell probes its rarest words.
    void chooseSetKeys()
    {
        std::vector<std::uint32_t> holders(m_mark.size(), 0); // classes per word
        for (const std::uint32_t w : m_uniqueWords)
            ++holders[w];
        std::vector<std::uint32_t> rarest;
        const auto probeCost = [&](std::uint32_t c) {
            rarest.clear();
            for (const std::uint32_t w : uniqueWords(c))
                rarest.push_back(holders[w]);
            const std::size_t probed =
                std::min<std::size_t>(maxMissFor(m_class[c].wordCount) + 1, rarest.size());
            std::partial_sort(rarest.begin(), rarest.begin() + static_cast<std::ptrdiff_t>(probed),
                              rarest.end());
            std::uint64_t candidates = 0;
            for (std::size_t k = 0; k < probed; ++k)
                candidates += rarest[k];
            std::uint64_t steps = 0;
            for (std::uint32_t k = m_classTextStart[c]; k < m_classTextStart[c + 1]; ++k)
                steps += m_groups.start[m_classTexts[k] + 1] - m_groups.start[m_classTexts[k]];
            return candidates * steps;
        };
        m_cellLimit = 0;
        for (std::uint32_t na = 1; maxMissFor(na) <= 1; ++na)
            m_cellLimit = std::max(m_cellLimit, longestPartnerFor(na));
        const std::uint32_t cellCount = cellOf(kMostExtraWords + 1, 0, 0);
        std::vector<std::uint64_t> inner(cellCount, 0); // classes per cell of no extra words
        for (std::uint32_t c = 0; c < classCount(); ++c) {
            const std::uint32_t cell = cellOf(0, uniqueWords(c).size(), m_class[c].wordCount);
            if (cell != kNoText)
                ++inner[cell];
        }
        m_setKeys.resize(classCount());
        std::vector<std::uint64_t> spared(cellCount, 0); // probe candidates the cell spares
        for (std::uint32_t c = 0; c < classCount(); ++c) {
            m_setKeys[c] = setKeysOf(c);
            if (!usesSetIndex(c))
                continue;
            const std::uint64_t cost = probeCost(c);
            forEachPartnerCell(c, [&](std::uint32_t cell) { spared[cell] += cost; });
        }
        const std::uint32_t perExtra = (m_cellLimit + 1) * (m_cellLimit + 1);
        const auto worthKeys = [&](std::uint32_t cell) {
            const std::uint32_t extra = cell / perExtra;
            const std::uint64_t distinct = cell % perExtra / (m_cellLimit + 1);
            std::uint64_t keys = 1; // the subsets of extra words of the partner's distinct ones
            for (std::uint32_t k = 0; k < extra; ++k)
                keys = keys * (distinct - k) / (k + 1);
            const std::uint64_t cost = inner[cell % perExtra] * keys;
            return extra < 2 || cost <= std::max(kFewKeys, kKeysPerCandidate * spared[cell]);
        };
        m_cells.assign(cellCount, 0);
        for (std::uint32_t c = 0; c < classCount(); ++c) {
            if (!usesSetIndex(c))
                continue;
            bool worth = true;
            forEachPartnerCell(c, [&](std::uint32_t cell) { worth = worth && worthKeys(cell); });
            if (!worth)
                m_setKeys[c] = kProbes;
            else
                forEachPartnerCell(c, [&](std::uint32_t cell) { m_cells[cell] = 1; });
        }
    }

    // Classes that may be the partner of a set-keyed outer class, in buckets by key.
    void buildSetIndex()
    {
        std::size_t lookups = 0;
        for (std::uint32_t c = 0; c < classCount(); ++c)
            if (usesSetIndex(c))
                forEachLookupKey(c, [&](std::uint64_t) { ++lookups; });
        // Only keys some set-keyed class will look up are entered, and a key a class looks up
        // itself only when another class looks it up too, since a class is never its own partner.
        // The keys are checked in batches whose bits are asked for ahead: with a million texts
        // the bitmap is larger than the caches.
        KeyBits looked(lookups);
        std::vector<std::uint64_t> added;
        const auto addAll = [&] {
            for (const std::uint64_t key : added)
                looked.prefetch(key);
            for (const std::uint64_t key : added)
                looked.add(key);
            added.clear();
        };
        for (std::uint32_t c = 0; c < classCount(); ++c) {
            if (usesSetIndex(c))
                forEachLookupKey(c, [&](std::uint64_t key) { added.push_back(key); });
            if (added.size() >= kBatch)
                addAll();
        }
        addAll();
        struct Pending
        {
            std::uint64_t key;
            std::uint32_t c;
            bool ownLookup;
        };
        std::vector<Pending> pending;
        std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed;
        const auto enterAll = [&] {
            for (const Pending& p : pending)
                looked.prefetch(p.key);
            for (const Pending& p : pending)
                if (p.ownLookup ? looked.twice(p.key) : looked.once(p.key))
                    keyed.emplace_back(p.key, p.c);
            pending.clear();
        };
        std::vector<std::uint64_t> mixes;
        for (std::uint32_t c = 0; c < classCount(); ++c) {
            const std::uint64_t key = setKey(c);
            if (entered(c, 0))
                pending.push_back({key, c, usesSetIndex(c)});
            const bool lessOne = entered(c, 1);
            const bool lessTwo = entered(c, 2);
            const bool lessThree = entered(c, 3);
            static_assert(kMostExtraWords == 3);
            if (lessOne || lessTwo || lessThree) {
                const std::span<const std::uint16_t> counts = occurrences(c);
                mixes.clear();
                for (const std::uint32_t w : uniqueWords(c))
                    mixes.push_back(mixWord(w));
                const std::size_t n = mixes.size();
                for (std::size_t k = 0; k < n; ++k) {
                    const std::uint64_t one = key - mixes[k];
                    if (lessOne)
                        pending.push_back(
                            {one, c, m_setKeys[c] == kSetLessAWord && counts[k] == 1});
                    if (lessTwo || lessThree) {
                        for (std::size_t j = k + 1; j < n; ++j) {
                            const std::uint64_t two = one - mixes[j];
                            if (lessTwo)
                                pending.push_back({two, c, false});
                            if (lessThree)
                                for (std::size_t m = j + 1; m < n; ++m)
                                    pending.push_back({two - mixes[m], c, false});
                        }
                    }
                }
            }
            if (pending.size() >= kBatch)
                enterAll();
        }
        enterAll();
        std::size_t buckets = 16;
        while (buckets * 2 < keyed.size()) // two keys a bucket on average
            buckets *= 2;
        m_bucketMask = buckets - 1;
        m_bucketStart.assign(buckets + 1, 0);
        for (const auto& [key, c] : keyed)
            ++m_bucketStart[(key & m_bucketMask) + 1];
        for (std::size_t b = 0; b < buckets; ++b)
            m_bucketStart[b + 1] += m_bucketStart[b];
        m_bucketEntries.resize(keyed.size());
        std::vector<std::uint32_t> cursor(m_bucketStart.begin(), m_bucketStart.end() - 1);
        for (const auto& [key, c] : keyed)
            m_bucketEntries[cursor[key & m_bucketMask]++] = {checkOf(key), c};
        m_ownBucket.resize(classCount());
        for (std::uint32_t c = 0; c < classCount(); ++c)
            m_ownBucket[c] = static_cast<std::uint32_t>(setKey(c) & m_bucketMask);
    }

    // Per word that some probing class holds, the classes holding it, ascending.
    void buildPostings()
    {
        std::vector<std::uint8_t> probedWord(m_mark.size(), 0);
        for (std::uint32_t c = 0; c < classCount(); ++c)
            if (!usesSetIndex(c))
                for (const std::uint32_t w : uniqueWords(c))
                    probedWord[w] = 1;
        m_postingStart.assign(probedWord.size() + 1, 0);
        for (std::uint32_t c = 0; c < classCount(); ++c)
            for (const std::uint32_t w : uniqueWords(c))
                if (probedWord[w])
                    ++m_postingStart[w + 1];
        for (std::size_t w = 0; w < probedWord.size(); ++w)
            m_postingStart[w + 1] += m_postingStart[w];
        m_postings.resize(m_postingStart.back());
        std::vector<std::uint32_t> cursor(m_postingStart.begin(), m_postingStart.end() - 1);
        for (std::uint32_t c = 0; c < classCount(); ++c)
            for (const std::uint32_t w : uniqueWords(c))
                if (probedWord[w])
                    m_postings[cursor[w]++] = c;
    }

    // Hands over the unlisted members of a class's texts (but skip), dropping exhausted texts.
    // False when no text of the class is left.
    template <typename Walk>
    bool gatherClass(std::uint32_t c, std::uint32_t skip, Walk& walk)
    {
        std::uint32_t* active = m_classTexts.data() + m_classTextStart[c];
        std::uint32_t& count = m_activeTexts[c];
        for (std::uint32_t k = 0; k < count;) {
            if (active[k] == skip || walk.gather(active[k]))
                ++k;
            else
                std::swap(active[k], active[--count]);
        }
        return count > 0;
    }

    void markWords(std::uint32_t c)
    {
        for (std::uint32_t k = m_uniqueStart[c]; k < m_uniqueStart[c + 1]; ++k) {
            m_mark[m_uniqueWords[k]] = m_stamp;
            m_markCount[m_uniqueWords[k]] = m_occurrences[k];
        }
    }

    // The measure of the pair, with the outer class's words marked: the share of outer words
    // (with repeats) that the inner class holds, against the longer word count.
    bool passes(std::uint32_t outer, std::uint32_t inner) const
    {
        const std::uint32_t na = m_class[outer].wordCount;
        const std::uint32_t nb = m_class[inner].wordCount;
        const double longer = static_cast<double>(std::max(na, nb));
        if (!IsSimilar(static_cast<double>(na) / longer))
            return false; // even all outer words matched would not be enough
        std::uint32_t matched = 0;
        for (const std::uint32_t w : uniqueWords(inner))
            if (m_mark[w] == m_stamp)
                matched += m_markCount[w];
        return IsSimilar(static_cast<double>(matched) / longer);
    }

    template <typename Visit>
    void forEachSetCandidate(std::uint32_t c, Visit visit)
    {
        m_lookups.clear();
        forEachLookupKey(c, [&](std::uint64_t key) { m_lookups.push_back(key); });
        // The buckets' reads are started together rather than one after another.
        for (const std::uint64_t key : m_lookups)
            Prefetch(&m_bucketStart[key & m_bucketMask]);
        for (const std::uint64_t key : m_lookups)
            Prefetch(m_bucketEntries.data() + m_bucketStart[key & m_bucketMask]);
        for (const std::uint64_t key : m_lookups) {
            const std::size_t bucket = key & m_bucketMask;
            const std::uint32_t check = checkOf(key);
            for (std::uint32_t k = m_bucketStart[bucket]; k < m_bucketStart[bucket + 1]; ++k) {
                const BucketEntry entry = m_bucketEntries[k];
                if (entry.check == check && entry.c != c)
                    visit(entry.c);
            }
        }
    }

    // A pair can pass only when no more than maxMiss of the outer words are missing, so the
    // inner class must hold one of the outer's maxMiss + 1 rarest words (both rarest ones when
    // none may be missing).
    template <typename Visit>
    void forEachProbedCandidate(std::uint32_t c, Visit visit)
    {
        const std::uint32_t maxMiss = maxMissFor(m_class[c].wordCount);
        m_probes.clear();
        for (std::uint32_t k = m_uniqueStart[c]; k < m_uniqueStart[c + 1]; ++k) {
            const std::uint32_t w = m_uniqueWords[k];
            m_probes.push_back({m_postingStart[w + 1] - m_postingStart[w], w, m_occurrences[k]});
        }
        std::sort(m_probes.begin(), m_probes.end(), [](const Probe& a, const Probe& b) {
            return a.frequency != b.frequency ? a.frequency < b.frequency : a.word < b.word;
        });
        if (maxMiss == 0 && m_probes.size() >= 2) {
            const auto* second = m_postings.data() + m_postingStart[m_probes[1].word];
            const auto* secondEnd = m_postings.data() + m_postingStart[m_probes[1].word + 1];
            for (std::uint32_t k = m_postingStart[m_probes[0].word];
                 k < m_postingStart[m_probes[0].word + 1] && second != secondEnd; ++k) {
                const std::uint32_t inner = m_postings[k];
                second = gallopTo(second, secondEnd, inner);
                if (second != secondEnd && *second == inner && inner != c)
                    visit(inner);
            }
            return;
        }
        std::uint32_t probed = 0;
        for (const Probe& probe : m_probes) {
            for (std::uint32_t k = m_postingStart[probe.word]; k < m_postingStart[probe.word + 1];
                 ++k) {
                const std::uint32_t inner = m_postings[k];
                if (inner != c)
                    visit(inner);
            }
            // Once more outer words than may be missed are among the probed ones, a class that
            // holds none of them cannot pass.
            probed += probe.occurrences;
            if (probed > maxMiss)
                break;
        }
    }

    const TextGroups<std::string_view>& m_groups;
    std::vector<std::uint32_t> m_classOf; // per text

    // Per class.
    std::vector<ClassState> m_class;
    std::vector<std::uint32_t> m_uniqueStart;    // into m_uniqueWords; one sentinel
    std::vector<std::uint32_t> m_uniqueWords;    // distinct folded word ids, ascending
    std::vector<std::uint16_t> m_occurrences;    // beside m_uniqueWords: how often the word stands
    std::vector<std::uint32_t> m_classTextStart; // into m_classTexts; one sentinel
    std::vector<std::uint32_t> m_classTexts;     // the first m_activeTexts[c] may hold members
    std::vector<std::uint32_t> m_activeTexts;
    // Greatest member + 1 over the texts but m_lastText, the text holding the class's greatest.
    std::vector<std::uint32_t> m_secondPlusOne;
    std::vector<std::uint32_t> m_lastText;
    std::vector<std::uint8_t> m_setKeys; // kProbes, kOwnSet or kSetLessAWord

    // Per cell (extra words, distinct words, words), whether its classes are entered.
    std::vector<std::uint8_t> m_cells;
    std::uint32_t m_cellLimit = 0;

    // Set-keyed index.
    std::vector<std::uint32_t> m_bucketStart;
    std::vector<BucketEntry> m_bucketEntries;
    std::size_t m_bucketMask = 0;
    std::vector<std::uint64_t> m_lookups;   // the outer class's keys
    std::vector<std::uint32_t> m_ownBucket; // per class, the bucket of its set

    // Per word: the classes holding it (probed words only), and the outer class's marks.
    std::vector<std::uint32_t> m_postingStart;
    std::vector<std::uint32_t> m_postings;
    std::vector<std::uint32_t> m_mark;
    std::vector<std::uint16_t> m_markCount;

    std::vector<Probe> m_probes;
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
    explicit EqualTextPartners(const TextGroups<Key>& groups) : m_exhausted(groups.textCount(), 0)
    {}

    void ahead(std::uint32_t, std::uint32_t) const {}

    template <typename Walk>
    bool step(std::uint32_t outer, std::uint32_t text, Walk& walk)
    {
        if (!walk.anotherFileAfter(outer, text))
            return false;
        if (!m_exhausted[text] && !walk.gather(text))
            m_exhausted[text] = 1;
        return true;
    }

private:
    std::vector<std::uint8_t> m_exhausted;
};

template <typename Key>
PassOutcome runExact(RunState& state, Criterion criterion, const TextGroups<Key>& groups)
{
    beginCriterion(state);
    EqualTextPartners<Key> partners(groups);
    PairWalk<Key> walk(state, criterion, groups);
    return walk.run(partners);
}

PassOutcome runSimilar(RunState& state, Criterion criterion, TextGroups<std::string_view> groups)
{
    beginCriterion(state);
    SimilarPartners partners(groups);
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
    // link. Entries of one file (one name in one folder, the folder known by its identity) share
    // the path id of its first entry; two hard links are two names and stay two files. Names
    // within one listing are distinct, so only entries of folders catalogued more than once can
    // share a file.
    std::unordered_map<std::string_view, std::uint32_t> identity;
    std::vector<std::uint32_t> sameFolderOf(catalogue.folderCount());
    std::vector<std::uint32_t> foldersPerIdentity;
    for (std::uint32_t folder = 0; folder < catalogue.folderCount(); ++folder) {
        const auto [it, inserted] =
            identity.try_emplace(catalogue.folderIdentity(folder),
                                 static_cast<std::uint32_t>(foldersPerIdentity.size()));
        if (inserted)
            foldersPerIdentity.push_back(0);
        sameFolderOf[folder] = it->second;
        ++foldersPerIdentity[it->second];
    }
    std::unordered_map<std::string, std::uint32_t> repeated;
    for (std::uint32_t entry = 0; entry < n; ++entry) {
        state.pathId[entry] = entry;
        const std::uint32_t folder = sameFolderOf[catalogue.folderId(entry)];
        if (foldersPerIdentity[folder] < 2)
            continue;
        std::string file(catalogue.folderIdentity(catalogue.folderId(entry)));
        file.append(catalogue.name(entry));
        const auto [it, inserted] = repeated.try_emplace(std::move(file), entry);
        state.pathId[entry] = it->second;
    }
}

void FillRowColumns(RunState& state)
{
    ResultList& results = state.session.results();
    const Catalogue& catalogue = state.session.catalogue();
    // A file stands at most once among one criterion's rows; it is read under its first entry.
    std::vector<std::uint32_t> unread;
    for (std::size_t k = state.criterionFirstRow; k < results.size(); ++k)
        if (!state.rowInfo[results.row(k).pathId].known)
            unread.push_back(results.row(k).pathId);
    std::sort(unread.begin(), unread.end());
    ForEachInFolders(
        catalogue, unread.size(), [&](std::size_t k) { return unread[k]; },
        [&](const FolderHandle& folder, std::uint32_t id) {
            const std::string_view name = catalogue.name(id);
            RunState::RowInfo& info = state.rowInfo[id];
            if (catalogue.hasTitle(id)) {
                // Read in the scan: still good while the file is unchanged (of a distant file the
                // scan's read stands for the run).
                const std::optional<FileStamp> now = catalogue.filesAreDistant()
                                                         ? catalogue.titleStamp(id)
                                                         : QueryFileStamp(folder, name);
                if (now && *now == catalogue.titleStamp(id)) {
                    takeReadColumns(info, catalogue, id);
                    return;
                }
            }
            const std::optional<FileStamp> listed = catalogue.listedStamp(id);
            std::optional<CachedFile> file =
                listed ? lookUpFile(state, id, listed, true) : lookUpFile(state, id, folder, name);
            if (info.known)
                return;
            clsMP3Info analysis; // each reading thread analyses with its own
            analysis.SetListedFileName(folder, name);
            fillRowInfo(info, analysis, folder.path() + std::string(name));
            if (file && addAnalysis(file->facts, info, analysis))
                state.facts.keep(*file);
        });
    for (std::size_t k = state.criterionFirstRow; k < results.size(); ++k) {
        const RunState::RowInfo& info = state.rowInfo[results.row(k).pathId];
        results.setColumns(k, info.size, info.songLength, info.bitRate);
    }
}

namespace {

void keepTitles(RunState& state, CachedFile& file, SizeAndTagTitle&& read)
{
    if (!read.size)
        return;
    FileFacts& facts = file.facts;
    facts.id3v1Read = true;
    facts.id3v1Title = std::move(read.title);
    if (state.id3v2Titles) {
        facts.id3v2Read = true;
        facts.id3v2Title = std::move(read.id3v2Title);
    }
    state.facts.keep(file);
}

// The title the tag criteria compare, when the facts hold what it is made of.
std::optional<std::string> titleOf(const RunState& state, const FileFacts& facts)
{
    if (!facts.id3v1Read || (state.id3v2Titles && !facts.id3v2Read))
        return std::nullopt;
    return ComparedTitle(facts.id3v1Title, state.id3v2Titles ? facts.id3v2Title : std::nullopt);
}

} // namespace

void ReadTitles(RunState& state)
{
    Catalogue& catalogue = state.session.catalogue();
    std::vector<std::string>& titles = state.session.titles();
    if (state.titleKnown.empty()) {
        titles.assign(catalogue.count(), std::string());
        state.titleKnown.assign(catalogue.count(), 0);
    }
    const bool id3v2 = state.id3v2Titles;
    // A later entry of a file takes the title of its first; the file is looked up in the cache
    // and kept there under its first entry only.
    std::vector<std::uint32_t> entries;
    for (std::uint32_t entry = 0; entry < catalogue.count(); ++entry)
        if (state.pathId[entry] == entry && !state.titleKnown[entry])
            entries.push_back(entry);
    const auto fromCache = [&](std::uint32_t entry, const std::optional<CachedFile>& file) {
        std::optional<std::string> title = file ? titleOf(state, file->facts) : std::nullopt;
        if (title)
            titles[entry] = std::move(*title);
        return title.has_value();
    };
    // A cache that held nothing was not asked: the file is keyed as its read found it.
    const bool keyOnRead = state.facts.enabled() && !state.facts.mayFind();
    const auto readFile = [&](const FolderHandle& folder, std::uint32_t entry,
                              std::optional<CachedFile> file) {
        const std::string_view name = catalogue.name(entry);
        if (catalogue.hasTitle(entry)) {
            // Read when the scan asked for the size: still good while the file is unchanged (a
            // look-up has just taken its stamp; of a distant file the scan's read stands for
            // the run).
            const std::optional<FileStamp> now = file ? file->key
                                                 : catalogue.filesAreDistant()
                                                     ? catalogue.titleStamp(entry)
                                                     : QueryFileStamp(folder, name);
            if (now && *now == catalogue.titleStamp(entry)) {
                titles[entry] = catalogue.title(entry);
                if (!state.rowInfo[entry].known)
                    takeReadColumns(state.rowInfo[entry], catalogue, entry);
                return;
            }
        }
        if (!file && !keyOnRead && !id3v2) {
            titles[entry] = ReadTagTitle(folder, name).value_or(std::string());
            return;
        }
        SizeAndTagTitle read = ReadSizeAndTagTitle(folder, name, id3v2);
        titles[entry] = ComparedTitle(read.title, read.id3v2Title);
        if (keyOnRead)
            file = state.facts.of(entry, read.stamp, false);
        if (file)
            keepTitles(state, *file, std::move(read));
    };
    lookUpThenRead(state, entries, true, fromCache, readFile);
    std::vector<std::uint32_t>().swap(entries);
    for (std::size_t entry = 0; entry < titles.size(); ++entry)
        if (state.pathId[entry] != entry)
            titles[entry] = titles[state.pathId[entry]];
    catalogue.dropTitles();
    std::vector<std::uint8_t>().swap(state.titleKnown);
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
    std::vector<std::string>& titles = state.session.titles();
    if (withTitles) { // the titles found here wait for the tag criteria
        titles.assign(catalogue.count(), std::string());
        state.titleKnown.assign(catalogue.count(), 0);
    }
    const auto takeTitle = [&](std::uint32_t id, std::optional<std::string>&& title) {
        if (title) {
            titles[id] = std::move(*title);
            state.titleKnown[id] = 1;
        }
    };
    // Sizes the scan did not read (the box was ticked later) are read now: empty size texts must
    // never make files of different sizes equal. A later entry of a file takes the size of its
    // first.
    std::vector<std::uint32_t> pending;
    for (std::uint32_t entry = 0; entry < catalogue.count(); ++entry)
        if (catalogue.size(entry) == Catalogue::kSizeNotRead && state.pathId[entry] == entry)
            pending.push_back(entry);
    // A file the cache knows was readable when its key was the same as now.
    const auto fromCache = [&](std::uint32_t entry, const std::optional<CachedFile>& file) {
        if (!file || !file->hit)
            return false;
        catalogue.setSize(entry, file->key.size);
        if (withTitles)
            takeTitle(entry, titleOf(state, file->facts));
        return true;
    };
    const auto readFile = [&](const FolderHandle& folder, std::uint32_t entry,
                              std::optional<CachedFile> file) {
        const std::string_view name = catalogue.name(entry);
        // A cache that held nothing was not asked: the file is keyed as its read found it.
        const bool keyOnRead = withTitles && !state.facts.mayFind();
        if (!keyOnRead && (!file || !withTitles)) {
            catalogue.setSize(entry,
                              QueryFileSize(folder, name).value_or(Catalogue::kSizeUnreadable));
            return;
        }
        SizeAndTagTitle read = ReadSizeAndTagTitle(folder, name, state.id3v2Titles);
        catalogue.setSize(entry, read.size.value_or(Catalogue::kSizeUnreadable));
        if (keyOnRead)
            file = state.facts.of(entry, read.stamp, false);
        if (!file)
            return;
        keepTitles(state, *file, std::move(read));
        takeTitle(entry, titleOf(state, file->facts));
    };
    lookUpThenRead(state, pending, withTitles, fromCache, readFile);
    std::vector<std::uint32_t>().swap(pending);
    const auto groups = groupEntries<std::int64_t>(catalogue.count(), [&](std::size_t entry) {
        const std::int64_t size = catalogue.size(state.pathId[entry]);
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
    return runSimilar(state, Criterion::SimilarTag,
                      groupEntries<std::string_view>(titles.size(), [&](std::size_t entry) {
                          return std::optional<std::string_view>(titles[entry]);
                      }));
}

PassOutcome FindDupesExactAudio(RunState& state)
{
    const Catalogue& catalogue = state.session.catalogue();
    std::vector<AudioFacts>& audio = state.audio;
    audio.assign(state.pathCount, {});

    // Each file once (the first entry of its path id): the analysis finds the range, and its
    // playing time and bit rate serve the rows written later.
    std::vector<std::uint32_t> files;
    for (std::uint32_t entry = 0; entry < catalogue.count(); ++entry)
        if (state.pathId[entry] == entry)
            files.push_back(entry);
    ParallelFor(
        files.size(),
        [&](std::size_t k) {
            const std::uint32_t id = files[k];
            const std::string path = catalogue.path(id);
            std::optional<CachedFile> file = lookUpFile(state, id, path);
            if (file && file->facts.audioRead) {
                audio[id] = file->facts.audio;
                return;
            }
            clsMP3Info analysis;
            analysis.SetFileName(path);
            audio[id].range = analysis.audioRange();
            RunState::RowInfo& info = state.rowInfo[id];
            const bool rowRead = !audio[id].range.empty() && !info.known;
            if (rowRead)
                fillRowInfo(info, analysis, path);
            if (!file)
                return;
            FileFacts& facts = file->facts;
            // The range is kept when the analysis found one, or searched the whole file for a
            // frame in vain; a read that failed is tried again next time.
            if (!audio[id].range.empty() || analysis.FileName().empty()) {
                facts.audioRead = true;
                facts.audio.range = audio[id].range;
            }
            if ((rowRead && addAnalysis(facts, info, analysis)) || facts.audioRead)
                state.facts.keep(*file);
        },
        WorkKind::DiskReads);
    std::erase_if(files, [&](std::uint32_t id) { return audio[id].range.empty(); });

    // Only a file that shares its range length with another can have a partner: the others are
    // never read. Then the first 64 KiB, then the whole range of those still alike.
    const auto key = [&](std::uint32_t id) {
        const AudioFacts& f = audio[id];
        return std::tuple(f.range.length, f.head.value_or(AudioHash{}),
                          f.whole.value_or(AudioHash{}));
    };
    const auto refine = [&](std::optional<AudioHash> AudioFacts::*hash, bool whole) {
        std::sort(files.begin(), files.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
        std::vector<std::uint32_t> work;
        for (std::size_t first = 0, last = 0; first < files.size(); first = last) {
            while (last < files.size() && key(files[last]) == key(files[first]))
                ++last;
            if (last - first < 2)
                continue;
            for (std::size_t k = first; k < last; ++k)
                work.push_back(files[k]);
        }
        ParallelFor(
            work.size(),
            [&](std::size_t k) {
                thread_local std::unique_ptr<unsigned char[]> buffer;
                constexpr std::size_t kBlock = std::size_t{1} << 20;
                if (!buffer)
                    buffer = std::make_unique_for_overwrite<unsigned char[]>(kBlock);
                const std::uint32_t id = work[k];
                AudioFacts& f = audio[id];
                if (f.*hash)
                    return; // known already, or a short range's first hash is its whole hash
                const std::int64_t count =
                    whole ? f.range.length : std::min(f.range.length, kAudioHeadBytes);
                const std::string path = catalogue.path(id);
                f.*hash = HashFileBytes(path, f.range.start, count, {buffer.get(), kBlock});
                if (!(f.*hash)) {
                    f.range = AudioRange{}; // unreadable now: takes no part
                    return;
                }
                if (!whole && f.range.length <= kAudioHeadBytes)
                    f.whole = f.head;
                if (std::optional<CachedFile> file = state.facts.of(id, path, false)) {
                    file->facts.audioRead = true;
                    file->facts.audio = f;
                    state.facts.keep(*file);
                }
            },
            WorkKind::DiskReads);
        std::erase_if(files, [&](std::uint32_t id) { return audio[id].range.empty(); });
    };
    refine(&AudioFacts::head, false);
    refine(&AudioFacts::whole, true);

    // Files alike in length and both hashes hold the same audio; every entry of a file shares
    // the file's class.
    std::sort(files.begin(), files.end(),
              [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
    std::vector<std::uint32_t> classOf(state.pathCount, kNoText);
    std::uint32_t classes = 0;
    for (std::size_t k = 0; k < files.size(); ++k) {
        if (k > 0 && key(files[k]) != key(files[k - 1]))
            ++classes;
        classOf[files[k]] = classes;
    }
    const auto groups = groupEntries<std::uint32_t>(catalogue.count(), [&](std::size_t entry) {
        const std::uint32_t c = classOf[state.pathId[entry]];
        return c == kNoText ? std::nullopt : std::optional<std::uint32_t>(c);
    });
    return runExact(state, Criterion::ExactAudio, groups);
}

} // namespace tunesift
