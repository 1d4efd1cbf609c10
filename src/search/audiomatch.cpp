#include "search/audiomatch.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace tunesift {

namespace {

const char* const kUnreadable = "the prints kept in a temporary file cannot be read back";

// A key entry: the low 24 bits of the key's mixed value (its top 8 bits are its range), the id
// of the print and the key's position in it.
constexpr unsigned kPositionBits = 12;
constexpr unsigned kIdBits = 25;
constexpr unsigned kEntryValueShift = kIdBits + kPositionBits;
constexpr unsigned kRangeBits = 8;
static_assert(PrintStore::kKeyRanges == std::size_t{1} << kRangeBits);
static_assert(kEntryValueShift + 32 - kRangeBits <= 64);

constexpr std::uint32_t kMaxPosition = (1u << kPositionBits) - 1;
constexpr std::uint64_t kMaxIds = std::uint64_t{1} << kIdBits;
constexpr std::uint64_t kEntryIdAndPosition = (std::uint64_t{1} << kEntryValueShift) - 1;
// A vote: the pair's ids, then its offset (b's position less a's) made positive. The votes fall
// into ranges of a; within one, a is counted from the range's first id.
constexpr unsigned kOffsetBits = kPositionBits + 1;
constexpr int kOffsetBias = 1 << kPositionBits;
constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kOffsetBits) - 1;
constexpr std::size_t kVoteRanges = 64;
// A vote as a thread makes it: a, then b and the offset.
constexpr unsigned kVotePairShift = kIdBits + kOffsetBits;
constexpr std::uint64_t kVoteLow = (std::uint64_t{1} << kVotePairShift) - 1;
static_assert(kVotePairShift + kIdBits <= 64);
// Candidates verified as one piece of work.
constexpr std::size_t kCandidatesAtOnce = 64;

// Spreads a value's bits (one to one), so that the key share and the key ranges take values
// evenly whatever the fingerprinter favours.
std::uint32_t mixValue(std::uint32_t v)
{
    v ^= v >> 16;
    v *= 0x7feb352dU;
    v ^= v >> 15;
    v *= 0x846ca68bU;
    v ^= v >> 16;
    return v;
}

// Work shared by a few threads while the calling thread asks stop() now and then.
class Crew
{
public:
    Crew(std::size_t threads, const std::function<bool()>& stop) : m_threads(threads), m_stop(stop)
    {}

    std::size_t threads() const { return m_threads; }
    // Set once a stop was asked for or a piece of work failed: long work ends early.
    bool halted() const { return m_halt.load(std::memory_order_relaxed); }

    // Runs work(item, worker) for every item below count, worker telling the thread (below
    // threads()). False when stop() asked for the end: items may then be left undone. The first
    // exception of a piece of work is thrown again here, once every thread has ended.
    template <typename Work>
    bool run(std::size_t count, Work work)
    {
        if (askStop())
            return false;
        std::atomic<std::size_t> next{0};
        std::mutex lock;
        std::condition_variable ended;
        std::size_t running = 0;
        std::exception_ptr failure;
        const auto body = [&](std::size_t worker) {
            try {
                for (std::size_t item; !halted() && (item = next.fetch_add(1)) < count;)
                    work(item, worker);
            } catch (...) {
                const std::lock_guard<std::mutex> guard(lock);
                if (!failure)
                    failure = std::current_exception();
                m_halt.store(true);
            }
            const std::lock_guard<std::mutex> guard(lock);
            --running;
            ended.notify_one();
        };
        std::vector<std::thread> crew;
        const std::size_t threads = std::min(m_threads, count);
        try {
            for (std::size_t worker = 0; worker < threads; ++worker) {
                {
                    const std::lock_guard<std::mutex> guard(lock);
                    ++running;
                }
                try {
                    crew.emplace_back(body, worker);
                } catch (...) {
                    const std::lock_guard<std::mutex> guard(lock);
                    --running;
                    throw;
                }
            }
        } catch (...) {
            m_halt.store(true);
            for (std::thread& thread : crew)
                thread.join();
            throw;
        }
        std::unique_lock<std::mutex> guard(lock);
        while (running > 0) {
            ended.wait_for(guard, std::chrono::milliseconds(25));
            if (running > 0) {
                guard.unlock();
                askStop();
                guard.lock();
            }
        }
        guard.unlock();
        for (std::thread& thread : crew)
            thread.join();
        if (failure)
            std::rethrow_exception(failure);
        return !m_stopped;
    }

private:
    bool askStop()
    {
        if (!m_stopped && m_stop()) {
            m_stopped = true;
            m_halt.store(true);
        }
        return m_stopped;
    }

