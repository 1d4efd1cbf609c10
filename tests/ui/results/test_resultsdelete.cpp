// The results window's delete command, the helpers' checks around it, and undo.
#include "platform/settings.h"
#include "resultswindowfixture.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace tunesift;
using tunesift::test::listPaths;
using tunesift::test::RecordingMessageBoxes;
using tunesift::test::ScriptedRecycleBin;
using tunesift::test::WindowScene;
using tunesift::test::YesToAll;

class ResultsDeleteTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { test::UseEmptyTestSettings(); }
    void deleteMovesEachCheckedFileOnce();
    void deleteRemovesExactlyTheRowsOfGoneFiles();
    void declinedDeleteKeepsRowsAndTicksButNotShades();
    void deleteWithNothingCheckedAsksNothing();
    void deleteHasNoLimitOnCheckedRows();
    void deleteIntoTheRealTrash();
    void deleteSparesProtectedFilesAndAsksBeforeLastCopies();
    void protectedFolderReachedThroughALink();
    void undoPutsFilesAndRowsBack();
    void undoRestoresOnlyWhatItMoved();
    void failedUndoCanBeTriedAgain();
};

void ResultsDeleteTest::deleteMovesEachCheckedFileOnce()
{
    WindowScene scene;
    QVERIFY(scene.dir.isValid());
    const auto [a, b, c] = scene.makeFiles({"a.mp3", "b.mp3", "c.mp3"});
    scene.addRow(a, ColorGroup::LightBlue); // 0
    scene.addRow(b, ColorGroup::LightBlue); // 1
    scene.addRow(c, ColorGroup::Blue);      // 2
    scene.addRow(a, ColorGroup::Red);       // 3
    ResultsWindow& form = scene.window();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    form.model().setFileChecked(0, true);
    form.model().setFileChecked(1, true);
    QTest::mouseClick(form.findChild<QWidget*>(QStringLiteral("deleteButton")), Qt::LeftButton);

    // Checked rows a, b, a: each path once, from its last checked row.
    const ScriptedRecycleBin& bin = scene.bin;
    QCOMPARE(bin.questions, (QList<QStringList>{{b, a}}));
    QCOMPARE(bin.moveRequests, (QStringList{b, a}));
    QVERIFY(bin.failureReports.isEmpty());
    QCOMPARE(listPaths(form), QStringList{c});
    QVERIFY(!form.model().isChecked(0));
    QVERIFY(!form.model().data(form.model().index(0, 0), Qt::BackgroundRole).isValid());
}

