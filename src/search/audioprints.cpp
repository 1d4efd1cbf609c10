#include "search/audioprints.h"

#include "search/filefacts.h"

#include <vector>

namespace tunesift {

bool ReadAudioPrints(RunState& state, PrintStore& prints)
{
    const Catalogue& catalogue = state.session.catalogue();
    std::vector<std::uint32_t> files;
    for (std::uint32_t entry = 0; entry < catalogue.count(); ++entry)
        if (state.pathId[entry] == entry)
            files.push_back(entry);
    state.meter.beginCriterion(Criterion::SimilarAudio, files.size());
    state.prints = &prints;
    GatherFacts(state, files, {.print = true});
    state.prints = nullptr;
    // A stop seen while gathering stays asked for.
    return !state.stop.askNow();
}

} // namespace tunesift