    std::size_t m_threads;
    const std::function<bool()>& m_stop;
    bool m_stopped = false;
    std::atomic<bool> m_halt{false};
};

// What one thread of the crew works in.
struct Workspace
{
    std::vector<std::uint64_t> words;
    std::vector<std::uint64_t> scratch;
    std::vector<std::uint64_t> firsts;
    std::vector<std::uint64_t> votes;
    std::vector<std::uint32_t> a;
    std::vector<std::uint32_t> b;
    std::uint32_t loaded = ~std::uint32_t{0};
    std::uint64_t entries = 0;
    std::uint64_t droppedKeys = 0;
    std::size_t passes = 0;
    std::size_t peakBytes = 0;
};

} // namespace

bool HasEnoughSound(std::span<const std::uint32_t> print)
{
    if (print.size() < kMinSoundValues)
        return false;
    std::vector<std::uint32_t> values;
    values.reserve(print.size());
    for (const std::uint32_t v : print)
        if (v != kSilencePrintValue)
            values.push_back(v);
    std::sort(values.begin(), values.end());
    return static_cast<std::size_t>(std::unique(values.begin(), values.end()) - values.begin()) >=
           kMinSoundValues;
}

PrintStore::PrintStore(std::size_t ids, std::size_t memoryBudget, std::uint32_t keyShare)
    : m_keyShare(std::bit_ceil(std::max<std::uint32_t>(1, keyShare))),
      m_memoryBudgetBytes(memoryBudget), m_where(ids, kNowhere)
{}

PrintStore::~PrintStore() = default;

void PrintStore::spill()
{
    if (!m_noFile && !m_memory.empty()) {
        const std::optional<std::uint64_t> at =
            m_file.append(m_memory.data(), m_memory.size() * sizeof(std::uint32_t));
        if (at) {
            for (std::size_t word = 0; word + 2 <= m_memory.size(); word += 2 + m_memory[word + 1])
                m_where[m_memory[word]] = *at + word * sizeof(std::uint32_t);
            m_memory.clear();
        } else {
            m_noFile = true; // memory it is
        }
    }
    if (!m_noFile && !m_keys.spill())
        m_noFile = true;
}

bool PrintStore::add(std::uint32_t id, std::span<const std::uint32_t> print)
{
    if (id >= m_where.size() || id >= kMaxIds)
        return false;
    // The keys: values whose hash falls in one of keyShare parts, silence and repeats left out,
    // so that two copies choose the same keys whatever their offset. Chosen before the lock.
    const std::size_t length = std::min<std::size_t>(print.size(), kMaxPosition + 1);
    const std::uint32_t shareMask = m_keyShare - 1;
    thread_local std::vector<std::uint64_t> keys;
    keys.resize(length);
    std::size_t chosen = 0;
    std::uint32_t previous = kSilencePrintValue;
    for (std::size_t pos = 0; pos < length; ++pos) {
        const std::uint32_t value = print[pos];
        const std::uint32_t mixed = mixValue(value);
        // Written always, kept when chosen: the choice is taken at random, and a branch on it
        // would be mispredicted often.
        keys[chosen] = (std::uint64_t{mixed} << 32) | pos;
        chosen += static_cast<std::size_t>((mixed & shareMask) == 0 && value != previous &&
                                           value != kSilencePrintValue);
        previous = value;
    }
    keys.resize(chosen);

    const std::lock_guard<std::mutex> lock(m_lock);
    if (m_where[id] != kNowhere)
        return false;
    try {
        m_where[id] = kInMemory | m_memory.size();
        m_memory.push_back(id);
        m_memory.push_back(static_cast<std::uint32_t>(print.size()));
        m_memory.insert(m_memory.end(), print.begin(), print.end());
    } catch (const std::bad_alloc&) {
        m_memory.resize(m_where[id] & ~kInMemory);
        m_where[id] = kNowhere;
        return false;
    }
    ++m_count;
    m_values += print.size();
    try {
        // The value's top bits tell its range; the entry keeps the rest.
        constexpr std::uint64_t kRest = (std::uint64_t{1} << (32 - kRangeBits)) - 1;
        for (const std::uint64_t key : keys)
            m_keys.add(static_cast<std::size_t>(key >> (64 - kRangeBits)),
                       (((key >> 32) & kRest) << kEntryValueShift) |
                           (std::uint64_t{id} << kPositionBits) | (key & kMaxPosition));
    } catch (const std::bad_alloc&) {
        // The print takes part through the keys kept so far.
    }
    if (m_memory.size() * sizeof(std::uint32_t) + m_keys.inMemory() * sizeof(std::uint64_t) >
        m_memoryBudgetBytes)
        spill();
    return true;
}

