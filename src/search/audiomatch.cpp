#include "search/audiomatch.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>
#include <stdexcept>

namespace tunesift {

namespace {

const char* const kUnreadable = "the prints kept in a temporary file cannot be read back";

// Ids and positions share the low half of an index entry, beneath the value.
constexpr unsigned kPositionBits = 12;
constexpr unsigned kIdBits = 20;
constexpr std::uint32_t kMaxPosition = (1u << kPositionBits) - 1;
constexpr std::uint64_t kMaxIds = std::uint64_t{1} << kIdBits;
// A vote: the pair's ids, then its offset (b's position less a's) made positive.
constexpr unsigned kOffsetBits = kPositionBits + 1;
constexpr int kOffsetBias = 1 << kPositionBits;

// Spreads a value's bits, so that the key share and the pass ranges take values evenly whatever
// the fingerprinter favours.
std::uint32_t mixValue(std::uint32_t v)
{
    v ^= v >> 16;
    v *= 0x7feb352dU;
    v ^= v >> 15;
    v *= 0x846ca68bU;
    v ^= v >> 16;
    return v;
}

std::uint64_t voteOf(std::uint32_t a, std::uint32_t b, int offset)
{
    return (std::uint64_t{a} << (kIdBits + kOffsetBits)) | (std::uint64_t{b} << kOffsetBits) |
           static_cast<std::uint64_t>(offset + kOffsetBias);
}

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

PrintStore::PrintStore(std::size_t ids, std::size_t memoryBudget)
    : m_where(ids, kNowhere), m_memoryBudgetWords(memoryBudget / sizeof(std::uint32_t))
{}

PrintStore::~PrintStore() = default;

bool PrintStore::spill()
{
    if (m_noFile)
        return false;
    if (!m_file) {
        m_file.reset(std::tmpfile());
        if (!m_file) {
            m_noFile = true;
            return false;
        }
    }
    if (std::fseek(m_file.get(), 0, SEEK_END) != 0 ||
        std::fwrite(m_memory.data(), sizeof(std::uint32_t), m_memory.size(), m_file.get()) !=
            m_memory.size()) {
        // The file is of no further use; what it holds so far can still be read.
        m_noFile = true;
        return false;
    }
    m_spilledWords += m_memory.size();
    m_memory.clear();
    return true;
}

bool PrintStore::add(std::uint32_t id, std::span<const std::uint32_t> print)
{
    const std::lock_guard<std::mutex> lock(m_lock);
    if (id >= m_where.size() || m_where[id] != kNowhere)
        return false;
    if (m_memory.size() + print.size() + 2 > m_memoryBudgetWords && !m_memory.empty())
        spill(); // when no file can be had, memory it is
    try {
        m_where[id] = m_spilledWords + m_memory.size();
        m_memory.push_back(id);
        m_memory.push_back(static_cast<std::uint32_t>(print.size()));
        m_memory.insert(m_memory.end(), print.begin(), print.end());
    } catch (const std::bad_alloc&) {
        m_memory.resize(m_where[id] - m_spilledWords);
        m_where[id] = kNowhere;
        return false;
    }
    ++m_count;
    m_values += print.size();
    return true;
}

bool PrintStore::read(std::uint32_t id, std::vector<std::uint32_t>& out) const
{
    const std::uint64_t at = m_where[id];
    if (at == kNowhere)
        return false;
    if (at >= m_spilledWords) {
        const std::uint32_t* record = m_memory.data() + (at - m_spilledWords);
        out.assign(record + 2, record + 2 + record[1]);
        return true;
    }
    std::FILE* file = m_file.get();
    std::uint32_t header[2] = {};
    if (std::fseek(file, static_cast<long>(at * sizeof(std::uint32_t)), SEEK_SET) != 0 ||
        std::fread(header, sizeof(std::uint32_t), 2, file) != 2 || header[0] != id)
        return false;
    out.resize(header[1]);
    return std::fread(out.data(), sizeof(std::uint32_t), out.size(), file) == out.size();
}

bool PrintStore::forEach(
    const std::function<void(std::uint32_t, std::span<const std::uint32_t>)>& visit) const
{
    if (m_spilledWords > 0) {
        std::FILE* file = m_file.get();
        if (std::fseek(file, 0, SEEK_SET) != 0)
            return false;
        std::vector<std::uint32_t> block;
        constexpr std::size_t kBlockWords = std::size_t{1} << 20;
        std::size_t used = 0; // words of block already visited
        std::uint64_t left = m_spilledWords;
        for (;;) {
            // Keep the unvisited tail, then fill up from the file.
            block.erase(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(used));
            used = 0;
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(kBlockWords, left));
            const std::size_t had = block.size();
            block.resize(had + want);
            if (std::fread(block.data() + had, sizeof(std::uint32_t), want, file) != want)
                return false;
            left -= want;
            while (block.size() - used >= 2 && block.size() - used >= 2 + block[used + 1]) {
                const std::uint32_t length = block[used + 1];
                visit(block[used], std::span(block).subspan(used + 2, length));
                used += 2 + length;
            }
            if (left == 0)
                break;
        }
        if (used != block.size())
            return false;
    }
    for (std::size_t at = 0; at + 2 <= m_memory.size();) {
        const std::uint32_t length = m_memory[at + 1];
        visit(m_memory[at], std::span(m_memory).subspan(at + 2, length));
        at += 2 + length;
    }
    return true;
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
    std::uint64_t errors = 0;
    std::size_t sound = 0;
    for (std::ptrdiff_t i = first; i < last; ++i) {
        const std::uint32_t x = a[static_cast<std::size_t>(i)];
        const std::uint32_t y = b[static_cast<std::size_t>(i + offset)];
        if (x == kSilencePrintValue && y == kSilencePrintValue)
            continue;
        errors += static_cast<std::uint64_t>(std::popcount(x ^ y));
        ++sound;
    }
    result.overlap = static_cast<std::size_t>(last - first);
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
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    if (prints.ids() > kMaxIds)
        return std::nullopt;
    const std::uint32_t share = std::max<std::uint32_t>(1, rules.keyShare);

