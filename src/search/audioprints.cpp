#include "search/audioprints.h"

#include "mp3/audioprint.h"
#include "mp3/fileaccess.h"
#include "mp3/mp3info.h"
#include "search/filereads.h"
#include "search/parallel.h"

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tunesift {

bool ReadAudioPrints(RunState& state, PrintStore& prints)
{
    const Catalogue& catalogue = state.session.catalogue();
    const std::string& pipeline = AudioPrintPipeline();
    std::vector<std::uint32_t> files;
    for (std::uint32_t entry = 0; entry < catalogue.count(); ++entry)
        if (state.pathId[entry] == entry)
            files.push_back(entry);

    // Only the run's own thread may ask the host; it asks before each file it takes, and the
    // other threads leave their remaining files when it has seen a stop.
    const std::thread::id runThread = std::this_thread::get_id();
    std::atomic<bool> stopped{false};
    state.meter.beginCriterion(Criterion::SimilarAudio, files.size());
    ParallelFor(
        files.size(),
        [&](std::size_t k) {
            state.meter.add();
            if (std::this_thread::get_id() == runThread && state.host.isStopRequested())
                stopped.store(true, std::memory_order_relaxed);
            if (stopped.load(std::memory_order_relaxed))
                return;
            const std::uint32_t id = files[k];
            const std::string path = catalogue.path(id);
            std::optional<CachedFile> file = lookUpFile(state, id, path);
            if (file) {
                if (std::optional<std::vector<std::uint32_t>> kept =
                        state.facts.printOf(*file, pipeline)) {
                    if (HasEnoughSound(*kept))
                        prints.add(id, *kept);
                    return;
                }
            }
            ReadOnlyFile opened;
            if (!opened.open(path))
                return; // unreadable now: takes no part
            clsMP3Info analysis;
            analysis.SetOpenedFile(opened, path);
            RunState::RowInfo& info = state.rowInfo[id];
            const bool rowRead = !analysis.audioRange().empty() && !info.known;
            if (rowRead)
                fillRowInfo(info, analysis, path);
            AudioPrintResult print =
                MakeAudioPrint(opened, analysis.audioRange(), analysis.Frequency());
            if (print.outcome == AudioPrintResult::Outcome::ReadFailed)
                return; // tried again next time
            if (file) {
                if (rowRead)
                    addAnalysis(file->facts, info, analysis);
                // The facts' row makes the file known to the cache, which then looks for its
                // print next time.
                state.facts.keep(*file);
                state.facts.keepPrint(*file, pipeline, print.values);
            }
            if (HasEnoughSound(print.values))
                prints.add(id, print.values);
        },
        WorkKind::DiskReads);
    return !stopped.load() && !state.host.isStopRequested();
}

} // namespace tunesift
