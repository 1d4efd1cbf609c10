#include "mainfixture.h"
#include "platform/recyclingbin.h"
#include "platform/settings.h"
#include "resultsfixture.h"
#include "ui/results/keeprulesdialog.h"
#include "ui/results/resultcolumns.h"
#include "ui/results/resultsactions.h"
#include "ui/results/resultsmodel.h"
#include "ui/results/resultswindow.h"
#include "ui/results/songplayer.h"
#include "ui/results/songtagreader.h"
#include "ui/support/picturebutton.h"
#include "ui/support/twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>
#include <memory>

using namespace tunesift;
using tunesift::test::RecordingMessageBoxes;
using tunesift::test::ResultsFixture;

namespace {

// Stands in for the user and the trash: answers the question from a script, "moves" a file by
// deleting it unless told to refuse it, or hands it to the real trash.
class ScriptedRecycleBin : public RecycleBinHost
{
public:
    bool confirmMove(const QStringList& paths) override
    {
        questions.append(paths);
        return agree;
    }
    bool moveToTrash(const QString& path, QString* pathInTrash) override
    {
        moveRequests.append(path);
        if (useRealTrash)
            return RecycleBinHost::moveToTrash(path, pathInTrash);
        if (refuse.contains(path))
            return false;
        return onlyPretend || QFile::remove(path);
    }
    void reportFailures(const QStringList& paths) override { failureReports.append(paths); }

    bool agree = true;
    bool useRealTrash = false;
    bool onlyPretend = false; // "moves" files that were never made, without touching the disk
    QStringList refuse;
    QList<QStringList> questions;
    QStringList moveRequests;
    QList<QStringList> failureReports;
};

QString makeFile(const QTemporaryDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write("\xFF\xFB\x90\x00 not much of a song", 24);
    return path;
}

QStringList listPaths(ResultsWindow& form)
{
    QStringList result;
    for (int row = 0; row < form.model().rowCount(); ++row)
        result.append(form.model().pathText(static_cast<std::size_t>(row)));
    return result;
}

// Plays nothing: keeps what it was asked to play, or says it cannot.
class RecordingPlayer : public SongPlayer
{
public:
    bool play(const QString& path, QString* whyNot) override
    {
        played.append(path);
        if (!whyNot_.isEmpty()) {
            *whyNot = whyNot_;
            return false;
        }
        playing = true;
        return true;
    }
    void stop() override { playing = false; }
    bool isPlaying() const override { return playing; }

    QStringList played;
    QString whyNot_;
    bool playing = false;
};

// Answers every question of the window's helpers with Yes, keeping the texts.
struct YesToAll : RecordingMessageBoxes
{
    YesToAll()
    {
        onShow = [](const Shown&) { return MessageAnswer::Yes; };
    }
};

int twips(const QWidget* widget, int pixels)
{
    return PixelsToTwips(pixels, LogicalDpi(widget));
}

// Empty when every shown column shows its header whole and together they take the list's width
// less 400 twips (give or take a pixel per column); otherwise what is wrong.
QString columnsFit(ResultsWindow& form)
{
    const auto* header = static_cast<ResultsHeader*>(form.listView().header());
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

} // namespace

class ResultsWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void controlsInTheirDesignPlaces();
    void headerClicksSortTheGroups();
    void layoutFollowsTheWindowSize();
    void layoutStepsFailOneByOne();
    void cutTextsShowWhole();
    void columnsFitTheirHeaders();
    void tagColumnsReadWhenShown();
    void spaceOnARowTicksTheWholeFile();
    void deleteMovesEachCheckedFileOnce();
    void deleteRemovesExactlyTheRowsOfGoneFiles();
    void declinedDeleteKeepsRowsAndTicksButNotShades();
    void deleteWithNothingCheckedAsksNothing();
    void deleteHasNoLimitOnCheckedRows();
    void deleteIntoTheRealTrash();
    void clearButtonUnticksEveryRow();
    void backFollowsTheWindowState_data();
    void backFollowsTheWindowState();
    void takingThePlaceOfTheMainWindow_data();
    void takingThePlaceOfTheMainWindow();
    void closingEndsTheProgram();
    void init() { test::UseEmptyTestSettings(); }
    void helpersSitBesideTheButtonsAndUnderTheList();
    void tickAllButTheBestFollowsTheRulesAndTheEvidence();
    void oldestRuleReadsTheDiskOnceFilled();
    void deleteSparesProtectedFilesAndAsksBeforeLastCopies();
    void protectedFolderReachedThroughALink();
    void firstUseAsksOnceForTheKeepersFolder();
    void undoPutsFilesAndRowsBack();
    void undoRestoresOnlyWhatItMoved();
    void failedUndoCanBeTriedAgain();
    void rowCommandsAndKeys();
    void openFallsBackToXdgOpenAndSaysWhenNothingCan();
    void rowHelpersLeaveUnprovenGroupsAndSaySo();
    void playListensBeforeDeciding();
    void keepRulesDialogStoresOrderAndSwitches();
};

void ResultsWindowTest::controlsInTheirDesignPlaces()
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
void ResultsWindowTest::headerClicksSortTheGroups()
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

