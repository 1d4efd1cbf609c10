#include "platform/recyclingbin.h"
#include "ui/results/recyclebindialogs.h"
#include "ui/support/messageboxes.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <utility>
#include <vector>
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
#include <sys/stat.h>
#endif

using namespace tunesift;

namespace {

// Records every call; refuses the listed paths and stops when told to after some files.
class RecordingBin : public RecycleBinHost
{
public:
    bool confirmMove(const QStringList& paths) override
    {
        ++questions;
        asked = paths;
        return agree;
    }
    bool moveToTrash(const QString& path, QString* pathInTrash) override
    {
        Q_UNUSED(pathInTrash);
        tried.append(path);
        return !refuse.contains(path);
    }
    bool reportProgress(qsizetype done, qsizetype total) override
    {
        progress.emplace_back(done, total);
        return stopAfter < 0 || done < stopAfter;
    }
    void reportFailures(const QStringList& paths) override { reports.append(paths); }

    bool agree = true;
    QStringList refuse;
    qsizetype stopAfter = -1;
    int questions = 0;
    QStringList asked;
    QStringList tried;
    std::vector<std::pair<qsizetype, qsizetype>> progress;
    QList<QStringList> reports;
};

// Answers the next modal message box with the given button, keeping its text.
void answerNextBox(QMessageBox::StandardButton button, QString* text)
{
    QTimer::singleShot(0, [button, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        *text = box->text();
        box->button(button)->click();
    });
}

// Presses Enter in the next modal message box, keeping its text and its default button's text.
void pressEnterInNextBox(QString* text, QString* defaultButton)
{
    QTimer::singleShot(0, [text, defaultButton] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        *text = box->text();
        *defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        QTest::keyClick(box, Qt::Key_Return);
    });
}

} // namespace

class RecyclingBinTest : public QObject
{
    Q_OBJECT
private slots:
    void emptyListAsksNothing();
    void declinedMovesNothing();
    void movesInOrderAndReportsFailuresOnce();
    void stoppingLeavesTheRestUntried();
    void confirmationNamesHowManyFiles();
    void confirmationSaysWhatGoes_data();
    void confirmationSaysWhatGoes();
    void enterAloneNeverDeletes();
    void failureReportListsTheFiles();
    void restoreFollowsTheTrashRecord();
    void restoreFollowsTheRecycleBinRecord();
    void trashRecordsArePercentEncoded();
    void restoreNeverCopiesAcrossFileSystems();
};

void RecyclingBinTest::emptyListAsksNothing()
{
    RecordingBin bin;
    const RecycleBinResult result = SendToRecycleBin({}, bin);
    QCOMPARE(bin.questions, 0);
    QVERIFY(bin.tried.isEmpty());
    QVERIFY(!result.confirmed);
}

void RecyclingBinTest::declinedMovesNothing()
{
    RecordingBin bin;
    bin.agree = false;
    const RecycleBinResult result = SendToRecycleBin({"/a", "/b"}, bin);
    QCOMPARE(bin.questions, 1);
    QCOMPARE(bin.asked, (QStringList{"/a", "/b"}));
    QVERIFY(bin.tried.isEmpty());
    QVERIFY(bin.reports.isEmpty());
    QVERIFY(!result.confirmed);
    QVERIFY(result.moved.isEmpty() && result.failed.isEmpty());
}

void RecyclingBinTest::movesInOrderAndReportsFailuresOnce()
{
    RecordingBin bin;
    bin.refuse = {"/b", "/d"};
    const RecycleBinResult result = SendToRecycleBin({"/a", "/b", "/c", "/d"}, bin);
    QVERIFY(result.confirmed);
    QVERIFY(!result.cancelled);
    QCOMPARE(bin.tried, (QStringList{"/a", "/b", "/c", "/d"}));
    QCOMPARE(result.moved, (QStringList{"/a", "/c"}));
    QCOMPARE(result.failed, (QStringList{"/b", "/d"}));
    QCOMPARE(bin.reports, (QList<QStringList>{{"/b", "/d"}}));
    QCOMPARE(bin.progress.front(), std::make_pair(qsizetype{0}, qsizetype{4}));
    QCOMPARE(bin.progress.back(), std::make_pair(qsizetype{4}, qsizetype{4}));

    RecordingBin clean;
    SendToRecycleBin({"/a"}, clean);
    QVERIFY(clean.reports.isEmpty());
}

void RecyclingBinTest::stoppingLeavesTheRestUntried()
{
    RecordingBin bin;
    bin.refuse = {"/a"};
    bin.stopAfter = 2;
    const RecycleBinResult result = SendToRecycleBin({"/a", "/b", "/c", "/d"}, bin);
    QVERIFY(result.cancelled);
    QCOMPARE(bin.tried, (QStringList{"/a", "/b"}));
    QCOMPARE(result.moved, QStringList{"/b"});
    // Files never tried are not failures; the one refused before the stop is.
    QCOMPARE(bin.reports, (QList<QStringList>{{"/a"}}));
}

