#pragma once

#include "search/audiomatch.h"
#include "search/runstate.h"

namespace tunesift {

// Where the cache may hold prints, the run holds Similar Audio's prints from now on: each file's
// print then comes from the cache with the first facts asked of it, in the same look-up.
void HoldAudioPrints(RunState& state);

// The acoustic print of every file (the first entry of each path id) into state.prints, under
// the file's path id: those the run holds already, from the cache where it holds one made the
// same way, otherwise decoded on a few threads, each file opened once for its analysis and its
// audio (filefacts.h). Files with too little sound are left out. False when a stop was asked for
// meanwhile.
bool ReadAudioPrints(RunState& state);

} // namespace tunesift
