#include "search/similarindex.h"

#include "search/pairwalk.h"
#include "search/similar.h"
#include "search/similarpartners.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
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

} // namespace

// The outer's own text is never its partner (equal texts are the exact criteria's), and the
// entries of one file share their text, so no pair found here is two entries of one file.
template <typename Walk>
bool SimilarPartners::step(std::uint32_t outer, std::uint32_t text, Walk& walk)
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
        if (state.lastPlusOne <= outer + 1 || state.wordCount > longest || state.stamp == m_stamp)
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

// Hands over the unlisted members of a class's texts (but skip), dropping exhausted texts.
// False when no text of the class is left.
template <typename Walk>
bool SimilarPartners::gatherClass(std::uint32_t c, std::uint32_t skip, Walk& walk)
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

void SimilarPartners::markWords(std::uint32_t c)
{
    for (std::uint32_t k = m_uniqueStart[c]; k < m_uniqueStart[c + 1]; ++k) {
        m_mark[m_uniqueWords[k]] = m_stamp;
        m_markCount[m_uniqueWords[k]] = m_occurrences[k];
    }
}

// The measure of the pair, with the outer class's words marked: the share of outer words
// (with repeats) that the inner class holds, against the longer word count.
bool SimilarPartners::passes(std::uint32_t outer, std::uint32_t inner) const
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
void SimilarPartners::forEachSetCandidate(std::uint32_t c, Visit visit)
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
void SimilarPartners::forEachProbedCandidate(std::uint32_t c, Visit visit)
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