void ResultsWindowTest::layoutFollowsTheWindowSize()
{
    SearchSession session;
    ResultsWindow form(session);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const double dpi = LogicalDpi(&form);
    const QSize frame = form.frameGeometry().size() - form.size();

    // An outer size of 12000 x 7000 twips.
    form.resize(QSize(TwipsToPixels(12000, dpi), TwipsToPixels(7000, dpi)) - frame);
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

// A path the column cannot show whole keeps its file name and shows whole in the tooltip.
void ResultsWindowTest::cutTextsShowWhole()
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

// No header is cut, at any width; the design widths hold where they show the header, Filename
// takes the rest; a width the user drags is kept on resize and in the next run, until reset.
void ResultsWindowTest::columnsFitTheirHeaders()
{
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/m/one.mp3");
    auto form = std::make_unique<ResultsWindow>(session);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const double dpi = LogicalDpi(form.get());
    auto* header = static_cast<ResultsHeader*>(form->listView().header());
    QTreeView* list = &form->listView();

    // "Bitrate" is wider than its design width of 500 twips; "Size" and "Type" fit theirs.
    QVERIFY(header->neededWidth(3) > TwipsToPixels(500, dpi));
    QCOMPARE(list->columnWidth(3), header->neededWidth(3));
    QCOMPARE(list->columnWidth(1), TwipsToPixels(1000, dpi));
    QCOMPARE(list->columnWidth(4), TwipsToPixels(1100, dpi));
    QCOMPARE(columnsFit(*form), QString());
    for (const QSize outer : {QSize(1280, 1024), QSize(1920, 1080), QSize(700, 500)}) {
        form->resize(outer - (form->frameGeometry().size() - form->size()));
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
    QCOMPARE(list->columnWidth(4), TwipsToPixels(1100, dpi));
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

namespace {

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

} // namespace

// The tag columns are hidden and nothing is read until one is shown from the header's menu; then
// the files' tags fill the cells (the leading tag's texts first), and the choice is kept.
void ResultsWindowTest::tagColumnsReadWhenShown()
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

void ResultsWindowTest::layoutStepsFailOneByOne()
{
    SearchSession session;
    ResultsWindow form(session);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const double dpi = LogicalDpi(&form);
    const QSize frame = form.frameGeometry().size() - form.size();
    // Gives the window the outer size, in pixels; the rule holds below the window's minimum too
    // (a window manager may ignore it).
    form.setMinimumSize(0, 0);
    const auto resizeOuter = [&](int width, int height) {
        form.resize(QSize(width, height) - frame);
        QCOMPARE(form.frameGeometry().size(), QSize(width, height));
    };

    resizeOuter(800, 600);
    const int wideList = form.listWidthTwips();
    const int tallList = form.listHeightTwips();
    const int wideColumn = form.listView().columnWidth(0);
    QCOMPARE(wideList, twips(&form, 800) - 360);
    QCOMPARE(tallList, twips(&form, 600) - 2200);

    // Too narrow for the first column only: the list still follows, the column keeps its width.
    resizeOuter(200, 600);
    QCOMPARE(form.listWidthTwips(), twips(&form, 200) - 360);
    QCOMPARE(form.listView().columnWidth(0), wideColumn);
    QCOMPARE(form.listView().columnWidth(4), TwipsToPixels(1100, dpi));
    QCOMPARE(form.listView().columnWidth(0), wideColumn);

    // Too small for the list: it keeps its last valid size in that direction only.
    resizeOuter(20, 600);
    QCOMPARE(form.listWidthTwips(), twips(&form, 200) - 360);
    QCOMPARE(form.listHeightTwips(), tallList);
    resizeOuter(20, 100);
    QCOMPARE(form.listWidthTwips(), twips(&form, 200) - 360);
    QCOMPARE(form.listHeightTwips(), tallList);
    QCOMPARE(form.listView().height(), TwipsToPixels(tallList, dpi));
    resizeOuter(600, 100);
    QCOMPARE(form.listWidthTwips(), twips(&form, 600) - 360);
    QCOMPARE(form.listHeightTwips(), tallList);

    // Growing again brings the formulas back.
    resizeOuter(800, 600);
    QCOMPARE(form.listWidthTwips(), wideList);
    QCOMPARE(form.listHeightTwips(), tallList);
    QCOMPARE(form.listView().columnWidth(0), wideColumn);
}

void ResultsWindowTest::spaceOnARowTicksTheWholeFile()
{
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/m/a.mp3");
    fixture.addRow("/m/b.mp3");
    fixture.addRow("/m/a.mp3");
    fixture.addRow("/m/A.mp3");
    fixture.addRow("/m/a.mp3");
    ResultsWindow form(session);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QTreeView& list = form.listView();
    list.setFocus();
    list.setCurrentIndex(form.model().index(2, 0));
    QTest::keyClick(&list, Qt::Key_Space);
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{0, 2, 4}));

    list.setCurrentIndex(form.model().index(4, 0));
    QTest::keyClick(&list, Qt::Key_Space);
    QCOMPARE(form.model().checkedRows(), std::vector<std::size_t>{});
}

void ResultsWindowTest::deleteMovesEachCheckedFileOnce()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString a = makeFile(dir, "a.mp3");
    const QString b = makeFile(dir, "b.mp3");
    const QString c = makeFile(dir, "c.mp3");

    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow(a.toStdString(), ColorGroup::LightBlue); // 0
    fixture.addRow(b.toStdString(), ColorGroup::LightBlue); // 1
    fixture.addRow(c.toStdString(), ColorGroup::Blue);      // 2
    fixture.addRow(a.toStdString(), ColorGroup::Red);       // 3
    ResultsWindow form(session);
    ScriptedRecycleBin bin;
    form.setRecycleBinHost(&bin);
    YesToAll boxes;
    form.actions().setMessageBoxes(&boxes);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    form.model().setFileChecked(0, true);
    form.model().setFileChecked(1, true);
    QTest::mouseClick(form.findChild<QWidget*>(QStringLiteral("deleteButton")), Qt::LeftButton);

    // Checked rows a, b, a: each path once, from its last checked row.
    QCOMPARE(bin.questions, (QList<QStringList>{{b, a}}));
    QCOMPARE(bin.moveRequests, (QStringList{b, a}));
    QVERIFY(bin.failureReports.isEmpty());
    QCOMPARE(listPaths(form), QStringList{c});
    QVERIFY(!form.model().isChecked(0));
    QVERIFY(!form.model().data(form.model().index(0, 0), Qt::BackgroundRole).isValid());
}

