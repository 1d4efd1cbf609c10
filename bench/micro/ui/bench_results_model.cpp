#include "search/catalogue.h"
#include "search/resultlist.h"
#include "search/searchrun.h"
#include "ui/results/resultexport.h"
#include "ui/results/resultsactions.h"
#include "ui/results/resultsmodel.h"
#include "ui/results/resultswindow.h"

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTreeView>
#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace tunesift;

namespace {

constexpr std::size_t kFilesPerFolder = 100;

// Writes `rows` result rows the way a run does: folders of a hundred files, groups of two rows,
// with `sharedRows` of them (spread over the list) standing for one file found again and again.
// With `varied` the bit rates differ within most groups, as real duplicates' do; without, every
// rule ties and the keep rules read every file's modification time. The folders lie under `root`,
// which need not exist.
void fill(SearchSession& session, std::size_t rows, std::size_t sharedRows = 0, bool varied = false,
          const std::string& root = "/home/listener/Music")
{
    session.results().clear();
    Catalogue& catalogue = session.catalogue();
    catalogue.clear();
    std::uint32_t folder = 0;
    for (std::size_t k = 0; k < rows; ++k) {
        if (k % kFilesPerFolder == 0)
            folder =
                catalogue.addFolder(root + "/Artist " + std::to_string(k / kFilesPerFolder) + "/");
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
        row.bitRate = varied ? static_cast<std::int32_t>(128 + 32 * (k % 5)) : 192;
        // Pairs of copies of one recording, as Exact Audio finds them.
        row.group = static_cast<std::uint32_t>(k / 2);
        row.criterion = Criterion::ExactAudio;
        session.results().append(row, (k / 2) % 2 ? ColorGroup::Teal : ColorGroup::LightTeal);
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

// A header's click: the groups sorted by a column (0 path, 1 size, 5 group size, 6 artist with
// no tags read), with a shown list whose current row is selected. The sizes differ from group
// to group, the bit rates within groups. The rows go back to the search's order untimed.
void BM_SortGroups(benchmark::State& state)
{
    SearchSession session;
    const auto rows = static_cast<std::size_t>(state.range(1));
    fill(session, rows, 0, true);
    for (std::size_t row = 0; row < rows; ++row)
        session.results().setColumns(
            row, static_cast<std::int64_t>(4'000'000 + (row / 2) * 7919 % 1'000'003), 215,
            session.results().row(row).bitRate);
    ResultsModel model(session.results());
    QTreeView view;
    view.setUniformRowHeights(true);
    view.setRootIsDecorated(false);
    view.setModel(&model);
    view.resize(800, 500);
    view.show();
    view.setCurrentIndex(model.index(static_cast<int>(rows / 3), 0));
    const int column = static_cast<int>(state.range(0));
    for (auto _ : state) {
        model.sortGroups(column, Qt::DescendingOrder);
        benchmark::DoNotOptimize(view.currentIndex().row());
        state.PauseTiming();
        model.sortGroups(-1, Qt::AscendingOrder);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(1));
}
BENCHMARK(BM_SortGroups)
    ->Args({0, 100'000})
    ->Args({1, 100'000})
    ->Args({5, 100'000})
    ->Args({6, 100'000})
    ->Unit(benchmark::kMillisecond);

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
    model.setFileChecked(0, false); // the index is built on the first tick
    bool checked = false;
    for (auto _ : state) {
        checked = !checked;
        benchmark::DoNotOptimize(model.setFileChecked(0, checked));
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
        benchmark::DoNotOptimize(model.setFileChecked(0, true));
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

// Answers every question with No, so a command that asks never waits.
class NoToAll : public MessageBoxes
{
public:
    MessageAnswer show(QWidget*, const QString&, const QString&, MessageButtons buttons) override
    {
        return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
};

// Makes the files of fill()'s catalogue on disk, empty, so that reading their times costs what it
// does on a user's disk.
void makeFiles(const Catalogue& catalogue)
{
    for (std::uint32_t folder = 0; folder < catalogue.folderCount(); ++folder) {
        const std::u8string text(catalogue.folderText(folder).begin(),
                                 catalogue.folderText(folder).end());
        std::filesystem::create_directories(std::filesystem::path(text));
    }
    for (std::size_t entry = 0; entry < catalogue.count(); ++entry) {
        const std::string path = catalogue.path(entry);
        std::ofstream(std::filesystem::path(std::u8string(path.begin(), path.end())));
    }
}

// The results window over 100,000 rows, as the helpers' commands meet it. Without `varied`, the
// files exist, so that the keep rules' reading of modification times is measured.
struct HelperBench
{
    explicit HelperBench(bool varied = true)
    {
        form.beginResultsUpdate();
        if (varied) {
            fill(session, 100'000, 1000, varied);
        } else {
            fill(session, 100'000, 1000, varied, files.path().toStdString());
            makeFiles(session.catalogue());
        }
        form.endResultsUpdate();
        form.actions().setMessageBoxes(&boxes);
        form.resize(900, 600);
        form.show();
    }
    void select(int row)
    {
        form.listView().selectionModel()->setCurrentIndex(form.model().index(row, 0),
                                                          QItemSelectionModel::ClearAndSelect |
                                                              QItemSelectionModel::Rows);
    }
    void trigger(ResultsActions::Command command) { form.actions().action(command)->trigger(); }

    QTemporaryDir files;
    SearchSession session;
    ResultsWindow form{session};
    NoToAll boxes;
};

// Tick all but the best: bit rates that tell most files apart (0), or a tie on every rule that
// reads each file's modification time from disk: pressed before the background reading that
// starts when the list fills has read anything (1), after it has read them all (3, the usual
// case: a user needs longer to reach the button), and pressed again (2).
void BM_TickAllButBest(benchmark::State& state)
{
    HelperBench bench(state.range(0) == 0);
    bench.form.actions().waitForFileTimes();
    bench.trigger(ResultsActions::Command::TickAllButBest);
    for (auto _ : state) {
        state.PauseTiming();
        bench.form.model().clearChecks();
        if (state.range(0) == 1 || state.range(0) == 3)
            bench.form.actions().forgetResults();
        if (state.range(0) == 3) {
            bench.form.actions().resultsFilled();
            bench.form.actions().waitForFileTimes();
        }
        state.ResumeTiming();
        bench.trigger(ResultsActions::Command::TickAllButBest);
    }
}
BENCHMARK(BM_TickAllButBest)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

// What the window does when a search has filled the list besides the model's refill: the copy
// of the files' folders and names that the background reading works from. The reading itself
// is stopped at once.
void BM_StartFileTimes(benchmark::State& state)
{
    HelperBench bench;
    for (auto _ : state) {
        bench.form.actions().resultsFilled();
        state.PauseTiming();
        bench.form.actions().forgetResults();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartFileTimes)->Unit(benchmark::kMillisecond);

// The row commands on one row of a 100,000-row list.
void BM_RowCommand(benchmark::State& state)
{
    HelperBench bench;
    bench.select(50'001);
    const auto command = static_cast<ResultsActions::Command>(state.range(0));
    for (auto _ : state)
        bench.trigger(command);
    state.SetLabel(bench.form.actions().action(command)->text().toStdString());
}
BENCHMARK(BM_RowCommand)
    ->Arg(static_cast<int>(ResultsActions::Command::KeepThisOne))
    ->Arg(static_cast<int>(ResultsActions::Command::TickAllInFolder))
    ->Arg(static_cast<int>(ResultsActions::Command::TickSelected))
    ->Unit(benchmark::kMillisecond);

// Space on every row (Ctrl+A first): ticks or unticks all 100,000.
void BM_ToggleAll(benchmark::State& state)
{
    HelperBench bench;
    bench.form.listView().selectAll();
    for (auto _ : state)
        bench.form.actions().toggleSelected();
}
BENCHMARK(BM_ToggleAll)->Unit(benchmark::kMillisecond);

// The summary line, counted anew after a change.
void BM_Summary(benchmark::State& state)
{
    HelperBench bench;
    bench.form.model().setFileChecked(0, true);
    for (auto _ : state)
        bench.form.actions().refreshSummary();
}
BENCHMARK(BM_Summary)->Unit(benchmark::kMillisecond);

// The checks before "Delete checked" with every row ticked: protected folders, then the groups
// that would lose every copy (all of them; the question is answered No).
void BM_PlanDelete(benchmark::State& state)
{
    HelperBench bench;
    std::vector<std::size_t> all(100'000);
    for (std::size_t k = 0; k < all.size(); ++k)
        all[k] = k;
    for (auto _ : state)
        benchmark::DoNotOptimize(bench.form.actions().planDelete(all));
}
BENCHMARK(BM_PlanDelete)->Unit(benchmark::kMillisecond);

// Saving the list as CSV (0) or JSON lines (1), without the disk.
void BM_Export(benchmark::State& state)
{
    HelperBench bench;
    const auto format = state.range(0) == 0 ? ExportFormat::Csv : ExportFormat::JsonLines;
    for (auto _ : state)
        benchmark::DoNotOptimize(ExportResults(bench.form.model(), format));
}
BENCHMARK(BM_Export)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Undo's part in the list: 10,000 removed rows spread over the list brought back.
void BM_RestoreRows(benchmark::State& state)
{
    HelperBench bench;
    std::vector<std::size_t> positions;
    for (std::size_t k = 0; k < 10'000; ++k)
        positions.push_back(k * 10);
    for (auto _ : state) {
        state.PauseTiming();
        const auto records = bench.form.model().rowRecords(positions);
        bench.form.model().removePositions(positions);
        state.ResumeTiming();
        bench.form.model().restoreRows(records);
    }
}
BENCHMARK(BM_RestoreRows)->Unit(benchmark::kMillisecond);

// The row context menu, built as it opens.
void BM_ContextMenu(benchmark::State& state)
{
    HelperBench bench;
    bench.select(50'001);
    for (auto _ : state)
        delete bench.form.actions().contextMenu();
}
BENCHMARK(BM_ContextMenu)->Unit(benchmark::kMillisecond);

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
