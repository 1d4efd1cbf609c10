#pragma once

#include "search/runstate.h"
#include "search/textgroups.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tunesift {

// Writes the row; its columns come from the file's first reading in this run, which for a file
// new to the run's rows happens when the criterion ends (FillRowColumns). False when the list is
// full (said once per run).
bool WriteRow(RunState& state, std::uint32_t entry, Criterion criterion, std::uint32_t group);

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
        constexpr std::size_t kCountEvery = 1024; // outer steps between counts of the work done
        m_state.meter.beginCriterion(m_criterion, n);
        for (std::size_t i = 0; i < n; ++i) {
            if (i % kCountEvery == 0)
                m_state.meter.setDone(i);
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
            const std::uint32_t outerPath = m_state.pathId[m_outer];
            std::uint32_t group = 0;
            if (!m_state.listed[outerPath]) {
                m_state.groupHeadAdded = true;
                group = m_state.groupCount++;
                if (!WriteRow(m_state, m_outer, m_criterion, group))
                    return PassOutcome::ResultsFull;
            } else {
                group = m_state.groupOfPath[outerPath];
            }
            for (const std::uint32_t inner : m_gathered) {
                if (m_state.listed[m_state.pathId[inner]])
                    continue; // an equal path met earlier in this step
                if (host.isStopRequested())
                    return PassOutcome::Stopped;
                if (!WriteRow(m_state, inner, m_criterion, group))
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

inline void beginCriterion(RunState& state)
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
    if (state.stop.raised())
        return PassOutcome::Stopped; // the groups were left unfinished
    beginCriterion(state);
    EqualTextPartners<Key> partners(groups);
    PairWalk<Key> walk(state, criterion, groups);
    return walk.run(partners);
}

} // namespace tunesift
