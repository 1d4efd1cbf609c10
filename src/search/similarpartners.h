#pragma once

#include "search/runstate.h"
#include "search/similar.h"
#include "search/textgroups.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tunesift {

// Asks for the memory at p to be brought into the caches ahead of its use.
inline void Prefetch(const void* p)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#else
    static_cast<void>(p);
#endif
}

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
    SimilarPartners(TextGroups<std::string_view>& groups, StopSignal& stop);

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
    bool step(std::uint32_t outer, std::uint32_t text, Walk& walk);

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

    // The building of the index (similarbuild.cpp).
    void buildClasses();
    // The texts of every class, and per class the greatest member (plus one) over its texts
    // and over its texts but the one holding that member.
    void buildClassTexts();
    // The partners an outer class of the set index may have, as cells of the index: the
    // partner holds the outer's distinct words (less the one it may miss) and extra ones, and
    // no more words than the pair allows.
    template <typename Use>
    void forEachPartnerCell(std::uint32_t c, Use use) const;
    // The cell of classes with the given count of distinct words and of words, entered under
    // their set less extra words; kNoText beyond the longest partner of any outer class.
    std::uint32_t cellOf(std::uint32_t extra, std::size_t distinct, std::uint32_t words) const;
    // Whether class c is entered under its set less extra words.
    bool entered(std::uint32_t c, std::uint32_t extra) const;
    // Decides which classes use the set index. Entering a class under its set less two or three
    // words costs many keys, so the cells of such partners are kept only where they spare more
    // than the probes of the outer classes that want them (their rarest words' lists, once per
    // outer step); an outer class that wants a dropped cell probes its rarest words.
    void chooseSetKeys();
    // Classes that may be the partner of a set-keyed outer class, in buckets by key.
    void buildSetIndex();
    // Per word that some probing class holds, the classes holding it, ascending.
    void buildPostings();

    // The look-up of partners (similarindex.cpp).
    // Hands over the unlisted members of a class's texts (but skip), dropping exhausted texts.
    // False when no text of the class is left.
    template <typename Walk>
    bool gatherClass(std::uint32_t c, std::uint32_t skip, Walk& walk);
    void markWords(std::uint32_t c);
    // The measure of the pair, with the outer class's words marked: the share of outer words
    // (with repeats) that the inner class holds, against the longer word count.
    bool passes(std::uint32_t outer, std::uint32_t inner) const;
    template <typename Visit>
    void forEachSetCandidate(std::uint32_t c, Visit visit);
    // A pair can pass only when no more than maxMiss of the outer words are missing, so the
    // inner class must hold one of the outer's maxMiss + 1 rarest words (both rarest ones when
    // none may be missing).
    template <typename Visit>
    void forEachProbedCandidate(std::uint32_t c, Visit visit);

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

} // namespace tunesift
