#pragma once

#include "search/audiomatch.h"
#include "search/runstate.h"

namespace tunesift {

// The acoustic print of every file (the first entry of each path id) into prints, under the
// file's path id: from the cache where it holds one made the same way, otherwise decoded on a few
// threads, each file opened once for its analysis and its audio (filefacts.h). Files with too
// little sound are left out. False when a stop was asked for meanwhile.
bool ReadAudioPrints(RunState& state, PrintStore& prints);

} // namespace tunesift
