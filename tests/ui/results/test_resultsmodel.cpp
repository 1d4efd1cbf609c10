#include "keep/keepbest.h"
#include "resultsfixture.h"
#include "ui/results/resultexport.h"
#include "ui/results/resultsmodel.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <set>

using namespace tunesift;
using tunesift::test::ResultsFixture;

namespace {

std::optional<ColorGroup> groupNamed(const QString& name)
{
    for (int k = 0; k <= static_cast<int>(ColorGroup::LightTeal); ++k) {
        const auto group = static_cast<ColorGroup>(k);
        if (QString::fromStdString(std::string(ColorGroupName(group))) == name)
            return group;
    }
    return std::nullopt;
}

// Every row the dataChanged signals of the spy cover, checking that each stays in column 0 and
// names only the check state.
std::set<int> checkRowsReported(const QSignalSpy& spy)
{
    std::set<int> rows;
    for (const QList<QVariant>& signal : spy) {
        const auto topLeft = signal.at(0).value<QModelIndex>();
        const auto bottomRight = signal.at(1).value<QModelIndex>();
        const auto roles = signal.at(2).value<QList<int>>();
        if (topLeft.column() != 0 || bottomRight.column() != 0 ||
            roles != QList<int>{Qt::CheckStateRole})
            return {-1};
        for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
            rows.insert(row);
    }
    return rows;
}

std::vector<std::string> paths(const ResultsModel& model)
{
    std::vector<std::string> result;
    for (int row = 0; row < model.rowCount(); ++row)
        result.push_back(model.pathOf(static_cast<std::size_t>(row)));
    return result;
}

} // namespace

class ResultsModelTest : public QObject
{
    Q_OBJECT
private slots:
    void shadesFollowTheColourTable_data();
    void shadesFollowTheColourTable();
    void columnsShowTheRowTexts();
    void passesTheModelTester();
    void tickReachesEveryRowOfExactlyThatPath();
    void propagationAfterRefillUsesTheNewRows();
    void clearingUnticksAllAndKeepsShades();
    void removalKeepsTheOthersInOrder();
    void manyScatteredRemovalsKeepOrderAndTicks();
    void colourResetReachesEveryRow();
    void listIsNotReadDuringAnUpdate();
    void groupsAreShownAndOutliveTheReset();
    void removedRowsComeBackWithTheirGroups();
    void savedRowsCarryGroupAndTick();
    void sortingKeepsGroupsTogether_data();
    void sortingKeepsGroupsTogether();
    void sortedRowsKeepTicksRemovalsAndUndo();
};

void ResultsModelTest::shadesFollowTheColourTable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("shade"); // invalid: the list's own colours

    QTest::newRow("blue") << "blue" << QColor(212, 234, 255);
    QTest::newRow("light blue") << "light blue" << QColor(242, 242, 255);
    QTest::newRow("light green") << "light green" << QColor(242, 255, 242);
    QTest::newRow("green") << "green" << QColor(212, 255, 212);
    QTest::newRow("light red") << "light red" << QColor(255, 213, 212);
    QTest::newRow("red") << "red" << QColor(255, 212, 234);
    QTest::newRow("orange") << "orange" << QColor(255, 219, 184);
    QTest::newRow("light orange") << "light orange" << QColor(255, 233, 213);
    QTest::newRow("purple") << "purple" << QColor(218, 184, 255);
    QTest::newRow("light purple") << "light purple" << QColor(232, 212, 255);
    QTest::newRow("teal") << "teal" << QColor(168, 226, 218);
    QTest::newRow("light teal") << "light teal" << QColor(212, 243, 238);
    QTest::newRow("white") << "white" << QColor();
    QTest::newRow("empty") << "" << QColor();
}

void ResultsModelTest::shadesFollowTheColourTable()
{
    QFETCH(QString, name);
    QFETCH(QColor, shade);
    const std::optional<ColorGroup> group = groupNamed(name);
    QVERIFY2(group.has_value(), qPrintable(name));

    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/music/a.mp3", *group);
    ResultsModel model(session.results());

    for (int column = 0; column < model.columnCount(); ++column) {
        const QModelIndex cell = model.index(0, column);
        const QVariant background = model.data(cell, Qt::BackgroundRole);
        const QVariant foreground = model.data(cell, Qt::ForegroundRole);
        if (!shade.isValid()) {
            QVERIFY(!background.isValid());
            QVERIFY(!foreground.isValid());
            continue;
        }
        QCOMPARE(background.value<QBrush>().color(), shade);
        QCOMPARE(foreground.value<QBrush>().color(), QColor(0, 0, 0));
    }
}

