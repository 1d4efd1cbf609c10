#pragma once

#include "search/runstate.h"
#include "search/textgroups.h"

#include <string_view>

namespace tunesift {

// Lists the pairs of texts that the similar measure passes (Similar Filename, Similar Tag). The
// texts' words go into an index of the classes of equal word lists; the groups' keys are let go
// of once it is built.
PassOutcome runSimilar(RunState& state, Criterion criterion, TextGroups<std::string_view> groups);

} // namespace tunesift
