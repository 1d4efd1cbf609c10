// The Similar Audio matcher on its own.
//
//   audio_match synth COUNT [--seed S] [--copies N] [--max-error E] [--exhaustive]
//       COUNT random prints of 120 s (neighbouring values about 3.7 bits apart), N of them
//       (default COUNT/100) copies of others with bit errors (0 to 10%), offsets (-16 to +24
//       values) and some cut short. Prints the matcher's time, its figures, the peak resident
//       set, and the planted copies it found; with --exhaustive also the pairs an exhaustive
//       check of every pair at every offset from -32 to +32 finds, and its time.
//   audio_match files FILE...
//       Prints every file, and every pair's best alignment (offsets -400 to +400) with the
//       matcher's verdict, one line a pair: a tool for choosing the thresholds.
#include "files/fileaccess.h"
#include "mp3/audioprint.h"
#include "mp3/mp3analysis.h"
#include "search/audiomatch.h"
#include "splitmix.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace tunesift;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

constexpr std::size_t kLength = 969; // 120 s

std::vector<std::uint32_t> randomPrint(bench::Rng& rng)
{
    std::vector<std::uint32_t> print(kLength);
    std::uint32_t v = static_cast<std::uint32_t>(rng.next());
    for (std::uint32_t& value : print) {
        // About 3.7 of 32 bits change from one value to the next.
        for (int k = 0; k < 4; ++k)
            if (rng.chance(0.93))
                v ^= 1u << rng.below(32);
        value = v;
    }
    return print;
}

std::vector<std::uint32_t> plantedCopy(bench::Rng& rng, const std::vector<std::uint32_t>& of,
                                       double errorRate)
{
    const int offset = rng.between(-16, 24);
    std::vector<std::uint32_t> copy;
    if (offset > 0) // the copy starts later in the recording's time: silence in front
        copy.assign(static_cast<std::size_t>(offset), kSilencePrintValue);
    copy.insert(copy.end(), of.begin() + std::max(0, -offset), of.end());
    copy.resize(std::min(copy.size(), kLength));
    if (rng.chance(0.1)) // cut short
        copy.resize(copy.size() / 2 + rng.below(copy.size() / 2));
    for (std::uint32_t& value : copy)
        if (value != kSilencePrintValue)
            for (int bit = 0; bit < 32; ++bit)
                if (rng.chance(errorRate))
                    value ^= 1u << bit;
    return copy;
}

// Whether the pair passes at any offset from -32 to +32, stopping early at offsets that cannot.
bool exhaustiveMatch(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b,
                     const AudioMatchRules& rules)
{
    for (int offset = -32; offset <= 32; ++offset) {
        // The first 16 aligned values rule most offsets out.
        const std::size_t first = static_cast<std::size_t>(std::max(0, -offset));
        const std::size_t last =
            std::min(a.size(), b.size() - std::min<std::size_t>(b.size(), std::max(0, offset)));
        if (last <= first)
            continue;
        std::size_t errors = 0;
        const std::size_t probe = std::min<std::size_t>(16, last - first);
        for (std::size_t i = first; i < first + probe; ++i)
            errors += static_cast<std::size_t>(
                std::popcount(a[i] ^ b[static_cast<std::size_t>(static_cast<int>(i) + offset)]));
        if (static_cast<double>(errors) > 2.0 * rules.maxErrorRate * 32.0 * probe)
            continue;
        if (IsSameRecording(AlignPrints(a, b, offset), a.size(), b.size(), rules))
            return true;
    }
    return false;
}