void ResultsWindowTest::deleteRemovesExactlyTheRowsOfGoneFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString stuck = makeFile(dir, "stuck.mp3");
    const QString moved = makeFile(dir, "moved.mp3");
    const QString kept = makeFile(dir, "kept.mp3");
    const QString vanished = dir.filePath("vanished.mp3"); // gone before the request

    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow(stuck.toStdString());    // 0: topmost checked, cannot be moved
    fixture.addRow(kept.toStdString());     // 1: not checked
    fixture.addRow(moved.toStdString());    // 2
    fixture.addRow(vanished.toStdString()); // 3
    fixture.addRow(stuck.toStdString());    // 4
    fixture.addRow(moved.toStdString());    // 5
    ResultsWindow form(session);
    ScriptedRecycleBin bin;
    bin.refuse = {stuck};
    form.setRecycleBinHost(&bin);
    YesToAll boxes;
    form.actions().setMessageBoxes(&boxes);

    for (const std::size_t row : {0, 2, 3})
        form.model().setFileChecked(row, true);
    form.onDeleteClicked();

    QCOMPARE(bin.moveRequests, (QStringList{vanished, stuck, moved}));
    QCOMPARE(bin.failureReports.size(), 1);
    QVERIFY(bin.failureReports.front().contains(stuck));
    QVERIFY(!bin.failureReports.front().contains(moved));
    QVERIFY(QFile::exists(stuck));
    QVERIFY(!QFile::exists(moved));
    // The file that stayed keeps both its rows, still checked; the gone ones lose theirs.
    QCOMPARE(listPaths(form), (QStringList{stuck, kept, stuck}));
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{0, 2}));
}

void ResultsWindowTest::declinedDeleteKeepsRowsAndTicksButNotShades()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString a = makeFile(dir, "a.mp3");
    const QString b = makeFile(dir, "b.mp3");
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow(a.toStdString(), ColorGroup::Green);
    fixture.addRow(b.toStdString(), ColorGroup::LightGreen);
    ResultsWindow form(session);
    ScriptedRecycleBin bin;
    bin.agree = false;
    form.setRecycleBinHost(&bin);
    YesToAll boxes;
    form.actions().setMessageBoxes(&boxes);

    form.model().setFileChecked(0, true);
    form.model().setFileChecked(1, true);
    form.onDeleteClicked();

    QCOMPARE(bin.questions.size(), 1);
    QVERIFY(bin.moveRequests.isEmpty());
    QVERIFY(bin.failureReports.isEmpty());
    QVERIFY(QFile::exists(a) && QFile::exists(b));
    QCOMPARE(listPaths(form), (QStringList{a, b}));
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{0, 1}));
    for (int row = 0; row < 2; ++row)
        QVERIFY(!form.model().data(form.model().index(row, 2), Qt::BackgroundRole).isValid());
}

void ResultsWindowTest::deleteWithNothingCheckedAsksNothing()
{
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/nowhere/a.mp3", ColorGroup::Purple);
    ResultsWindow form(session);
    ScriptedRecycleBin bin;
    form.setRecycleBinHost(&bin);
    YesToAll boxes;
    form.actions().setMessageBoxes(&boxes);

    form.onDeleteClicked();
    QVERIFY(bin.questions.isEmpty());
    QVERIFY(bin.moveRequests.isEmpty());
    QCOMPARE(form.model().rowCount(), 1);
    QVERIFY(!form.model().data(form.model().index(0, 0), Qt::BackgroundRole).isValid());
}

void ResultsWindowTest::deleteHasNoLimitOnCheckedRows()
{
    // The files are never made: the bin only pretends to move them, and a row whose file is not
    // on disk after the move goes, as after a real one. Making and removing thousands of files
    // would test the disk, not the command.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SearchSession session;
    ResultsFixture fixture(session);
    const int files = 5200;
    for (int k = 0; k < files; ++k)
        fixture.addRow(dir.filePath(QStringLiteral("%1.mp3").arg(k)).toStdString());
    fixture.addRow(dir.filePath("unchecked.mp3").toStdString());
    ResultsWindow form(session);
    ScriptedRecycleBin bin;
    bin.onlyPretend = true;
    form.setRecycleBinHost(&bin);
    YesToAll boxes;
    form.actions().setMessageBoxes(&boxes);
    for (std::size_t row = 0; row < files; ++row)
        form.model().setFileChecked(row, true);

    form.onDeleteClicked();
    QCOMPARE(bin.questions.size(), 1);
    QCOMPARE(bin.questions.front().size(), files);
    QCOMPARE(bin.moveRequests.size(), files);
    QCOMPARE(form.model().rowCount(), 1);
    QCOMPARE(form.model().pathText(0), dir.filePath("unchecked.mp3"));
}

void ResultsWindowTest::deleteIntoTheRealTrash()
{
    // main() pointed HOME and XDG_DATA_HOME into a scratch folder, so this trash is a test one.
    const QString trash =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    QVERIFY2(trash.startsWith(QDir::homePath()), qPrintable(trash));
    QTemporaryDir dir(QDir::homePath() + "/music-XXXXXX");
    QVERIFY(dir.isValid());
    const QString song = makeFile(dir, "Song To Trash.mp3");
    const QString other = makeFile(dir, "Other.mp3");

    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow(song.toStdString());
    fixture.addRow(other.toStdString());
    ResultsWindow form(session);
    ScriptedRecycleBin bin;
    bin.useRealTrash = true;
    form.setRecycleBinHost(&bin);
    YesToAll boxes;
    form.actions().setMessageBoxes(&boxes);
    form.model().setFileChecked(0, true);
    form.onDeleteClicked();

    QVERIFY(bin.failureReports.isEmpty());
    QVERIFY(!QFile::exists(song));
    QVERIFY(QFile::exists(trash + "/files/Song To Trash.mp3"));
    QVERIFY(QFile::exists(trash + "/info/Song To Trash.mp3.trashinfo"));
    QCOMPARE(listPaths(form), QStringList{other});
}

void ResultsWindowTest::clearButtonUnticksEveryRow()
{
    SearchSession session;
    ResultsFixture fixture(session);
    for (int k = 0; k < 6; ++k)
        fixture.addRow("/m/" + std::to_string(k % 4) + ".mp3", ColorGroup::LightOrange);
    ResultsWindow form(session);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.model().setFileChecked(1, true);
    form.model().setFileChecked(2, true);
    QCOMPARE(form.model().checkedRows().size(), std::size_t{3});

    QTest::mouseClick(form.findChild<QWidget*>(QStringLiteral("clearChecksButton")),
                      Qt::LeftButton);
    QCOMPARE(form.model().checkedRows(), std::vector<std::size_t>{});
    QCOMPARE(form.model().rowCount(), 6);
    QVERIFY(form.model().data(form.model().index(5, 0), Qt::BackgroundRole).isValid());
}