void ResultsModelTest::columnsShowTheRowTexts()
{
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/music/one/Song.mp3", ColorGroup::Red, Criterion::ExactFilesize);
    ResultsModel model(session.results());

    const QStringList expectedHeaders{"Filename", "Size",   "Length", "Bitrate", "Type",
                                      "Group",    "Artist", "Album",  "Title"};
    QCOMPARE(model.columnCount(), expectedHeaders.size());
    for (int column = 0; column < model.columnCount(); ++column)
        QCOMPARE(model.headerData(column, Qt::Horizontal).toString(), expectedHeaders[column]);

    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("/music/one/Song.mp3"));
    QCOMPARE(model.data(model.index(0, 3)).toString(), QStringLiteral("128"));
    QCOMPARE(model.data(model.index(0, 4)).toString(), QStringLiteral("Size"));
    QVERIFY(!model.data(model.index(0, 1)).toString().isEmpty());
    QVERIFY(!model.data(model.index(0, 2)).toString().isEmpty());

    // The tag columns stay empty until the file's tags are known, and show them once told.
    for (int column = 6; column < 9; ++column)
        QCOMPARE(model.data(model.index(0, column)).toString(), QString());
    SongTags tags{"Artist \u00e9", "Album", ""};
    const SongTags* known = nullptr;
    model.setTagLookup([&](std::uint32_t id) { return id == 0 ? known : nullptr; });
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    known = &tags;
    model.tagsChanged();
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed[0].at(0).value<QModelIndex>(), model.index(0, 6));
    QCOMPARE(changed[0].at(1).value<QModelIndex>(), model.index(0, 8));
    QCOMPARE(model.data(model.index(0, 6)).toString(), QStringLiteral("Artist \u00e9"));
    QCOMPARE(model.data(model.index(0, 7)).toString(), QStringLiteral("Album"));
    QCOMPARE(model.data(model.index(0, 8)).toString(), QString());

    // Only the first column carries the tick, and nothing can be edited in place.
    QVERIFY(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsUserCheckable));
    QCOMPARE(model.data(model.index(0, 0), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    for (int column = 1; column < model.columnCount(); ++column) {
        QVERIFY(!model.flags(model.index(0, column)).testFlag(Qt::ItemIsUserCheckable));
        QVERIFY(!model.data(model.index(0, column), Qt::CheckStateRole).isValid());
        QVERIFY(!model.setData(model.index(0, column), Qt::Checked, Qt::CheckStateRole));
    }
    for (int column = 0; column < model.columnCount(); ++column)
        QVERIFY(!model.flags(model.index(0, column)).testFlag(Qt::ItemIsEditable));
}

void ResultsModelTest::passesTheModelTester()
{
    SearchSession session;
    ResultsFixture fixture(session);
    for (int k = 0; k < 40; ++k)
        fixture.addRow("/m/" + std::to_string(k % 13) + ".mp3",
                       k % 2 ? ColorGroup::Green : ColorGroup::LightGreen);
    ResultsModel model(session.results());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    model.setData(model.index(3, 0), Qt::Checked, Qt::CheckStateRole);
    model.setFileChecked(3, true);
    model.removePositions({0, 3, 4, 5, 20, 39});
    model.resetColors(ColorGroup::White);
    model.clearChecks();

    model.beginResultsUpdate();
    fixture.clear();
    for (int k = 0; k < 100; ++k)
        fixture.addRow("/n/" + std::to_string(k % 7) + ".mp3");
    model.endResultsUpdate();
    QCOMPARE(model.rowCount(), 100);

    std::vector<std::size_t> everyOther;
    for (std::size_t k = 0; k < 100; k += 2)
        everyOther.push_back(k);
    model.removePositions(everyOther);
    QCOMPARE(model.rowCount(), 50);
}

void ResultsModelTest::tickReachesEveryRowOfExactlyThatPath()
{
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/m/a.mp3");  // 0
    fixture.addRow("/m/b.mp3");  // 1
    fixture.addRow("/m/A.mp3");  // 2: differs only in letter case
    fixture.addRow("/m/a.mp3");  // 3
    fixture.addRow("/m/c.mp3");  // 4
    fixture.addRow("/m/a.mp3");  // 5
    fixture.addRow("/m/a.mp3 "); // 6: a longer text
    ResultsModel model(session.results());
    model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole);

    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    QCOMPARE(model.setFileChecked(3, true), std::size_t{3});
    const std::vector<bool> expected{true, true, false, true, false, true, false};
    for (std::size_t row = 0; row < expected.size(); ++row)
        QCOMPARE(model.isChecked(row), expected[row]);
    QCOMPARE(checkRowsReported(changes), (std::set<int>{0, 3, 5}));

    // Unticking from any of its rows unticks all of them; the other file keeps its tick.
    changes.clear();
    QCOMPARE(model.setFileChecked(5, false), std::size_t{3});
    for (const std::size_t row : {0, 3, 5})
        QVERIFY(!model.isChecked(row));
    QVERIFY(model.isChecked(1));
    QCOMPARE(checkRowsReported(changes), (std::set<int>{0, 3, 5}));

    // A tick set through the view changes its own row and reports it once; the window carries
    // it further, so the model reports no change for a second, equal tick.
    QSignalSpy toggles(&model, &ResultsModel::itemCheck);
    QVERIFY(model.setData(model.index(2, 0), Qt::Checked, Qt::CheckStateRole));
    QVERIFY(model.setData(model.index(2, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(toggles.size(), 1);
    QCOMPARE(toggles.front().at(0).toInt(), 2);
    QCOMPARE(toggles.front().at(1).toBool(), true);
    QVERIFY(!model.isChecked(0));
}

void ResultsModelTest::propagationAfterRefillUsesTheNewRows()
{
    SearchSession session;
    ResultsFixture fixture(session);
    for (int k = 0; k < 6; ++k)
        fixture.addRow(k % 2 ? "/m/x.mp3" : "/m/y.mp3");
    ResultsModel model(session.results());
    model.setFileChecked(0, true); // builds the path index

    model.beginResultsUpdate();
    fixture.clear();
    fixture.addRow("/n/p.mp3");
    fixture.addRow("/n/q.mp3");
    fixture.addRow("/n/p.mp3");
    model.endResultsUpdate();

    QCOMPARE(model.setFileChecked(0, true), std::size_t{2});
    QVERIFY(model.isChecked(0));
    QVERIFY(!model.isChecked(1));
    QVERIFY(model.isChecked(2));

    // Rows that closed up after a removal still find their own file's rows.
    model.removePositions({0});
    QCOMPARE(model.pathOf(0), std::string("/n/q.mp3"));
    QCOMPARE(model.setFileChecked(1, false), std::size_t{1});
    QCOMPARE(model.setFileChecked(0, true), std::size_t{1});
    QVERIFY(model.isChecked(0));
    QVERIFY(!model.isChecked(1));
}

void ResultsModelTest::clearingUnticksAllAndKeepsShades()
{
    SearchSession session;
    ResultsFixture fixture(session);
    for (int k = 0; k < 5; ++k)
        fixture.addRow("/m/" + std::to_string(k) + ".mp3", ColorGroup::Orange);
    ResultsModel model(session.results());
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);

    model.clearChecks();
    QCOMPARE(changes.size(), 0);

    model.setFileChecked(1, true);
    model.setFileChecked(3, true);
    changes.clear();
    model.clearChecks();
    QCOMPARE(model.checkedRows(), std::vector<std::size_t>{});
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.front().at(2).value<QList<int>>(), QList<int>{Qt::CheckStateRole});
    QCOMPARE(model.data(model.index(2, 0), Qt::BackgroundRole).value<QBrush>().color(),
             QColor(255, 219, 184));
}

void ResultsModelTest::removalKeepsTheOthersInOrder()
{
    SearchSession session;
    ResultsFixture fixture(session);
    for (int k = 1; k <= 8; ++k)
        fixture.addRow("/m/" + std::to_string(k) + ".mp3");
    ResultsModel model(session.results());
    model.setFileChecked(2, true); // former row 3 keeps its tick
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

    // Rows 2, 5 and 6 counted from 1.
    model.removePositions({1, 4, 5});
    QCOMPARE(paths(model), (std::vector<std::string>{"/m/1.mp3", "/m/3.mp3", "/m/4.mp3", "/m/7.mp3",
                                                     "/m/8.mp3"}));
    QCOMPARE(model.checkedRows(), std::vector<std::size_t>{1});
    // Two ranged removals, the later rows first.
    QCOMPARE(removed.size(), 2);
    QCOMPARE(removed.at(0).at(1).toInt(), 4);
    QCOMPARE(removed.at(0).at(2).toInt(), 5);
    QCOMPARE(removed.at(1).at(1).toInt(), 1);
    QCOMPARE(removed.at(1).at(2).toInt(), 1);
}

void ResultsModelTest::manyScatteredRemovalsKeepOrderAndTicks()
{
    SearchSession session;
    ResultsFixture fixture(session);
    const int n = 1000;
    for (int k = 0; k < n; ++k)
        fixture.addRow("/m/" + std::to_string(k) + ".mp3");
    ResultsModel model(session.results());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    std::vector<std::size_t> removeEveryThird;
    for (std::size_t k = 0; k < n; k += 3)
        removeEveryThird.push_back(k);
    model.setFileChecked(4, true);
    model.removePositions(removeEveryThird);

    std::vector<std::string> expected;
    for (int k = 0; k < n; ++k) {
        if (k % 3 != 0)
            expected.push_back("/m/" + std::to_string(k) + ".mp3");
    }
    QCOMPARE(paths(model), expected);
    QCOMPARE(model.checkedRows(), std::vector<std::size_t>{2}); // former row 4
}

void ResultsModelTest::colourResetReachesEveryRow()
{
    SearchSession session;
    ResultsFixture fixture(session);
    const int n = 10100; // past the 10,002 slots an older reset covered
    for (int k = 0; k < n; ++k)
        fixture.addRow("/m/" + std::to_string(k) + ".mp3", ColorGroup::Purple);
    ResultsModel model(session.results());
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);

    model.resetColors(ColorGroup::White);
    for (const int row : {0, 10001, 10002, n - 1}) {
        QVERIFY(!model.data(model.index(row, 0), Qt::BackgroundRole).isValid());
        QVERIFY(!model.data(model.index(row, 4), Qt::ForegroundRole).isValid());
    }
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.front().at(1).value<QModelIndex>().row(), n - 1);
}

