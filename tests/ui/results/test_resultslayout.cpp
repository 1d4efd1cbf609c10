// The results window's controls and layout: design places, the list's columns and their widths,
// sorting by a header, the tag columns, and the window taking the main window's place.
#include "platform/settings.h"
#include "resultswindowfixture.h"
#include "ui/results/resultcolumns.h"
#include "ui/results/songtagreader.h"
#include "ui/support/picturebutton.h"
#include "ui/support/twips.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>
#include <array>
#include <memory>

using namespace tunesift;
using tunesift::test::listPaths;
using tunesift::test::ResultsFixture;

namespace {

int twips(const QWidget* widget, int pixels)
{
    return PixelsToTwips(pixels, LogicalDpi(widget));
}

// Empty when every shown column shows its header whole, Type the match words of its rows, and
// together they take the list's width less 400 twips (give or take a pixel per column); otherwise
// what is wrong.
QString columnsFit(ResultsWindow& form)
{
    const auto* header = static_cast<ResultsHeader*>(form.listView().header());
    // The cells' own measure, as the list's delegate gives it.
    const int typeCells =
        static_cast<const QAbstractItemView&>(form.listView()).sizeHintForColumn(4);
    if (header->sectionSize(4) < typeCells)
        return QStringLiteral("Type is %1 px, its cells need %2")
            .arg(header->sectionSize(4))
            .arg(typeCells);
    int total = 0;
    int shown = 0;
    for (int column = 0; column < header->count(); ++column) {
        if (header->isSectionHidden(column))
            continue;
        ++shown;
        total += header->sectionSize(column);
        if (header->sectionSize(column) < header->neededWidth(column))
            return QStringLiteral("column %1 is %2 px, its header needs %3")
                .arg(column)
                .arg(header->sectionSize(column))
                .arg(header->neededWidth(column));
    }
    const int wanted = TwipsToPixels(form.listWidthTwips() - 400, LogicalDpi(&form));
    if (std::abs(total - wanted) > shown)
        return QStringLiteral("the columns take %1 px of %2").arg(total).arg(wanted);
    return {};
}

// A file with a frame header, and the tags given: an ID3v2.3 tag at its start holding the frames
// (id, Latin-1 text) and an ID3v1 tag at its end with title, artist and album.
QString makeTaggedFile(const QTemporaryDir& dir, const QString& name,
                       const std::vector<std::pair<QByteArray, QByteArray>>& frames,
                       const std::array<QByteArray, 3>& trailing)
{
    QByteArray bytes;
    if (!frames.empty()) {
        QByteArray body;
        for (const auto& [id, text] : frames) {
            const auto size = static_cast<char>(text.size() + 1);
            body += id + QByteArray(3, '\0') + size + QByteArray(2, '\0') + '\0' + text;
        }
        bytes =
            QByteArray("ID3\x03\x00\x00\x00\x00\x00", 9) + static_cast<char>(body.size()) + body;
    }
    bytes += QByteArray("\xFF\xFB\x90\x00", 4) + QByteArray(400, '\0');
    if (!trailing[0].isEmpty() || !trailing[1].isEmpty() || !trailing[2].isEmpty()) {
        bytes += "TAG";
        for (const QByteArray& field : trailing)
            bytes += field.leftJustified(30, '\0', true);
        bytes += QByteArray(35, '\0');
    }
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return file.fileName();
}

// Gives the shown window the outer size, in pixels.
void resizeOuter(QWidget& window, QSize outer)
{
    window.resize(outer - (window.frameGeometry().size() - window.size()));
}

// The window states a test runs in, one row each.
void addWindowStates()
{
    QTest::addColumn<int>("state");
    QTest::newRow("normal") << int(Qt::WindowNoState);
    QTest::newRow("maximised") << int(Qt::WindowMaximized);
    QTest::newRow("minimised") << int(Qt::WindowMinimized);
}

} // namespace

class ResultsLayoutTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { test::UseEmptyTestSettings(); }
    void controlsInTheirDesignPlaces();
    void headerClicksSortTheGroups();
    void layoutFollowsTheWindowSize();
    void layoutStepsFailOneByOne();
    void cutTextsShowWhole();
    void columnsFitTheirHeaders();
    void tagColumnsReadWhenShown();
    void helpersSitBesideTheButtonsAndUnderTheList();
    void backFollowsTheWindowState_data();
    void backFollowsTheWindowState();
    void takingThePlaceOfTheMainWindow_data();
    void takingThePlaceOfTheMainWindow();
    void closingEndsTheProgram();
};

void ResultsLayoutTest::controlsInTheirDesignPlaces()
{
    SearchSession session;
    ResultsWindow form(session);
    QVERIFY(!form.isVisible());
    QCOMPARE(form.windowTitle(), QStringLiteral("Tunesift 7.0"));
    QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
    QVERIFY(form.autoFillBackground());

    const double dpi = LogicalDpi(&form);
    struct Expected
    {
        const char* name;
        QRect twips;
        const char* toolTip;
    };
    const Expected controls[] = {
        {"resultsBanner", {-60, -60, 3645, 1380}, ""},
        {"backButton", {3720, 120, 2175, 1095}, ""},
        {"deleteButton", {6000, 120, 2175, 1095}, "Delete checked files."},
        {"clearChecksButton", {8280, 120, 2175, 1095}, "Clear out all checkmarks."},
    };
    for (const Expected& control : controls) {
        auto* widget = form.findChild<QWidget*>(QLatin1String(control.name));
        QVERIFY2(widget, control.name);
        const QRect& t = control.twips;
        QCOMPARE(widget->geometry(), TwipsRect(t.x(), t.y(), t.width(), t.height(), dpi));
        QCOMPARE(widget->toolTip(), QString::fromLatin1(control.toolTip));
    }
    for (const char* button : {"deleteButton", "backButton", "clearChecksButton"})
        QVERIFY(form.findChild<PictureButton*>(QLatin1String(button)));
    QVERIFY(form.findChild<QLabel*>(QStringLiteral("resultsBanner")));

    auto* list = form.findChild<QTreeView*>(QStringLiteral("resultsList"));
    QVERIFY(list);
    QCOMPARE(list, &form.listView());
    QCOMPARE(list->model(), &form.model());
    QCOMPARE(list->x(), TwipsToPixels(120, dpi));
    QCOMPARE(list->y(), TwipsToPixels(1320, dpi));
    QCOMPARE(list->font().family(), QStringLiteral("Arial"));
    QCOMPARE(list->font().pointSize(), 9);
    QCOMPARE(list->font().weight(), QFont::Bold);
    QVERIFY(list->uniformRowHeights());
    QVERIFY(!list->isSortingEnabled());
    QVERIFY(list->header()->sectionsClickable());

    // Tab order: back, delete, clear, the helpers' menu button, list.
    auto* deleteButton = form.findChild<QWidget*>(QStringLiteral("deleteButton"));
    auto* backButton = form.findChild<QWidget*>(QStringLiteral("backButton"));
    auto* clearButton = form.findChild<QWidget*>(QStringLiteral("clearChecksButton"));
    auto* menuButton = form.findChild<QToolButton*>(QStringLiteral("markButton"));
    QVERIFY(menuButton);
    QCOMPARE(backButton->nextInFocusChain(), deleteButton);
    QCOMPARE(deleteButton->nextInFocusChain(), clearButton);
    QCOMPARE(clearButton->nextInFocusChain(), menuButton);
    QCOMPARE(menuButton->nextInFocusChain(), list);

    // Without a hand cursor file beside the program: the pointing hand over buttons and list.
    for (QWidget* widget :
         {deleteButton, backButton, clearButton, static_cast<QWidget*>(list), list->viewport()})
        QCOMPARE(widget->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(form.findChild<QWidget*>(QStringLiteral("resultsBanner"))->cursor().shape(),
             Qt::ArrowCursor);
}

// A click on a header sorts the groups by it, the next reverses, the third brings the search's
// order back; the selected row stays selected, and a new search starts unsorted.
void ResultsLayoutTest::headerClicksSortTheGroups()
{
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/m/zz.mp3", ColorGroup::LightBlue, Criterion::ExactFilename, {128, 100, 10});
    fixture.addRow("/n/zz.mp3", ColorGroup::LightBlue, Criterion::ExactFilename, {128, 100, 10});
    fixture.addRow("/m/aa.mp3", ColorGroup::Blue, Criterion::ExactFilename, {128, 100, 30});
    fixture.addRow("/n/aa.mp3", ColorGroup::Blue, Criterion::ExactFilename, {128, 100, 30});
    fixture.addRow("/m/mm.mp3", ColorGroup::LightBlue, Criterion::ExactFilename, {128, 100, 20});
    fixture.addRow("/n/mm.mp3", ColorGroup::LightBlue, Criterion::ExactFilename, {128, 100, 20});
    ResultsWindow form(session);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTreeView& list = form.listView();
    list.setCurrentIndex(form.model().index(5, 0)); // "/n/mm.mp3"

    QHeaderView* header = list.header();
    const auto click = [&](int section) {
        const QPoint centre(header->sectionViewportPosition(section) + 5, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
    };
    const QStringList searchOrder = listPaths(form);
    click(1); // Size: the largest first
    QCOMPARE(listPaths(form), (QStringList{"/m/aa.mp3", "/n/aa.mp3", "/m/mm.mp3", "/n/mm.mp3",
                                           "/m/zz.mp3", "/n/zz.mp3"}));
    QCOMPARE(header->sortIndicatorSection(), 1);
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    QCOMPARE(list.currentIndex().row(), 3);
    QVERIFY(list.selectionModel()->isRowSelected(3, {}));
    QCOMPARE(columnsFit(form), QString());
    click(1);
    QCOMPARE(listPaths(form), (QStringList{"/m/zz.mp3", "/n/zz.mp3", "/m/mm.mp3", "/n/mm.mp3",
                                           "/m/aa.mp3", "/n/aa.mp3"}));
    click(1);
    QCOMPARE(listPaths(form), searchOrder);
    QCOMPARE(header->sortIndicatorSection(), -1);
    QCOMPARE(list.currentIndex().row(), 5);

    click(0); // Filename: A first
    QCOMPARE(listPaths(form).first(), QStringLiteral("/m/aa.mp3"));
    form.beginResultsUpdate();
    form.endResultsUpdate();
    QCOMPARE(header->sortIndicatorSection(), -1);
    QCOMPARE(listPaths(form), searchOrder);
}

void ResultsLayoutTest::layoutFollowsTheWindowSize()
{
    SearchSession session;
    ResultsWindow form(session);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const double dpi = LogicalDpi(&form);

    // An outer size of 12000 x 7000 twips.
    resizeOuter(form, QSize(TwipsToPixels(12000, dpi), TwipsToPixels(7000, dpi)));
    QTRY_COMPARE(form.frameGeometry().width(), TwipsToPixels(12000, dpi));
    const int outerWidth = twips(&form, form.frameGeometry().width());
    const int outerHeight = twips(&form, form.frameGeometry().height());

    QCOMPARE(form.listWidthTwips(), outerWidth - 360);
    QCOMPARE(form.listHeightTwips(), outerHeight - 2200);
    QCOMPARE(form.listWidthTwips(), 11640);
    const QTreeView& list = form.listView();
    QCOMPARE(list.geometry(), TwipsRect(120, 1320, outerWidth - 360, outerHeight - 2200, dpi));
    QCOMPARE(columnsFit(form), QString());
    const int ruleWidth = list.columnWidth(0);

    // A move keeps the widths the user gave the columns; only a resize applies the rule again.
    form.listView().setColumnWidth(0, 300);
    const QPoint moved = form.pos() + QPoint(40, 30);
    form.move(moved);
    QTRY_COMPARE(form.pos(), moved);
    QCOMPARE(list.columnWidth(0), 300);
    form.resize(form.size() + QSize(15, 0));
    QCOMPARE(list.columnWidth(0), ruleWidth + 15);

    // As small as it goes, every button stays whole and the list shows its header and rows.
    form.resize(1, 1);
    QCOMPARE(form.size(), form.minimumSize());
    for (const char* name : {"deleteButton", "backButton", "clearChecksButton"})
        QVERIFY(form.rect().contains(form.findChild<QWidget*>(QLatin1String(name))->geometry()));
    QVERIFY(form.rect().contains(list.geometry()));
    QVERIFY(list.viewport()->height() >= 3 * list.fontMetrics().height());
}

void ResultsLayoutTest::layoutStepsFailOneByOne()
{
    SearchSession session;
    ResultsWindow form(session);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const double dpi = LogicalDpi(&form);
    // The rule holds below the window's minimum too (a window manager may ignore it).
    form.setMinimumSize(0, 0);
    const auto resizeTo = [&](int width, int height) {
        resizeOuter(form, QSize(width, height));
        QCOMPARE(form.frameGeometry().size(), QSize(width, height));
    };

    resizeTo(800, 600);
    const int wideList = form.listWidthTwips();
    const int tallList = form.listHeightTwips();
    const int wideColumn = form.listView().columnWidth(0);
    const int typeColumn = form.listView().columnWidth(4);
    QCOMPARE(wideList, twips(&form, 800) - 360);
    QCOMPARE(tallList, twips(&form, 600) - 2200);

    // Too narrow for the first column only: the list still follows, the column keeps its width.
    resizeTo(200, 600);
    QCOMPARE(form.listWidthTwips(), twips(&form, 200) - 360);
    QCOMPARE(form.listView().columnWidth(0), wideColumn);
    QCOMPARE(form.listView().columnWidth(4), typeColumn);
    QCOMPARE(form.listView().columnWidth(0), wideColumn);

    // Too small for the list: it keeps its last valid size in that direction only.
    resizeTo(20, 600);
    QCOMPARE(form.listWidthTwips(), twips(&form, 200) - 360);
    QCOMPARE(form.listHeightTwips(), tallList);
    resizeTo(20, 100);
    QCOMPARE(form.listWidthTwips(), twips(&form, 200) - 360);
    QCOMPARE(form.listHeightTwips(), tallList);
    QCOMPARE(form.listView().height(), TwipsToPixels(tallList, dpi));
    resizeTo(600, 100);
    QCOMPARE(form.listWidthTwips(), twips(&form, 600) - 360);
    QCOMPARE(form.listHeightTwips(), tallList);

    // Growing again brings the formulas back.
    resizeTo(800, 600);
    QCOMPARE(form.listWidthTwips(), wideList);
    QCOMPARE(form.listHeightTwips(), tallList);
    QCOMPARE(form.listView().columnWidth(0), wideColumn);
}

// A path the column cannot show whole keeps its file name and shows whole in the tooltip.
void ResultsLayoutTest::cutTextsShowWhole()
{
    SearchSession session;
    ResultsFixture fixture(session);
    const QString path =
        QStringLiteral("/home/listener/Music/A very long folder name/Another long folder name/"
                       "Yet another folder/Track 01 - The Song.mp3");
    fixture.addRow(path.toStdString());
    ResultsWindow form(session);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTreeView& list = form.listView();

    QCOMPARE(list.textElideMode(), Qt::ElideMiddle);
    const QModelIndex cell = form.model().index(0, 0);

    const auto tipAt = [](QWidget* widget, QPoint at) {
        QToolTip::hideText();
        if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }))
            return QStringLiteral("(the last tooltip stayed)");
        QHelpEvent help(QEvent::ToolTip, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QTRY_COMPARE(tipAt(list.viewport(), list.visualRect(cell).center()), path);

    QToolTip::hideText();
}

// No header and no match word is cut, at any width; the design widths hold where they show the
// header, Filename takes the rest; a width the user drags is kept on resize and in the next run,
// until reset.
void ResultsLayoutTest::columnsFitTheirHeaders()
{
    SearchSession session;
    ResultsFixture fixture(session);
    for (int criterion = 0; criterion < kCriterionCount; ++criterion)
        fixture.addRow("/m/" + std::to_string(criterion) + ".mp3", ColorGroup::LightBlue,
                       static_cast<Criterion>(criterion));
    auto form = std::make_unique<ResultsWindow>(session);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const double dpi = LogicalDpi(form.get());
    auto* header = static_cast<ResultsHeader*>(form->listView().header());
    QTreeView* list = &form->listView();

    // "Bitrate" is wider than its design width of 500 twips; "Size" fits its own.
    QVERIFY(header->neededWidth(3) > TwipsToPixels(500, dpi));
    QCOMPARE(list->columnWidth(3), header->neededWidth(3));
    QCOMPARE(list->columnWidth(1), TwipsToPixels(1000, dpi));
    QCOMPARE(columnsFit(*form), QString());
    const int typeWidth = list->columnWidth(4);
    for (const QSize outer : {QSize(1280, 1024), QSize(1920, 1080), QSize(700, 500)}) {
        resizeOuter(*form, outer);
        QCOMPARE(columnsFit(*form), QString());
    }

    // The user drags Bitrate wider and Size narrower than its header allows.
    header->resizeSection(3, 120);
    QCOMPARE(columnsFit(*form), QString());
    header->resizeSection(1, 3);
    QCOMPARE(list->columnWidth(1), header->neededWidth(1));
    form->resize(form->size() + QSize(60, 0));
    QCOMPARE(list->columnWidth(3), 120);
    QCOMPARE(columnsFit(*form), QString());
    const QString bitrate = QStringLiteral("Bitrate=%1").arg(PixelsToTwips(120, dpi));
    QVERIFY(SettingsStore().textList(settingskeys::kResultColumnWidths).contains(bitrate));

    // The next run keeps them; nonsense in the store is no width.
    SettingsStore().setTextList(settingskeys::kResultColumnWidths,
                                {bitrate, "Type=-5", "Size", "Nonsense=900", "Length=x"});
    form = std::make_unique<ResultsWindow>(session);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    list = &form->listView();
    header = static_cast<ResultsHeader*>(list->header());
    QCOMPARE(list->columnWidth(3), 120);
    QCOMPARE(list->columnWidth(4), typeWidth);
    QCOMPARE(columnsFit(*form), QString());

    // Reset from the header's menu: the design widths again, and nothing stored.
    std::unique_ptr<QMenu> menu(form->columns().headerMenu());
    QAction* reset = nullptr;
    for (QAction* action : menu->actions())
        reset = action->text() == QStringLiteral("Reset column widths") ? action : reset;
    QVERIFY(reset && reset->isEnabled());
    reset->trigger();
    QCOMPARE(list->columnWidth(3), header->neededWidth(3));
    QCOMPARE(columnsFit(*form), QString());
    QVERIFY(SettingsStore().textList(settingskeys::kResultColumnWidths).isEmpty());
}

// The tag columns are hidden and nothing is read until one is shown from the header's menu; then
// the files' tags fill the cells (the leading tag's texts first), and the choice is kept.
void ResultsLayoutTest::tagColumnsReadWhenShown()
{
    QTemporaryDir dir;
    const QString both =
        makeTaggedFile(dir, "both.mp3", {{"TIT2", "New Title"}, {"TPE1", "New Band"}},
                       {"Old Title", "Old Band", "Old Album"});
    const QString trailing =
        makeTaggedFile(dir, "trailing.mp3", {}, {"Only Title", "", "Only Album"});
    const QString none = makeTaggedFile(dir, "none.mp3", {}, {"", "", ""});
    SearchSession session;
    ResultsFixture fixture(session);
    for (const QString& path : {both, trailing, none, dir.filePath("gone.mp3"), both})
        fixture.addRow(path.toStdString());
    auto form = std::make_unique<ResultsWindow>(session);
    form->beginResultsUpdate();
    form->endResultsUpdate();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    ResultColumns& columns = form->columns();
    const int artist = static_cast<int>(ResultsModel::Column::Artist);
    const int title = static_cast<int>(ResultsModel::Column::Title);
    for (int column = artist; column <= title; ++column)
        QVERIFY(form->listView().isColumnHidden(column));
    QVERIFY(!form->tagReader().started());

    std::unique_ptr<QMenu> menu(columns.headerMenu());
    QStringList names;
    for (QAction* action : menu->actions()) {
        if (action->isCheckable()) {
            names.append(action->text());
            QVERIFY(!action->isChecked());
        }
    }
    QCOMPARE(names, (QStringList{"Artist", "Album", "Title"}));
    menu->actions().at(0)->trigger();
    menu->actions().at(2)->trigger();
    menu.reset();
    QVERIFY(!form->listView().isColumnHidden(artist));
    QVERIFY(form->listView().isColumnHidden(artist + 1));
    QVERIFY(!form->listView().isColumnHidden(title));
    QCOMPARE(columnsFit(*form), QString());
    QCOMPARE(SettingsStore().textList(settingskeys::kResultTagColumns),
             (QStringList{"Artist", "Title"}));

    const auto cells = [&](int row) {
        QStringList texts;
        for (int column = artist; column <= title; ++column)
            texts.append(form->model().data(form->model().index(row, column)).toString());
        return texts;
    };
    QTRY_VERIFY(!form->tagReader().reading());
    QCOMPARE(cells(0), (QStringList{"New Band", "Old Album", "New Title"}));
    QCOMPARE(cells(1), (QStringList{"", "Only Album", "Only Title"}));
    QCOMPARE(cells(2), (QStringList{"", "", ""}));
    QCOMPARE(cells(3), (QStringList{"", "", ""}));
    QCOMPARE(cells(4), cells(0));

    // A new search forgets them and reads them again; the columns stay as chosen.
    const int titleWidth = form->listView().columnWidth(title);
    form->beginResultsUpdate();
    QVERIFY(!form->tagReader().started());
    form->endResultsUpdate();
    QVERIFY(!form->listView().isColumnHidden(artist));
    QVERIFY(form->listView().isColumnHidden(artist + 1));
    QCOMPARE(form->listView().columnWidth(title), titleWidth);
    QTRY_COMPARE(cells(1), (QStringList{"", "Only Album", "Only Title"}));

    // The next window shows the columns chosen and reads again.
    form->beginResultsUpdate();
    form = std::make_unique<ResultsWindow>(session);
    QVERIFY(!form->listView().isColumnHidden(artist));
    QVERIFY(form->listView().isColumnHidden(artist + 1));
    form->beginResultsUpdate();
    form->endResultsUpdate();
    QTRY_COMPARE(form->model().data(form->model().index(1, title)).toString(),
                 QStringLiteral("Only Title"));
}

void ResultsLayoutTest::helpersSitBesideTheButtonsAndUnderTheList()
{
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/m/a.mp3", ColorGroup::Blue);
    fixture.addRow("/n/a.mp3", ColorGroup::Blue);
    ResultsWindow form(session);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const double dpi = LogicalDpi(&form);

    // The menu button stands right of the three picture buttons, in their row, inside the
    // design width, overlapping nothing. A window too narrow for that (as narrow as the main
    // window's design width, or its least width) has it at the right end of the summary line.
    QToolButton* button = form.actions().menuButton();
    QLabel* summary = form.actions().summaryLine();
    const QRect beside = TwipsRect(10560, 120, 1770, 1095, dpi);
    for (const int width : {form.width(), 1600, TwipsToPixels(10890, dpi), 1}) {
        form.resize(width, form.height());
        QCOMPARE(button->geometry() == beside, width >= TwipsToPixels(12450, dpi));
        QVERIFY(form.rect().contains(button->geometry()));
        QVERIFY(!button->geometry().intersects(summary->geometry()));
        for (const char* name :
             {"resultsBanner", "deleteButton", "backButton", "clearChecksButton", "resultsList"}) {
            const QRect other = form.findChild<QWidget*>(QLatin1String(name))->geometry();
            QVERIFY2(!button->geometry().intersects(other), name);
            QVERIFY2(!summary->geometry().intersects(other), name);
        }
    }
    QCOMPARE(summary->y(), form.listView().geometry().bottom() + 1);
    QVERIFY(summary->geometry().bottom() < form.height());
    QStringList entries;
    for (const QAction* action : button->menu()->actions())
        entries.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(entries, (QStringList{"Tick all but the best", "Keep rules...", "-",
                                   "Undo last delete", "Save list..."}));

    // The summary follows the ticks.
    QCOMPARE(summary->text(), QStringLiteral("2 files in 1 group. No files ticked."));
    form.model().setFileChecked(1, true);
    QTRY_COMPARE(summary->text(),
                 QStringLiteral("2 files in 1 group. 1 file ticked, 4 KB to free."));
}

void ResultsLayoutTest::backFollowsTheWindowState_data()
{
    addWindowStates();
}

void ResultsLayoutTest::backFollowsTheWindowState()
{
    QFETCH(int, state);
    SearchSession session;
    ResultsWindow form(session);
    QWidget mainWindow;
    mainWindow.setGeometry(50, 60, 400, 300);
    form.setMainWindow(&mainWindow);
    form.setGeometry(120, 90, 640, 480);
    form.setWindowState(Qt::WindowStates(state));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form) || state == Qt::WindowMinimized);
    const QPoint place = form.pos();
    const QSize size = form.size();

    auto* back = form.findChild<QAbstractButton*>(QStringLiteral("backButton"));
    if (state == Qt::WindowMinimized)
        form.onBackClicked(); // a minimised window takes no clicks
    else
        QTest::mouseClick(back, Qt::LeftButton);

    if (state == Qt::WindowMinimized) {
        QVERIFY(form.isVisible());
        QVERIFY(!mainWindow.isVisible());
        return;
    }
    QVERIFY(mainWindow.isVisible());
    QVERIFY(!form.isVisible());
    if (state == Qt::WindowMaximized) {
        QVERIFY(mainWindow.isMaximized());
        return;
    }
    QCOMPARE(mainWindow.windowState(), Qt::WindowNoState);
    QCOMPARE(mainWindow.pos(), place);
    QCOMPARE(mainWindow.size(), size);
}

