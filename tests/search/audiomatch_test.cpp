#include "search/audiomatch.h"
#include "search/spool.h"

#include <algorithm>
#include <bit>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace tunesift {
namespace {

using Print = std::vector<std::uint32_t>;
using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// Neighbouring values share most bits, as a fingerprinter's do.
Print randomPrint(std::mt19937& rng, std::size_t length)
{
    Print print(length);
    std::uint32_t v = rng();
    for (std::uint32_t& value : print) {
        v ^= (1u << (rng() % 32)) | (1u << (rng() % 32)) | (1u << (rng() % 32));
        value = v;
    }
    return print;
}

Print withErrors(std::mt19937& rng, Print print, double errorRate)
{
    std::bernoulli_distribution flip(errorRate);
    for (std::uint32_t& value : print)
        for (int bit = 0; bit < 32; ++bit)
            if (flip(rng))
                value ^= 1u << bit;
    return print;
}

Print concat(Print a, const Print& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Pairs match(const std::vector<Print>& prints, const AudioMatchRules& rules = {},
            std::size_t memory = PrintStore::kDefaultMemory)
{
    PrintStore store(prints.size(), memory);
    for (std::uint32_t id = 0; id < prints.size(); ++id)
        if (HasEnoughSound(prints[id])) {
            EXPECT_TRUE(store.add(id, prints[id]));
        }
    auto pairs = FindSimilarPrints(store, rules, [] { return false; });
    EXPECT_TRUE(pairs.has_value());
    return pairs.value_or(Pairs{});
}

TEST(AudioMatch, TooLittleSound)
{
    std::mt19937 rng(1);
    EXPECT_FALSE(HasEnoughSound(Print(900, kSilencePrintValue)));
    Print few = randomPrint(rng, kMinSoundValues - 1);
    // Repeats and silence add no distinct sound.
    Print padded = concat(concat(few, few), Print(500, kSilencePrintValue));
    EXPECT_FALSE(HasEnoughSound(padded));
    padded.push_back(~few.back());
    EXPECT_TRUE(HasEnoughSound(padded));
}

TEST(AudioMatch, AlignmentLeavesSilenceOutAndCountsTheLeadIn)
{
    std::mt19937 rng(2);
    const Print song = randomPrint(rng, 400);
    // The copy has 30 values of silence, then 5 of noise, then the song.
    const Print copy = concat(concat(Print(30, kSilencePrintValue), randomPrint(rng, 5)), song);
    const PrintAlignment at = AlignPrints(song, copy, 35);
    EXPECT_EQ(at.overlap, 400u);
    EXPECT_EQ(at.soundOverlap, 400u);
    EXPECT_EQ(at.errorRate, 0.0);
    EXPECT_EQ(at.leadIn, 5u);
    EXPECT_EQ(BestAlignmentNear(song, copy, 33).offset, 35);
    EXPECT_EQ(AlignPrints(copy, song, -35).leadIn, 5u);

    // Silence against silence is no agreement: two songs that end in long silence.
    const Print other = randomPrint(rng, 100);
    const Print a = concat(song, Print(600, kSilencePrintValue));
    const Print b = concat(other, Print(900, kSilencePrintValue));
    const PrintAlignment silent = AlignPrints(a, b, 0);
    EXPECT_EQ(silent.soundOverlap, 400u);
    EXPECT_GT(silent.errorRate, 0.3);
}

// The index finds what an exhaustive check of every pair at every offset finds, through key
// ranges in several passes and prints kept in a temporary file as well as in one pass in memory.
TEST(AudioMatch, IndexFindsWhatEveryPairFinds)
{
    std::mt19937 rng(3);
    std::vector<Print> prints;
    std::set<std::pair<std::uint32_t, std::uint32_t>> planted;
    for (std::uint32_t id = 0; id < 150; ++id) {
        if (id % 10 == 9) {
            const std::uint32_t source = id - 1 - rng() % 8;
            const int offset = static_cast<int>(rng() % 41) - 16;
            Print copy =
                offset > 0 ? Print(static_cast<std::size_t>(offset), kSilencePrintValue) : Print();
            const Print& from = prints[source];
            copy.insert(copy.end(), from.begin() + std::max(0, -offset), from.end());
            if (id % 30 == 29)
                copy.resize(copy.size() * 2 / 3); // cut short: still the same recording
            prints.push_back(withErrors(rng, copy, 0.01 * (id % 7)));
            planted.emplace(source, id);
        } else {
            prints.push_back(randomPrint(rng, 200 + rng() % 400));
        }
    }
    const AudioMatchRules rules;
    Pairs exhaustive;
    for (std::uint32_t a = 0; a < prints.size(); ++a)
        for (std::uint32_t b = a + 1; b < prints.size(); ++b)
            for (int offset = -16; offset <= 24; ++offset)
                if (IsSameRecording(AlignPrints(prints[a], prints[b], offset), prints[a].size(),
                                    prints[b].size(), rules)) {
                    exhaustive.emplace_back(a, b);
                    break;
                }
    EXPECT_EQ(exhaustive, Pairs(planted.begin(), planted.end()));
    EXPECT_EQ(match(prints), exhaustive);

    // Prints, keys and votes spilled to temporary files, on one thread and on several.
    PrintStore store(prints.size(), 20000);
    for (std::uint32_t id = 0; id < prints.size(); ++id)
        store.add(id, prints[id]);
    for (const std::size_t threads : {1, 3}) {
        AudioMatchRules small = rules;
        small.voteMemory = 64;
        small.threads = threads;
        AudioMatchStats stats;
        EXPECT_EQ(FindSimilarPrints(
                      store, small, [] { return false; }, &stats),
                  exhaustive);
        EXPECT_EQ(stats.threads, threads);
    }
}

TEST(AudioMatch, RadixSortOrdersByTheChosenBits)
{
    std::mt19937_64 rng(7);
    struct Case
    {
        std::size_t count;
        unsigned low, high;
        std::uint64_t fixed; // bits every word shares
    };
    for (const Case& c : {Case{100, 0, 64, 0}, Case{5000, 0, 64, 0}, Case{5000, 37, 61, 0},
                          Case{5000, 0, 47, 0xffff800000000000}, Case{3000, 13, 30, 0x3ff8000}}) {
        std::vector<std::uint64_t> words(c.count);
        for (std::uint64_t& word : words)
            word = (rng() % 64 == 0 ? words.front() : rng()) | c.fixed; // some ties
        std::vector<std::uint64_t> expected = words;
        const std::uint64_t mask = c.high - c.low == 64
                                       ? ~std::uint64_t{0}
                                       : ((std::uint64_t{1} << (c.high - c.low)) - 1) << c.low;
        std::stable_sort(expected.begin(), expected.end(),
                         [&](std::uint64_t x, std::uint64_t y) { return (x & mask) < (y & mask); });
        std::vector<std::uint64_t> scratch;
        RadixSort(words, scratch, c.low, c.high);
        EXPECT_EQ(words, expected) << c.count << " words by bits " << c.low << ".." << c.high;
    }
}

TEST(AudioMatch, TrapsStayApart)
{
    std::mt19937 rng(4);
    const Print a = randomPrint(rng, 900);
    const Print b = randomPrint(rng, 700);
    const Print intro(a.begin(), a.begin() + 160); // 20 s
    std::vector<Print> prints = {
        a,
        b,
        concat(intro, b),                         // a's intro, then all of b
        concat(Print(a.begin(), a.begin() + 300), // a's first 37 s, then another song
               randomPrint(rng, 600)),
        Print(a.rbegin(), a.rend()),    // a reversed
        Print(900, kSilencePrintValue), // never stored: too little sound
    };
    EXPECT_EQ(match(prints), Pairs{});

    // A short intro of a few seconds before the recording is still a copy.
    prints.push_back(concat(Print(intro.begin(), intro.begin() + 40), withErrors(rng, b, 0.03)));
    EXPECT_EQ(match(prints), (Pairs{{1, 6}}));
}

TEST(AudioMatch, ValuesSharedByVeryManyFilesAreNoKeys)
{
    // Every print holds the same run of values: too common to tell files apart, so those keys
    // go, while the copy is still found through its own keys.
    std::mt19937 rng(5);
    const Print common = randomPrint(rng, 100);
    std::vector<Print> prints;
    for (int k = 0; k < 100; ++k)
        prints.push_back(concat(randomPrint(rng, 400), common));
    prints.push_back(withErrors(rng, prints[7], 0.02));
    PrintStore store(prints.size());
    for (std::uint32_t id = 0; id < prints.size(); ++id)
        store.add(id, prints[id]);
    AudioMatchStats stats;
    EXPECT_EQ(FindSimilarPrints(
                  store, {}, [] { return false; }, &stats),
              (Pairs{{7, 100}}));
    EXPECT_GT(stats.droppedKeys, 0u);
}

TEST(AudioMatch, StopEndsTheMatching)
{
    std::mt19937 rng(6);
    PrintStore store(300);
    for (std::uint32_t id = 0; id < 300; ++id)
        store.add(id, randomPrint(rng, 900));
    int asked = 0;
    EXPECT_FALSE(FindSimilarPrints(store, {}, [&] { return ++asked > 1; }));
    EXPECT_EQ(asked, 2);
}

} // namespace
} // namespace tunesift
