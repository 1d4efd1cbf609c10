#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tunesift {

// The time the calling thread has spent on a core, and a clock that never goes back.
std::int64_t ThreadCpuTimeNs();
std::int64_t MonotonicTimeNs();

// Threads that read files while the caller goes on with other work (the scan lists the next
// folders meanwhile). How many there are follows what the reads were measured to wait for, not
// the core count: reads whose time is spent on the cores need no more threads than cores, reads
// that wait on a distant file system (a round trip per request) keep proportionally more
// requests in flight, up to a limit.
class ReadingThreads
{
public:
    explicit ReadingThreads(std::size_t maxThreads = kMaxThreads);
    ~ReadingThreads();
    ReadingThreads(const ReadingThreads&) = delete;
    ReadingThreads& operator=(const ReadingThreads&) = delete;

    static constexpr std::size_t kMaxThreads = 32;

    void post(std::function<void()> job);
    // Returns once every job posted has run (or was dropped by cancel). Where a job threw, the
    // jobs not yet started are dropped and the first exception is thrown here.
    void wait();
    // Jobs not yet started are dropped.
    void cancel();
    // Returns once fewer than that many jobs are waiting or running.
    void waitUntilFewerThan(std::size_t jobs);

    std::size_t threadCount() const;

    // The threads worth running for jobs that took wallNs in all, cpuNs of it on a core, on a
    // machine of that many cores.
    static std::size_t threadsFor(std::int64_t wallNs, std::int64_t cpuNs, std::size_t cores,
                                  std::size_t maxThreads);

private:
    void work();
    void growLocked();

    const std::size_t m_maxThreads;
    const std::size_t m_cores;
    mutable std::mutex m_lock;
    std::condition_variable m_posted;
    std::condition_variable m_done;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    std::size_t m_busy = 0;
    bool m_stopping = false;
    std::int64_t m_wallNs = 0; // of the jobs finished
    std::int64_t m_cpuNs = 0;
    std::exception_ptr m_failure;
};

} // namespace tunesift