int synth(int argc, char** argv)
{
    const std::size_t count = std::strtoull(argv[2], nullptr, 10);
    std::uint64_t seed = 1;
    std::size_t copies = count / 100;
    bool exhaustive = false;
    AudioMatchRules rules;
    for (int k = 3; k < argc; ++k) {
        if (!std::strcmp(argv[k], "--seed") && k + 1 < argc)
            seed = std::strtoull(argv[++k], nullptr, 10);
        else if (!std::strcmp(argv[k], "--copies") && k + 1 < argc)
            copies = std::strtoull(argv[++k], nullptr, 10);
        else if (!std::strcmp(argv[k], "--max-error") && k + 1 < argc)
            rules.maxErrorRate = std::strtod(argv[++k], nullptr);
        else if (!std::strcmp(argv[k], "--exhaustive"))
            exhaustive = true;
        else
            return std::fprintf(stderr, "audio_match: unknown argument %s\n", argv[k]), 2;
    }
    bench::Rng rng(seed);
    const auto made = Clock::now();
    PrintStore store(count);
    // Copies stand at random places; each copies an original made earlier.
    std::vector<std::uint32_t> copyOf(count, ~0u);
    std::vector<double> errorOf(count, 0.0);
    for (std::size_t k = 0; k < copies; ++k) {
        const std::size_t at = 1 + rng.below(count - 1);
        copyOf[at] = static_cast<std::uint32_t>(rng.below(at));
        errorOf[at] = rng.unit() * 0.10;
    }
    std::vector<std::vector<std::uint32_t>> kept; // for the exhaustive check only
    std::set<std::pair<std::uint32_t, std::uint32_t>> planted;
    // An original is made again from its seed when a copy needs it.
    const auto original = [&](std::uint32_t id) {
        bench::Rng own(seed * 1000003 + id);
        return randomPrint(own);
    };
    for (std::uint32_t id = 0; id < count; ++id) {
        std::vector<std::uint32_t> print;
        if (copyOf[id] != ~0u && copyOf[copyOf[id]] == ~0u) {
            print = plantedCopy(rng, original(copyOf[id]), errorOf[id]);
            planted.emplace(copyOf[id], id);
        } else {
            copyOf[id] = ~0u;
            print = original(id);
        }
        store.add(id, print);
        if (exhaustive)
            kept.push_back(std::move(print));
    }
    std::printf("made %zu prints (%zu planted copies) in %.1f s; peak so far %ld KB\n", count,
                planted.size(), seconds(made), peakKilobytes());

    const auto start = Clock::now();
    const double cpu = cpuSeconds();
    AudioMatchStats stats;
    const auto pairs = FindSimilarPrints(
        store, rules, [] { return false; }, &stats);
    const double took = seconds(start);
    if (!pairs)
        return std::fprintf(stderr, "audio_match: matching failed\n"), 1;
    std::size_t found = 0;
    for (const auto& pair : *pairs)
        found += planted.count(pair);
    std::printf("matching: %.2f s wall, %.2f s cpu; passes %zu, entries %llu, dropped keys %llu, "
                "votes %llu, candidates %llu, index peak %zu MB; pairs %zu, planted found %zu of "
                "%zu; peak resident %ld KB\n",
                took, cpuSeconds() - cpu, stats.passes,
                static_cast<unsigned long long>(stats.entries),
                static_cast<unsigned long long>(stats.droppedKeys),
                static_cast<unsigned long long>(stats.votes),
                static_cast<unsigned long long>(stats.candidates), stats.peakIndexBytes >> 20,
                pairs->size(), found, planted.size(), peakKilobytes());
    if (!exhaustive)
        return 0;
    const auto full = Clock::now();
    std::set<std::pair<std::uint32_t, std::uint32_t>> truth;
    for (std::uint32_t a = 0; a < count; ++a)
        for (std::uint32_t b = a + 1; b < count; ++b)
            if (exhaustiveMatch(kept[a], kept[b], rules))
                truth.emplace(a, b);
    std::size_t agreed = 0;
    for (const auto& pair : *pairs)
        agreed += truth.count(pair);
    std::printf("exhaustive: %.1f s; pairs %zu; the index found %zu of them (recall %.4f) and "
                "%zu others\n",
                seconds(full), truth.size(), agreed,
                truth.empty() ? 1.0 : static_cast<double>(agreed) / truth.size(),
                pairs->size() - agreed);
    return 0;
}

int files(int argc, char** argv)
{
    std::vector<std::string> paths(argv + 2, argv + argc);
    std::vector<std::vector<std::uint32_t>> prints(paths.size());
    const double cpu = cpuSeconds();
    const auto start = Clock::now();
    for (std::size_t k = 0; k < paths.size(); ++k) {
        ReadOnlyFile file;
        if (!file.open(paths[k]))
            continue;
        Mp3Analysis analysis;
        analysis.analyseOpened(file, paths[k]);
        prints[k] = MakeAudioPrint(file, analysis.audioRange(), analysis.sampleRate()).values;
    }
    std::fprintf(stderr, "printed %zu files: %.3f s wall, %.3f s cpu per file\n", paths.size(),
                 seconds(start) / static_cast<double>(paths.size()),
                 (cpuSeconds() - cpu) / static_cast<double>(paths.size()));
    const AudioMatchRules rules;
    PrintStore store(paths.size());
    for (std::size_t k = 0; k < paths.size(); ++k) {
        std::printf("print\t%s\t%zu\t%d\n", paths[k].c_str(), prints[k].size(),
                    HasEnoughSound(prints[k]) ? 1 : 0);
        if (HasEnoughSound(prints[k]))
            store.add(static_cast<std::uint32_t>(k), prints[k]);
    }
    const auto found = FindSimilarPrints(store, rules, [] { return false; });
    std::set<std::pair<std::uint32_t, std::uint32_t>> indexed(found->begin(), found->end());
    for (std::uint32_t a = 0; a < paths.size(); ++a)
        for (std::uint32_t b = a + 1; b < paths.size(); ++b) {
            if (prints[a].empty() || prints[b].empty())
                continue;
            PrintAlignment best;
            for (int offset = -400; offset <= 400; ++offset) {
                const PrintAlignment at = AlignPrints(prints[a], prints[b], offset);
                if (at.soundOverlap >= kMinSoundValues && at.errorRate < best.errorRate)
                    best = at;
            }
            std::printf("pair\t%s\t%s\t%d\t%.4f\t%zu\t%.3f\t%zu\t%d\t%d\n", paths[a].c_str(),
                        paths[b].c_str(), best.offset, best.errorRate, best.overlap,
                        static_cast<double>(best.overlap) /
                            static_cast<double>(std::min(prints[a].size(), prints[b].size())),
                        best.leadIn,
                        IsSameRecording(best, prints[a].size(), prints[b].size(), rules) ? 1 : 0,
                        indexed.count({a, b}) ? 1 : 0);
        }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc >= 3 && !std::strcmp(argv[1], "synth"))
        return synth(argc, argv);
    if (argc >= 3 && !std::strcmp(argv[1], "files"))
        return files(argc, argv);
    std::fprintf(stderr, "usage: audio_match synth COUNT [--seed S] [--copies N] [--max-error E] "
                         "[--exhaustive] | audio_match files FILE...\n");
    return 2;
}