void ResultsWindowTest::backFollowsTheWindowState_data()
{
    QTest::addColumn<int>("state");
    QTest::newRow("normal") << int(Qt::WindowNoState);
    QTest::newRow("maximised") << int(Qt::WindowMaximized);
    QTest::newRow("minimised") << int(Qt::WindowMinimized);
}

void ResultsWindowTest::backFollowsTheWindowState()
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

void ResultsWindowTest::takingThePlaceOfTheMainWindow_data()
{
    QTest::addColumn<int>("state");
    QTest::newRow("normal") << int(Qt::WindowNoState);
    QTest::newRow("maximised") << int(Qt::WindowMaximized);
    QTest::newRow("minimised") << int(Qt::WindowMinimized);
}

void ResultsWindowTest::takingThePlaceOfTheMainWindow()
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

void ResultsWindowTest::closingEndsTheProgram()
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

void ResultsWindowTest::helpersSitBesideTheButtonsAndUnderTheList()
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

void ResultsWindowTest::tickAllButTheBestFollowsTheRulesAndTheEvidence()
{
    using C = Criterion;
    using G = ColorGroup;
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/m/a.mp3", G::Teal, C::ExactAudio, {320, 100, 1});      // 0, group 1
    fixture.addRow("/n/a.mp3", G::Teal, C::ExactAudio, {128, 200, 1});      // 1
    fixture.addRow("/k/a.mp3", G::Teal, C::ExactAudio, {64, 50, 1});        // 2
    fixture.addRow("/n/a.mp3", G::LightTeal, C::ExactAudio, {128, 200, 1}); // 3, group 2
    fixture.addRow("/o/b.mp3", G::LightTeal, C::ExactAudio, {128, 300, 1}); // 4
    fixture.addRow("/p/c.mp3", G::Red, C::ExactFilesize, {128, 300, 1});    // 5, group 3
    fixture.addRow("/q/d.mp3", G::Red, C::ExactFilesize, {320, 300, 1});    // 6
    ResultsWindow form(session);
    RecordingMessageBoxes boxes;
    form.actions().setMessageBoxes(&boxes);
    QAction* tick = form.actions().action(ResultsActions::Command::TickAllButBest);
    QCOMPARE(tick->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));

    // Bit rate first: /m kept in group 1; in group 2 /n and /o tie on bit rate and /o wins on
    // playing time. /n, kept nowhere, is ticked in both its rows. Group 3, found only by size,
    // is left alone.
    tick->trigger();
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{1, 2, 3}));

    // /k protected: its copy is the keeper of group 1 whatever the rules say, so both other
    // copies are ticked there.
    SettingsStore settings;
    settings.setText(settingskeys::kKeepRuleOrder, QStringLiteral("Length,Bitrate"));
    settings.setTextList(settingskeys::kProtectedFolders, QStringList{"/k"});
    tick->trigger();
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{0, 1, 3}));

    // Playing time switched off: in group 2 /n and /o tie under every other rule (same size,
    // neither on disk, paths of one length), so the earlier row wins, and a file kept in one
    // group is ticked in none.
    settings.setText(settingskeys::kKeepRulesOff, QStringLiteral("Length"));
    tick->trigger();
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{0, 4}));

    // Asked for in Keep rules, the size group is acted in too.
    settings.writeBool(settingskeys::kTickUnprovenGroups, true);
    tick->trigger();
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{0, 4, 5}));
    QVERIFY(boxes.shown.isEmpty());

    // A search without an audio criterion: the helper says so and ticks nothing unless the
    // user asks for the weaker criteria this once; the question defaults to No.
    settings.writeBool(settingskeys::kTickUnprovenGroups, false);
    settings.sync();
    form.beginResultsUpdate();
    fixture.clear();
    fixture.addRow("/p/c.mp3", G::Red, C::ExactFilesize, {128, 300, 1});
    fixture.addRow("/q/d.mp3", G::Red, C::ExactFilesize, {320, 300, 1});
    form.endResultsUpdate();
    tick->trigger();
    QVERIFY(form.model().checkedRows().empty());
    QCOMPARE(boxes.shown.size(), 1);
    QVERIFY(boxes.shown[0].defaultNo);
    QVERIFY2(boxes.shown[0].text.contains(QStringLiteral("Tick Exact Audio for the next search")),
             qPrintable(boxes.shown[0].text));
    boxes.onShow = [](const RecordingMessageBoxes::Shown&) { return MessageAnswer::Yes; };
    tick->trigger();
    QCOMPARE(form.model().checkedRows(), std::vector<std::size_t>{0});
    QCOMPARE(boxes.shown.size(), 2);
}

void ResultsWindowTest::oldestRuleReadsTheDiskOnceFilled()
{
    // Every rule but the oldest ties: the file written first is kept, a file gone from the disk
    // counts as the newest. The times are the same whether the reading that starts when the list
    // fills has finished, or the command reads them itself.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("n")));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    SearchSession session;
    ResultsFixture fixture(session);
    for (const auto& [name, age] :
         {std::pair{"old.mp3", 300}, {"gone.mp3", -1}, {"n/new.mp3", 10}, {"mid.mp3", 200}}) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        if (age >= 0) {
            QFile file(makeFile(dir, QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(now.addSecs(-age), QFileDevice::FileModificationTime));
        }
        fixture.addRow(path.toStdString(), ColorGroup::Teal, Criterion::ExactAudio);
    }
    SettingsStore().setText(settingskeys::kKeepRuleOrder, QStringLiteral("Oldest"));
    ResultsWindow form(session);
    QAction* tick = form.actions().action(ResultsActions::Command::TickAllButBest);
    for (const bool readBefore : {true, false}) {
        form.actions().forgetResults();
        form.model().clearChecks();
        if (readBefore) {
            form.beginResultsUpdate();
            form.endResultsUpdate();
            form.actions().waitForFileTimes();
        }
        tick->trigger();
        QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{1, 2, 3}));
    }
}

