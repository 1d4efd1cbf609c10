#pragma once

#include "search/runstate.h"

namespace tunesift {

// One pass per criterion: each lists the pairs of files whose keys are equal or similar, in the
// order and shades of the pair walk. The run calls them in the order of its table (searchrun.cpp).
PassOutcome ExactFilenamePass(RunState& state);
PassOutcome ExactFilesizePass(RunState& state);
PassOutcome SimilarFilenamePass(RunState& state);
PassOutcome ExactTagPass(RunState& state);
PassOutcome SimilarTagPass(RunState& state);
PassOutcome ExactAudioPass(RunState& state);
PassOutcome SimilarAudioPass(RunState& state);

} // namespace tunesift