void ResultsDeleteTest::deleteRemovesExactlyTheRowsOfGoneFiles()
{
    WindowScene scene;
    QVERIFY(scene.dir.isValid());
    const auto [stuck, moved, kept] = scene.makeFiles({"stuck.mp3", "moved.mp3", "kept.mp3"});
    const QString vanished = scene.dir.filePath("vanished.mp3"); // gone before the request
    scene.addRow(stuck);    // 0: topmost checked, cannot be moved
    scene.addRow(kept);     // 1: not checked
    scene.addRow(moved);    // 2
    scene.addRow(vanished); // 3
    scene.addRow(stuck);    // 4
    scene.addRow(moved);    // 5
    ResultsWindow& form = scene.window();
    ScriptedRecycleBin& bin = scene.bin;
    bin.refuse = {stuck};

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

void ResultsDeleteTest::declinedDeleteKeepsRowsAndTicksButNotShades()
{
    WindowScene scene;
    QVERIFY(scene.dir.isValid());
    const auto [a, b] = scene.makeFiles({"a.mp3", "b.mp3"});
    scene.addRow(a, ColorGroup::Green);
    scene.addRow(b, ColorGroup::LightGreen);
    ResultsWindow& form = scene.window();
    ScriptedRecycleBin& bin = scene.bin;
    bin.agree = false;

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

void ResultsDeleteTest::deleteWithNothingCheckedAsksNothing()
{
    WindowScene scene;
    scene.addRow("/nowhere/a.mp3", ColorGroup::Purple);
    ResultsWindow& form = scene.window();

    form.onDeleteClicked();
    QVERIFY(scene.bin.questions.isEmpty());
    QVERIFY(scene.bin.moveRequests.isEmpty());
    QCOMPARE(form.model().rowCount(), 1);
    QVERIFY(!form.model().data(form.model().index(0, 0), Qt::BackgroundRole).isValid());
}

void ResultsDeleteTest::deleteHasNoLimitOnCheckedRows()
{
    // The files are never made: the bin only pretends to move them, and a row whose file is not
    // on disk after the move goes, as after a real one. Making and removing thousands of files
    // would test the disk, not the command.
    WindowScene scene;
    QVERIFY(scene.dir.isValid());
    const int files = 5200;
    for (int k = 0; k < files; ++k)
        scene.addRow(scene.dir.filePath(QStringLiteral("%1.mp3").arg(k)));
    scene.addRow(scene.dir.filePath("unchecked.mp3"));
    ResultsWindow& form = scene.window();
    ScriptedRecycleBin& bin = scene.bin;
    bin.onlyPretend = true;
    for (std::size_t row = 0; row < files; ++row)
        form.model().setFileChecked(row, true);

    form.onDeleteClicked();
    QCOMPARE(bin.questions.size(), 1);
    QCOMPARE(bin.questions.front().size(), files);
    QCOMPARE(bin.moveRequests.size(), files);
    QCOMPARE(form.model().rowCount(), 1);
    QCOMPARE(form.model().pathText(0), scene.dir.filePath("unchecked.mp3"));
}

void ResultsDeleteTest::deleteIntoTheRealTrash()
{
    // main() pointed HOME and XDG_DATA_HOME into a scratch folder, so this trash is a test one.
    const QString trash =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    QVERIFY2(trash.startsWith(QDir::homePath()), qPrintable(trash));
    WindowScene scene(WindowScene::Folder::BelowHome);
    QVERIFY(scene.dir.isValid());
    const auto [song, other] = scene.makeFiles({"Song To Trash.mp3", "Other.mp3"});
    scene.addRow(song);
    scene.addRow(other);
    ResultsWindow& form = scene.window();
    scene.bin.useRealTrash = true;
    form.model().setFileChecked(0, true);
    form.onDeleteClicked();

    QVERIFY(scene.bin.failureReports.isEmpty());
    QVERIFY(!QFile::exists(song));
    QVERIFY(QFile::exists(trash + "/files/Song To Trash.mp3"));
    QVERIFY(QFile::exists(trash + "/info/Song To Trash.mp3.trashinfo"));
    QCOMPARE(listPaths(form), QStringList{other});
}

void ResultsDeleteTest::deleteSparesProtectedFilesAndAsksBeforeLastCopies()
{
    WindowScene scene;
    QVERIFY(scene.dir.isValid());
    QVERIFY(QDir(scene.dir.path()).mkdir(QStringLiteral("safe")));
    const auto [a, b, c, safe] = scene.makeFiles({"a.mp3", "b.mp3", "c.mp3", "safe/a.mp3"});
    scene.addRow(a, ColorGroup::Blue);      // group 1
    scene.addRow(safe, ColorGroup::Blue);   // group 1
    scene.addRow(b, ColorGroup::LightBlue); // group 2
    scene.addRow(c, ColorGroup::LightBlue); // group 2
    ResultsWindow& form = scene.window();
    RecordingMessageBoxes& boxes = scene.boxes;
    boxes.onShow = nullptr; // No to questions
    SettingsStore().setTextList(settingskeys::kProtectedFolders, {scene.dir.filePath("safe")});
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
    QVERIFY(scene.bin.questions.isEmpty());
    QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{0, 1, 2, 3}));
    QVERIFY(form.model().data(form.model().index(0, 0), Qt::BackgroundRole).isValid());

    // Yes: every ticked file but the protected one goes; its row stays ticked.
    boxes.onShow = [](const RecordingMessageBoxes::Shown&) { return MessageAnswer::Yes; };
    form.onDeleteClicked();
    QCOMPARE(scene.bin.moveRequests, (QStringList{a, b, c}));
    QVERIFY(QFile::exists(safe));
    QCOMPARE(listPaths(form), QStringList{safe});
    QCOMPARE(form.model().checkedRows(), std::vector<std::size_t>{0});
}

void ResultsDeleteTest::protectedFolderReachedThroughALink()
{
    // The library is listed through a link, and protected by its real path (and the other way
    // round): its copy is the keeper, never ticked and never moved.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("music/Library")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Backup")));
    QVERIFY(QFile::link(dir.filePath("music/Library"), dir.filePath("lib")));
    const QString library = test::makeFile(dir, "music/Library/a.mp3");
    const QString backup = test::makeFile(dir, "Backup/a.mp3");
    const QString throughLink = dir.filePath("lib/a.mp3");
    for (const QString& protectedFolder : {dir.filePath("music/Library"), dir.filePath("lib")}) {
        test::UseEmptyTestSettings();
        WindowScene scene;
        scene.addRow(throughLink, ColorGroup::Teal, Criterion::ExactAudio);
        scene.addRow(backup, ColorGroup::Teal, Criterion::ExactAudio);
        scene.addRow(library, ColorGroup::LightTeal, Criterion::ExactAudio);
        scene.addRow(backup, ColorGroup::LightTeal, Criterion::ExactAudio);
        ResultsWindow& form = scene.window();
        scene.bin.onlyPretend = true;
        SettingsStore().setTextList(settingskeys::kProtectedFolders, {protectedFolder});

        form.actions().action(ResultsActions::Command::TickAllButBest)->trigger();
        QCOMPARE(form.model().checkedRows(), (std::vector<std::size_t>{1, 3}));
        form.model().setFileChecked(0, true);
        form.model().setFileChecked(2, true);
        form.onDeleteClicked();
        QCOMPARE(scene.bin.moveRequests, QStringList{backup});
        QCOMPARE(scene.boxes.shown.first().text,
                 QStringLiteral("2 ticked files are inside protected folders. They stay where "
                                "they are."));
    }
}

