#pragma once

#include "mp3/audiorange.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tunesift {

class ReadOnlyFile;

// How much of a file's audio its acoustic print covers: the first two minutes.
inline constexpr int kPrintSeconds = 120;
// The lowest rate the decoder is asked for; the fingerprinter works at this rate.
inline constexpr int kLowestDecodeRate = 11025;

// False in a build without the decoder and the fingerprinter: no print is ever made, and callers
// refuse to compare audio by its sound.
bool AudioPrintsAvailable();

// Names the decoder, the fingerprinter and the way they are joined. Prints made under another
// name are not comparable with these, so a kept print is used only under the same name.
const std::string& AudioPrintPipeline();

struct AudioPrintResult
{
    enum class Outcome
    {
        Made,       // values hold the print (empty when the audio decoded to nothing)
        ReadFailed, // the file could not be read: worth trying again another time
    };
    Outcome outcome = Outcome::ReadFailed;
    // One value per 1,365 samples at 11,025 Hz (about 0.124 s), in the fingerprinter's own raw
    // form.
    std::vector<std::uint32_t> values;
};

// Decodes the first kPrintSeconds of the audio in range (mono, at kLowestDecodeRate where
// frequency, the rate of its first frame header, is higher) and prints it. Reads the file once,
// from the range's start on, only as far as the print needs.
AudioPrintResult MakeAudioPrint(const ReadOnlyFile& file, const AudioRange& range, int frequency);

} // namespace tunesift
