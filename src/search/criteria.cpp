#include "search/criteria.h"

#include "mp3/audioprint.h"
#include "search/audiohashes.h"
#include "search/audiomatch.h"
#include "search/audioprints.h"
#include "search/filereads.h"
#include "search/pairwalk.h"
#include "search/similarindex.h"
#include "search/textgroups.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Every criterion is a key of the file and a comparison of keys:
//
//   criterion          key                          keys compared   found by
//   Exact Filename     file name                    equal           pairwalk.h
//   Exact Filesize     size in bytes                equal           pairwalk.h
//   Similar Filename   file name                    similar         similarindex.cpp
//   Exact Tag          tag title                    equal           pairwalk.h
//   Similar Tag        tag title                    similar         similarindex.cpp
//   Exact Audio        audio range, its hashes      equal           pairwalk.h
//   Similar Audio      acoustic print               similar         audiomatch.cpp
//
// Entries are grouped by key (textgroups.h); sizes the scan did not read and the titles are read
// through the cache (filereads.cpp), the audio ranges hashed by audiohashes.cpp, the prints made
// by audioprints.cpp.

namespace tunesift {

namespace {

TextGroups<std::string_view> groupByName(RunState& state)
{
    const Catalogue& catalogue = state.session.catalogue();
    return groupEntries<std::string_view>(
        catalogue.count(),
        [&](std::size_t entry) { return std::optional<std::string_view>(catalogue.name(entry)); },
        &state.stop);
}

// Similar Audio: the partners of a file are the files whose prints the matcher took for the same
// recording. The relation is not transitive: a file's partners are only its own.
class SoundPartners
{
public:
    // pairs: ascending, of path ids; groups: keyed by path id.
    SoundPartners(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs,
                  const TextGroups<std::uint32_t>& groups, std::size_t pathCount)
        : m_groups(groups), m_textOfPath(pathCount, kNoText), m_dead(groups.textCount(), 0)
    {
        for (std::uint32_t t = 0; t < groups.textCount(); ++t)
            m_textOfPath[groups.keys[t]] = t;
        std::vector<std::uint32_t> counts(groups.textCount() + 1, 0);
        for (const auto& [a, b] : pairs) {
            ++counts[m_textOfPath[a] + 1];
            ++counts[m_textOfPath[b] + 1];
        }
        for (std::size_t t = 1; t < counts.size(); ++t)
            counts[t] += counts[t - 1];
        m_start = counts;
        m_partners.resize(counts.back());
        for (const auto& [a, b] : pairs) {
            m_partners[counts[m_textOfPath[a]]++] = m_textOfPath[b];
            m_partners[counts[m_textOfPath[b]]++] = m_textOfPath[a];
        }
    }

    void ahead(std::uint32_t, std::uint32_t) const {}

