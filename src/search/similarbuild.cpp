#include "search/denseids.h"
#include "search/similarpartners.h"

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

} // namespace

// Takes the texts' words into classes and lets go of the texts. With a million texts the
// building takes seconds: a stop ends it, and the index is then of no use.
SimilarPartners::SimilarPartners(TextGroups<std::string_view>& groups, StopSignal& stop)
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

void SimilarPartners::buildClasses()
{
    const std::uint32_t textCount = m_groups.textCount();
    m_classOf.resize(textCount);
    m_uniqueStart.push_back(0);
    std::string wordText; // the folded words, each stored once
    std::vector<std::uint32_t> wordStart{0};
    const auto word = [&](std::uint32_t id) {
        return std::string_view(wordText).substr(wordStart[id], wordStart[id + 1] - wordStart[id]);
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
            [&](std::uint32_t other) { return listHash(uniqueWords(other), occurrences(other)); });
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
void SimilarPartners::buildClassTexts()
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
void SimilarPartners::forEachPartnerCell(std::uint32_t c, Use use) const
{
    const std::uint32_t na = m_class[c].wordCount;
    const auto distinct = static_cast<std::uint32_t>(uniqueWords(c).size());
    const auto cells = [&](std::uint32_t kept, std::uint32_t longest) {
        for (std::uint32_t extra = 0; extra <= kMostExtraWords && kept + extra <= longest; ++extra)
            for (std::uint32_t nb = kept + extra; nb <= longest; ++nb)
                use(cellOf(extra, kept + extra, nb));
    };
    cells(distinct, longestPartnerFor(na));
    if (m_setKeys[c] == kSetLessAWord)
        cells(distinct - 1, longestPartnerFor(na, na - 1));
}

// The cell of classes with the given count of distinct words and of words, entered under
// their set less extra words; kNoText beyond the longest partner of any outer class.
std::uint32_t SimilarPartners::cellOf(std::uint32_t extra, std::size_t distinct,
                                      std::uint32_t words) const
{
    if (words > m_cellLimit)
        return kNoText;
    return (extra * (m_cellLimit + 1) + static_cast<std::uint32_t>(distinct)) * (m_cellLimit + 1) +
           words;
}

// Whether class c is entered under its set less extra words.
bool SimilarPartners::entered(std::uint32_t c, std::uint32_t extra) const
{
    const std::size_t distinct = uniqueWords(c).size();
    const std::uint32_t cell = cellOf(extra, distinct, m_class[c].wordCount);
    return distinct > extra && cell != kNoText && m_cells[cell] != 0;
}

// Decides which classes use the set index. Entering a class under its set less two or three
// words costs many keys, so the cells of such partners are kept only where they spare more
// than the probes of the outer classes that want them (their rarest words' lists, once per
// outer step); an outer class that wants a dropped cell probes its rarest words.
void SimilarPartners::chooseSetKeys()
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
void SimilarPartners::buildSetIndex()
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
                    pending.push_back({one, c, m_setKeys[c] == kSetLessAWord && counts[k] == 1});
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
void SimilarPartners::buildPostings()
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

} // namespace tunesift