void ResultsWindowTest::deleteSparesProtectedFilesAndAsksBeforeLastCopies()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("safe")));
    const QString a = makeFile(dir, "a.mp3");
    const QString b = makeFile(dir, "b.mp3");
    const QString c = makeFile(dir, "c.mp3");
    const QString safe = makeFile(dir, "safe/a.mp3");
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow(a.toStdString(), ColorGroup::Blue);      // group 1
    fixture.addRow(safe.toStdString(), ColorGroup::Blue);   // group 1
    fixture.addRow(b.toStdString(), ColorGroup::LightBlue); // group 2
    fixture.addRow(c.toStdString(), ColorGroup::LightBlue); // group 2
    ResultsWindow form(session);
    ScriptedRecycleBin bin;
    form.setRecycleBinHost(&bin);
    RecordingMessageBoxes boxes; // says No to questions
    form.actions().setMessageBoxes(&boxes);
    SettingsStore().setTextList(settingskeys::kProtectedFolders, {dir.filePath("safe")});
    for (std::size_t row = 0; row < 4; ++row)
        form.model().setFileChecked(row, true);

    // The protected copy stays, so group 1 keeps a file; group 2 would lose both. No: nothing
    // moves; rows, ticks and shading stay.
    form.onDeleteClicked();
    QCOMPARE(boxes.shown.size(), 2);
    QCOMPARE(boxes.shown[0].text,
             QStringLiteral("1 ticked file is inside a protected folder. It stays where it is."));
    QCOMPARE(boxes.shown[1].buttons, MessageButtons::YesNo);
    QVERIFY(boxes.shown[1].defaultNo);
    QCOMPARE(boxes.shown[1].text, QStringLiteral("1 group would lose every copy of its file:\n\n"
                                                 "Group 2: b.mp3\n\nDelete them anyway?"));
    QVERIFY(bin.questions.isEmpty());
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{0, 1, 2, 3}));
    QVERIFY(form.model().data(form.model().index(0, 0), Qt::BackgroundRole).isValid());

    // Yes: every ticked file but the protected one goes; its row stays ticked.
    boxes.onShow = [](const RecordingMessageBoxes::Shown&) { return MessageAnswer::Yes; };
    form.onDeleteClicked();
    QCOMPARE(bin.moveRequests, (QStringList{a, b, c}));
    QVERIFY(QFile::exists(safe));
    QCOMPARE(listPaths(form), QStringList{safe});
    QCOMPARE(form.model().checkedRows(), std::vector<std::size_t>{0});
}

void ResultsWindowTest::protectedFolderReachedThroughALink()
{
    // The library is listed through a link, and protected by its real path (and the other way
    // round): its copy is the keeper, never ticked and never moved.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("music/Library")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Backup")));
    QVERIFY(QFile::link(dir.filePath("music/Library"), dir.filePath("lib")));
    const QString library = makeFile(dir, "music/Library/a.mp3");
    const QString backup = makeFile(dir, "Backup/a.mp3");
    const QString throughLink = dir.filePath("lib/a.mp3");
    for (const QString& protectedFolder : {dir.filePath("music/Library"), dir.filePath("lib")}) {
        test::UseEmptyTestSettings();
        SearchSession session;
        ResultsFixture fixture(session);
        fixture.addRow(throughLink.toStdString(), ColorGroup::Teal, Criterion::ExactAudio);
        fixture.addRow(backup.toStdString(), ColorGroup::Teal, Criterion::ExactAudio);
        fixture.addRow(library.toStdString(), ColorGroup::LightTeal, Criterion::ExactAudio);
        fixture.addRow(backup.toStdString(), ColorGroup::LightTeal, Criterion::ExactAudio);
        ResultsWindow form(session);
        ScriptedRecycleBin bin;
        bin.onlyPretend = true;
        form.setRecycleBinHost(&bin);
        YesToAll boxes;
        form.actions().setMessageBoxes(&boxes);
        SettingsStore().setTextList(settingskeys::kProtectedFolders, {protectedFolder});

        form.actions().action(ResultsActions::Command::TickAllButBest)->trigger();
        QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{1, 3}));
        form.model().setFileChecked(0, true);
        form.model().setFileChecked(2, true);
        form.onDeleteClicked();
        QCOMPARE(bin.moveRequests, QStringList{backup});
        QCOMPARE(boxes.shown.first().text,
                 QStringLiteral("2 ticked files are inside protected folders. They stay where "
                                "they are."));
    }
}

void ResultsWindowTest::firstUseAsksOnceForTheKeepersFolder()
{
    SearchSession session;
    session.setListedFolders({"/Library", "/Backup", "/Library"});
    ResultsFixture fixture(session);
    fixture.addRow("/Library/a.mp3", ColorGroup::Teal, Criterion::ExactAudio);
    fixture.addRow("/Backup/a.mp3", ColorGroup::Teal, Criterion::ExactAudio);
    ResultsWindow form(session);
    QList<QStringList> asked;
    form.actions().setKeepFolderChooser([&](QWidget*, const QStringList& folders) {
        asked.append(folders);
        return std::optional<QString>(QStringLiteral("/Library"));
    });
    QAction* tick = form.actions().action(ResultsActions::Command::TickAllButBest);

    // Asked which folder holds the keepers, the organised library is kept rather than the
    // backup with its shorter path.
    tick->trigger();
    QCOMPARE(asked, (QList<QStringList>{{"/Library", "/Backup"}}));
    QCOMPARE(form.model().checkedRows(), std::vector<std::size_t>{1});
    QCOMPARE(SettingsStore().textList(settingskeys::kPreferredFolders), QStringList{"/Library"});

    // Once only, also when the user removes the folder again.
    SettingsStore().setTextList(settingskeys::kPreferredFolders, {});
    tick->trigger();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(form.model().checkedRows(), std::vector<std::size_t>{0});
}

