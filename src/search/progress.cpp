#include "search/progress.h"

#include "search/rowtext.h"

#include <cstdio>

namespace tunesift {

namespace {

// Both amounts in the unit that suits the total, with one decimal: "1.2 of 3.4 GB". Units of
// 1,024, as the size column counts them.
std::string bytesOfTotal(std::uint64_t done, std::uint64_t total)
{
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
    int unit = 0;
    double scale = 1024.0;
    while (unit < 3 && static_cast<double>(total) >= scale * 1024.0) {
        scale *= 1024.0;
        ++unit;
    }
    char text[96];
    std::snprintf(text, sizeof text, "%.1f of %.1f %s", static_cast<double>(done) / scale,
                  static_cast<double>(total) / scale, kUnits[unit]);
    return text;
}

std::string countOfTotal(const RunProgress& progress)
{
    if (progress.unit == WorkUnit::Bytes)
        return bytesOfTotal(progress.done, progress.total);
    return GroupedCount(progress.done) + " of " + GroupedCount(progress.total) +
           (progress.total == 1 ? " file" : " files");
}

} // namespace

std::string_view CriterionName(Criterion criterion)
{
    switch (criterion) {
    case Criterion::ExactFilename:
        return "Exact Filename";
    case Criterion::ExactFilesize:
        return "Exact Filesize";
    case Criterion::SimilarFilename:
        return "Similar Filename";
    case Criterion::ExactTag:
        return "Exact Tag";
    case Criterion::SimilarTag:
        return "Similar Tag";
    case Criterion::ExactAudio:
        return "Exact Audio";
    case Criterion::SimilarAudio:
        return "Similar Audio";
    }
    return {};
}

std::string DurationText(std::chrono::milliseconds duration)
{
    const long long seconds = std::max<long long>(0, duration.count()) / 1000;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

std::string ProgressText(const RunProgress& progress)
{
    std::string text;
    switch (progress.phase) {
    case WorkPhase::Scanning:
        text = "Scanning: " + GroupedCount(progress.done) +
               (progress.done == 1 ? " file in " : " files in ") + GroupedCount(progress.folders) +
               (progress.folders == 1 ? " folder" : " folders");
        break;
    case WorkPhase::Reading:
        text = "Reading " + countOfTotal(progress);
        break;
    case WorkPhase::Comparing:
        text = std::string(CriterionName(progress.criterion)) + ": " + countOfTotal(progress);
        break;
    }
    text += " - " + DurationText(progress.elapsed) + " elapsed";
    if (progress.left)
        text += ", " + DurationText(*progress.left) + " left";
    return text;
}

ProgressMeter::ProgressMeter(SearchHost& host, Now now)
    : m_host(host), m_now(now), m_owner(std::this_thread::get_id()), m_runStart(now()),
      m_phaseStart(m_runStart), m_nextReport(m_runStart)
{}

void ProgressMeter::beginScan()
{
    begin(WorkPhase::Scanning, 0);
}

void ProgressMeter::scanned(std::uint64_t files, std::uint64_t folders)
{
    if (m_phase != WorkPhase::Scanning) {
        m_phase = WorkPhase::Scanning;
        m_phaseStart = m_now();
    }
    m_done.store(files, std::memory_order_relaxed);
    m_folders.store(folders, std::memory_order_relaxed);
    m_total.store(0, std::memory_order_relaxed);
    tick();
}

void ProgressMeter::begin(WorkPhase phase, std::uint64_t total, WorkUnit unit)
{
    m_phase = phase;
    m_unit = unit;
    m_done.store(0, std::memory_order_relaxed);
    m_folders.store(0, std::memory_order_relaxed);
    m_total.store(total, std::memory_order_relaxed);
    m_phaseStart = m_now();
    report();
}

void ProgressMeter::beginCriterion(Criterion criterion, std::uint64_t total, WorkUnit unit)
{
    m_criterion = criterion;
    begin(WorkPhase::Comparing, total, unit);
}

RunProgress ProgressMeter::current() const
{
    const Clock::time_point now = m_now();
    RunProgress progress;
    progress.phase = m_phase;
    progress.criterion = m_criterion;
    progress.unit = m_unit;
    progress.done = m_done.load(std::memory_order_relaxed);
    progress.folders = m_folders.load(std::memory_order_relaxed);
    progress.total = m_total.load(std::memory_order_relaxed);
    if (m_phase != WorkPhase::Scanning && progress.done > progress.total)
        progress.total = progress.done; // work found along the way
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    progress.elapsed = duration_cast<milliseconds>(now - m_runStart);
    const auto phase = duration_cast<milliseconds>(now - m_phaseStart);
    if (m_phase != WorkPhase::Scanning && progress.done > 0 && phase >= kPaceAfter) {
        const double share = static_cast<double>(progress.total - progress.done) /
                             static_cast<double>(progress.done);
        progress.left =
            milliseconds(static_cast<long long>(static_cast<double>(phase.count()) * share));
    }
    return progress;
}

void ProgressMeter::reportWhenDue()
{
    if (m_now() >= m_nextReport)
        report();
}

void ProgressMeter::report()
{
    m_nextReport = m_now() + kInterval;
    const RunProgress progress = current();
    // What would read the same as the last report is not said again.
    std::string text = ProgressText(progress);
    if (text == m_lastText)
        return;
    m_lastText = std::move(text);
    m_host.showWork(progress);
}

} // namespace tunesift
