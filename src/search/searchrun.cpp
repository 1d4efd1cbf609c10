#include "search/searchrun.h"

#include "mp3/mp3analysis.h"
#include "search/audioprints.h"
#include "search/criteria.h"
#include "search/filereads.h"
#include "search/pathids.h"
#include "search/progress.h"
#include "search/rowtext.h"
#include "search/runstate.h"
#include "search/scan.h"

#include <array>
#include <exception>
#include <new>
#include <string>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace tunesift {

namespace {

const char* const kNoFoldersText = "There are no folders to find duplicates for. Please drag and "
                                   "drop some folders into the list above.";
const char* const kNoCriterionText =
    "Please select at least one option at the upper right: Exact Filename, Exact Filesize, "
    "Similar Filename, Exact Tag, Similar Tag, Exact Audio, Similar Audio";
const char* const kNoDupesText = "No duplicate MP3s found.";
const char* const kRunFailedText = "The search could not be completed: ";
constexpr std::size_t kLargeCatalogue = 20000;

struct CriterionStep
{
    Criterion criterion;
    const char* captionSuffix;
    PassOutcome (*pass)(RunState&);
};

constexpr std::array<CriterionStep, kCriterionCount> kCriteria = {{
    {Criterion::ExactFilename, " [Finding duplicates - Exact Filename]", ExactFilenamePass},
    {Criterion::ExactFilesize, " [Finding duplicates - Exact Filesize]", ExactFilesizePass},
    {Criterion::SimilarFilename, " [Finding duplicates - Similar Filename]", SimilarFilenamePass},
    {Criterion::ExactTag, " [Finding duplicates - Exact Tag]", ExactTagPass},
    {Criterion::SimilarTag, " [Finding duplicates - Similar Tag]", SimilarTagPass},
    {Criterion::ExactAudio, " [Finding duplicates - Exact Audio]", ExactAudioPass},
    {Criterion::SimilarAudio, " [Finding duplicates - Similar Audio]", SimilarAudioPass},
}};

std::string largeCatalogueQuestion(std::size_t folders, std::size_t files)
{
    return "The " + std::to_string(folders) + " folder(s) you've selected contains " +
           GroupedCount(files) +
           " files. This is over the recommended amount of 20,000. Please remove some folders "
           "from the list by selecting them and pressing 'Delete' on the keyboard or click "
           "'Clear List'.\r\rYou can still proceed, but the duplicate finding process may take a "
           "long time. Would you like to proceed anyway?";
}

// A run, in order (the files named are where each stage lives):
//
//   folders -> scan.cpp -> the catalogue: every .mp3 entry, with its folder and (without a
//                          cache) its size and title read in the same visit
//           -> pathids.cpp -> one id per file: entries of one file found twice share it
//           -> per ticked criterion, in the order of kCriteria (criteria.cpp):
//                key every entry: name, size, title or audio (sizes and titles read through the
//                cache by filereads.cpp, the audio hashed by audiohashes.cpp)
//                -> textgroups.h: entries grouped by key
//                -> pairwalk.h (equal keys) or similarindex.cpp (similar keys): the rows,
//                   shaded by group, written by pairwalk.cpp
//                -> FillRowColumns (filereads.cpp): size, playing time and bit rate of the rows
//           -> the cache keeps what was read -> the results, or "No duplicate MP3s found."
//
// Scan, question, criteria and hand-over; returns when the run goes to its closing steps.
void runSteps(SearchSession& session, const std::vector<std::string>& folders, SearchHost& host)
{
    if (folders.empty()) {
        host.showMessage(kNoFoldersText, kProductName, MessageButtons::Ok);
        return;
    }

    session.results().clear();
    session.catalogue().clear();
    host.resetStop();
    host.runStarted();
    ProgressMeter meter(host);
    meter.beginScan();

    const bool id3v2Titles = host.readsID3v2Titles();
    FileCache* const cache = host.fileCache();
    {
        FolderScan scan(session.catalogue(), host);
        scan.setReading({cache == nullptr, id3v2Titles});
        scan.setMeter(&meter);
        for (const std::string& folder : folders) {
            if (host.isStopRequested())
                return;
            // A stop inside a scan ends that scan only; the next check point decides for the run.
            scan.scanFolder(folder);
        }
    }
    // A stop during the last scan ends the run here, not at some passing pair much later.
    if (host.isStopRequested())
        return;

    meter.showNow(); // what the scan found, while the question below waits
    const std::size_t count = session.catalogue().count();
    if (count > kLargeCatalogue &&
        host.showMessage(largeCatalogueQuestion(folders.size(), count), "Question",
                         MessageButtons::YesNo) != MessageAnswer::Yes)
        return;

    bool anyTicked = false;
    for (const CriterionStep& step : kCriteria)
        anyTicked = host.isCriterionTicked(step.criterion) || anyTicked;
    if (!anyTicked) {
        host.showMessage(kNoCriterionText, kProductName, MessageButtons::Ok);
        return;
    }

    RunState state(session, host, &meter);
    AssignPathIds(state);
    state.id3v2Titles = id3v2Titles;
    state.facts = RunFacts(cache, state.pathCount);
    if (host.isCriterionTicked(Criterion::SimilarAudio))
        HoldAudioPrints(state);
    PassOutcome outcome = PassOutcome::Completed;
    for (const CriterionStep& step : kCriteria) {
        if (!host.isCriterionTicked(step.criterion))
            continue;
        state.criterionFirstRow = session.results().size();
        host.setCaption(std::string(kProductName) + step.captionSuffix);
        meter.beginCriterion(step.criterion, count);
        // The stop flag is read as each criterion begins and ends, besides the passing pairs and
        // the reading phases: a stop never waits for a whole criterion.
        outcome = state.stop.askNow() ? PassOutcome::Stopped : step.pass(state);
        if (outcome != PassOutcome::Stopped) {
            FillRowColumns(state);
            if (state.stop.askNow())
                outcome = PassOutcome::Stopped;
        }
        if (outcome != PassOutcome::Completed)
            break; // stopped, or nothing more can be listed (then what was found is shown)
    }
    state.facts.flush(); // what was read stays read, whichever way the run ends
    if (outcome == PassOutcome::Stopped)
        return;

    if (!session.results().empty())
        host.showResults();
    else
        host.showMessage(kNoDupesText, "No dupes", MessageButtons::Ok);
    host.setCaption(kProductName);
}

} // namespace

bool RunSearch(SearchSession& session, const std::vector<std::string>& folders, SearchHost& host)
{
#ifdef __GLIBC__
    // The passes build tables of megabytes one after another. The allocator would otherwise raise
    // its threshold for mapping blocks of their own as soon as the first such table is freed,
    // keep the later ones in its heap, and hold on to their pages after they are freed: with a
    // million files that put about a tenth more on the peak.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
    std::string failure;
    try {
        session.setListedFolders(folders);
        runSteps(session, folders, host);
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    } catch (const std::exception& error) {
        failure = error.what();
    } catch (...) {
        failure = "an internal error";
    }
    try {
        if (!failure.empty())
            host.showMessage(kRunFailedText + failure, kProductName, MessageButtons::Ok);
        host.runFinished();
        host.setCaption(kProductName);
        host.setProgress(0);
    } catch (...) {
        // A host that fails even now has nobody left to tell.
        failure = failure.empty() ? "the host failed" : failure;
    }
    return failure.empty();
}

} // namespace tunesift
