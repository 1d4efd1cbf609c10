#pragma once

#include "search/runstate.h"

namespace tunesift {

// The stages of the run that read files, all through GatherFacts (filefacts.h).

// Gives the rows written since criterionFirstRow their columns, reading the files this run holds
// nothing of yet.
void FillRowColumns(RunState& state);

// Fills the titles of all catalogue entries from their tags (empty without a tag).
void ReadTitles(RunState& state);

// Reads the sizes the scan did not read, and with a cache the titles a tag criterion will want.
void ReadSizes(RunState& state);

} // namespace tunesift
