#pragma once

#include "search/runstate.h"

#include <cstdint>
#include <vector>

namespace tunesift {

// Files that hold the same audio (range length, hash of its first 64 KiB, hash of all of it) share
// a class: per path id, its class, or kNoText for a file without a partner or without audio.
std::vector<std::uint32_t> AudioClasses(RunState& state);

} // namespace tunesift