void ResultsModelTest::listIsNotReadDuringAnUpdate()
{
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/m/a.mp3");
    ResultsModel model(session.results());
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

    model.beginResultsUpdate();
    QCOMPARE(model.rowCount(), 0);
    // The run empties the list on its own thread now; nothing of the model may touch its rows.
    fixture.clear();
    QCOMPARE(model.setFileChecked(0, true), std::size_t{0});
    model.clearChecks();
    model.resetColors(ColorGroup::White);
    QCOMPARE(model.checkedRows(), std::vector<std::size_t>{});
    fixture.addRow("/m/b.mp3");
    fixture.addRow("/m/c.mp3");
    model.endResultsUpdate();

    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(resets.size(), 2);
    QCOMPARE(model.data(model.index(1, 0)).toString(), QStringLiteral("/m/c.mp3"));
}

void ResultsModelTest::groupsAreShownAndOutliveTheReset()
{
    SearchSession session;
    ResultsFixture fixture(session);
    using C = Criterion;
    using G = ColorGroup;
    fixture.addRow("/m/a.mp3", G::Blue, C::ExactFilename);      // group 0
    fixture.addRow("/n/a.mp3", G::Blue, C::ExactFilename);      // group 0
    fixture.addRow("/m/b.mp3", G::LightBlue, C::ExactFilename); // group 1
    fixture.addRow("/n/b.mp3", G::LightBlue, C::ExactFilename); // group 1
    fixture.addRow("/m/a.mp3", G::LightBlue, C::ExactFilesize); // group 2: another word
    fixture.addRow("/m/b.mp3", G::LightBlue, C::ExactFilesize); // group 2
    fixture.addRow("/m/c.mp3", G::Orange, C::ExactTag);         // group 3
    fixture.addRow("/m/d.mp3", G::Purple, C::SimilarTag);       // group 4: same word, shade
    ResultsModel model(session.results());
    model.beginResultsUpdate();
    model.endResultsUpdate();
    const std::vector<std::uint32_t> expected{0, 0, 1, 1, 2, 2, 3, 4};
    QCOMPARE(model.duplicateGroups(), expected);
    const auto groupColumn = [&] {
        QStringList numbers;
        for (int row = 0; row < model.rowCount(); ++row)
            numbers.append(
                model.data(model.index(row, int(ResultsModel::Column::Group))).toString());
        return numbers.join(QLatin1Char(' '));
    };
    QCOMPARE(model.headerData(int(ResultsModel::Column::Group), Qt::Horizontal).toString(),
             QStringLiteral("Group"));
    QCOMPARE(groupColumn(), QStringLiteral("1 1 2 2 3 3 4 5"));

    // The delete command's reset makes every row "white"; the groups stay, also through a
    // removal, which leaves neighbouring groups in one shade.
    model.resetColors(ColorGroup::White);
    QCOMPARE(model.duplicateGroups(), expected);
    model.removePositions({1, 4});
    QCOMPARE(model.duplicateGroups(), (std::vector<std::uint32_t>{0, 1, 1, 2, 3, 4}));
    QCOMPARE(groupColumn(), QStringLiteral("1 2 2 3 4 5"));
}

