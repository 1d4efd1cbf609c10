#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>

namespace tunesift {

// The stop flag as the long phases of a run see it. Only the run's thread may ask the host, so it
// asks at most every kInterval of work, from wherever it is; the threads helping it see the
// answer at once through the flag.
class StopSignal
{
public:
    static constexpr std::chrono::milliseconds kInterval{2};

    // ask: the host's stop flag, read on the thread that makes the signal.
    explicit StopSignal(std::function<bool()> ask)
        : m_ask(std::move(ask)), m_owner(std::this_thread::get_id())
    {}

    // On the run's thread: asks the host when the last answer is older than kInterval. On any
    // thread: true once a stop was seen.
    bool check()
    {
        if (raised())
            return true;
        if (std::this_thread::get_id() != m_owner)
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now < m_nextAsk)
            return false;
        m_nextAsk = now + kInterval;
        return askNow();
    }

    // Asks the host now (on the run's thread only).
    bool askNow()
    {
        if (!raised() && m_ask())
            m_raised.store(true, std::memory_order_relaxed);
        return raised();
    }

    bool raised() const { return m_raised.load(std::memory_order_relaxed); }
    const std::atomic<bool>* flag() const { return &m_raised; }

private:
    std::function<bool()> m_ask;
    std::thread::id m_owner;
    std::chrono::steady_clock::time_point m_nextAsk{};
    std::atomic<bool> m_raised{false};
};

} // namespace tunesift
