#pragma once

#include "search/host.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace tunesift {

// What a run is doing, in words and counts, for the line under the progress bar and the command
// line's standard error:
//   Scanning   "Scanning: 12,345 files in 1,020 folders" (how much is left is not known)
//   Reading    "Reading 40,000 of 100,000 files" (sizes, titles, the rows' columns)
//   Comparing  "Exact Audio: 1.2 of 3.4 GB", "Similar Audio: 2,345 of 10,000 files"
enum class WorkPhase
{
    Scanning,
    Reading,
    Comparing
};
enum class WorkUnit
{
    Files,
    Bytes
};

struct RunProgress
{
    WorkPhase phase = WorkPhase::Scanning;
    Criterion criterion = Criterion::ExactFilename; // whose turn it is, while comparing
    WorkUnit unit = WorkUnit::Files;
    std::uint64_t done = 0;
    std::uint64_t total = 0;              // reading and comparing
    std::uint64_t folders = 0;            // scanning: the folders listed so far
    std::chrono::milliseconds elapsed{0}; // since the run began
    // Of this phase, at its pace so far; nothing where its work is not known or the pace not yet.
    std::optional<std::chrono::milliseconds> left;
};

// The criterion as its box names it.
std::string_view CriterionName(Criterion criterion);

// "Reading 40,000 of 100,000 files - 0:12 elapsed, 0:18 left".
std::string ProgressText(const RunProgress& progress);
// "0:05", "12:34", "1:02:03".
std::string DurationText(std::chrono::milliseconds duration);

// Counts a run's work and tells the host what it does, a few times a second at most. The run's
// worker threads count too (add() is thread-safe), but only the thread that made the meter calls
// the host, as a run always does; work counted on other threads shows at that thread's next
// count, or at the next phase.
class ProgressMeter
{
public:
    using Clock = std::chrono::steady_clock;
    using Now = Clock::time_point (*)();
    static constexpr std::chrono::milliseconds kInterval{250};
    // The pace of a phase is trusted once it has run this long.
    static constexpr std::chrono::milliseconds kPaceAfter{1000};

    explicit ProgressMeter(SearchHost& host, Now now = &Clock::now);

    // A new phase, shown at once.
    void beginScan();
    // The scan's files and folders found so far (it may have been reading in between).
    void scanned(std::uint64_t files, std::uint64_t folders);
    void begin(WorkPhase phase, std::uint64_t total, WorkUnit unit = WorkUnit::Files);
    void beginCriterion(Criterion criterion, std::uint64_t total, WorkUnit unit = WorkUnit::Files);

    // Work done: thread-safe.
    void add(std::uint64_t amount = 1)
    {
        m_done.fetch_add(amount, std::memory_order_relaxed);
        tick();
    }
    void addFolders(std::uint64_t count)
    {
        m_folders.fetch_add(count, std::memory_order_relaxed);
        tick();
    }
    // Work that will not be done after all (files that turned out to need no reading): the
    // total shrinks. Thread-safe.
    void dropFromTotal(std::uint64_t amount)
    {
        std::uint64_t total = m_total.load(std::memory_order_relaxed);
        while (!m_total.compare_exchange_weak(total, total - std::min(total, amount),
                                              std::memory_order_relaxed)) {
        }
        tick();
    }
    // On the meter's thread only, where the work is counted by position (the pair walk).
    void setDone(std::uint64_t done)
    {
        m_done.store(done, std::memory_order_relaxed);
        tick();
    }

    RunProgress current() const;
    // Shows the counts as they are now (where they read differently from the last shown), before
    // the run waits for something else: the user's answer to a question, say.
    void showNow() { report(); }

private:
    void tick()
    {
        if (std::this_thread::get_id() == m_owner)
            reportWhenDue();
    }
    void reportWhenDue();
    void report();

    SearchHost& m_host;
    Now m_now;
    std::thread::id m_owner;
    Clock::time_point m_runStart;
    Clock::time_point m_phaseStart;
    Clock::time_point m_nextReport;
    WorkPhase m_phase = WorkPhase::Scanning;
    Criterion m_criterion = Criterion::ExactFilename;
    WorkUnit m_unit = WorkUnit::Files;
    std::atomic<std::uint64_t> m_done{0};
    std::atomic<std::uint64_t> m_total{0};
    std::atomic<std::uint64_t> m_folders{0};
    std::string m_lastText;
};

} // namespace tunesift