void ResultsModelTest::removedRowsComeBackWithTheirGroups()
{
    SearchSession session;
    ResultsFixture fixture(session);
    for (int k = 0; k < 8; ++k)
        fixture.addRow("/m/" + std::to_string(k) + ".mp3",
                       k / 2 % 2 ? ColorGroup::Red : ColorGroup::LightRed);
    ResultsModel model(session.results());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const std::vector<std::uint32_t> groups = model.duplicateGroups();
    const std::vector<std::string> before = paths(model);

    const std::vector<std::size_t> gone{0, 3, 4, 7};
    const std::vector<ResultsModel::RowRecord> records = model.rowRecords(gone);
    model.removePositions(gone);
    model.resetColors(ColorGroup::White);
    model.restoreRows(records);
    QCOMPARE(paths(model), before);
    QCOMPARE(model.duplicateGroups(), groups);
    for (const ResultsModel::RowRecord& record : records)
        QCOMPARE(record.color, record.position / 2 % 2 ? ColorGroup::Red : ColorGroup::LightRed);
}

void ResultsModelTest::savedRowsCarryGroupAndTick()
{
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/m/a, \"live\".mp3", ColorGroup::Blue, Criterion::ExactFilename,
                   {192, 75, 1536});
    fixture.addRow("/n/line\nbreak.mp3", ColorGroup::Blue, Criterion::ExactFilename,
                   {192, 75, 1536});
    fixture.addRow("/m/b.mp3", ColorGroup::LightRed, Criterion::ExactFilesize, {192, 75, 1536});
    ResultsModel model(session.results());
    model.setFileChecked(1, true);

    QCOMPARE(QString::fromStdString(ExportResults(model, ExportFormat::Csv)),
             QStringLiteral("path,size,sizeText,length,bitrate,type,group,groupNumber,ticked\r\n"
                            "\"/m/a, \"\"live\"\".mp3\",1536,2 KB,01:15,192,Name,blue,1,False\r\n"
                            "\"/n/line\nbreak.mp3\",1536,2 KB,01:15,192,Name,blue,1,True\r\n"
                            "/m/b.mp3,1536,2 KB,01:15,192,Size,light red,2,False\r\n"));
    const QString jsonl = QString::fromStdString(ExportResults(model, ExportFormat::JsonLines));
    QCOMPARE(jsonl.section(QLatin1Char('\n'), 1, 1),
             QStringLiteral("{\"path\":\"/n/line\\nbreak.mp3\",\"size\":1536,\"sizeText\":\"2 "
                            "KB\",\"length\":\"01:15\",\"bitrate\":192,\"type\":\"Name\",\"group\":"
                            "\"blue\",\"groupNumber\":1,\"ticked\":true}"));
    QCOMPARE(jsonl.count(QLatin1Char('\n')), 3);
}

