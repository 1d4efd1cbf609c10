#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace tunesift {

// A temporary file that is written at its end and read back at any position, deleted when
// closed. Safe to use from several threads.
class TempFile
{
public:
    // Appends bytes; where they begin, or nothing when no temporary file can be had or the
    // write failed (the file then takes no further writes, and what it holds can still be read).
    std::optional<std::uint64_t> append(const void* data, std::size_t bytes);
    bool read(std::uint64_t at, void* data, std::size_t bytes) const;
    std::uint64_t size() const { return m_size; }

private:
    struct Closer
    {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    mutable std::mutex m_lock;
    std::unique_ptr<std::FILE, Closer> m_file;
    std::uint64_t m_size = 0;
    bool m_failed = false;
};

// 64-bit words sorted into buckets, held in memory until spill() moves them to a temporary file.
// A bucket is read back whole, its words in no particular order. Not safe to fill from several
// threads; reading from several threads is.
class BucketSpool
{
public:
    explicit BucketSpool(std::size_t buckets) : m_buckets(buckets) {}

    std::size_t buckets() const { return m_buckets.size(); }
    void add(std::size_t bucket, std::uint64_t word)
    {
        m_buckets[bucket].memory.push_back(word);
        ++m_inMemory;
    }
    // Words held in memory, not yet spilled.
    std::size_t inMemory() const { return m_inMemory; }
    // Moves the words held in memory to the file; false when there is no file to be had (they
    // then stay in memory).
    bool spill();
    std::uint64_t size(std::size_t bucket) const;
    std::uint64_t total() const;
    // Appends the words of the bucket to out; false when they could not be read back.
    bool read(std::size_t bucket, std::vector<std::uint64_t>& out) const;

private:
    struct Bucket
    {
        std::vector<std::uint64_t> memory;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> spilled; // (byte position, words)
        std::uint64_t spilledWords = 0;
    };
    std::vector<Bucket> m_buckets;
    std::size_t m_inMemory = 0;
    TempFile m_file;
};

// Sorts words by their bits [low, high) (at most 64), least significant digit first, keeping
// the order of words that tie; scratch is the room it needs (resized to the words' count).
void RadixSort(std::vector<std::uint64_t>& words, std::vector<std::uint64_t>& scratch, unsigned low,
               unsigned high);

} // namespace tunesift