void ResultsWindowTest::undoPutsFilesAndRowsBack()
{
    if (!CanRestoreFromTrash())
        QSKIP("undo is hidden where the trash keeps no records the program reads");
    QTemporaryDir dir(QDir::homePath() + "/music-XXXXXX");
    QVERIFY(dir.isValid());
    const QString a = makeFile(dir, "a.mp3");
    const QString b = makeFile(dir, "b.mp3");
    const QString c = makeFile(dir, "c.mp3");
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow(a.toStdString(), ColorGroup::Blue);      // 0
    fixture.addRow(b.toStdString(), ColorGroup::Blue);      // 1
    fixture.addRow(c.toStdString(), ColorGroup::LightBlue); // 2
    fixture.addRow(a.toStdString(), ColorGroup::LightBlue); // 3
    ResultsWindow form(session);
    ScriptedRecycleBin bin;
    bin.useRealTrash = true;
    form.setRecycleBinHost(&bin);
    YesToAll boxes;
    form.actions().setMessageBoxes(&boxes);
    QAction* undo = form.actions().action(ResultsActions::Command::UndoDelete);
    QVERIFY(!undo->isEnabled());

    form.model().setFileChecked(0, true);
    form.model().setFileChecked(2, true);
    form.onDeleteClicked();
    QCOMPARE(listPaths(form), QStringList{b});
    QVERIFY(undo->isEnabled());

    // c's place is taken meanwhile: it stays in the trash and its row stays away; a comes back
    // with both its rows in their places and groups, unticked.
    boxes.shown.clear();
    QVERIFY(!makeFile(dir, "c.mp3").isEmpty());
    undo->trigger();
    QVERIFY(QFile::exists(a));
    QCOMPARE(listPaths(form), (QStringList{a, b, a}));
    QCOMPARE(form.model().duplicateGroups(), (std::vector<std::uint32_t>{0, 0, 1}));
    // Every row on the list has its shade of before the delete again.
    QCOMPARE(form.model().colors(),
             (std::vector<ColorGroup>{ColorGroup::Blue, ColorGroup::Blue, ColorGroup::LightBlue}));
    QVERIFY(form.model().checkedRows().empty());
    QCOMPARE(boxes.shown.size(), 1);
    QVERIFY(boxes.shown[0].text.contains(c));
    QVERIFY(!boxes.shown[0].text.contains(a));
    QVERIFY(undo->isEnabled()); // c may still come back
}

void ResultsWindowTest::undoRestoresOnlyWhatItMoved()
{
    if (!CanRestoreFromTrash())
        QSKIP("undo is hidden where the trash keeps no records the program reads");
    QTemporaryDir dir(QDir::homePath() + "/music-XXXXXX");
    QVERIFY(dir.isValid());
    const QString a = makeFile(dir, "a.mp3");
    const QString b = makeFile(dir, "b.mp3");
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow(a.toStdString(), ColorGroup::Teal, Criterion::ExactAudio);
    fixture.addRow(b.toStdString(), ColorGroup::Teal, Criterion::ExactAudio);
    ResultsWindow form(session);
    ScriptedRecycleBin bin;
    bin.useRealTrash = true;
    form.setRecycleBinHost(&bin);
    YesToAll boxes;
    form.actions().setMessageBoxes(&boxes);
    form.model().setFileChecked(0, true);
    form.onDeleteClicked();
    const QString trash =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    QVERIFY(QFile::exists(trash + "/files/a.mp3"));

    // The trash is emptied, and another program trashes another a.mp3 from the same place: it
    // takes the same name in the trash, with a record naming the same place.
    QVERIFY(QFile::remove(trash + "/files/a.mp3"));
    QVERIFY(QFile::remove(trash + "/info/a.mp3.trashinfo"));
    {
        QFile other(a);
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("another song altogether, longer than the first one");
    }
    QString otherInTrash;
    QVERIFY(QFile::moveToTrash(a, &otherInTrash));
    QVERIFY(QFile::exists(trash + "/files/a.mp3"));

    // Undo leaves that file where it is and says so; a's row stays away.
    boxes.shown.clear();
    form.actions().action(ResultsActions::Command::UndoDelete)->trigger();
    QVERIFY(!QFile::exists(a));
    QVERIFY(QFile::exists(trash + "/files/a.mp3"));
    QCOMPARE(listPaths(form), QStringList{b});
    QCOMPARE(boxes.shown.size(), 1);
    QVERIFY2(boxes.shown[0].text.contains(a), qPrintable(boxes.shown[0].text));
}

void ResultsWindowTest::failedUndoCanBeTriedAgain()
{
    if (!CanRestoreFromTrash())
        QSKIP("undo is hidden where the trash keeps no records the program reads");
    QTemporaryDir dir(QDir::homePath() + "/music-XXXXXX");
    QVERIFY(dir.isValid());
    const QString a = makeFile(dir, "a.mp3");
    const QString b = makeFile(dir, "b.mp3");
    const QString c = makeFile(dir, "c.mp3");
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow(a.toStdString(), ColorGroup::Teal, Criterion::ExactAudio);
    fixture.addRow(b.toStdString(), ColorGroup::Teal, Criterion::ExactAudio);
    fixture.addRow(c.toStdString(), ColorGroup::Teal, Criterion::ExactAudio);
    ResultsWindow form(session);
    ScriptedRecycleBin bin;
    bin.useRealTrash = true;
    form.setRecycleBinHost(&bin);
    YesToAll boxes;
    form.actions().setMessageBoxes(&boxes);
    QAction* undo = form.actions().action(ResultsActions::Command::UndoDelete);
    form.model().setFileChecked(0, true);
    form.model().setFileChecked(1, true);
    form.onDeleteClicked();
    QCOMPARE(listPaths(form), QStringList{c});

    // b's place is taken: a comes back, b stays in the trash and in the undo record.
    QVERIFY(!makeFile(dir, "b.mp3").isEmpty());
    boxes.shown.clear();
    undo->trigger();
    QCOMPARE(listPaths(form), (QStringList{a, c}));
    QVERIFY(undo->isEnabled());
    QCOMPARE(boxes.shown.size(), 1);
    QVERIFY2(boxes.shown[0].text.contains(b) && boxes.shown[0].text.contains("Ctrl+Z"),
             qPrintable(boxes.shown[0].text));

    // Once the user has cleared the place, Ctrl+Z again brings b and its row back.
    QVERIFY(QFile::remove(b));
    undo->trigger();
    QCOMPARE(listPaths(form), (QStringList{a, b, c}));
    QVERIFY(QFile::exists(b));
    QVERIFY(!undo->isEnabled());
    QCOMPARE(form.model().duplicateGroups(), (std::vector<std::uint32_t>{0, 0, 0}));
    QCOMPARE(form.model().colors(), std::vector<ColorGroup>(3, ColorGroup::Teal));
}