    // About one value in share becomes a key; repeats and silence make it fewer.
    const std::uint64_t expected = prints.valueCount() / share + prints.printCount();
    const std::size_t perPass = std::max<std::size_t>(1, rules.indexMemory / sizeof(std::uint64_t));
    const auto passes = static_cast<std::uint32_t>(
        std::max<std::uint64_t>(1, (expected + expected / 8 + perPass - 1) / perPass));
    counts.passes = passes;

    std::vector<std::uint64_t> votes;
    std::vector<std::uint64_t> entries;
    std::size_t sinceCheck = 0;
    bool stopped = false;
    const auto checkStop = [&](std::size_t work) {
        sinceCheck += work;
        if (sinceCheck >= (std::size_t{1} << 16)) {
            sinceCheck = 0;
            stopped = stopped || stop();
        }
        return stopped;
    };

    for (std::uint32_t pass = 0; pass < passes; ++pass) {
        entries.clear();
        entries.reserve(static_cast<std::size_t>(expected / passes + expected / passes / 8));
        const bool read = prints.forEach([&](std::uint32_t id, std::span<const std::uint32_t> v) {
            if (stopped || checkStop(v.size()))
                return;
            const std::size_t length = std::min<std::size_t>(v.size(), kMaxPosition + 1);
            for (std::size_t pos = 0; pos < length; ++pos) {
                const std::uint32_t value = v[pos];
                if (value == kSilencePrintValue || (pos > 0 && v[pos - 1] == value))
                    continue;
                const std::uint32_t mixed = mixValue(value);
                if (mixed % share != 0 || (mixed / share) % passes != pass)
                    continue;
                entries.push_back((std::uint64_t{value} << 32) |
                                  (std::uint64_t{id} << kPositionBits) | pos);
            }
        });
        if (stopped)
            return std::nullopt;
        if (!read)
            throw std::runtime_error(kUnreadable);
        counts.entries += entries.size();
        counts.peakIndexBytes =
            std::max(counts.peakIndexBytes, entries.capacity() * sizeof(std::uint64_t));
        std::sort(entries.begin(), entries.end());
        if (checkStop(std::size_t{1} << 16))
            return std::nullopt;

        // Each run of one value: its first position in each file, then every two files vote.
        std::vector<std::uint64_t> firsts;
        for (std::size_t begin = 0, end = 0; begin < entries.size(); begin = end) {
            const std::uint64_t value = entries[begin] >> 32;
            end = begin + 1;
            while (end < entries.size() && (entries[end] >> 32) == value)
                ++end;
            if (checkStop(end - begin))
                return std::nullopt;
            firsts.clear();
            for (std::size_t k = begin; k < end; ++k) {
                const auto low = static_cast<std::uint32_t>(entries[k]);
                if (firsts.empty() || (firsts.back() >> kPositionBits) != (low >> kPositionBits))
                    firsts.push_back(low);
            }
            if (firsts.size() < 2)
                continue;
            if (firsts.size() > rules.maxFilesPerKey) {
                ++counts.droppedKeys;
                continue;
            }
            for (std::size_t x = 0; x < firsts.size(); ++x)
                for (std::size_t y = x + 1; y < firsts.size(); ++y) {
                    const auto a = static_cast<std::uint32_t>(firsts[x] >> kPositionBits);
                    const auto b = static_cast<std::uint32_t>(firsts[y] >> kPositionBits);
                    const int offset = static_cast<int>(firsts[y] & kMaxPosition) -
                                       static_cast<int>(firsts[x] & kMaxPosition);
                    votes.push_back(voteOf(a, b, offset));
                }
        }
    }
    std::vector<std::uint64_t>().swap(entries);
    counts.votes = votes.size();
    std::sort(votes.begin(), votes.end());

