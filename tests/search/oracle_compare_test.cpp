// The fast engine against the literal model on many random folder trees: same rows in the same
// order with the same shades, and the same captions, progress values and messages.

#include "search/engineview.h"
#include "search/oracle.h"
#include "search/randomtree.h"
#include "search/recordinghost.h"
#include "search/scan.h"
#include "search/searchrun.h"
#include "search/testtree.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tunesift::test {
namespace {

struct RandomRuns
{
    std::uint32_t seedBase = 0;
    int cases = 0;
    std::size_t minFiles = 0;
    std::size_t maxFiles = 0;
    bool withStops = false; // the stop flag set after a random host call of the run
    // The files taken to lie on a distant share: what the run read of a file once stands for the
    // run, so no file changes while it runs.
    bool distantFiles = false;
};

void compareOnRandomTrees(const RandomRuns& runs)
{
    TempDir dir(TempDir::Storage::Memory);
    // One session and one model for all cases: every run must start from a clean slate, and a
    // run with an empty folder list must leave the previous results alone.
    SearchSession session;
    Oracle model;
    for (int c = 0; c < runs.cases; ++c) {
        const std::uint32_t seed = runs.seedBase + static_cast<std::uint32_t>(c);
        Random random(seed);
        const Tree tree = makeRandomTree(random, between(random, runs.minFiles, runs.maxFiles));
        Scenario scenario = makeScenario(random, dir, tree);
        if (runs.distantFiles)
            scenario.deleteAtFirstCriterion.clear();

        if (runs.withStops) {
            materialise(dir, tree);
            RecordingHost dry;
            scenario.apply(dry, dir);
            Oracle probe;
            probe.run(scenario.folders, dry);
            scenario.stopAfterCall = between(random, 0, dry.calls().size() - 1);
        }

        materialise(dir, tree);
        RecordingHost engineHost;
        scenario.apply(engineHost, dir);
        SetDistantFilesForTesting(runs.distantFiles);
        RunSearch(session, scenario.folders, engineHost);
        SetDistantFilesForTesting(false);

        materialise(dir, tree);
        RecordingHost modelHost;
        scenario.apply(modelHost, dir);
        model.run(scenario.folders, modelHost);

        SCOPED_TRACE("seed " + std::to_string(seed) + "\n" + scenario.describe() +
                     "\nmodel catalogue:\n" + listing(CataloguePaths(model)));
        if (!scenario.stopAfterCall && !scenario.folders.empty()) {
            ASSERT_EQ(CataloguePaths(session), CataloguePaths(model))
                << firstDifference(CataloguePaths(session), CataloguePaths(model));
        }
        // A stopped run shows no rows, and reads nothing more for the columns of those it wrote.
        const bool stopped =
            scenario.stopAfterCall && modelHost.count(HostCall::Kind::ShowResults) == 0;
        const auto compared = [&](std::vector<ExpectedRow> rows) {
            if (stopped)
                for (ExpectedRow& row : rows)
                    row.size = row.songLength = row.bitRate = 0;
            return rows;
        };
        ASSERT_EQ(compared(RowsOf(session)), compared(model.rows()))
            << firstDifference(compared(RowsOf(session)), compared(model.rows()));
        ASSERT_EQ(engineHost.calls(), modelHost.calls())
            << firstDifference(engineHost.calls(), modelHost.calls());
        if (!stopped) {
            ASSERT_EQ(RowTextMismatch(session), "");
        }

        const auto captions = modelHost.captions();
        const bool tagRan = std::find(captions.begin(), captions.end(),
                                      CriterionCaption(Criterion::ExactTag)) != captions.end() ||
                            std::find(captions.begin(), captions.end(),
                                      CriterionCaption(Criterion::SimilarTag)) != captions.end();
        if (tagRan && !scenario.stopAfterCall) {
            ASSERT_GE(session.titles().size(), model.titles().size());
            const std::vector<std::string> titles(
                session.titles().begin(),
                session.titles().begin() + static_cast<std::ptrdiff_t>(model.titles().size()));
            ASSERT_EQ(titles, model.titles());
        }
    }
}

TEST(EngineAgainstModel, SmallRandomTrees)
{
    compareOnRandomTrees({.seedBase = 1000, .cases = 500, .minFiles = 2, .maxFiles = 24});
}

TEST(EngineAgainstModel, LargerRandomTrees)
{
    compareOnRandomTrees({.seedBase = 50000, .cases = 25, .minFiles = 60, .maxFiles = 160});
}

TEST(EngineAgainstModel, RandomTreesWithAStopAnywhere)
{
    compareOnRandomTrees(
        {.seedBase = 90000, .cases = 300, .minFiles = 2, .maxFiles = 24, .withStops = true});
}

TEST(EngineAgainstModel, RandomTreesOnADistantShare)
{
    compareOnRandomTrees(
        {.seedBase = 120000, .cases = 200, .minFiles = 2, .maxFiles = 60, .distantFiles = true});
    compareOnRandomTrees({.seedBase = 130000,
                          .cases = 150,
                          .minFiles = 2,
                          .maxFiles = 24,
                          .withStops = true,
                          .distantFiles = true});
}

} // namespace
} // namespace tunesift::test