QTEST_MAIN(ResultsModelTest)
#include "test_resultsmodel.moc"

namespace {

// Four groups, the first with a row written after the others (a partner found later), the
// paths' first letters in mixed case.
void fillSortRows(ResultsFixture& fixture)
{
    using test::RowFacts;
    const auto blue = ColorGroup::LightBlue;
    const Criterion name = Criterion::ExactFilename;
    fixture.addRow("/m/Delta.mp3", blue, name, RowFacts{192, 100, 3000}, 0);
    fixture.addRow("/n/Delta.mp3", blue, name, RowFacts{192, 100, 3100}, 0);
    fixture.addRow("/m/alpha.mp3", ColorGroup::Blue, name, RowFacts{128, 300, 9000}, 1);
    fixture.addRow("/n/alpha.mp3", ColorGroup::Blue, name, RowFacts{128, 300, 9000}, 1);
    fixture.addRow("/o/alpha.mp3", ColorGroup::Blue, name, RowFacts{128, 300, 9000}, 1);
    fixture.addRow("/m/Charlie.mp3", ColorGroup::LightRed, Criterion::ExactFilesize,
                   RowFacts{320, 400, 1000}, 2);
    fixture.addRow("/n/charlie2.mp3", ColorGroup::LightRed, Criterion::ExactFilesize,
                   RowFacts{320, 400, 1000}, 2);
    fixture.addRow("/p/Delta.mp3", blue, name, RowFacts{192, 100, 3000}, 0);
    for (const char* folder : {"m", "n", "o", "p"})
        fixture.addRow(std::string("/") + folder + "/bravo.mp3", ColorGroup::LightOrange,
                       Criterion::ExactTag, RowFacts{64, 50, 9000}, 3);
}

// The groups in the order shown, each once; empty when some group's rows are apart or out of
// the order they were written in.
QString groupsShown(const ResultsModel& model)
{
    QStringList groups;
    std::set<std::uint32_t> done;
    const ResultList& list = model.list();
    for (std::size_t row = 0; row < list.size(); ++row) {
        const std::uint32_t group = list.row(row).group;
        if (row > 0 && list.row(row - 1).group == group) {
            if (list.row(row - 1).written > list.row(row).written)
                return QStringLiteral("rows of group %1 out of order").arg(group);
            continue;
        }
        if (!done.insert(group).second)
            return QStringLiteral("group %1 apart").arg(group);
        groups.append(QString::number(group));
    }
    return groups.join(QLatin1Char(' '));
}

} // namespace

