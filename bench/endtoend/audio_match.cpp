// The Similar Audio matcher on its own.
//
//   audio_match synth COUNT [--seed S] [--copies N] [--max-error E] [--threads T]
//                      [--memory MB] [--exhaustive]
//       COUNT random prints of 120 s (neighbouring values about 3.7 bits apart), N of them
//       (default COUNT/100) copies of others with bit errors (0 to 10%), offsets (-16 to +24
//       values) and some cut short. Prints the time of storing the prints (their keys are
//       chosen then) and of matching, the matcher's figures, the peak resident set, and the
//       planted copies it found (the store holds MB of prints and keys in memory, by default
//       64, the rest in temporary files); with --exhaustive also the pairs an exhaustive check of
//       every pair at every offset from -40 to +40 finds, its time, and the pairs the index missed.
//   audio_match files FILE...
//       Prints every file, and every pair's best alignment (offsets -400 to +400) with the
//       matcher's verdict, one line a pair: a tool for choosing the thresholds.
//   audio_match fill-cache [--seed S] FOLDER...
//       Stores a print of synth's kind (1% copies) for every MP3 file under the folders in the
//       facts cache of tunesift-cli ($XDG_CACHE_HOME), under the file's stamp, so that a run
//       with the cache takes them as known: a run of a million files with Similar Audio without
//       decoding a million files. Run tunesift-cli over the folders once first: the cache gives
//       a print only of a file whose other facts it holds.
#include "cache/sqlitecache.h"
#include "files/fileaccess.h"
#include "mp3/audioprint.h"
#include "mp3/mp3analysis.h"
#include "search/audiomatch.h"
#include "splitmix.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <sys/resource.h>
#include <thread>
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

// Whether the pair passes at any offset from -40 to +40 (any two copies of one original lie
// within that), ruling out early the offsets where 16 aligned values from the middle of the
// overlap differ in more than twice the bit error limit.
bool exhaustiveMatch(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b,
                     const AudioMatchRules& rules)
{
    constexpr std::size_t kProbe = 16;
    for (int offset = -40; offset <= 40; ++offset) {
        const std::size_t first = static_cast<std::size_t>(std::max(0, -offset));
        const std::size_t last =
            std::min(a.size(), b.size() - std::min<std::size_t>(b.size(), std::max(0, offset)));
        if (last < first + kProbe)
            continue;
        const std::size_t from = first + (last - first - kProbe) / 2;
        std::size_t errors = 0;
        for (std::size_t i = from; i < from + kProbe; ++i)
            errors += static_cast<std::size_t>(
                std::popcount(a[i] ^ b[static_cast<std::size_t>(static_cast<int>(i) + offset)]));
        if (static_cast<double>(errors) > 2.0 * rules.maxErrorRate * 32.0 * kProbe)
            continue;
        if (IsSameRecording(AlignPrints(a, b, offset), a.size(), b.size(), rules))
            return true;
    }
    return false;
}

// The prints of synth, one after another: COUNT random prints, copies of others at random
// places among them.
class SynthPrints
{
public:
    SynthPrints(std::size_t count, std::size_t copies, std::uint64_t seed)
        : m_rng(seed), m_seed(seed), m_copyOf(count, ~0u), m_errorOf(count, 0.0)
    {
        for (std::size_t k = 0; k < copies && count > 1; ++k) {
            const std::size_t at = 1 + m_rng.below(count - 1);
            m_copyOf[at] = static_cast<std::uint32_t>(m_rng.below(at));
            m_errorOf[at] = m_rng.unit() * 0.10;
        }
    }

    std::vector<std::uint32_t> next()
    {
        const std::uint32_t id = m_next++;
        if (m_copyOf[id] != ~0u && m_copyOf[m_copyOf[id]] == ~0u) {
            m_planted.emplace(m_copyOf[id], id);
            return plantedCopy(m_rng, original(m_copyOf[id]), m_errorOf[id]);
        }
        m_copyOf[id] = ~0u;
        return original(id);
    }
    // The (original, copy) pairs made so far.
    const std::set<std::pair<std::uint32_t, std::uint32_t>>& planted() const { return m_planted; }

private:
    // An original is made again from its seed when a copy needs it.
    std::vector<std::uint32_t> original(std::uint32_t id) const
    {
        bench::Rng own(m_seed * 1000003 + id);
        return randomPrint(own);
    }

