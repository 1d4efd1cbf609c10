#include "search/similarindex.h"

#include "search/denseids.h"
#include "search/pairwalk.h"
#include "search/similar.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tunesift {

namespace {

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
    // Takes the texts' words into classes and lets go of the texts. With a million texts the
    // building takes seconds: a stop ends it, and the index is then of no use.
    SimilarPartners(TextGroups<std::string_view>& groups, StopSignal& stop)
        : m_groups(groups), m_stop(stop)
    {
        buildClasses();
        std::vector<std::string_view>().swap(groups.keys);
        if (stop.raised())
            return;
        buildClassTexts();
        chooseSetKeys();
        if (stop.raised())
            return;
        buildSetIndex();
        if (stop.raised())
            return;
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
    static constexpr std::uint64_t kFewKeys = 4096;   // too few to weigh against probes
    static constexpr std::uint32_t kStopEvery = 4096; // texts or classes between stop checks

    // A check point of the building, every kStopEvery texts or classes.
    bool stopAt(std::uint32_t k) { return k % kStopEvery == 0 && m_stop.check(); }

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
            if (stopAt(t))
                return;
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
            if (stopAt(c))
                return;
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
            if (stopAt(c))
                return;
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
    StopSignal& m_stop;
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

} // namespace

PassOutcome runSimilar(RunState& state, Criterion criterion, TextGroups<std::string_view> groups)
{
    if (state.stop.raised())
        return PassOutcome::Stopped; // the groups were left unfinished
    beginCriterion(state);
    SimilarPartners partners(groups, state.stop);
    if (state.stop.raised())
        return PassOutcome::Stopped;
    PairWalk<std::string_view> walk(state, criterion, groups);
    return walk.run(partners);
}

} // namespace tunesift