void RecyclingBinTest::confirmationNamesHowManyFiles()
{
    QWidget parent;
    RecycleBinDialogs dialogs(&parent);
    QString text;

    answerNextBox(QMessageBox::No, &text);
    QVERIFY(!dialogs.confirmMove({"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"}));
    QVERIFY2(text.contains(QStringLiteral("3 files")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("trash")));

    answerNextBox(QMessageBox::Yes, &text);
    QVERIFY(dialogs.confirmMove({"/m/only.mp3"}));
    QVERIFY2(text.contains(QStringLiteral("/m/only.mp3")), qPrintable(text));
}

void RecyclingBinTest::confirmationSaysWhatGoes_data()
{
    QTest::addColumn<int>("proven");
    QTest::addColumn<int>("unproven");
    QTest::addColumn<QString>("text");
    QTest::newRow("mixed") << 12 << 2
                           << "Move 14 files (1.6 MB) to the trash? 12 are copies of the same "
                              "recording; 2 were matched only by name, size or title.";
    QTest::newRow("one of each") << 1 << 1
                                 << "Move 2 files (1.6 MB) to the trash? 1 is a copy of the same "
                                    "recording; 1 was matched only by name, size or title.";
    QTest::newRow("all proven") << 3 << 0
                                << "Move 3 files (1.6 MB) to the trash? All 3 are copies of the "
                                   "same recording.";
    QTest::newRow("all guesses") << 0 << 4
                                 << "Move 4 files (1.6 MB) to the trash? All 4 were matched only "
                                    "by name, size or title.";
    QTest::newRow("one file") << 0 << 1
                              << "Move 1 file (1.6 MB) to the trash? It was matched only by name, "
                                 "size or title.";
}

void RecyclingBinTest::confirmationSaysWhatGoes()
{
    QFETCH(int, proven);
    QFETCH(int, unproven);
    QFETCH(QString, text);
    QStringList paths;
    for (int k = 0; k < proven + unproven; ++k)
        paths.append(QStringLiteral("/m/%1.mp3").arg(k));
    const GoingFiles going{static_cast<std::size_t>(proven), static_cast<std::size_t>(unproven),
                           1677722};
    if (paths.size() == 1)
        text += QStringLiteral("\n\n/m/0.mp3");
    QCOMPARE(ConfirmMoveText(paths, going), text);
}

void RecyclingBinTest::enterAloneNeverDeletes()
{
    // The confirmation of "Delete checked" and the question before a group loses its last copy:
    // No is the default, so Enter alone answers No.
    QWidget parent;
    RecycleBinDialogs dialogs(&parent);
    QStringList paths;
    for (int k = 0; k < 14; ++k)
        paths.append(QStringLiteral("/m/%1.mp3").arg(k));
    dialogs.describeNextMove({12, 2, 1677722});
    QString text;
    QString defaultButton;
    pressEnterInNextBox(&text, &defaultButton);
    QVERIFY(!dialogs.confirmMove(paths));
    QCOMPARE(text, QStringLiteral("Move 14 files (1.6 MB) to the trash? 12 are copies of the same "
                                  "recording; 2 were matched only by name, size or title."));
    QCOMPARE(defaultButton, QStringLiteral("&No"));

    DialogMessageBoxes boxes;
    pressEnterInNextBox(&text, &defaultButton);
    QCOMPARE(boxes.askBeforeHarm(&parent, QStringLiteral("Delete them anyway?"),
                                 QStringLiteral("Tunesift")),
             MessageAnswer::No);
    QCOMPARE(text, QStringLiteral("Delete them anyway?"));
    QCOMPARE(defaultButton, QStringLiteral("&No"));
}

void RecyclingBinTest::failureReportListsTheFiles()
{
    const QString few = FailureReportText({"/m/a.mp3", "/m/b.mp3"});
    QVERIFY(few.contains(QStringLiteral("/m/a.mp3")) && few.contains(QStringLiteral("/m/b.mp3")));

    QStringList many;
    for (int k = 0; k < 40; ++k)
        many.append(QStringLiteral("/m/%1.mp3").arg(k));
    const QString text = FailureReportText(many);
    QVERIFY(text.contains(QStringLiteral("40 files")));
    QVERIFY(text.contains(QStringLiteral("/m/0.mp3")));
    QVERIFY(!text.contains(QStringLiteral("/m/39.mp3")));
    QVERIFY2(text.contains(QStringLiteral("and 25 more")), qPrintable(text));

    QWidget parent;
    RecycleBinDialogs dialogs(&parent);
    QString shown;
    answerNextBox(QMessageBox::Ok, &shown);
    dialogs.reportFailures(many);
    QCOMPARE(shown, text);
}

