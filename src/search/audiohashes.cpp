#include "search/audiohashes.h"

#include "search/filefacts.h"
#include "search/textgroups.h"

#include <algorithm>
#include <optional>
#include <tuple>
#include <utility>

namespace tunesift {

std::vector<std::uint32_t> AudioClasses(RunState& state)
{
    const Catalogue& catalogue = state.session.catalogue();
    // Each file once (the first entry of its path id): its audio range, and the hashes of it the
    // cache holds; the analysis that finds a range also gives the columns of the file's rows.
    std::vector<std::uint32_t> files;
    for (std::uint32_t entry = 0; entry < catalogue.count(); ++entry)
        if (state.pathId[entry] == entry)
            files.push_back(entry);
    state.meter.beginCriterion(Criterion::ExactAudio, files.size());
    GatherFacts(state, files, {.audio = true});
    std::vector<AudioFacts>& audio = state.audio;
    std::erase_if(files, [&](std::uint32_t id) { return audio[id].range.empty(); });

    // Only a file that shares its range length with another can have a partner: the others are
    // never read. Then the first 64 KiB, then the whole range of those still alike. Files are
    // grouped by what is known of every file before a step (the length, then the length and
    // the first hash), never by a hash some files brought from the cache and others lack.
    const auto key = [&](std::uint32_t id) {
        const AudioFacts& f = audio[id];
        return std::tuple(f.range.length, f.head.value_or(AudioHash{}),
                          f.whole.value_or(AudioHash{}));
    };
    // The bytes still to hash show as the criterion's work: at first the heads of the files with
    // a partner in length and, for ranges longer than a head, the whole ranges too; the ranges
    // the heads then tell apart drop out.
    const auto hashedBytes = [](const AudioFacts& f, bool whole) {
        return static_cast<std::uint64_t>(whole ? f.range.length
                                                : std::min(f.range.length, kAudioHeadBytes));
    };
    std::uint64_t wholeBytesCounted = 0;
    const auto countAudioBytes = [&](const std::vector<std::uint32_t>& work, bool whole) {
        std::uint64_t heads = 0;
        std::uint64_t wholes = 0;
        for (const std::uint32_t id : work) {
            heads += hashedBytes(audio[id], false);
            if (audio[id].range.length > kAudioHeadBytes)
                wholes += hashedBytes(audio[id], true);
        }
        if (!whole) {
            wholeBytesCounted = wholes;
            state.meter.beginCriterion(Criterion::ExactAudio, heads + wholes, WorkUnit::Bytes);
        } else {
            state.meter.dropFromTotal(wholeBytesCounted - std::min(wholes, wholeBytesCounted));
        }
    };
    const auto refine = [&](std::optional<AudioHash> AudioFacts::*hash, bool whole) {
        const auto known = [&](std::uint32_t id) {
            const AudioFacts& f = audio[id];
            return std::pair(f.range.length, whole ? f.head.value_or(AudioHash{}) : AudioHash{});
        };
        std::sort(files.begin(), files.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return known(a) < known(b); });
        std::vector<std::uint32_t> work;
        for (std::size_t first = 0, last = 0; first < files.size(); first = last) {
            while (last < files.size() && known(files[last]) == known(files[first]))
                ++last;
            if (last - first < 2)
                continue;
            for (std::size_t k = first; k < last; ++k)
                work.push_back(files[k]);
        }
        countAudioBytes(work, whole);
        // Known already (from the cache), or a short range's first hash is its whole hash.
        std::erase_if(work, [&](std::uint32_t id) {
            const AudioFacts& f = audio[id];
            if (!(f.*hash))
                return false;
            if (!whole || f.range.length > kAudioHeadBytes)
                state.meter.dropFromTotal(hashedBytes(f, whole));
            return true;
        });
        GatherAudioHashes(state, work, whole);
        std::erase_if(files, [&](std::uint32_t id) { return audio[id].range.empty(); });
    };
    if (!state.stop.raised())
        refine(&AudioFacts::head, false);
    if (!state.stop.raised())
        refine(&AudioFacts::whole, true);
    if (state.stop.raised())
        return {}; // a stopped run lists nothing: sorting a million files would only delay it

    // Files alike in length and both hashes hold the same audio; every entry of a file shares
    // the file's class.
    std::sort(files.begin(), files.end(),
              [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
    std::vector<std::uint32_t> classOf(state.pathCount, kNoText);
    std::uint32_t classes = 0;
    for (std::size_t k = 0; k < files.size(); ++k) {
        if (k > 0 && key(files[k]) != key(files[k - 1]))
            ++classes;
        classOf[files[k]] = classes;
    }
    return classOf;
}

} // namespace tunesift
