// The line that says what a run does: its words and counts, and how often it changes.

#include "search/progress.h"
#include "search/recordinghost.h"

#include <gtest/gtest.h>
#include <thread>

namespace tunesift::test {
namespace {

using namespace std::chrono_literals;

RunProgress work(WorkPhase phase, std::uint64_t done, std::uint64_t total,
                 std::chrono::milliseconds elapsed,
                 std::optional<std::chrono::milliseconds> left = std::nullopt)
{
    RunProgress progress;
    progress.phase = phase;
    progress.done = done;
    progress.total = total;
    progress.elapsed = elapsed;
    progress.left = left;
    return progress;
}

RunProgress comparing(Criterion criterion, WorkUnit unit, std::uint64_t done, std::uint64_t total)
{
    RunProgress progress = work(WorkPhase::Comparing, done, total, 65s);
    progress.criterion = criterion;
    progress.unit = unit;
    return progress;
}

TEST(ProgressText, SaysThePhaseInWordsAndCounts)
{
    constexpr std::uint64_t kGB = std::uint64_t{1} << 30;
    RunProgress scanning = work(WorkPhase::Scanning, 12345, 0, 3s);
    scanning.folders = 1020;
    RunProgress one = work(WorkPhase::Scanning, 1, 0, 999ms);
    one.folders = 1;
    const struct
    {
        RunProgress progress;
        const char* text;
    } cases[] = {
        {scanning, "Scanning: 12,345 files in 1,020 folders - 0:03 elapsed"},
        {one, "Scanning: 1 file in 1 folder - 0:00 elapsed"},
        {work(WorkPhase::Reading, 40000, 100000, 12s, 18s),
         "Reading 40,000 of 100,000 files - 0:12 elapsed, 0:18 left"},
        {work(WorkPhase::Reading, 0, 1, 0s), "Reading 0 of 1 file - 0:00 elapsed"},
        {work(WorkPhase::Reading, 999, 1000, 3723s, 59min + 59s),
         "Reading 999 of 1,000 files - 1:02:03 elapsed, 59:59 left"},
        {comparing(Criterion::ExactAudio, WorkUnit::Bytes, kGB * 12 / 10, kGB * 34 / 10),
         "Exact Audio: 1.2 of 3.4 GB - 1:05 elapsed"},
        {comparing(Criterion::ExactAudio, WorkUnit::Bytes, 512 * 1024, 900 * 1024),
         "Exact Audio: 512.0 of 900.0 KB - 1:05 elapsed"},
        {comparing(Criterion::ExactAudio, WorkUnit::Bytes, 0, 5 * 1024 * 1024),
         "Exact Audio: 0.0 of 5.0 MB - 1:05 elapsed"},
        {comparing(Criterion::SimilarTag, WorkUnit::Files, 2345, 10000),
         "Similar Tag: 2,345 of 10,000 files - 1:05 elapsed"},
        {comparing(Criterion::ExactFilename, WorkUnit::Files, 0, 0),
         "Exact Filename: 0 of 0 files - 1:05 elapsed"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgressText(c.progress), c.text);
}

// A clock the test moves by hand.
ProgressMeter::Clock::time_point g_now{};
ProgressMeter::Clock::time_point fakeNow()
{
    return g_now;
}

std::vector<std::string> texts(const RecordingHost& host)
{
    std::vector<std::string> out;
    for (const RunProgress& progress : host.work())
        out.push_back(ProgressText(progress));
    return out;
}

TEST(ProgressMeter, ShowsEveryPhaseAtOnceAndItsCountsAFewTimesASecond)
{
    g_now = ProgressMeter::Clock::time_point{} + 1h;
    RecordingHost host;
    ProgressMeter meter(host, &fakeNow);
    meter.beginScan();
    meter.scanned(10, 1);
    g_now += 100ms;
    meter.scanned(20, 2); // too soon
    g_now += 150ms;
    meter.scanned(30, 3);
    meter.begin(WorkPhase::Reading, 4); // a phase shows at once
    meter.add();
    g_now += 300ms;
    meter.dropFromTotal(1); // three files to read after all
    g_now += 300ms;
    meter.add(0); // what reads the same is not said again
    g_now += 400ms;
    meter.add(); // the phase's pace is known after a second of it
    meter.beginCriterion(Criterion::ExactAudio, 2048, WorkUnit::Bytes);
    g_now += 2s;
    meter.add(1024);
    g_now += 1s;
    meter.add(2048); // more than the total: the total grows with it
    EXPECT_EQ(texts(host), (std::vector<std::string>{
                               "Scanning: 0 files in 0 folders - 0:00 elapsed",
                               "Scanning: 30 files in 3 folders - 0:00 elapsed",
                               "Reading 0 of 4 files - 0:00 elapsed",
                               "Reading 1 of 3 files - 0:00 elapsed",
                               "Reading 2 of 3 files - 0:01 elapsed, 0:00 left",
                               "Exact Audio: 0.0 of 2.0 KB - 0:01 elapsed",
                               "Exact Audio: 1.0 of 2.0 KB - 0:03 elapsed, 0:02 left",
                               "Exact Audio: 3.0 of 3.0 KB - 0:04 elapsed, 0:00 left",
                           }));
}

// Worker threads count; only the meter's own thread tells the host, which a run calls from
// one thread only.
TEST(ProgressMeter, CountsFromOtherThreadsShowAtTheOwnThreadsNextCount)
{
    g_now = ProgressMeter::Clock::time_point{} + 2h;
    RecordingHost host;
    ProgressMeter meter(host, &fakeNow);
    meter.begin(WorkPhase::Reading, 100);
    g_now += 1s;
    std::thread worker([&] {
        for (int k = 0; k < 40; ++k)
            meter.add();
    });
    worker.join();
    ASSERT_EQ(host.work().size(), 1u);
    meter.add();
    ASSERT_EQ(host.work().size(), 2u);
    EXPECT_EQ(host.work().back().done, 41u);
    ASSERT_TRUE(host.work().back().left);
    EXPECT_EQ(host.work().back().left->count(), 1000 * 59 / 41);
}

} // namespace
} // namespace tunesift::test
