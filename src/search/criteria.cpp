#include "search/criteria.h"

#include "search/audiohashes.h"
#include "search/filereads.h"
#include "search/pairwalk.h"
#include "search/similarindex.h"
#include "search/textgroups.h"

#include <cstdint>
#include <optional>
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
//
// Entries are grouped by key (textgroups.h); sizes the scan did not read and the titles are read
// through the cache (filereads.cpp), the audio ranges hashed by audiohashes.cpp.

namespace tunesift {

namespace {

TextGroups<std::string_view> groupByName(const Catalogue& catalogue)
{
    return groupEntries<std::string_view>(catalogue.count(), [&](std::size_t entry) {
        return std::optional<std::string_view>(catalogue.name(entry));
    });
}

} // namespace

PassOutcome ExactFilenamePass(RunState& state)
{
    return runExact(state, Criterion::ExactFilename, groupByName(state.session.catalogue()));
}

PassOutcome ExactFilesizePass(RunState& state)
{
    ReadSizes(state);
    const Catalogue& catalogue = state.session.catalogue();
    const auto groups = groupEntries<std::int64_t>(catalogue.count(), [&](std::size_t entry) {
        const std::int64_t size = catalogue.size(state.pathId[entry]);
        return size >= 0 ? std::optional<std::int64_t>(size) : std::nullopt;
    });
    return runExact(state, Criterion::ExactFilesize, groups);
}

PassOutcome SimilarFilenamePass(RunState& state)
{
    return runSimilar(state, Criterion::SimilarFilename, groupByName(state.session.catalogue()));
}

PassOutcome ExactTagPass(RunState& state)
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

PassOutcome SimilarTagPass(RunState& state)
{
    if (!state.titlesRead)
        ReadTitles(state);
    const std::vector<std::string>& titles = state.session.titles();
    return runSimilar(state, Criterion::SimilarTag,
                      groupEntries<std::string_view>(titles.size(), [&](std::size_t entry) {
                          return std::optional<std::string_view>(titles[entry]);
                      }));
}

PassOutcome ExactAudioPass(RunState& state)
{
    const std::vector<std::uint32_t> classOf = AudioClasses(state);
    const Catalogue& catalogue = state.session.catalogue();
    const auto groups = groupEntries<std::uint32_t>(catalogue.count(), [&](std::size_t entry) {
        const std::uint32_t c = classOf[state.pathId[entry]];
        return c == kNoText ? std::nullopt : std::optional<std::uint32_t>(c);
    });
    return runExact(state, Criterion::ExactAudio, groups);
}

} // namespace tunesift
