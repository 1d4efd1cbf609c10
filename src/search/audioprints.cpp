#include "search/audioprints.h"

#include "mp3/audioprint.h"
#include "search/filefacts.h"

#include <memory>
#include <vector>

namespace tunesift {

namespace {

void makeStore(RunState& state)
{
    state.prints = std::make_shared<PrintStore>(state.pathCount);
    state.printKnown.assign(state.pathCount, 0);
}

} // namespace

void HoldAudioPrints(RunState& state)
{
    if (AudioPrintsAvailable() && state.facts.mayFind() && !state.prints)
        makeStore(state);
}

bool ReadAudioPrints(RunState& state)
{
    if (!state.prints)
        makeStore(state);
    const Catalogue& catalogue = state.session.catalogue();
    std::vector<std::uint32_t> files;
    for (std::uint32_t entry = 0; entry < catalogue.count(); ++entry)
        if (state.pathId[entry] == entry)
            files.push_back(entry);
    state.meter.beginCriterion(Criterion::SimilarAudio, files.size());
    GatherFacts(state, files, {.print = true});
    // A stop seen while gathering stays asked for.
    return !state.stop.askNow();
}

} // namespace tunesift
