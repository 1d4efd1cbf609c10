#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace tunesift {

// Runs work(k) for every k below count on a few threads. Meant for independent file reads whose
// results land in separate slots: reading is bound by system calls, which run in parallel on
// several cores. work must not throw. Small counts run on the calling thread alone.
template <typename Work>
void ParallelFor(std::size_t count, Work work)
{
    constexpr std::size_t kChunk = 64;
    constexpr std::size_t kMaxThreads = 4;
    const std::size_t cores = std::max<std::size_t>(1, std::thread::hardware_concurrency());
    const std::size_t threads = std::min({kMaxThreads, cores, count / (kChunk * 4)});
    if (threads <= 1) {
        for (std::size_t k = 0; k < count; ++k)
            work(k);
        return;
    }
    std::atomic<std::size_t> next{0};
    const auto drain = [&] {
        for (;;) {
            const std::size_t first = next.fetch_add(kChunk, std::memory_order_relaxed);
            if (first >= count)
                return;
            const std::size_t last = std::min(count, first + kChunk);
            for (std::size_t k = first; k < last; ++k)
                work(k);
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    try {
        for (std::size_t t = 1; t < threads; ++t)
            helpers.emplace_back(drain);
    } catch (...) {
        // No thread to be had: the calling thread does the rest alone.
    }
    drain();
    for (std::thread& helper : helpers)
        helper.join();
}

} // namespace tunesift