void ResultsWindowTest::rowCommandsAndKeys()
{
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/m/a.mp3", ColorGroup::Teal, Criterion::ExactAudio);      // 0
    fixture.addRow("/n/a.mp3", ColorGroup::Teal, Criterion::ExactAudio);      // 1
    fixture.addRow("/o/a.mp3", ColorGroup::Teal, Criterion::ExactAudio);      // 2
    fixture.addRow("/m/b.mp3", ColorGroup::LightTeal, Criterion::ExactAudio); // 3
    fixture.addRow("/n/b.mp3", ColorGroup::LightTeal, Criterion::ExactAudio); // 4
    ResultsWindow form(session);
    ScriptedRecycleBin bin;
    form.setRecycleBinHost(&bin);
    YesToAll boxes;
    form.actions().setMessageBoxes(&boxes);
    QList<QUrl> opened;
    form.actions().setOpener([&opened](const QUrl& url) {
        opened.append(url);
        return true;
    });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTreeView& list = form.listView();
    list.setFocus();
    const auto select = [&](std::initializer_list<int> rows) {
        list.clearSelection();
        list.selectionModel()->setCurrentIndex(form.model().index(*rows.begin(), 0),
                                               QItemSelectionModel::NoUpdate);
        for (const int row : rows)
            list.selectionModel()->select(form.model().index(row, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };

    select({1});
    std::unique_ptr<QMenu> menu(form.actions().contextMenu());
    QStringList entries;
    for (const QAction* action : menu->actions())
        entries.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(entries, (QStringList{"Play", "Open", "Open containing folder", "Copy path", "-",
                                   "Tick selected", "Untick selected", "-", "Keep this one",
                                   "Tick all in this folder", "-", "Protect this folder", "-",
                                   "Tick all but the best"}));

    // Keep this one: its file unticked, the rest of its group ticked.
    form.actions().action(ResultsActions::Command::KeepThisOne)->trigger();
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{0, 2}));
    // Tick all in this folder: /n/a.mp3 and /n/b.mp3.
    form.actions().action(ResultsActions::Command::TickAllInFolder)->trigger();
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{0, 1, 2, 4}));

    // Space toggles every selected row: all ticked are unticked, otherwise all are ticked.
    select({0, 3});
    QTest::keyClick(&list, Qt::Key_Space);
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    QTest::keyClick(&list, Qt::Key_Space);
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{1, 2, 4}));

    // Enter opens each selected file; Ctrl+A selects every row.
    QTest::keyClick(&list, Qt::Key_Return);
    QCOMPARE(opened,
             (QList<QUrl>{QUrl::fromLocalFile("/m/a.mp3"), QUrl::fromLocalFile("/m/b.mp3")}));
    QTest::keyClick(&list, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(list.selectionModel()->selectedRows().size(), 5);

    // Protect this folder: stored, and the helpers pass its files by from then on.
    select({0});
    form.actions().action(ResultsActions::Command::ProtectFolder)->trigger();
    QCOMPARE(SettingsStore().textList(settingskeys::kProtectedFolders), QStringList{"/m"});
    form.model().clearChecks();
    select({1});
    form.actions().action(ResultsActions::Command::KeepThisOne)->trigger();
    QCOMPARE(form.model().checkedRows(), std::vector<std::size_t>{2});

    // Save: the list with group numbers and ticks.
    QTemporaryDir dir;
    const QString saved = dir.filePath("list.csv");
    form.actions().setSaveChooser([&](QWidget*, bool* jsonLines) {
        *jsonLines = false;
        return saved;
    });
    form.actions().action(ResultsActions::Command::SaveList)->trigger();
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 7);
    QVERIFY2(lines[3].startsWith("/o/a.mp3,") && lines[3].endsWith(",1,True\r"), lines[3]);

    // The Delete key runs "Delete checked" ; a file no longer on disk
    // loses its rows.
    QTest::keyClick(&list, Qt::Key_Delete);
    QCOMPARE(bin.questions, (QList<QStringList>{{"/o/a.mp3"}}));

    QCOMPARE(form.model().rowCount(), 4);
}

// "Play" and P play the row's file, P again or Esc stop; where nothing can be played that is said
// once and every other key still works.
void ResultsWindowTest::playListensBeforeDeciding()
{
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/m/a.mp3");
    fixture.addRow("/n/a.mp3");
    ResultsWindow form(session);
    RecordingMessageBoxes boxes;
    form.actions().setMessageBoxes(&boxes);
    RecordingPlayer player;
    form.actions().setSongPlayer(&player);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTreeView& list = form.listView();
    list.setFocus();
    list.setCurrentIndex(form.model().index(1, 0));

    form.actions().action(ResultsActions::Command::Play)->trigger();
    QCOMPARE(player.played, QStringList{"/n/a.mp3"});
    QVERIFY(player.playing);
    QTest::keyClick(&list, Qt::Key_P);
    QVERIFY(!player.playing);
    list.setCurrentIndex(form.model().index(0, 0));
    QTest::keyClick(&list, Qt::Key_P);
    QCOMPARE(player.played, (QStringList{"/n/a.mp3", "/m/a.mp3"}));
    QVERIFY(player.playing);
    QTest::keyClick(&list, Qt::Key_Escape);
    QVERIFY(!player.playing);
    // A new search stops the song.
    QTest::keyClick(&list, Qt::Key_P);
    form.beginResultsUpdate();
    QVERIFY(!player.playing);
    form.endResultsUpdate();
    QVERIFY(boxes.shown.isEmpty());

    // No audio output: said once, by its reason; the other keys work on.
    player.whyNot_ = QStringLiteral("There is no audio output here, so songs cannot be played.");
    list.setCurrentIndex(form.model().index(0, 0));
    QTest::keyClick(&list, Qt::Key_P);
    QTest::keyClick(&list, Qt::Key_P);
    form.actions().action(ResultsActions::Command::Play)->trigger();
    QCOMPARE(boxes.shown.size(), 1);
    QCOMPARE(boxes.shown[0].text, player.whyNot_);
    QCOMPARE(player.played.size(), 6);
    QTest::keyClick(&list, Qt::Key_Space);
    QVERIFY(form.model().isChecked(0));
    // A failure after the start is said no more either.
    emit player.failed(QStringLiteral("cannot decode"));
    QCOMPARE(boxes.shown.size(), 1);
}