    // A pair with enough votes at one offset (give or take one value) is verified there.
    struct Candidate
    {
        std::uint32_t a;
        std::uint32_t b;
        int offset;
    };
    std::vector<Candidate> candidates;
    constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kOffsetBits) - 1;
    for (std::size_t begin = 0, end = 0; begin < votes.size(); begin = end) {
        const std::uint64_t pair = votes[begin] >> kOffsetBits;
        end = begin + 1;
        while (end < votes.size() && (votes[end] >> kOffsetBits) == pair)
            ++end;
        if (end - begin < rules.minVotes)
            continue;
        std::size_t best = 0;
        int bestOffset = 0;
        for (std::size_t k = begin, low = begin, high = begin; k < end; ++k) {
            const auto at = static_cast<int>(votes[k] & kOffsetMask);
            while (static_cast<int>(votes[low] & kOffsetMask) < at - 1)
                ++low;
            while (high < end && static_cast<int>(votes[high] & kOffsetMask) <= at + 1)
                ++high;
            if (high - low > best) {
                best = high - low;
                bestOffset = at - kOffsetBias;
            }
        }
        if (best >= rules.minVotes)
            candidates.push_back({static_cast<std::uint32_t>(pair >> kIdBits),
                                  static_cast<std::uint32_t>(pair & (kMaxIds - 1)), bestOffset});
    }
    std::vector<std::uint64_t>().swap(votes);
    counts.candidates = candidates.size();

    std::vector<std::uint32_t> a;
    std::vector<std::uint32_t> b;
    std::uint32_t loaded = ~std::uint32_t{0};
    for (const Candidate& c : candidates) {
        if (checkStop(std::size_t{1} << 10))
            return std::nullopt;
        if (c.a != loaded) {
            if (!prints.read(c.a, a))
                throw std::runtime_error(kUnreadable);
            loaded = c.a;
        }
        if (!prints.read(c.b, b))
            throw std::runtime_error(kUnreadable);
        const PrintAlignment alignment = BestAlignmentNear(a, b, c.offset);
        if (IsSameRecording(alignment, a.size(), b.size(), rules))
            pairs.emplace_back(c.a, c.b);
    }
    return pairs;
}

} // namespace tunesift
