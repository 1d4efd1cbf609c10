#pragma once

#include "search/stopsignal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tunesift {

// What the work items of ParallelFor wait for. System calls on data the system holds run on the
// cores; reads that go to the disk mostly wait, and more of them in flight keep the disk busy.
enum class WorkKind
{
    SystemCalls,
    DiskReads,
    DistantReads // requests to a file system far away: each waits a round trip
};

// Runs work(k) for every k below count on a few threads. Meant for independent file reads whose
// results land in separate slots: reading is bound by system calls, which run in parallel on
// several cores. Small counts run on the calling thread alone; disk reads (large, one file per
// item) are shared out one by one on as many threads as the cap allows. Where work throws (out of
// memory, say), the other threads take no further items, every thread is joined, and the first
// exception is thrown again on the calling thread. With a stop signal, no item is begun once it
// is raised: the caller then knows that some items were left undone.
template <typename Work>
void ParallelFor(std::size_t count, Work work, WorkKind kind = WorkKind::SystemCalls,
                 StopSignal* stop = nullptr)
{
    const bool disk = kind == WorkKind::DiskReads;
    const bool distant = kind == WorkKind::DistantReads;
    const std::size_t chunk = disk || distant ? 1 : 64;
    constexpr std::size_t kMaxThreads = 4;
    constexpr std::size_t kMaxDiskThreads = 8;
    constexpr std::size_t kMaxDistantThreads = 32;
    const std::size_t cores = std::max<std::size_t>(1, std::thread::hardware_concurrency());
    const std::size_t threads = distant ? std::min(kMaxDistantThreads, count)
                                : disk  ? std::min(kMaxDiskThreads, count)
                                        : std::min({kMaxThreads, cores, count / (chunk * 4)});
    if (threads <= 1) {
        for (std::size_t k = 0; k < count && !(stop && stop->check()); ++k)
            work(k);
        return;
    }
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> drained{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    const auto drain = [&] {
        struct Drained
        {
            std::atomic<std::size_t>& count;
            ~Drained() { count.fetch_add(1, std::memory_order_release); }
        } drained_{drained};
        try {
            for (;;) {
                const std::size_t first = next.fetch_add(chunk, std::memory_order_relaxed);
                if (first >= count)
                    return;
                const std::size_t last = std::min(count, first + chunk);
                for (std::size_t k = first; k < last; ++k) {
                    if (stop && stop->check()) {
                        next.store(count, std::memory_order_relaxed);
                        return;
                    }
                    work(k);
                }
            }
        } catch (...) {
            next.store(count, std::memory_order_relaxed);
            const std::lock_guard<std::mutex> lock(failureLock);
            if (!failure)
                failure = std::current_exception();
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
    if (stop && !helpers.empty()) {
        // Only the run's thread may ask the host, and a thread busy reading asks late (on a
        // loaded machine, very late): it watches for the stop while one more helper reads.
        try {
            helpers.emplace_back(drain);
        } catch (...) {
        }
        while (drained.load(std::memory_order_acquire) < helpers.size()) {
            if (stop->check())
                next.store(count, std::memory_order_relaxed);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    } else {
        drain();
    }
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace tunesift