void ResultsWindowTest::openFallsBackToXdgOpenAndSaysWhenNothingCan()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // Where Qt finds no launcher (here the offscreen platform has none) xdg-open is asked.
    QTemporaryDir bin;
    QVERIFY(bin.isValid());
    const QString opened = bin.filePath("opened");
    {
        QFile script(bin.filePath("xdg-open"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\nprintf '%s' \"$1\" > '%1'\n").arg(opened).toUtf8());
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
    QVERIFY(OpenOnDesktop(QUrl::fromLocalFile(QStringLiteral("/m/a b.mp3"))));
    const auto written = [&] {
        QFile file(opened);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QTRY_COMPARE(written(), QByteArray("/m/a b.mp3"));
    qputenv("PATH", QFile::encodeName(bin.filePath("none")));
    QVERIFY(!OpenOnDesktop(QUrl::fromLocalFile(QStringLiteral("/m/a b.mp3"))));
    qputenv("PATH", path);
#endif

    // When nothing opens the file or folder, the user is told.
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/m/a.mp3", ColorGroup::Blue);
    fixture.addRow("/n/a.mp3", ColorGroup::Blue);
    ResultsWindow form(session);
    RecordingMessageBoxes boxes;
    form.actions().setMessageBoxes(&boxes);
    form.actions().setOpener([](const QUrl&) { return false; });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.listView().setFocus();
    form.listView().setCurrentIndex(form.model().index(0, 0));
    QTest::keyClick(&form.listView(), Qt::Key_Return);
    QCOMPARE(boxes.shown.size(), 1);
    QCOMPARE(boxes.shown[0].text,
             QStringLiteral("Nothing on this system could open /m/a.mp3. Set a program for MP3 "
                            "files in the desktop's settings, or install xdg-utils."));
    form.actions().action(ResultsActions::Command::OpenFolder)->trigger();
    QCOMPARE(boxes.shown.size(), 2);
    QVERIFY(boxes.shown[1].text.startsWith(QStringLiteral("Nothing on this system could open the "
                                                          "folder /m.")));
}

void ResultsWindowTest::rowHelpersLeaveUnprovenGroupsAndSaySo()
{
    SearchSession session;
    ResultsFixture fixture(session);
    fixture.addRow("/m/a.mp3", ColorGroup::Teal, Criterion::ExactAudio);   // 0, group 1
    fixture.addRow("/n/a.mp3", ColorGroup::Teal, Criterion::ExactAudio);   // 1
    fixture.addRow("/m/c.mp3", ColorGroup::Red, Criterion::ExactFilesize); // 2, group 2
    fixture.addRow("/n/z.mp3", ColorGroup::Red, Criterion::ExactFilesize); // 3
    ResultsWindow form(session);
    RecordingMessageBoxes boxes;
    form.actions().setMessageBoxes(&boxes);
    const auto focus = [&](int row) {
        form.listView().selectionModel()->setCurrentIndex(form.model().index(row, 0),
                                                          QItemSelectionModel::ClearAndSelect |
                                                              QItemSelectionModel::Rows);
    };

    // Keep this one in a group found only by size: nothing ticked, and the user is told why.
    focus(3);
    form.actions().action(ResultsActions::Command::KeepThisOne)->trigger();
    QVERIFY(form.model().checkedRows().empty());
    QCOMPARE(boxes.shown.size(), 1);
    QVERIFY2(boxes.shown[0].text.startsWith(
                 QStringLiteral("Group 2 was found only by name, size or title")),
             qPrintable(boxes.shown[0].text));

    // Tick all in /m/: a, a proven copy, is ticked; c, only matched by size, is not.
    focus(0);
    form.actions().action(ResultsActions::Command::TickAllInFolder)->trigger();
    QCOMPARE(form.model().checkedRows(), std::vector<std::size_t>{0});
    QCOMPARE(boxes.shown.size(), 2);
    QVERIFY2(boxes.shown[1].text.contains(QStringLiteral("(1 group)")),
             qPrintable(boxes.shown[1].text));

    // With the weaker groups allowed in Keep rules, both act there too, silently.
    SettingsStore().writeBool(settingskeys::kTickUnprovenGroups, true);
    form.model().clearChecks();
    form.actions().action(ResultsActions::Command::TickAllInFolder)->trigger();
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{0, 2}));
    focus(3);
    form.actions().action(ResultsActions::Command::KeepThisOne)->trigger();
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{0, 2}));
    QCOMPARE(boxes.shown.size(), 2);
}

void ResultsWindowTest::keepRulesDialogStoresOrderAndSwitches()
{
    KeepRulesDialog dialog;
    QListWidget* rules = dialog.rulesList();
    QCOMPARE(rules->count(), 7);
    QPushButton* down = nullptr;
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        down = button->text() == QStringLiteral("Down") ? button : down;
    QVERIFY(down);
    rules->setCurrentRow(0);
    QTest::mouseClick(down, Qt::LeftButton);
    QTest::mouseClick(down, Qt::LeftButton);
    rules->item(0)->setCheckState(Qt::Unchecked); // bit rate, first now
    rules->setCurrentRow(6);
    QTest::mouseClick(down, Qt::LeftButton);           // the last stays last
    QVERIFY(!dialog.unprovenGroupsBox()->isChecked()); // off unless stored
    dialog.unprovenGroupsBox()->setChecked(true);
    dialog.store();
    const SettingsStore settings;
    QCOMPARE(settings.text(settingskeys::kKeepRuleOrder).value_or(QString()),
             QStringLiteral("Bitrate,Length,Preferred,Size,Tags,Oldest,Path"));
    QCOMPARE(settings.text(settingskeys::kKeepRulesOff).value_or(QString()),
             QStringLiteral("Bitrate"));
    QVERIFY(settings.readBool(settingskeys::kTickUnprovenGroups));
    QCOMPARE(KeepRulesDialog().unprovenGroupsBox()->text(),
             QStringLiteral("Also tick in groups found only by name, size or title"));
    QVERIFY(KeepRulesDialog().unprovenGroupsBox()->isChecked());
}

int main(int argc, char** argv)
{
    // The trash lives below the data home; keep it, and every other file the tests write, in a
    // scratch folder rather than in the user's home.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("share")));
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    ResultsWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_resultswindow.moc"