    bench::Rng m_rng;
    std::uint64_t m_seed;
    std::vector<std::uint32_t> m_copyOf;
    std::vector<double> m_errorOf;
    std::set<std::pair<std::uint32_t, std::uint32_t>> m_planted;
    std::uint32_t m_next = 0;
};

int synth(int argc, char** argv)
{
    const std::size_t count = std::strtoull(argv[2], nullptr, 10);
    std::uint64_t seed = 1;
    std::size_t copies = count / 100;
    bool exhaustive = false;
    std::size_t memory = PrintStore::kDefaultMemory;
    AudioMatchRules rules;
    for (int k = 3; k < argc; ++k) {
        if (!std::strcmp(argv[k], "--seed") && k + 1 < argc)
            seed = std::strtoull(argv[++k], nullptr, 10);
        else if (!std::strcmp(argv[k], "--copies") && k + 1 < argc)
            copies = std::strtoull(argv[++k], nullptr, 10);
        else if (!std::strcmp(argv[k], "--max-error") && k + 1 < argc)
            rules.maxErrorRate = std::strtod(argv[++k], nullptr);
        else if (!std::strcmp(argv[k], "--memory") && k + 1 < argc)
            memory = std::strtoull(argv[++k], nullptr, 10) << 20;
        else if (!std::strcmp(argv[k], "--threads") && k + 1 < argc)
            rules.threads = std::strtoull(argv[++k], nullptr, 10);
        else if (!std::strcmp(argv[k], "--exhaustive"))
            exhaustive = true;
        else
            return std::fprintf(stderr, "audio_match: unknown argument %s\n", argv[k]), 2;
    }
    const auto made = Clock::now();
    PrintStore store(count, memory);
    SynthPrints synthetic(count, copies, seed);
    std::vector<std::vector<std::uint32_t>> kept; // for the exhaustive check only
    // Prints are made a block at a time and then stored, the storing timed on its own: that is
    // where each print's keys are chosen.
    double storeWall = 0;
    double storeCpu = 0;
    std::vector<std::vector<std::uint32_t>> block;
    const auto storeBlock = [&](std::uint32_t firstId) {
        const auto start = Clock::now();
        const double cpu = cpuSeconds();
        for (std::size_t k = 0; k < block.size(); ++k)
            store.add(firstId + static_cast<std::uint32_t>(k), block[k]);
        storeWall += seconds(start);
        storeCpu += cpuSeconds() - cpu;
        if (exhaustive)
            for (auto& print : block)
                kept.push_back(std::move(print));
        block.clear();
    };
    std::uint32_t blockStart = 0;
    for (std::uint32_t id = 0; id < count; ++id) {
        block.push_back(synthetic.next());
        if (block.size() == 4096) {
            storeBlock(blockStart);
            blockStart = id + 1;
        }
    }
    storeBlock(blockStart);
    std::printf("made %zu prints (%zu planted copies) in %.1f s; storing them: %.2f s wall, %.2f s "
                "cpu; peak so far %ld KB\n",
                count, synthetic.planted().size(), seconds(made), storeWall, storeCpu,
                peakKilobytes());

    const auto start = Clock::now();
    const double cpu = cpuSeconds();
    AudioMatchStats stats;
    const auto pairs = FindSimilarPrints(
        store, rules, [] { return false; }, &stats);
    const double took = seconds(start);
    const double tookCpu = cpuSeconds() - cpu;
    if (!pairs)
        return std::fprintf(stderr, "audio_match: matching failed\n"), 1;
    std::size_t found = 0;
    for (const auto& pair : *pairs)
        found += synthetic.planted().count(pair);
    std::printf("matching: %.2f s wall, %.2f s cpu (%zu threads); key ranges %zu, entries %llu, "
                "dropped keys %llu, votes %llu, candidates %llu, largest range %zu KB; pairs %zu, "
                "planted found %zu of %zu; peak resident %ld KB\n",
                took, tookCpu, stats.threads, stats.passes,
                static_cast<unsigned long long>(stats.entries),
                static_cast<unsigned long long>(stats.droppedKeys),
                static_cast<unsigned long long>(stats.votes),
                static_cast<unsigned long long>(stats.candidates), stats.peakIndexBytes >> 10,
                pairs->size(), found, synthetic.planted().size(), peakKilobytes());
    std::printf("storing and matching: %.2f s wall, %.2f s cpu\n", storeWall + took,
                storeCpu + tookCpu);
    if (!exhaustive)
        return 0;
    // Every pair, on two threads (a's of one parity each).
    const auto full = Clock::now();
    const double fullCpu = cpuSeconds();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> truths[2];
    const auto half = [&](std::uint32_t parity) {
        for (std::uint32_t a = parity; a < count; a += 2)
            for (std::uint32_t b = a + 1; b < count; ++b)
                if (exhaustiveMatch(kept[a], kept[b], rules))
                    truths[parity].emplace_back(a, b);
    };
    std::thread other(half, 1);
    half(0);
    other.join();
    std::set<std::pair<std::uint32_t, std::uint32_t>> truth(truths[0].begin(), truths[0].end());
    truth.insert(truths[1].begin(), truths[1].end());
    std::size_t agreed = 0;
    for (const auto& pair : *pairs)
        agreed += truth.count(pair);
    std::printf("exhaustive: %.1f s wall, %.1f s cpu (2 threads); pairs %zu; the index found %zu "
                "of them (recall %.4f) and %zu others\n",
                seconds(full), cpuSeconds() - fullCpu, truth.size(), agreed,
                truth.empty() ? 1.0 : static_cast<double>(agreed) / truth.size(),
                pairs->size() - agreed);
    for (const auto& pair : truth)
        if (!std::binary_search(pairs->begin(), pairs->end(), pair))
            std::printf("missed\t%u\t%u\n", pair.first, pair.second);
    return 0;
}

