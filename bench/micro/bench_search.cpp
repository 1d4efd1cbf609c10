// Google Benchmarks of the search engine's hot inner parts: splitting and folding words, the
// measure of one pair, and the passes over an in-memory catalogue (the candidate search of the
// similar criteria, the grouping of the exact ones). The passes run without touching a disk: the
// row data of every file is marked as known beforehand, so only the pass itself is timed.

#include "mp3/mp3analysis.h"
#include "search/catalogue.h"
#include "search/criteria.h"
#include "search/host.h"
#include "search/pathids.h"
#include "search/runstate.h"
#include "search/searchrun.h"
#include "search/similar.h"
#include "splitmix.h"
#include "text/textcase.h"

#include <array>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tunesift {
namespace {

using bench::Rng;

constexpr std::array kSyllables = {"ka",  "lo",  "mi",  "ren", "tor", "va",  "shi", "den",
                                   "mar", "el",  "qui", "zo",  "ba",  "rin", "to",  "sa",
                                   "ne",  "gor", "fa",  "lu",  "pe",  "dra", "ki",  "mo"};

std::string word(Rng& rng)
{
    std::string w;
    for (std::size_t s = 0, n = 1 + rng.below(3); s < n; ++s)
        w += kSyllables[rng.below(kSyllables.size())];
    w[0] = static_cast<char>(w[0] - 'a' + 'A');
    return w;
}

std::string phrase(Rng& rng, const std::vector<std::string>& vocabulary)
{
    std::string p;
    const std::size_t words = 1 + rng.below(4);
    for (std::size_t k = 0; k < words; ++k) {
        if (k > 0)
            p += rng.chance(0.1) ? " of the " : " ";
        // Squaring skews the choice: a few words are common, most are rare.
        const double u = static_cast<double>(rng.below(1 << 20)) / (1 << 20);
        p += vocabulary[static_cast<std::size_t>(u * u * static_cast<double>(vocabulary.size()))];
    }
    return p;
}

// Names and titles the way a music library has them: "NN - Artist - Title.mp3", albums of a
// dozen tracks, and a tenth of the files copies or variants of earlier ones (exact copies, other
// letter case, a leading "The", an extra word, ".MP3").
struct Library
{
    std::vector<std::string> folders;
    std::vector<std::uint32_t> folderOf;
    std::vector<std::string> names;
    std::vector<std::string> titles;
    std::vector<std::int64_t> sizes;
};

Library makeLibrary(std::size_t files)
{
    Rng rng(files);
    std::vector<std::string> vocabulary;
    for (std::size_t k = 0; k < std::max<std::size_t>(files / 8, 2000); ++k)
        vocabulary.push_back(word(rng));
    Library lib;
    char number[8];
    while (lib.names.size() < files) {
        const std::string artist = (rng.chance(0.25) ? "The " : "") + phrase(rng, vocabulary);
        // Nothing below this folder exists: the passes never open a file here.
        lib.folders.push_back("/nonexistent/" + artist + "/" + phrase(rng, vocabulary) + "/");
        const auto folder = static_cast<std::uint32_t>(lib.folders.size() - 1);
        for (int track = 1; track <= 12 && lib.names.size() < files; ++track) {
            std::snprintf(number, sizeof number, "%02d", track);
            std::string title = phrase(rng, vocabulary);
            std::string name = std::string(number) + " - " + artist + " - " + title + ".mp3";
            std::int64_t size = 1'500'000 + static_cast<std::int64_t>(rng.below(10'000'000));
            if (lib.names.size() > 100 && rng.chance(0.1)) {
                const std::size_t earlier = rng.below(lib.names.size());
                name = lib.names[earlier];
                title = lib.titles[earlier];
                switch (rng.below(5)) {
                case 0:
                    size = lib.sizes[earlier];
                    break;
                case 1:
                    for (char& c : name)
                        if (c >= 'A' && c <= 'Z')
                            c = static_cast<char>(c - 'A' + 'a');
                    break;
                case 2:
                    name.insert(5, "The ");
                    title = "The " + title;
                    break;
                case 3:
                    name.insert(name.size() - 4, " Live");
                    title += " Live";
                    break;
                default:
                    name.replace(name.size() - 4, 4, ".MP3");
                    size = lib.sizes[earlier];
                    break;
                }
            }
            if (rng.chance(0.1))
                title.clear(); // no tag
            lib.folderOf.push_back(folder);
            lib.names.push_back(std::move(name));
            lib.titles.push_back(std::move(title));
            lib.sizes.push_back(size);
        }
    }
    return lib;
}

const Library& library(std::size_t files)
{
    static std::vector<std::pair<std::size_t, Library>> made;
    for (const auto& [n, lib] : made)
        if (n == files)
            return lib;
    made.emplace_back(files, makeLibrary(files));
    return made.back().second;
}

class QuietHost : public SearchHost
{
public:
    bool isCriterionTicked(Criterion) override { return true; }
    bool isStopRequested() override { return false; }
    void resetStop() override {}
    void setCaption(const std::string&) override {}
    void setProgress(int) override {}
    MessageAnswer showMessage(const std::string&, const std::string&, MessageButtons) override
    {
        return MessageAnswer::Ok;
    }
};

void fill(SearchSession& session, const Library& lib)
{
    Catalogue& catalogue = session.catalogue();
    catalogue.clear();
    std::vector<std::uint32_t> ids;
    for (const std::string& folder : lib.folders)
        ids.push_back(catalogue.addFolder(folder));
    for (std::size_t k = 0; k < lib.names.size(); ++k)
        catalogue.append(ids[lib.folderOf[k]], lib.names[k], lib.sizes[k]);
    session.titles() = lib.titles;
}

void runPass(benchmark::State& bench, PassOutcome (*pass)(RunState&),
             std::int64_t (*sizeOf)(std::size_t entry, Rng& rng) = nullptr)
{
    const Library& lib = library(static_cast<std::size_t>(bench.range(0)));
    SearchSession session;
    fill(session, lib);
    if (sizeOf) {
        Rng rng(lib.names.size());
        for (std::size_t k = 0; k < lib.names.size(); ++k)
            session.catalogue().setSize(k, sizeOf(k, rng));
    }
    QuietHost host;
    std::size_t rows = 0;
    for (auto _ : bench) {
        bench.PauseTiming();
        session.results().clear();
        RunState state(session, host);
        AssignPathIds(state);
        for (RunState::RowInfo& row : state.rowInfo)
            row.known = true; // the rows' file data is not what is measured here
        state.titlesRead = true;
        bench.ResumeTiming();
        benchmark::DoNotOptimize(pass(state));
        rows = session.results().size();
    }
    bench.counters["rows"] = static_cast<double>(rows);
    bench.SetItemsProcessed(bench.iterations() * bench.range(0));
}

void BM_SplitWords(benchmark::State& bench)
{
    const Library& lib = library(10'000);
    std::size_t k = 0;
    for (auto _ : bench) {
        benchmark::DoNotOptimize(SplitWords(lib.names[k]));
        k = (k + 1) % lib.names.size();
    }
    bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_SplitWords);

void BM_SplitWordsNonAscii(benchmark::State& bench)
{
    const std::vector<std::string> names = {
        "03 - Motörhead - Ace of Spades.mp3", "01 - Ärger über Straße und Tal.mp3",
        "07 - Björk - Jóga.mp3", "12 - ΣΟΦΊΑ and the Σοφία.mp3"};
    std::size_t k = 0;
    for (auto _ : bench) {
        benchmark::DoNotOptimize(SplitWords(names[k]));
        k = (k + 1) % names.size();
    }
    bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_SplitWordsNonAscii);

void BM_UpperCaseWord(benchmark::State& bench)
{
    const std::vector<std::string> words =
        bench.range(0) ? std::vector<std::string>{"Motörhead", "Ärger", "Straße", "Σοφία"}
                       : std::vector<std::string>{"Winding", "road.mp3", "Jude", "Kamarlo"};
    std::size_t k = 0;
    for (auto _ : bench) {
        benchmark::DoNotOptimize(UpperCase(words[k]));
        k = (k + 1) % words.size();
    }
    bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_UpperCaseWord)->ArgName("nonascii")->Arg(0)->Arg(1);

void BM_WordSimilarity(benchmark::State& bench)
{
    const auto a = SplitWords("04 - The Long and Winding Road - Live at the Cavern Club.mp3");
    const auto b = SplitWords("04 - long winding road - live at cavern club.mp3");
    for (auto _ : bench)
        benchmark::DoNotOptimize(WordSimilarity(a, b));
}
BENCHMARK(BM_WordSimilarity);

void BM_SimilarFilenamePass(benchmark::State& bench)
{
    runPass(bench, SimilarFilenamePass);
}
BENCHMARK(BM_SimilarFilenamePass)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_SimilarTagPass(benchmark::State& bench)
{
    runPass(bench, SimilarTagPass);
}
BENCHMARK(BM_SimilarTagPass)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_ExactFilenamePass(benchmark::State& bench)
{
    runPass(bench, ExactFilenamePass);
}
BENCHMARK(BM_ExactFilenamePass)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_ExactFilesizePass(benchmark::State& bench)
{
    runPass(bench, ExactFilesizePass);
}
BENCHMARK(BM_ExactFilesizePass)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// The hostile case of the size grouping: every size distinct and a multiple of 1 MiB, so that
// the sizes share their low 20 bits; beside it as many distinct sizes at random. The two should
// take about as long.
void BM_ExactFilesizePassMiBMultiples(benchmark::State& bench)
{
    runPass(bench, ExactFilesizePass,
            [](std::size_t entry, Rng&) { return static_cast<std::int64_t>(entry + 1) << 20; });
}
BENCHMARK(BM_ExactFilesizePassMiBMultiples)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_ExactFilesizePassRandomDistinct(benchmark::State& bench)
{
    runPass(bench, ExactFilesizePass, [](std::size_t entry, Rng& rng) {
        // Distinct: the entry in the low bits, random bits above them.
        return static_cast<std::int64_t>(rng.below(1 << 20) << 17 | entry);
    });
}
BENCHMARK(BM_ExactFilesizePassRandomDistinct)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_ExactTagPass(benchmark::State& bench)
{
    runPass(bench, ExactTagPass);
}
BENCHMARK(BM_ExactTagPass)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tunesift
