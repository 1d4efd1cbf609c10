#pragma once

#include "search/spool.h"

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

// The prints a run compares, each under the id of its file, and the keys the matcher looks them
// up by, chosen as each print comes in. Both stay in memory up to a budget; beyond it they go to
// temporary files, so that a million prints (3.9 GB, and 0.9 GB of keys) do not all stay in
// memory. Adding is safe from several threads; reading is for after the adds, from any thread.
class PrintStore
{
public:
    static constexpr std::size_t kDefaultMemory = std::size_t{64} << 20;
    // About one value in keyShare (a power of two, or made one) becomes a key.
    static constexpr std::uint32_t kDefaultKeyShare = 8;
    // The keys fall into this many ranges by the hash of their value, matched one at a time.
    static constexpr std::size_t kKeyRanges = 256;

    // ids: every id added later is below this.
    explicit PrintStore(std::size_t ids, std::size_t memoryBudget = kDefaultMemory,
                        std::uint32_t keyShare = kDefaultKeyShare);
    ~PrintStore();
    PrintStore(const PrintStore&) = delete;
    PrintStore& operator=(const PrintStore&) = delete;

    // Keeps the print of file id (once per id) and its keys. False when it could not be kept
    // (no memory left and no temporary file to be had): the file then takes no part.
    bool add(std::uint32_t id, std::span<const std::uint32_t> print);

    std::size_t ids() const { return m_where.size(); }
    bool has(std::uint32_t id) const { return m_where[id] != kNowhere; }
    std::size_t printCount() const { return m_count; }
    std::uint64_t valueCount() const { return m_values; }
    std::uint32_t keyShare() const { return m_keyShare; }

    // The print of id into out; false when it cannot be read back.
    bool read(std::uint32_t id, std::vector<std::uint32_t>& out) const;
    // The keys of every print, by range of their hashed value.
    const BucketSpool& keys() const { return m_keys; }

private:
    static constexpr std::uint64_t kNowhere = ~std::uint64_t{0};
    static constexpr std::uint64_t kInMemory = std::uint64_t{1} << 63;
    void spill();

    std::uint32_t m_keyShare;
    std::size_t m_memoryBudgetBytes;
    // Per id: kNowhere; kInMemory and the record's word in m_memory; or its byte in m_file.
    // Records are [id, length, values...].
    std::vector<std::uint64_t> m_where;
    std::vector<std::uint32_t> m_memory;
    TempFile m_file;
    bool m_noFile = false;
    BucketSpool m_keys{kKeyRanges};
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

    // The index: keys shared by more files are dropped, and a pair needs minVotes keys at one
    // offset (within one value) to be verified.
    std::size_t maxFilesPerKey = 64;
    std::size_t minVotes = 2;
    // The votes held in memory at once; more go to a temporary file.
    std::size_t voteMemory = std::size_t{64} << 20;
    // Threads that share the work; 0 for one a core (at most four).
    std::size_t threads = 0;
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
    std::size_t passes = 0;    // key ranges worked through
    std::uint64_t entries = 0; // keys over all of them
    std::uint64_t droppedKeys = 0;
    std::uint64_t votes = 0;
    std::uint64_t candidates = 0; // pairs verified
    std::size_t threads = 0;
    std::size_t peakIndexBytes = 0; // the largest key range, with the room to sort it
};

// Every pair (a, b), a < b, of stored prints taken for one recording, in ascending order. The
// prints are found through an index of their keys, never by comparing every pair. Nothing when
// stop() asked for the end (stop is only called on the calling thread); std::runtime_error when
// a print cannot be read back from a temporary file, or for more than 2^25 ids.
std::optional<std::vector<std::pair<std::uint32_t, std::uint32_t>>>
FindSimilarPrints(const PrintStore& prints, const AudioMatchRules& rules,
                  const std::function<bool()>& stop, AudioMatchStats* stats = nullptr);

} // namespace tunesift
