#pragma once

// The dense library: every byte written, for benchmarks that read whole files. Each file is a
// run of real MPEG-1 Layer III frames (valid headers, noise payload) of 0.3 to 1 MB, behind an
// ID3v2 tag and before an ID3v1 tag. A share of the files are exact copies, and a share are the
// same audio under other tags (another ID3v2 size, title and ID3v1 title, sometimes an APEv2
// tag): whole-file tools see the copies only, an audio comparison sees both.

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace tunesift::corpus {

struct DenseCounts
{
    std::size_t files = 0;
    std::size_t copies = 0;
    std::size_t retagged = 0;
};

// Writes a dense library of `target` MP3 files below root; false when a file cannot be written.
bool makeDenseLibrary(const std::filesystem::path& root, std::size_t target, std::uint64_t seed,
                      DenseCounts& counts);

} // namespace tunesift::corpus