namespace {
bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The real trash, in this test's own home.
class RealBin : public RecycleBinHost
{
public:
    bool confirmMove(const QStringList&) override { return true; }
    void reportFailures(const QStringList&) override {}
};
} // namespace

void RecyclingBinTest::restoreFollowsTheTrashRecord()
{
    if (!CanRestoreFromTrash())
        QSKIP("this platform keeps no trash records that the program reads");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    // Through the home trash and back; a second restore finds nothing to restore.
    const QString song = dir.filePath(QStringLiteral("a b%41.mp3"));
    QVERIFY(writeFile(song, "one"));
    RealBin host;
    QString inTrash;
    QVERIFY(host.moveToTrash(song, &inTrash));
    QVERIFY(!QFile::exists(song));
    QCOMPARE(RestoreFromTrash(inTrash, song), RestoreOutcome::Restored);
    QVERIFY(QFile::exists(song));
    QCOMPARE(RestoreFromTrash(inTrash, song), RestoreOutcome::NotInTrash);

    // A file now standing in the old place is never overwritten.
    QVERIFY(host.moveToTrash(song, &inTrash));
    QVERIFY(writeFile(song, "newer"));
    QCOMPARE(RestoreFromTrash(inTrash, dir.filePath(QStringLiteral("elsewhere.mp3"))),
             RestoreOutcome::NotInTrash);
    QCOMPARE(RestoreFromTrash(inTrash, song), RestoreOutcome::PlaceTaken);
    QVERIFY(QFile::exists(inTrash));
    QFile newer(song);
    QVERIFY(newer.open(QIODevice::ReadOnly));
    QCOMPARE(newer.readAll(), QByteArray("newer"));

    // A volume's trash records the place relative to the volume's top folder, percent-encoded;
    // a folder gone since is made again.
    const QString trash = dir.filePath(QStringLiteral(".Trash-1000"));
    QVERIFY(writeFile(trash + QStringLiteral("/files/x.mp3"), "two"));
    QVERIFY(
        writeFile(trash + QStringLiteral("/info/x.mp3.trashinfo"),
                  "[Trash Info]\nPath=gone%20folder/x.mp3\nDeletionDate=2026-01-01T00:00:00\n"));
    const QString place = dir.filePath(QStringLiteral("gone folder/x.mp3"));
    QCOMPARE(RestoreFromTrash(trash + QStringLiteral("/files/x.mp3"), place),
             RestoreOutcome::Restored);
    QVERIFY(QFile::exists(place));
    QVERIFY(!QFile::exists(trash + QStringLiteral("/info/x.mp3.trashinfo")));
}

namespace {
// A Recycle Bin record ("$I" file) naming the place, in either version's layout.
QByteArray recycleBinRecord(int version, const QString& place)
{
    QByteArray bytes(24, '\0');
    bytes[0] = static_cast<char>(version);
    const auto unit = [&](char16_t c) {
        bytes.append(static_cast<char>(c & 0xFF));
        bytes.append(static_cast<char>(c >> 8));
    };
    if (version == 2) {
        const auto units = static_cast<quint32>(place.size() + 1);
        for (int k = 0; k < 4; ++k)
            bytes.append(static_cast<char>(units >> (8 * k) & 0xFF));
    }
    for (const QChar c : place)
        unit(c.unicode());
    while (version == 1 && bytes.size() < 24 + 2 * 260)
        unit(0);
    if (version == 2)
        unit(0);
    return bytes;
}
} // namespace

void RecyclingBinTest::restoreFollowsTheRecycleBinRecord()
{
    // The Windows way, with a bin made by hand: "$R" file, "$I" record beside it.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString bin = dir.filePath(QStringLiteral("$Recycle.Bin/S-1-5-21"));
    for (const int version : {1, 2}) {
        const QString id = QStringLiteral("ABC%1.mp3").arg(version);
        const QString inBin = bin + QStringLiteral("/$R") + id;
        const QString record = bin + QStringLiteral("/$I") + id;
        const QString place = dir.filePath(QStringLiteral("gone folder/Café %1.mp3").arg(version));
        QVERIFY(writeFile(inBin, "song"));
        QVERIFY(writeFile(record, recycleBinRecord(version, place.toUpper())));
        // Only the place the record names (letter case aside), never over another file.
        QCOMPARE(RestoreFromRecycleBin(inBin, dir.filePath(QStringLiteral("other.mp3"))),
                 RestoreOutcome::NotInTrash);
        QVERIFY(writeFile(place, "newer"));
        QCOMPARE(RestoreFromRecycleBin(inBin, place), RestoreOutcome::PlaceTaken);
        QVERIFY(QFile::remove(place));
        QCOMPARE(RestoreFromRecycleBin(inBin, place), RestoreOutcome::Restored);
        QVERIFY(QFile::exists(place) && !QFile::exists(inBin) && !QFile::exists(record));
        QCOMPARE(RestoreFromRecycleBin(inBin, place), RestoreOutcome::NotInTrash);
    }
    // A record of an unknown version names nothing.
    QVERIFY(writeFile(bin + QStringLiteral("/$Rshort.mp3"), "song"));
    QVERIFY(writeFile(bin + QStringLiteral("/$Ishort.mp3"), recycleBinRecord(3, "/x.mp3")));
    QCOMPARE(RestoreFromRecycleBin(bin + QStringLiteral("/$Rshort.mp3"), "/x.mp3"),
             RestoreOutcome::NotInTrash);
}