void ResultsLayoutTest::takingThePlaceOfTheMainWindow_data()
{
    addWindowStates();
}

void ResultsLayoutTest::takingThePlaceOfTheMainWindow()
{
    QFETCH(int, state);
    SearchSession session;
    ResultsWindow form(session);
    form.setGeometry(10, 20, 720, 400);
    QWidget mainWindow;
    mainWindow.setGeometry(70, 80, 760, 470);
    mainWindow.setWindowState(Qt::WindowStates(state));
    mainWindow.show();

    form.takePlaceOf(&mainWindow);
    QVERIFY(form.isVisible());
    if (state == Qt::WindowMaximized) {
        QVERIFY(form.isMaximized());
    } else if (state == Qt::WindowMinimized) {
        QCOMPARE(form.windowState(), Qt::WindowNoState);
        QCOMPARE(form.size(), QSize(720, 400));
    } else {
        QCOMPARE(form.windowState(), Qt::WindowNoState);
        QCOMPARE(form.size(), mainWindow.size());
        QCOMPARE(form.pos(), mainWindow.pos());
    }
}

void ResultsLayoutTest::closingEndsTheProgram()
{
    SearchSession session;
    ResultsWindow form(session);
    QWidget mainWindow; // the main window, hidden behind the results
    form.setMainWindow(&mainWindow);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QApplication::setQuitOnLastWindowClosed(false); // only the window itself may end the loop

    bool timedOut = false;
    QTimer::singleShot(0, &form, &QWidget::close);
    QTimer::singleShot(10000, [&timedOut] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!timedOut);
}

int main(int argc, char** argv)
{
    return test::RunWindowTests<ResultsLayoutTest>(argc, argv);
}

#include "test_resultslayout.moc"
