#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace tunesift {

// The print value of digital silence: it tells nothing about a recording.
inline constexpr std::uint32_t kSilencePrintValue = 627964279;
// Values per second of audio (11,025 Hz / 1,365 samples).
inline constexpr double kPrintValuesPerSecond = 11025.0 / 1365.0;
// A print with fewer distinct values than this (silence's left out) holds too little sound to be
// told from others: silent files, and files of a few held tones, would all look alike.
inline constexpr std::size_t kMinSoundValues = 80;

bool HasEnoughSound(std::span<const std::uint32_t> print);

// The prints a run compares, each under the id of its file. They stay in memory up to a budget;
// beyond it they go to a temporary file, so that a million prints (3.8 GB) do not all stay in
// memory. Adding is safe from several threads; reading is for one thread.
class PrintStore
{
public:
    static constexpr std::size_t kDefaultMemory = std::size_t{64} << 20;

    // ids: every id added later is below this.
    explicit PrintStore(std::size_t ids, std::size_t memoryBudget = kDefaultMemory);
    ~PrintStore();
    PrintStore(const PrintStore&) = delete;
    PrintStore& operator=(const PrintStore&) = delete;

    // Keeps the print of file id (once per id). False when it could not be kept (no memory left
    // and no temporary file to be had): the file then takes no part.
    bool add(std::uint32_t id, std::span<const std::uint32_t> print);

    std::size_t ids() const { return m_where.size(); }
    bool has(std::uint32_t id) const { return m_where[id] != kNowhere; }
    std::size_t printCount() const { return m_count; }
    std::uint64_t valueCount() const { return m_values; }

    // The print of id into out; false when it cannot be read back.
    bool read(std::uint32_t id, std::vector<std::uint32_t>& out) const;
    // Every print, in the order they were added: visit(id, values). False when one could not be
    // read back.
    bool
    forEach(const std::function<void(std::uint32_t, std::span<const std::uint32_t>)>& visit) const;

private:
    static constexpr std::uint64_t kNowhere = ~std::uint64_t{0};
    bool spill();

    // Records of [id, length, values...], first the spilled ones in the file, then those in
    // memory. m_where gives each id's record position in that sequence (in words).
    std::vector<std::uint64_t> m_where;
    std::vector<std::uint32_t> m_memory;
    std::uint64_t m_spilledWords = 0;
    std::size_t m_memoryBudgetWords;
    struct FileCloser
    {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> m_file;
    bool m_noFile = false;
    std::size_t m_count = 0;
    std::uint64_t m_values = 0;
    std::mutex m_lock;
};

// When two prints are taken for one recording.
struct AudioMatchRules
{
    // The share of differing bits over the aligned overlap (silence against silence left out).
    double maxErrorRate = 0.12;
    // The overlap as a share of the shorter print, and its least length in values.
    double minOverlapShare = 0.6;
    std::size_t minOverlapValues = kMinSoundValues;
    // The most sounding values the later starting print may hold before the overlap begins: a
    // copy starts where the recording starts (give or take some silence or a short count-in),
    // while a file that plays something else first is another track.
    std::size_t maxLeadInValues = 64;

    // The index: one value in keyShare becomes a key, values shared by more files are dropped,
    // and a pair needs minVotes keys at one offset (within one value) to be verified.
    std::uint32_t keyShare = 8;
    std::size_t maxFilesPerKey = 64;
    std::size_t minVotes = 2;
    // The index entries held at once; more are worked through in passes over ranges of keys.
    std::size_t indexMemory = std::size_t{256} << 20;
};

// How two prints line up: b's value at i + offset stands against a's value at i.
struct PrintAlignment
{
    int offset = 0;
    double errorRate = 1.0;
    std::size_t overlap = 0;      // aligned positions
    std::size_t soundOverlap = 0; // of which not silence against silence
    std::size_t leadIn = 0;       // sounding values of the later print before the overlap
};

PrintAlignment AlignPrints(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b,
                           int offset);
// The best alignment within two values of offset.
PrintAlignment BestAlignmentNear(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b,
                                 int offset);
bool IsSameRecording(const PrintAlignment& alignment, std::size_t lengthA, std::size_t lengthB,
                     const AudioMatchRules& rules);

struct AudioMatchStats
{
    std::size_t passes = 0;
    std::uint64_t entries = 0; // index entries over all passes
    std::uint64_t droppedKeys = 0;
    std::uint64_t votes = 0;
    std::uint64_t candidates = 0; // pairs verified
    std::size_t peakIndexBytes = 0;
};

// Every pair (a, b), a < b, of stored prints taken for one recording, in ascending order. The
// prints are found through an index of their keys, never by comparing every pair. Nothing when
// stop() asked for the end; std::runtime_error when a print cannot be read back from the
// temporary file. Ids must stay below 2^20.
std::optional<std::vector<std::pair<std::uint32_t, std::uint32_t>>>
FindSimilarPrints(const PrintStore& prints, const AudioMatchRules& rules,
                  const std::function<bool()>& stop, AudioMatchStats* stats = nullptr);

} // namespace tunesift