void RecyclingBinTest::trashRecordsArePercentEncoded()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // Names that a raw record gets wrong: a '%' that reads back as an escape, a line feed that
    // ends the record early. In the home trash the record names the whole path.
    QTemporaryDir dir(QDir::homePath() + QStringLiteral("/names-XXXXXX"));
    QVERIFY(dir.isValid());
    RealBin host;
    for (const QString& name : {QStringLiteral("50%25 off.mp3"), QStringLiteral("line\nfeed.mp3"),
                                QStringLiteral("Ærø [live] #1?.mp3")}) {
        const QString song = dir.filePath(name);
        QVERIFY(writeFile(song, name.toUtf8()));
        QString inTrash;
        QVERIFY(host.moveToTrash(song, &inTrash));
        const QFileInfo trashed(inTrash);
        QFile record(trashed.dir().filePath(QStringLiteral("../info/") + trashed.fileName() +
                                            QStringLiteral(".trashinfo")));
        QVERIFY(record.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = record.readAll().split('\n');
        QVERIFY(lines.size() >= 3);
        QCOMPARE(lines[0], QByteArray("[Trash Info]"));
        const QByteArray encoded = QFile::encodeName(song).toPercentEncoding("/");
        QCOMPARE(lines[1], "Path=" + encoded);
        QVERIFY2(lines[2].startsWith("DeletionDate=") && lines[2].size() == 32, lines[2]);
        QCOMPARE(RestoreFromTrash(inTrash, song), RestoreOutcome::Restored);
        QFile back(song);
        QVERIFY(back.open(QIODevice::ReadOnly));
        QCOMPARE(back.readAll(), name.toUtf8());
    }
    QVERIFY(QFile::encodeName(dir.filePath("50%25 off.mp3"))
                .toPercentEncoding("/")
                .endsWith("/50%2525%20off.mp3"));
#else
    QSKIP("the freedesktop.org trash is the trash of Linux and other free desktops");
#endif
}

void RecyclingBinTest::restoreNeverCopiesAcrossFileSystems()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // A file in a trash on one file system whose old place now lies on another: putting it back
    // would be a copy, which a full disk leaves half done and which changes the file's times.
    QTemporaryDir shm(QStringLiteral("/dev/shm/tunesift-XXXXXX"));
    QTemporaryDir home(QDir::homePath() + QStringLiteral("/place-XXXXXX"));
    if (!shm.isValid() || !home.isValid())
        QSKIP("no second file system to try");
    struct stat a
    {};
    struct stat b
    {};
    if (::stat(QFile::encodeName(shm.path()).constData(), &a) != 0 ||
        ::stat(QFile::encodeName(home.path()).constData(), &b) != 0 || a.st_dev == b.st_dev)
        QSKIP("/dev/shm and the home folder are on one file system here");
    const QString inTrash = shm.filePath(QStringLiteral(".Trash-1000/files/x.mp3"));
    const QString place = home.filePath(QStringLiteral("x.mp3"));
    QVERIFY(writeFile(inTrash, "song"));
    QVERIFY(writeFile(shm.filePath(QStringLiteral(".Trash-1000/info/x.mp3.trashinfo")),
                      "[Trash Info]\nPath=" + QFile::encodeName(place).toPercentEncoding("/") +
                          "\nDeletionDate=2026-01-01T00:00:00\n"));
    QCOMPARE(RestoreFromTrash(inTrash, place), RestoreOutcome::Failed);
    QVERIFY(QFile::exists(inTrash));
    QVERIFY(!QFile::exists(place));
#else
    QSKIP("the freedesktop.org trash is the trash of Linux and other free desktops");
#endif
}

QTEST_MAIN(RecyclingBinTest)
#include "test_recyclingbin.moc"
