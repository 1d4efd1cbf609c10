#pragma once

#include "mp3/audiorange.h"
#include "search/filecache.h"
#include "search/host.h"
#include "search/progress.h"
#include "search/resultlist.h"
#include "search/searchrun.h"
#include "search/stopsignal.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tunesift {

class PrintStore;

enum class PassOutcome
{
    Completed,
    Stopped,
    ResultsFull
};

// Values of the run that carry over from one criterion to the next, and what the run learns about
// files once and reuses (a file standing in several rows is read once per run).
struct RunState
{
    // meter: where the run counts its work; none: a meter of the state's own.
    RunState(SearchSession& s, SearchHost& h, ProgressMeter* m = nullptr)
        : session(s), host(h), meter(m ? *m : m_ownMeter.emplace(h)),
          stop([&h] { return h.isStopRequested(); })
    {}

private:
    std::optional<ProgressMeter> m_ownMeter;

public:
    SearchSession& session;
    SearchHost& host;
    ProgressMeter& meter;
    // The stop flag as the reading phases see it: once raised, nothing more is read and the run
    // ends.
    StopSignal stop;

    bool darkShade = false;      // the first group of a run is light
    bool groupHeadAdded = false; // the current group has its first row
    std::size_t criterionFirstRow = 0;

    // Entries with equal full paths share a path id; rows are identified by it.
    std::vector<std::uint32_t> pathId;
    std::uint32_t pathCount = 0;
    // Per path id: listed by the current criterion.
    std::vector<std::uint8_t> listed;

    struct RowInfo
    {
        std::int64_t size = 0;
        std::int64_t songLength = 0;
        std::int32_t bitRate = 0;
        bool known = false;
    };
    std::vector<RowInfo> rowInfo; // per path id
    // Groups numbered so far, and per path id the group of its row in the current criterion: a
    // partner found for a file listed already joins that file's group.
    std::uint32_t groupCount = 0;
    std::vector<std::uint32_t> groupOfPath;

    // Per path id, what Exact Audio learnt of the file: its audio range and, where the file had
    // a possible partner, the hashes of that range.
    std::vector<AudioFacts> audio;
    std::vector<std::uint8_t> audioKnown; // per path id: audio holds what was found
    // Similar Audio's prints, by path id, and per path id whether the print was found (a print
    // with too little sound is not kept). Where the cache may hold prints they are held from the
    // run's first look-ups on, each taken with the file's other facts.
    std::shared_ptr<PrintStore> prints;
    std::vector<std::uint8_t> printKnown;

    bool titlesRead = false;
    // Per entry, while the titles wait for the tag criteria: found before their turn.
    std::vector<std::uint8_t> titleKnown;
    bool id3v2Titles = false; // the tag criteria compare ComparedTitle with ID3v2 titles
    RunFacts facts;           // what the cache knows and what this run read for it
    bool resultsFullReported = false;
};

} // namespace tunesift