bool PrintStore::read(std::uint32_t id, std::vector<std::uint32_t>& out) const
{
    const std::uint64_t at = m_where[id];
    if (at == kNowhere)
        return false;
    if (at & kInMemory) {
        const std::uint32_t* record = m_memory.data() + (at & ~kInMemory);
        out.assign(record + 2, record + 2 + record[1]);
        return true;
    }
    std::uint32_t header[2] = {};
    if (!m_file.read(at, header, sizeof header) || header[0] != id)
        return false;
    out.resize(header[1]);
    return m_file.read(at + sizeof header, out.data(), out.size() * sizeof(std::uint32_t));
}

PrintAlignment AlignPrints(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b,
                           int offset)
{
    PrintAlignment result;
    result.offset = offset;
    const auto la = static_cast<std::ptrdiff_t>(a.size());
    const auto lb = static_cast<std::ptrdiff_t>(b.size());
    const std::ptrdiff_t first = std::max<std::ptrdiff_t>(0, -offset);
    const std::ptrdiff_t last = std::min<std::ptrdiff_t>(la, lb - offset);
    if (last <= first)
        return result;
    const std::uint32_t* x = a.data() + first;
    const std::uint32_t* y = b.data() + first + offset;
    const auto n = static_cast<std::size_t>(last - first);
    // Silence against silence differs in no bit; it is only left out of the count.
    std::uint64_t errors = 0;
    std::size_t bothSilent = 0;
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        std::uint64_t u = 0;
        std::uint64_t v = 0;
        std::memcpy(&u, x + i, sizeof u);
        std::memcpy(&v, y + i, sizeof v);
        errors += static_cast<std::uint64_t>(std::popcount(u ^ v));
        bothSilent +=
            static_cast<std::size_t>(x[i] == kSilencePrintValue && y[i] == x[i]) +
            static_cast<std::size_t>(x[i + 1] == kSilencePrintValue && y[i + 1] == x[i + 1]);
    }
    for (; i < n; ++i) {
        errors += static_cast<std::uint64_t>(std::popcount(x[i] ^ y[i]));
        bothSilent += static_cast<std::size_t>(x[i] == kSilencePrintValue && y[i] == x[i]);
    }
    const std::size_t sound = n - bothSilent;
    result.overlap = n;
    result.soundOverlap = sound;
    result.errorRate = sound == 0 ? 1.0 : static_cast<double>(errors) / (32.0 * sound);
    // Before the overlap, the print that starts later holds offset values of its own.
    const std::span<const std::uint32_t> later = offset >= 0 ? b : a;
    const auto leading = static_cast<std::size_t>(offset >= 0 ? offset : -offset);
    result.leadIn = static_cast<std::size_t>(
        std::count_if(later.begin(), later.begin() + std::min(leading, later.size()),
                      [](std::uint32_t v) { return v != kSilencePrintValue; }));
    return result;
}

PrintAlignment BestAlignmentNear(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b,
                                 int offset)
{
    PrintAlignment best = AlignPrints(a, b, offset);
    for (const int step : {-1, 1, -2, 2}) {
        const PrintAlignment other = AlignPrints(a, b, offset + step);
        if (other.soundOverlap > 0 && other.errorRate < best.errorRate)
            best = other;
    }
    return best;
}

bool IsSameRecording(const PrintAlignment& alignment, std::size_t lengthA, std::size_t lengthB,
                     const AudioMatchRules& rules)
{
    const std::size_t shorter = std::min(lengthA, lengthB);
    return shorter > 0 && alignment.errorRate <= rules.maxErrorRate &&
           alignment.soundOverlap >= rules.minOverlapValues &&
           static_cast<double>(alignment.overlap) >=
               rules.minOverlapShare * static_cast<double>(shorter) &&
           alignment.leadIn <= rules.maxLeadInValues;
}

