#include "search/pairwalk.h"

namespace tunesift {

namespace {

const char* const kResultsFullText =
    "Tunesift can list at most 1,000,001 rows in one search. The list is full, so the search "
    "stopped adding rows; the rows found so far are shown.";

} // namespace

bool WriteRow(RunState& state, std::uint32_t entry, Criterion criterion, std::uint32_t group)
{
    ResultList& results = state.session.results();
    if (results.full()) {
        if (!state.resultsFullReported) {
            state.resultsFullReported = true;
            state.meter.showNow();
            state.host.showMessage(kResultsFullText, kProductName, MessageButtons::Ok);
        }
        return false;
    }
    const std::uint32_t id = state.pathId[entry];
    const RunState::RowInfo& info = state.rowInfo[id];
    ResultRow row;
    row.entry = entry;
    row.pathId = id;
    row.size = info.size;
    row.songLength = info.songLength;
    row.bitRate = info.bitRate;
    row.criterion = criterion;
    row.group = group;
    results.append(row, ColorGroupOf(criterion, state.darkShade));
    state.listed[id] = 1;
    state.groupOfPath[id] = group;
    return true;
}

} // namespace tunesift
