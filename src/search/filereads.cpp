#include "search/filereads.h"

#include "search/filefacts.h"
#include "search/progress.h"

#include <algorithm>
#include <string>
#include <vector>

namespace tunesift {

void FillRowColumns(RunState& state)
{
    ResultList& results = state.session.results();
    // A file stands at most once among one criterion's rows; it is read under its first entry.
    std::vector<std::uint32_t> unread;
    for (std::size_t k = state.criterionFirstRow; k < results.size(); ++k)
        if (!state.rowInfo[results.row(k).pathId].known)
            unread.push_back(results.row(k).pathId);
    std::sort(unread.begin(), unread.end());
    if (!unread.empty())
        state.meter.begin(WorkPhase::Reading, unread.size());
    GatherFacts(state, unread, {.rowColumns = true});
    for (std::size_t k = state.criterionFirstRow; k < results.size(); ++k) {
        const RunState::RowInfo& info = state.rowInfo[results.row(k).pathId];
        results.setColumns(k, info.size, info.songLength, info.bitRate);
    }
}

namespace {

// Room for the titles of every entry, none known yet.
void prepareTitles(RunState& state)
{
    state.session.titles().assign(state.session.catalogue().count(), std::string());
    state.titleKnown.assign(state.session.catalogue().count(), 0);
}

} // namespace

void ReadTitles(RunState& state)
{
    Catalogue& catalogue = state.session.catalogue();
    std::vector<std::string>& titles = state.session.titles();
    if (state.titleKnown.empty())
        prepareTitles(state);
    // A later entry of a file takes the title of its first.
    std::vector<std::uint32_t> files;
    for (std::uint32_t entry = 0; entry < catalogue.count(); ++entry)
        if (state.pathId[entry] == entry)
            files.push_back(entry);
    state.meter.begin(WorkPhase::Reading, files.size());
    GatherFacts(state, files, {.title = true});
    std::vector<std::uint32_t>().swap(files);
    for (std::size_t entry = 0; entry < titles.size(); ++entry)
        if (state.pathId[entry] != entry)
            titles[entry] = titles[state.pathId[entry]];
    catalogue.dropTitles();
    std::vector<std::uint8_t>().swap(state.titleKnown);
    state.titlesRead = true;
}

void ReadSizes(RunState& state)
{
    const Catalogue& catalogue = state.session.catalogue();
    // With a cache the scan leaves the reading to this step, which then reads the titles in the
    // same visit where a tag criterion will want them.
    const bool withTitles =
        state.facts.enabled() && (state.host.isCriterionTicked(Criterion::ExactTag) ||
                                  state.host.isCriterionTicked(Criterion::SimilarTag));
    if (withTitles) // the titles found here wait for the tag criteria
        prepareTitles(state);
    // Sizes the scan did not read (the box was ticked later) are read now: empty size texts must
    // never make files of different sizes equal. A later entry of a file takes the size of its
    // first.
    std::vector<std::uint32_t> pending;
    for (std::uint32_t entry = 0; entry < catalogue.count(); ++entry)
        if (catalogue.size(entry) == Catalogue::kSizeNotRead && state.pathId[entry] == entry)
            pending.push_back(entry);
    if (!pending.empty())
        state.meter.begin(WorkPhase::Reading, pending.size());
    // The visit that reads a title reads the columns of the file's rows too, as the scan does
    // without a cache: most files the tag criteria list are then read once.
    GatherFacts(state, pending, {.size = true, .title = withTitles, .rowColumns = withTitles});
}

} // namespace tunesift
