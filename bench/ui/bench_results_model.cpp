#include "search/catalogue.h"
#include "search/resultlist.h"
#include "search/searchrun.h"
#include "ui/results/resultsmodel.h"

#include <QApplication>
#include <QTreeView>
#include <benchmark/benchmark.h>
#include <string>
#include <vector>

using namespace tunesift;

namespace {

constexpr std::size_t kFilesPerFolder = 100;

// Writes `rows` result rows the way a run does: folders of a hundred files, groups of two rows,
// with `sharedRows` of them (spread over the list) standing for one file found again and again.
void fill(SearchSession& session, std::size_t rows, std::size_t sharedRows = 0)
{
    session.results().clear();
    Catalogue& catalogue = session.catalogue();
    catalogue.clear();
    std::uint32_t folder = 0;
    for (std::size_t k = 0; k < rows; ++k) {
        if (k % kFilesPerFolder == 0)
            folder = catalogue.addFolder("/home/listener/Music/Artist " +
                                         std::to_string(k / kFilesPerFolder) + "/");
        catalogue.append(folder, "Track " + std::to_string(k) + " - Some Title.mp3", 4'000'000);
    }
    const std::size_t stride = sharedRows ? rows / sharedRows : 0;
    for (std::size_t k = 0; k < rows; ++k) {
        ResultRow row;
        const bool shared = stride && k % stride == 0;
        row.entry = shared ? 0 : static_cast<std::uint32_t>(k);
        row.pathId = row.entry;
        row.size = 4'000'000;
        row.songLength = 215;
        row.bitRate = 192;
        session.results().append(row, (k / 2) % 2 ? ColorGroup::Blue : ColorGroup::LightBlue);
    }
}

void readVisibleRows(const ResultsModel& model, int first, int count)
{
    for (int row = first; row < first + count && row < model.rowCount(); ++row) {
        for (int column = 0; column < model.columnCount(); ++column) {
            benchmark::DoNotOptimize(model.data(model.index(row, column)));
            benchmark::DoNotOptimize(model.data(model.index(row, column), Qt::BackgroundRole));
        }
    }
}

// A run refilling the list behind the model, then the first screenful read.
void BM_FillModel(benchmark::State& state)
{
    SearchSession session;
    ResultsModel model(session.results());
    const auto rows = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        model.beginResultsUpdate();
        fill(session, rows);
        model.endResultsUpdate();
        readVisibleRows(model, 0, 40);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FillModel)->Arg(100'000)->Unit(benchmark::kMillisecond);

// The same with a shown list attached, which lays itself out again after the reset.
void BM_FillView(benchmark::State& state)
{
    SearchSession session;
    ResultsModel model(session.results());
    QTreeView view;
    view.setUniformRowHeights(true);
    view.setRootIsDecorated(false);
    view.setModel(&model);
    view.resize(800, 500);
    view.show();
    const auto rows = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        model.beginResultsUpdate();
        fill(session, rows);
        model.endResultsUpdate();
        view.scrollToBottom();
        benchmark::DoNotOptimize(view.grab());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FillView)->Arg(100'000)->Unit(benchmark::kMillisecond);

// Paging through the list: each step shows and paints another screenful.
void BM_ScrollView(benchmark::State& state)
{
    SearchSession session;
    fill(session, static_cast<std::size_t>(state.range(0)));
    ResultsModel model(session.results());
    QTreeView view;
    view.setUniformRowHeights(true);
    view.setRootIsDecorated(false);
    view.setModel(&model);
    view.resize(800, 500);
    view.show();
    int row = 0;
    for (auto _ : state) {
        row = (row + 7919) % model.rowCount();
        view.scrollTo(model.index(row, 0), QAbstractItemView::PositionAtTop);
        benchmark::DoNotOptimize(view.viewport()->grab());
    }
}
BENCHMARK(BM_ScrollView)->Arg(100'000)->Unit(benchmark::kMicrosecond);

// Ticking and unticking a file that stands in many of the rows.
void BM_TickFile(benchmark::State& state)
{
    SearchSession session;
    fill(session, 100'000, static_cast<std::size_t>(state.range(0)));
    ResultsModel model(session.results());
    model.SetCheckedForFile(0, false); // the index is built on the first tick
    bool checked = false;
    for (auto _ : state) {
        checked = !checked;
        benchmark::DoNotOptimize(model.SetCheckedForFile(0, checked));
    }
}
BENCHMARK(BM_TickFile)->Arg(1)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The same tick found by comparing every row's path, for comparison.
void BM_TickFileByScan(benchmark::State& state)
{
    SearchSession session;
    fill(session, 100'000, static_cast<std::size_t>(state.range(0)));
    ResultList& list = session.results();
    bool checked = false;
    for (auto _ : state) {
        checked = !checked;
        const std::string path = list.path(0);
        for (std::size_t row = 0; row < list.size(); ++row) {
            if (list.path(row) == path)
                list.setChecked(row, checked);
        }
    }
}
BENCHMARK(BM_TickFileByScan)->Arg(1)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The first tick after a run, which builds the path index.
void BM_FirstTickAfterRun(benchmark::State& state)
{
    SearchSession session;
    ResultsModel model(session.results());
    model.beginResultsUpdate();
    fill(session, 100'000, 1000);
    model.endResultsUpdate();
    for (auto _ : state) {
        state.PauseTiming();
        model.beginResultsUpdate();
        model.endResultsUpdate();
        state.ResumeTiming();
        benchmark::DoNotOptimize(model.SetCheckedForFile(0, true));
    }
}
BENCHMARK(BM_FirstTickAfterRun)->Unit(benchmark::kMillisecond);

// Removing the rows of a delete: a tenth of 100,000 rows spread over the list, or one block.
void BM_RemoveRows(benchmark::State& state)
{
    SearchSession session;
    ResultsModel model(session.results());
    const bool spread = state.range(0) != 0;
    std::vector<std::size_t> positions;
    for (std::size_t k = 0; k < 10'000; ++k)
        positions.push_back(spread ? k * 10 : 50'000 + k);
    for (auto _ : state) {
        state.PauseTiming();
        model.beginResultsUpdate();
        fill(session, 100'000);
        model.endResultsUpdate();
        state.ResumeTiming();
        model.removePositions(positions);
    }
}
BENCHMARK(BM_RemoveRows)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
