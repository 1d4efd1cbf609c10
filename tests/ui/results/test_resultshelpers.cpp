// The results window's helpers: ticking by key, by the keep rules and from a row's menu, the row
// commands (open, play, copy, save) and the keep rules dialog.
#include "platform/settings.h"
#include "resultswindowfixture.h"
#include "ui/results/keeprulesdialog.h"
#include "ui/results/songplayer.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <memory>

using namespace tunesift;
using tunesift::test::makeFile;
using tunesift::test::RecordingMessageBoxes;
using tunesift::test::ResultsFixture;
using tunesift::test::WindowScene;

namespace {

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

} // namespace

class ResultsHelpersTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { test::UseEmptyTestSettings(); }
    void spaceOnARowTicksTheWholeFile();
    void clearButtonUnticksEveryRow();
    void tickAllButTheBestFollowsTheRulesAndTheEvidence();
    void oldestRuleReadsTheDiskOnceFilled();
    void firstUseAsksOnceForTheKeepersFolder();
    void rowCommandsAndKeys();
    void rowHelpersLeaveUnprovenGroupsAndSaySo();
    void playListensBeforeDeciding();
    void openFallsBackToXdgOpenAndSaysWhenNothingCan();
    void keepRulesDialogStoresOrderAndSwitches();
};

void ResultsHelpersTest::spaceOnARowTicksTheWholeFile()
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

void ResultsHelpersTest::clearButtonUnticksEveryRow()
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

void ResultsHelpersTest::tickAllButTheBestFollowsTheRulesAndTheEvidence()
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

void ResultsHelpersTest::oldestRuleReadsTheDiskOnceFilled()
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

void ResultsHelpersTest::firstUseAsksOnceForTheKeepersFolder()
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

void ResultsHelpersTest::rowCommandsAndKeys()
{
    WindowScene scene;
    scene.addRow("/m/a.mp3", ColorGroup::Teal, Criterion::ExactAudio);      // 0
    scene.addRow("/n/a.mp3", ColorGroup::Teal, Criterion::ExactAudio);      // 1
    scene.addRow("/o/a.mp3", ColorGroup::Teal, Criterion::ExactAudio);      // 2
    scene.addRow("/m/b.mp3", ColorGroup::LightTeal, Criterion::ExactAudio); // 3
    scene.addRow("/n/b.mp3", ColorGroup::LightTeal, Criterion::ExactAudio); // 4
    ResultsWindow& form = scene.window();
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
    menu.reset(form.actions().contextMenu());
    QCOMPARE(menu->actions().at(11)->text(), QStringLiteral("Unprotect this folder"));
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
    QCOMPARE(scene.bin.questions, (QList<QStringList>{{"/o/a.mp3"}}));

    QCOMPARE(form.model().rowCount(), 4);
}

void ResultsHelpersTest::rowHelpersLeaveUnprovenGroupsAndSaySo()
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

// "Play" and P play the row's file, P again or Esc stop; where nothing can be played that is said
// once and every other key still works.
void ResultsHelpersTest::playListensBeforeDeciding()
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

void ResultsHelpersTest::openFallsBackToXdgOpenAndSaysWhenNothingCan()
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

void ResultsHelpersTest::keepRulesDialogStoresOrderAndSwitches()
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
    return test::RunWindowTests<ResultsHelpersTest>(argc, argv);
}

#include "test_resultshelpers.moc"
