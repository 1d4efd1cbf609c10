#pragma once

#include "search/runstate.h"

namespace tunesift {

// Gives every catalogue entry its path id.
void AssignPathIds(RunState& state);

} // namespace tunesift