std::optional<std::vector<std::pair<std::uint32_t, std::uint32_t>>>
FindSimilarPrints(const PrintStore& prints, const AudioMatchRules& rules,
                  const std::function<bool()>& stop, AudioMatchStats* stats)
{
    AudioMatchStats local;
    AudioMatchStats& counts = stats ? *stats : local;
    counts = AudioMatchStats{};
    if (prints.ids() > kMaxIds)
        throw std::runtime_error("too many files to compare their prints");
    const std::size_t threads =
        rules.threads > 0 ? rules.threads
                          : std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    Crew crew(threads, stop);
    std::vector<Workspace> spaces(threads);
    counts.threads = threads;

    // Votes are kept by ranges of the first id of their pair; within one the id counts from the
    // range's start, so that a vote fits a word.
    const std::size_t ids = std::max<std::size_t>(1, prints.ids());
    const auto idBits = static_cast<unsigned>(std::bit_width(ids - 1));
    const std::size_t voteSpan = (ids + kVoteRanges - 1) / kVoteRanges;
    const auto spanBits = static_cast<unsigned>(std::bit_width(voteSpan - 1));
    const unsigned pairShift = idBits + kOffsetBits;
    BucketSpool votes(kVoteRanges);
    std::mutex votesLock;
    bool voteFile = true;

    // Every range of keys in turn: its entries sorted by value, and for each value shared by a
    // few files, the first position of the value in each file; every two of them vote for
    // their offset.
    const BucketSpool& keys = prints.keys();
    const auto keyRange = [&](std::size_t range, std::size_t worker) {
        Workspace& w = spaces[worker];
        std::vector<std::uint64_t>& entries = w.words;
        entries.clear();
        if (!keys.read(range, entries))
            throw std::runtime_error(kUnreadable);
        if (entries.empty())
            return;
        ++w.passes;
        w.entries += entries.size();
        RadixSort(entries, w.scratch, kEntryValueShift, kEntryValueShift + 32 - kRangeBits);
        w.peakBytes = std::max(w.peakBytes,
                               (entries.capacity() + w.scratch.capacity()) * sizeof(std::uint64_t));
        w.votes.clear();
        for (std::size_t begin = 0, end = 0; begin < entries.size(); begin = end) {
            const std::uint64_t value = entries[begin] >> kEntryValueShift;
            end = begin + 1;
            while (end < entries.size() && (entries[end] >> kEntryValueShift) == value)
                ++end;
            if (end - begin < 2)
                continue;
            if (crew.halted())
                return;
            w.firsts.clear();
            for (std::size_t k = begin; k < end; ++k)
                w.firsts.push_back(entries[k] & kEntryIdAndPosition);
            std::sort(w.firsts.begin(), w.firsts.end());
            w.firsts.erase(std::unique(w.firsts.begin(), w.firsts.end(),
                                       [](std::uint64_t x, std::uint64_t y) {
                                           return (x >> kPositionBits) == (y >> kPositionBits);
                                       }),
                           w.firsts.end());
            if (w.firsts.size() < 2)
                continue;
            if (w.firsts.size() > rules.maxFilesPerKey) {
                ++w.droppedKeys;
                continue;
            }
            for (std::size_t x = 0; x < w.firsts.size(); ++x)
                for (std::size_t y = x + 1; y < w.firsts.size(); ++y) {
                    const std::uint64_t a = w.firsts[x] >> kPositionBits;
                    const std::uint64_t b = w.firsts[y] >> kPositionBits;
                    const int offset = static_cast<int>(w.firsts[y] & kMaxPosition) -
                                       static_cast<int>(w.firsts[x] & kMaxPosition);
                    w.votes.push_back((a << kVotePairShift) | (b << kOffsetBits) |
                                      static_cast<std::uint64_t>(offset + kOffsetBias));
                }
        }
        const std::lock_guard<std::mutex> lock(votesLock);
        for (const std::uint64_t vote : w.votes) {
            const std::uint64_t a = vote >> kVotePairShift;
            const std::size_t at = static_cast<std::size_t>(a / voteSpan);
            votes.add(at, ((a - at * voteSpan) << pairShift) | (vote & kVoteLow));
        }
        if (voteFile && votes.inMemory() * sizeof(std::uint64_t) > rules.voteMemory)
            voteFile = votes.spill(); // or, without a file, memory it is
    };
    if (!crew.run(keys.buckets(), keyRange))
        return std::nullopt;
    counts.votes = votes.total();

    // A pair with enough votes at one offset (give or take one value) is verified there.
    struct Candidate
    {
        std::uint32_t a;
        std::uint32_t b;
        int offset;
    };
    std::vector<Candidate> candidates;
    std::mutex candidatesLock;
    const std::uint64_t idMask = (std::uint64_t{1} << idBits) - 1;
    const auto voteRange = [&](std::size_t range, std::size_t worker) {
        Workspace& w = spaces[worker];
        std::vector<std::uint64_t>& list = w.words;
        list.clear();
        if (!votes.read(range, list))
            throw std::runtime_error(kUnreadable);
        RadixSort(list, w.scratch, 0, pairShift + spanBits);
        std::vector<Candidate> found;
        for (std::size_t begin = 0, end = 0; begin < list.size(); begin = end) {
            const std::uint64_t pair = list[begin] >> kOffsetBits;
            end = begin + 1;
            while (end < list.size() && (list[end] >> kOffsetBits) == pair)
                ++end;
            if (end - begin < rules.minVotes)
                continue;
            std::size_t best = 0;
            int bestOffset = 0;
            for (std::size_t k = begin, low = begin, high = begin; k < end; ++k) {
                const auto at = static_cast<int>(list[k] & kOffsetMask);
                while (static_cast<int>(list[low] & kOffsetMask) < at - 1)
                    ++low;
                while (high < end && static_cast<int>(list[high] & kOffsetMask) <= at + 1)
                    ++high;
                if (high - low > best) {
                    best = high - low;
                    bestOffset = at - kOffsetBias;
                }
            }
            if (best >= rules.minVotes)
                found.push_back({static_cast<std::uint32_t>(range * voteSpan + (pair >> idBits)),
                                 static_cast<std::uint32_t>(pair & idMask), bestOffset});
        }
        const std::lock_guard<std::mutex> lock(candidatesLock);
        candidates.insert(candidates.end(), found.begin(), found.end());
    };
    if (!crew.run(kVoteRanges, voteRange))
        return std::nullopt;
    for (Workspace& w : spaces) {
        counts.passes += w.passes;
        counts.entries += w.entries;
        counts.droppedKeys += w.droppedKeys;
        counts.peakIndexBytes = std::max(counts.peakIndexBytes, w.peakBytes);
        std::vector<std::uint64_t>().swap(w.words);
        std::vector<std::uint64_t>().swap(w.scratch);
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& x, const Candidate& y) {
        return std::tie(x.a, x.b) < std::tie(y.a, y.b);
    });
    counts.candidates = candidates.size();

    std::vector<std::uint8_t> same(candidates.size(), 0);
    const auto verify = [&](std::size_t piece, std::size_t worker) {
        Workspace& w = spaces[worker];
        const std::size_t last = std::min(candidates.size(), (piece + 1) * kCandidatesAtOnce);
        for (std::size_t k = piece * kCandidatesAtOnce; k < last; ++k) {
            const Candidate& c = candidates[k];
            if (c.a != w.loaded) {
                w.loaded = ~std::uint32_t{0};
                if (!prints.read(c.a, w.a))
                    throw std::runtime_error(kUnreadable);
                w.loaded = c.a;
            }
            if (!prints.read(c.b, w.b))
                throw std::runtime_error(kUnreadable);
            const PrintAlignment alignment = BestAlignmentNear(w.a, w.b, c.offset);
            same[k] = IsSameRecording(alignment, w.a.size(), w.b.size(), rules) ? 1 : 0;
        }
    };
    if (!crew.run((candidates.size() + kCandidatesAtOnce - 1) / kCandidatesAtOnce, verify))
        return std::nullopt;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    for (std::size_t k = 0; k < candidates.size(); ++k)
        if (same[k])
            pairs.emplace_back(candidates[k].a, candidates[k].b);
    return pairs;
}

} // namespace tunesift