void ResultsModelTest::sortingKeepsGroupsTogether_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("order");
    QTest::addColumn<QString>("groups");

    const int asc = Qt::AscendingOrder;
    const int desc = Qt::DescendingOrder;
    // Texts without regard to case: alpha, bravo, Charlie, Delta.
    QTest::newRow("path") << 0 << asc << "1 3 2 0";
    QTest::newRow("path, reversed") << 0 << desc << "0 2 3 1";
    // Equal sizes keep the search's order both ways.
    QTest::newRow("size, largest first") << 1 << desc << "1 3 0 2";
    QTest::newRow("size") << 1 << asc << "2 0 1 3";
    QTest::newRow("length") << 2 << desc << "2 1 0 3";
    QTest::newRow("bit rate") << 3 << desc << "2 0 1 3";
    QTest::newRow("type") << 4 << asc << "3 0 1 2";
    QTest::newRow("group size, largest first") << 5 << desc << "3 0 1 2";
    QTest::newRow("group size") << 5 << asc << "2 0 1 3";
    QTest::newRow("artist, unread tags empty") << 6 << asc << "2 3 1 0";
}

void ResultsModelTest::sortingKeepsGroupsTogether()
{
    QFETCH(int, column);
    QFETCH(int, order);
    QFETCH(QString, groups);

    SearchSession session;
    ResultsFixture fixture(session);
    fillSortRows(fixture);
    ResultsModel model(session.results());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const std::vector<SongTags> tags{{"Zed", "", ""}, {}, {"Ann", "", ""}, {"Ann", "", ""}};
    model.setTagLookup([&](std::uint32_t file) {
        // Files 0, 2, 3 ("/m/Delta", "/m/alpha", "/n/alpha") have tags; the rest are unread.
        return file < tags.size() && file != 1 ? &tags[file] : nullptr;
    });
    const std::vector<std::string> searchOrder = paths(model);
    std::vector<ColorGroup> searchColors;
    for (std::size_t row = 0; row < searchOrder.size(); ++row)
        searchColors.push_back(session.results().color(row));
    QCOMPARE(groupsShown(model), QStringLiteral("group 0 apart")); // the late partner

    model.sortGroups(column, static_cast<Qt::SortOrder>(order));
    QCOMPARE(groupsShown(model), groups);
    QCOMPARE(model.sortColumn(), column);
    // Neighbouring groups in opposite shades of their criterion's colours, the first light.
    bool dark = false;
    for (int row = 0; row < model.rowCount(); ++row) {
        const ResultRow& shown = model.list().row(static_cast<std::size_t>(row));
        if (row > 0 && model.list().row(static_cast<std::size_t>(row - 1)).group != shown.group)
            dark = !dark;
        QCOMPARE(model.data(model.index(row, 2), Qt::BackgroundRole).value<QBrush>().color(),
                 *RowShade(ColorGroupOf(shown.criterion, dark)));
    }

    // Back to the search's order: the rows and their own shades as the search left them.
    model.sortGroups(-1, Qt::AscendingOrder);
    QCOMPARE(paths(model), searchOrder);
    for (std::size_t row = 0; row < searchOrder.size(); ++row) {
        QCOMPARE(session.results().color(row), searchColors[row]);
        QCOMPARE(model.data(model.index(static_cast<int>(row), 0), Qt::BackgroundRole)
                     .value<QBrush>()
                     .color(),
                 *RowShade(searchColors[row]));
    }
}