// Puts a synthetic print of every MP3 file under the folders into the facts cache, under the
// file's stamp as it is now, as if a run had made it: a following run takes them as what it
// knows of unchanged files and decodes nothing.
int fillCache(int argc, char** argv)
{
    std::uint64_t seed = 1;
    std::vector<std::string> folders;
    for (int k = 2; k < argc; ++k) {
        if (!std::strcmp(argv[k], "--seed") && k + 1 < argc)
            seed = std::strtoull(argv[++k], nullptr, 10);
        else
            folders.emplace_back(argv[k]);
    }
    std::vector<std::string> paths;
    for (const std::string& folder : folders) {
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(
                 folder, std::filesystem::directory_options::skip_permission_denied, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            std::string extension = it->path().extension().string();
            for (char& c : extension)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (extension == ".mp3" && it->is_regular_file(error))
                paths.push_back(it->path().string());
        }
    }
    std::sort(paths.begin(), paths.end());
    const std::optional<std::filesystem::path> file = DefaultCacheFile();
    if (!file)
        return std::fprintf(stderr, "audio_match: no cache folder is known\n"), 1;
    bool failed = false;
    SqliteFileCache cache(*file, [&](const std::string& text) {
        std::fprintf(stderr, "audio_match: %s\n", text.c_str());
        failed = true;
    });
    const auto start = Clock::now();
    SynthPrints synthetic(paths.size(), paths.size() / 100, seed);
    std::size_t stored = 0;
    for (std::size_t k = 0; k < paths.size() && !failed; ++k) {
        const std::vector<std::uint32_t> print = synthetic.next();
        if (const std::optional<FileStamp> stamp = QueryFileStamp(paths[k])) {
            cache.storePrint(*stamp, AudioPrintPipeline(), print);
            ++stored;
        }
        if ((k + 1) % 100000 == 0)
            std::printf("%zu of %zu files, %.0f s\n", k + 1, paths.size(), seconds(start));
    }
    cache.flush();
    std::printf("cache %s: prints of %zu of %zu files stored (%zu planted copies) in %.1f s\n",
                file->string().c_str(), stored, paths.size(), synthetic.planted().size(),
                seconds(start));
    return failed ? 1 : 0;
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
    if (argc >= 3 && !std::strcmp(argv[1], "fill-cache"))
        return fillCache(argc, argv);
    std::fprintf(stderr, "usage: audio_match synth COUNT [--seed S] [--copies N] [--max-error E] "
                         "[--threads T] [--memory MB] [--exhaustive] | audio_match files FILE... | "
                         "audio_match fill-cache [--seed S] FOLDER...\n");
    return 2;
}