    template <typename Walk>
    bool step(std::uint32_t outer, std::uint32_t text, Walk& walk)
    {
        bool found = false;
        for (std::uint32_t k = m_start[text]; k < m_start[text + 1]; ++k) {
            const std::uint32_t partner = m_partners[k];
            if (m_groups.members[m_groups.start[partner + 1] - 1] <= outer)
                continue; // no member after the outer entry
            found = true;
            if (!m_dead[partner] && !walk.gather(partner))
                m_dead[partner] = 1;
        }
        return found;
    }

private:
    const TextGroups<std::uint32_t>& m_groups;
    std::vector<std::uint32_t> m_textOfPath;
    std::vector<std::uint32_t> m_start; // per text, into m_partners; one sentinel
    std::vector<std::uint32_t> m_partners;
    std::vector<std::uint8_t> m_dead; // no unlisted member after any later outer entry
};

} // namespace

PassOutcome ExactFilenamePass(RunState& state)
{
    return runExact(state, Criterion::ExactFilename, groupByName(state));
}

PassOutcome ExactFilesizePass(RunState& state)
{
    ReadSizes(state);
    if (state.stop.raised())
        return PassOutcome::Stopped;
    const Catalogue& catalogue = state.session.catalogue();
    const auto groups = groupEntries<std::int64_t>(
        catalogue.count(),
        [&](std::size_t entry) {
            const std::int64_t size = catalogue.size(state.pathId[entry]);
            return size >= 0 ? std::optional<std::int64_t>(size) : std::nullopt;
        },
        &state.stop);
    return runExact(state, Criterion::ExactFilesize, groups);
}

PassOutcome SimilarFilenamePass(RunState& state)
{
    return runSimilar(state, Criterion::SimilarFilename, groupByName(state));
}

PassOutcome ExactTagPass(RunState& state)
{
    if (!state.titlesRead)
        ReadTitles(state);
    if (state.stop.raised())
        return PassOutcome::Stopped;
    const std::vector<std::string>& titles = state.session.titles();
    const auto groups = groupEntries<std::string_view>(
        titles.size(),
        [&](std::size_t entry) {
            const std::string& title = titles[entry];
            // An empty title, or one that starts with NUL, never matches.
            if (title.empty() || title[0] == '\0')
                return std::optional<std::string_view>();
            return std::optional<std::string_view>(title);
        },
        &state.stop);
    return runExact(state, Criterion::ExactTag, groups);
}

PassOutcome SimilarTagPass(RunState& state)
{
    if (!state.titlesRead)
        ReadTitles(state);
    if (state.stop.raised())
        return PassOutcome::Stopped;
    const std::vector<std::string>& titles = state.session.titles();
    return runSimilar(
        state, Criterion::SimilarTag,
        groupEntries<std::string_view>(
            titles.size(),
            [&](std::size_t entry) { return std::optional<std::string_view>(titles[entry]); },
            &state.stop));
}

PassOutcome ExactAudioPass(RunState& state)
{
    const std::vector<std::uint32_t> classOf = AudioClasses(state);
    if (state.stop.raised())
        return PassOutcome::Stopped;
    const Catalogue& catalogue = state.session.catalogue();
    const auto groups = groupEntries<std::uint32_t>(
        catalogue.count(),
        [&](std::size_t entry) {
            const std::uint32_t c = classOf[state.pathId[entry]];
            return c == kNoText ? std::nullopt : std::optional<std::uint32_t>(c);
        },
        &state.stop);
    return runExact(state, Criterion::ExactAudio, groups);
}

PassOutcome SimilarAudioPass(RunState& state)
{
    beginCriterion(state);
    if (!AudioPrintsAvailable())
        return PassOutcome::Completed;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    {
        if (!ReadAudioPrints(state))
            return PassOutcome::Stopped;
        const std::shared_ptr<PrintStore> prints = std::move(state.prints);
        std::vector<std::uint8_t>().swap(state.printKnown);
        std::optional<std::vector<std::pair<std::uint32_t, std::uint32_t>>> found =
            FindSimilarPrints(*prints, AudioMatchRules{},
                              [&] { return state.host.isStopRequested(); });
        if (!found)
            return PassOutcome::Stopped;
        pairs = std::move(*found);
    }
    std::vector<std::uint8_t> paired(state.pathCount, 0);
    for (const auto& [a, b] : pairs)
        paired[a] = paired[b] = 1;
    const Catalogue& catalogue = state.session.catalogue();
    const auto groups = groupEntries<std::uint32_t>(
        catalogue.count(),
        [&](std::size_t entry) {
            const std::uint32_t id = state.pathId[entry];
            return paired[id] ? std::optional<std::uint32_t>(id) : std::nullopt;
        },
        &state.stop);
    if (state.stop.raised())
        return PassOutcome::Stopped; // the groups were left unfinished
    SoundPartners partners(pairs, groups, state.pathCount);
    PairWalk<std::uint32_t> walk(state, Criterion::SimilarAudio, groups);
    return walk.run(partners);
}

} // namespace tunesift