// Ticks go with the rows; removals and an undo while sorted leave every row in its place.
void ResultsModelTest::sortedRowsKeepTicksRemovalsAndUndo()
{
    SearchSession session;
    ResultsFixture fixture(session);
    fillSortRows(fixture);
    ResultsModel model(session.results());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const std::vector<std::string> searchOrder = paths(model);
    QPersistentModelIndex late(model.index(7, 0)); // "/p/Delta.mp3"
    model.setFileChecked(7, true);

    model.sortGroups(1, Qt::DescendingOrder);
    QCOMPARE(late.row(), 9);
    QCOMPARE(model.pathOf(9), std::string("/p/Delta.mp3"));
    QCOMPARE(model.checkedRows(), std::vector<std::size_t>{9});
    // A tick after the sort still reaches every row of the file, wherever it stands.
    model.setFileChecked(static_cast<std::size_t>(model.rowCount() - 1), true); // Charlie2
    QCOMPARE(model.checkedRows(), (std::vector<std::size_t>{9, 11}));

    // Delete the rows of "alpha" and one of "bravo" while sorted by size, undo while sorted by
    // path, Z to A: each row comes back to its place in the order of now, shade and all.
    const ResultsModel::Shading before = model.shading();
    const std::vector<std::size_t> gone{0, 1, 2, 4};
    const std::vector<ResultsModel::RowRecord> records = model.rowRecords(gone);
    model.removePositions(gone);
    model.resetColors(ColorGroup::White);
    QCOMPARE(groupsShown(model), QStringLiteral("3 0 2"));
    model.sortGroups(0, Qt::DescendingOrder);
    QCOMPARE(groupsShown(model), QStringLiteral("0 2 3"));
    model.restoreRows(records);
    model.setShading(before);
    QCOMPARE(groupsShown(model), QStringLiteral("0 2 3 1"));
    model.sortGroups(-1, Qt::AscendingOrder);
    QCOMPARE(paths(model), searchOrder);
    QCOMPARE(session.results().color(0), ColorGroup::LightBlue);
    QCOMPARE(session.results().color(2), ColorGroup::Blue);
    QCOMPARE(session.results().color(11), ColorGroup::LightOrange);
    QCOMPARE(model.checkedRows(), (std::vector<std::size_t>{6, 7}));
}
