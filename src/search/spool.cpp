#include "search/spool.h"

#include <algorithm>
#include <utility>

namespace tunesift {

namespace {

bool seekTo(std::FILE* file, std::uint64_t at)
{
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(at), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(at), SEEK_SET) == 0;
#endif
}

} // namespace

std::optional<std::uint64_t> TempFile::append(const void* data, std::size_t bytes)
{
    const std::lock_guard<std::mutex> lock(m_lock);
    if (m_failed)
        return std::nullopt;
    if (!m_file) {
        m_file.reset(std::tmpfile());
        if (!m_file) {
            m_failed = true;
            return std::nullopt;
        }
    }
    if (!seekTo(m_file.get(), m_size) || std::fwrite(data, 1, bytes, m_file.get()) != bytes) {
        m_failed = true;
        return std::nullopt;
    }
    const std::uint64_t at = m_size;
    m_size += bytes;
    return at;
}

bool TempFile::read(std::uint64_t at, void* data, std::size_t bytes) const
{
    const std::lock_guard<std::mutex> lock(m_lock);
    if (at + bytes > m_size)
        return false;
    return bytes == 0 ||
           (seekTo(m_file.get(), at) && std::fread(data, 1, bytes, m_file.get()) == bytes);
}

bool BucketSpool::spill()
{
    for (Bucket& bucket : m_buckets) {
        if (bucket.memory.empty())
            continue;
        const std::optional<std::uint64_t> at =
            m_file.append(bucket.memory.data(), bucket.memory.size() * sizeof(std::uint64_t));
        if (!at)
            return false;
        bucket.spilled.emplace_back(*at, bucket.memory.size());
        bucket.spilledWords += bucket.memory.size();
        m_inMemory -= bucket.memory.size();
        bucket.memory.clear();
    }
    return true;
}

std::uint64_t BucketSpool::size(std::size_t bucket) const
{
    return m_buckets[bucket].spilledWords + m_buckets[bucket].memory.size();
}

std::uint64_t BucketSpool::total() const
{
    std::uint64_t sum = 0;
    for (std::size_t k = 0; k < m_buckets.size(); ++k)
        sum += size(k);
    return sum;
}

bool BucketSpool::read(std::size_t bucket, std::vector<std::uint64_t>& out) const
{
    const Bucket& from = m_buckets[bucket];
    const std::size_t had = out.size();
    out.resize(had + static_cast<std::size_t>(size(bucket)));
    std::uint64_t* to = out.data() + had;
    for (const auto& [at, words] : from.spilled) {
        if (!m_file.read(at, to, static_cast<std::size_t>(words) * sizeof(std::uint64_t)))
            return false;
        to += words;
    }
    std::copy(from.memory.begin(), from.memory.end(), to);
    return true;
}

void RadixSort(std::vector<std::uint64_t>& words, std::vector<std::uint64_t>& scratch, unsigned low,
               unsigned high)
{
    const std::size_t n = words.size();
    if (n < 2 || high <= low)
        return;
    const std::uint64_t mask =
        high - low >= 64 ? ~std::uint64_t{0} : ((std::uint64_t{1} << (high - low)) - 1) << low;
    if (n < 512) {
        std::stable_sort(words.begin(), words.end(), [mask](std::uint64_t x, std::uint64_t y) {
            return (x & mask) < (y & mask);
        });
        return;
    }
    // Rounds of digits of at most 12 bits, as even as they come.
    constexpr unsigned kMaxDigitBits = 12;
    const unsigned rounds = (high - low + kMaxDigitBits - 1) / kMaxDigitBits;
    const unsigned digitBits = (high - low + rounds - 1) / rounds;
    const std::size_t digits = std::size_t{1} << digitBits;
    const auto digitOf = [&](std::uint64_t word, unsigned round) {
        const unsigned shift = low + round * digitBits;
        const unsigned bits = std::min(digitBits, high - shift);
        return static_cast<std::size_t>((word >> shift) & ((std::uint64_t{1} << bits) - 1));
    };
    // Every round's counts in one reading of the words.
    std::vector<std::size_t> counts(rounds * digits, 0);
    for (const std::uint64_t word : words)
        for (unsigned r = 0; r < rounds; ++r)
            ++counts[r * digits + digitOf(word, r)];
    scratch.resize(n);
    for (unsigned r = 0; r < rounds; ++r) {
        std::size_t* c = counts.data() + r * digits;
        // A digit that all words share orders nothing.
        if (std::find(c, c + digits, n) != c + digits)
            continue;
        std::size_t sum = 0;
        for (std::size_t d = 0; d < digits; ++d)
            sum += std::exchange(c[d], sum);
        for (const std::uint64_t word : words)
            scratch[c[digitOf(word, r)]++] = word;
        words.swap(scratch);
    }
}

} // namespace tunesift
