#include "search/readingthreads.h"

#include <algorithm>
#include <chrono>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace tunesift {

std::int64_t ThreadCpuTimeNs()
{
#ifdef _WIN32
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0;
    const auto ticks = [](const FILETIME& t) {
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                         t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 100;
#else
    timespec now{};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0)
        return 0;
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
#endif
}

std::int64_t MonotonicTimeNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

ReadingThreads::ReadingThreads(std::size_t maxThreads)
    : m_maxThreads(std::max<std::size_t>(1, maxThreads)),
      m_cores(std::max<std::size_t>(1, std::thread::hardware_concurrency()))
{}

ReadingThreads::~ReadingThreads()
{
    {
        const std::lock_guard lock(m_lock);
        m_stopping = true;
        m_jobs.clear();
    }
    m_posted.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

std::size_t ReadingThreads::threadsFor(std::int64_t wallNs, std::int64_t cpuNs, std::size_t cores,
                                       std::size_t maxThreads)
{
    // A thread that waits for w of every c + w nanoseconds leaves its core free for the
    // others: (c + w) / c threads per core keep the cores busy, and the requests as many.
    const std::size_t floor = std::min(cores, maxThreads);
    if (wallNs <= 0)
        return floor;
    const double perCore =
        static_cast<double>(wallNs) / static_cast<double>(std::max<std::int64_t>(cpuNs, 1));
    const double wanted = perCore * static_cast<double>(cores);
    if (wanted >= static_cast<double>(maxThreads))
        return maxThreads;
    return std::max(floor, static_cast<std::size_t>(wanted + 0.5));
}

std::size_t ReadingThreads::threadCount() const
{
    const std::lock_guard lock(m_lock);
    return m_threads.size();
}

void ReadingThreads::growLocked()
{
    // One more thread for jobs that wait with none idle, as far as the measure allows.
    const std::size_t idle = m_threads.size() - m_busy;
    if (m_jobs.size() <= idle)
        return;
    const std::size_t wanted = threadsFor(m_wallNs, m_cpuNs, m_cores, m_maxThreads);
    if (m_threads.size() >= wanted)
        return;
    try {
        m_threads.emplace_back([this] { work(); });
    } catch (...) {
        // No thread to be had: those running take the jobs (or the caller, where none runs).
    }
}

void ReadingThreads::post(std::function<void()> job)
{
    {
        const std::lock_guard lock(m_lock);
        if (m_failure)
            return;
        m_jobs.push_back(std::move(job));
        growLocked();
        if (!m_threads.empty()) {
            m_posted.notify_one();
            return;
        }
        job = std::move(m_jobs.back());
        m_jobs.pop_back();
    }
    job();
}

void ReadingThreads::wait()
{
    std::unique_lock lock(m_lock);
    m_done.wait(lock, [&] { return m_jobs.empty() && m_busy == 0; });
    if (m_failure) {
        std::exception_ptr failure = m_failure;
        m_failure = nullptr;
        std::rethrow_exception(failure);
    }
}

void ReadingThreads::waitUntilFewerThan(std::size_t jobs)
{
    std::unique_lock lock(m_lock);
    m_done.wait(lock, [&] { return m_jobs.size() + m_busy < jobs; });
}

void ReadingThreads::cancel()
{
    const std::lock_guard lock(m_lock);
    m_jobs.clear();
    if (m_busy == 0)
        m_done.notify_all();
}

void ReadingThreads::work()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_posted.wait(lock, [&] { return m_stopping || !m_jobs.empty(); });
        if (m_stopping)
            return;
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        ++m_busy;
        lock.unlock();
        const std::int64_t wallStart = MonotonicTimeNs();
        const std::int64_t cpuStart = ThreadCpuTimeNs();
        std::exception_ptr failure;
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
        const std::int64_t cpu = ThreadCpuTimeNs() - cpuStart;
        const std::int64_t wall = MonotonicTimeNs() - wallStart;
        lock.lock();
        --m_busy;
        m_wallNs += wall;
        m_cpuNs += cpu;
        if (failure) {
            if (!m_failure)
                m_failure = failure;
            m_jobs.clear();
        }
        if (!m_jobs.empty())
            growLocked();
        m_done.notify_all();
    }
}

} // namespace tunesift