void ResultsDeleteTest::undoPutsFilesAndRowsBack()
{
    if (!CanRestoreFromTrash())
        QSKIP("undo is hidden where the trash keeps no records the program reads");
    WindowScene scene(WindowScene::Folder::BelowHome);
    QVERIFY(scene.dir.isValid());
    const auto [a, b, c] = scene.makeFiles({"a.mp3", "b.mp3", "c.mp3"});
    scene.addRow(a, ColorGroup::Blue);      // 0
    scene.addRow(b, ColorGroup::Blue);      // 1
    scene.addRow(c, ColorGroup::LightBlue); // 2
    scene.addRow(a, ColorGroup::LightBlue); // 3
    ResultsWindow& form = scene.window();
    scene.bin.useRealTrash = true;
    QAction* undo = form.actions().action(ResultsActions::Command::UndoDelete);
    QVERIFY(!undo->isEnabled());

    form.model().setFileChecked(0, true);
    form.model().setFileChecked(2, true);
    form.onDeleteClicked();
    QCOMPARE(listPaths(form), QStringList{b});
    QVERIFY(undo->isEnabled());

    // c's place is taken meanwhile: it stays in the trash and its row stays away; a comes back
    // with both its rows in their places and groups, unticked.
    YesToAll& boxes = scene.boxes;
    boxes.shown.clear();
    QVERIFY(!scene.makeFile("c.mp3").isEmpty());
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

void ResultsDeleteTest::undoRestoresOnlyWhatItMoved()
{
    if (!CanRestoreFromTrash())
        QSKIP("undo is hidden where the trash keeps no records the program reads");
    WindowScene scene(WindowScene::Folder::BelowHome);
    QVERIFY(scene.dir.isValid());
    const auto [a, b] = scene.makeFiles({"a.mp3", "b.mp3"});
    scene.addRow(a, ColorGroup::Teal, Criterion::ExactAudio);
    scene.addRow(b, ColorGroup::Teal, Criterion::ExactAudio);
    ResultsWindow& form = scene.window();
    scene.bin.useRealTrash = true;
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
    YesToAll& boxes = scene.boxes;
    boxes.shown.clear();
    form.actions().action(ResultsActions::Command::UndoDelete)->trigger();
    QVERIFY(!QFile::exists(a));
    QVERIFY(QFile::exists(trash + "/files/a.mp3"));
    QCOMPARE(listPaths(form), QStringList{b});
    QCOMPARE(boxes.shown.size(), 1);
    QVERIFY2(boxes.shown[0].text.contains(a), qPrintable(boxes.shown[0].text));
}

void ResultsDeleteTest::failedUndoCanBeTriedAgain()
{
    if (!CanRestoreFromTrash())
        QSKIP("undo is hidden where the trash keeps no records the program reads");
    WindowScene scene(WindowScene::Folder::BelowHome);
    QVERIFY(scene.dir.isValid());
    const auto [a, b, c] = scene.makeFiles({"a.mp3", "b.mp3", "c.mp3"});
    for (const QString& path : {a, b, c})
        scene.addRow(path, ColorGroup::Teal, Criterion::ExactAudio);
    ResultsWindow& form = scene.window();
    scene.bin.useRealTrash = true;
    QAction* undo = form.actions().action(ResultsActions::Command::UndoDelete);
    form.model().setFileChecked(0, true);
    form.model().setFileChecked(1, true);
    form.onDeleteClicked();
    QCOMPARE(listPaths(form), QStringList{c});

    // b's place is taken: a comes back, b stays in the trash and in the undo record.
    YesToAll& boxes = scene.boxes;
    QVERIFY(!scene.makeFile("b.mp3").isEmpty());
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

int main(int argc, char** argv)
{
    return test::RunWindowTests<ResultsDeleteTest>(argc, argv);
}

#include "test_resultsdelete.moc"
