// A tour of the results window as a new user takes it, over a small library built on disk and
// searched for real: an organised Library/, a Backup/ copy of part of it, an Incoming/ folder and
// a Masters/ folder. With TUNESIFT_TOUR_SHOTS set to a folder, each step leaves a picture of the
// screen there.
#include "mainfixture.h"
#include "platform/recyclingbin.h"
#include "platform/settings.h"
#include "search/recordinghost.h"
#include "search/searchrun.h"
#include "search/testtree.h"
#include "ui/results/resultsactions.h"
#include "ui/results/resultsmodel.h"
#include "ui/results/resultswindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <functional>

using namespace tunesift;
using tunesift::test::Mp3Content;
using tunesift::test::TitleField;
using tunesift::test::WriteMp3File;

namespace {

// Answers every modal message box that comes up while it lives: takes a picture, keeps the text
// and the default button, then presses Enter (the default answer) or clicks Yes.
class BoxAnswerer
{
public:
    explicit BoxAnswerer(std::function<void(const QString& name)> picture, bool yes)
        : m_picture(std::move(picture))
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this, yes] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || m_seen.contains(box))
                return;
            m_seen.insert(box);
            texts.append(box->text());
            defaults.append(box->defaultButton() ? box->defaultButton()->text() : QString());
            if (!qEnvironmentVariableIsEmpty("TUNESIFT_TOUR_SHOTS")) {
                // Shown and drawn before the picture is taken.
                QVERIFY(QTest::qWaitForWindowExposed(box));
                QTest::qWait(200);
            }
            m_picture(QStringLiteral("question-%1").arg(texts.size()));
            if (yes && box->button(QMessageBox::Yes))
                box->button(QMessageBox::Yes)->click();
            else
                QTest::keyClick(box, Qt::Key_Return);
        });
        m_timer.start();
    }

    QStringList texts;
    QStringList defaults;

private:
    std::function<void(const QString&)> m_picture;
    QTimer m_timer;
    QSet<QObject*> m_seen;
};

} // namespace

class ResultsTour : public QObject
{
    Q_OBJECT
private slots:
    void init() { test::UseEmptyTestSettings(); }
    void tourOfASmallLibrary();

private:
    void picture(QWidget& window, const QString& name);
    int m_pictures = 0;
};

void ResultsTour::picture(QWidget& window, const QString& name)
{
    const QString folder = qEnvironmentVariable("TUNESIFT_TOUR_SHOTS");
    if (folder.isEmpty())
        return;
    QApplication::processEvents();
    QPixmap shot = QGuiApplication::platformName() == QLatin1String("offscreen")
                       ? window.grab()
                       : window.screen()->grabWindow(0);
    QDir().mkpath(folder);
    shot.save(QDir(folder).filePath(
        QStringLiteral("%1-%2.png").arg(++m_pictures, 2, 10, QChar('0')).arg(name)));
}

void ResultsTour::tourOfASmallLibrary()
{
    QTemporaryDir dir(QDir::homePath() + QStringLiteral("/tour-XXXXXX"));
    QVERIFY(dir.isValid());
    const auto at = [&](const char* relative) { return dir.filePath(QString::fromUtf8(relative)); };
    const auto write = [&](const char* relative, std::uint32_t header, std::size_t body,
                           std::optional<std::string> title) {
        Mp3Content content;
        content.frameHeaderTail = header;
        content.bodyBytes = body;
        content.rawTitle = std::move(title);
        WriteMp3File(at(relative).toStdString(), content);
    };
    constexpr std::uint32_t k128 = 0xFB9000;
    constexpr std::uint32_t k160 = 0xFBA000;
    // Song A in three copies, song B in three; c shares only its byte size with z, d only its
    // title with y; the unique song has no partner at all.
    write("Library/a.mp3", k128, 600, "Song A");
    write("Library/b.mp3", k128, 700, "Song B");
    write("Library/c.mp3", k128, 400, std::nullopt);
    write("Library/d.mp3", k128, 500, "Dawn");
    write("Backup/a.mp3", k128, 600, std::nullopt);
    write("Backup/b.mp3", k128, 700, "Song B");
    write("Incoming/a (1).mp3", k128, 600, "A (copy)");
    write("Incoming/z.mp3", k160, 400, std::nullopt);
    write("Incoming/y.mp3", k160, 520, "Dawn");
    write("Masters/B master.mp3", k128, 700, std::nullopt);
    write("Masters/unique.mp3", k128, 900, "Unique");
    const QString library = at("Library");
    const QStringList proven{at("Library/a.mp3"), at("Backup/a.mp3"), at("Incoming/a (1).mp3"),
                             at("Library/b.mp3"), at("Backup/b.mp3"), at("Masters/B master.mp3")};

    SearchSession session;
    test::RecordingHost host;
    host.tickOnly({Criterion::ExactFilename, Criterion::ExactFilesize, Criterion::ExactTag,
                   Criterion::ExactAudio});
    const std::vector<std::string> folders{at("Library").toStdString(), at("Backup").toStdString(),
                                           at("Incoming").toStdString(),
                                           at("Masters").toStdString()};
    ResultsWindow form(session);
    form.beginResultsUpdate();
    QVERIFY(RunSearch(session, folders, host));
    form.endResultsUpdate();
    form.resize(1100, 620);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ResultsModel& model = form.model();
    picture(form, QStringLiteral("found"));

    const auto rowsOf = [&](const QString& path) {
        std::vector<std::size_t> rows;
        for (int row = 0; row < model.rowCount(); ++row)
            if (model.pathText(static_cast<std::size_t>(row)) == path)
                rows.push_back(static_cast<std::size_t>(row));
        return rows;
    };
    const auto tickedFiles = [&] {
        QStringList files;
        for (const std::size_t row : model.checkedRows())
            if (!files.contains(model.pathText(row)))
                files.append(model.pathText(row));
        files.sort();
        return files;
    };
    const auto groupColumn = [&] {
        QStringList numbers;
        for (int row = 0; row < model.rowCount(); ++row)
            numbers.append(
                model.data(model.index(row, int(ResultsModel::Column::Group))).toString());
        return numbers;
    };
    QVERIFY(rowsOf(at("Masters/unique.mp3")).empty());
    QVERIFY(!rowsOf(at("Incoming/z.mp3")).empty());
    QVERIFY(!rowsOf(at("Incoming/y.mp3")).empty());

    // First use: asked which folder holds the keepers, the user answers none. The helper ticks
    // in the two groups Exact Audio proved, one copy kept in each, and nothing of the groups
    // that only a name, a size or a title made.
    QStringList askedFolders;
    form.actions().setKeepFolderChooser([&](QWidget*, const QStringList& listed) {
        askedFolders = listed;
        return std::optional<QString>();
    });
    QAction* tick = form.actions().action(ResultsActions::Command::TickAllButBest);
    tick->trigger();
    QCOMPARE(askedFolders.size(), 4);
    const QStringList firstTicks = tickedFiles();
    QCOMPARE(firstTicks.size(), 4);
    for (const QString& file : firstTicks)
        QVERIFY2(proven.contains(file), qPrintable(file));
    picture(form, QStringLiteral("ticked-by-proof"));

    // Every file ticked, and Delete checked: groups would lose every copy; Enter alone answers
    // No, and nothing moves.
    for (int row = 0; row < model.rowCount(); ++row)
        model.setFileChecked(static_cast<std::size_t>(row), true);
    const QStringList allRows = [&] {
        QStringList paths;
        for (int row = 0; row < model.rowCount(); ++row)
            paths.append(model.pathText(static_cast<std::size_t>(row)));
        return paths;
    }();
    {
        BoxAnswerer enter([&](const QString& name) { picture(form, name); }, false);
        form.onDeleteClicked();
        QCOMPARE(enter.texts.size(), 1);
        QVERIFY2(enter.texts[0].endsWith(QStringLiteral("Delete them anyway?")),
                 qPrintable(enter.texts[0]));
        QCOMPARE(enter.defaults, QStringList{QStringLiteral("&No")});
    }
    for (const QString& path : allRows)
        QVERIFY2(QFile::exists(path), qPrintable(path));
    QCOMPARE(model.rowCount(), allRows.size());
    model.clearChecks();

    // Library/ protected: its copies are the keepers, every other copy of songs A and B is
    // ticked, and still nothing of the unproven groups.
    SettingsStore().setTextList(settingskeys::kProtectedFolders, {library});
    tick->trigger();
    QCOMPARE(tickedFiles(), (QStringList{at("Backup/a.mp3"), at("Backup/b.mp3"),
                                         at("Incoming/a (1).mp3"), at("Masters/B master.mp3")}));
    picture(form, QStringLiteral("library-protected"));

    // Delete checked: the confirmation says what goes and defaults to No; Enter moves nothing.
    const QStringList groupsBefore = groupColumn();
    {
        BoxAnswerer enter([&](const QString& name) { picture(form, name); }, false);
        form.onDeleteClicked();
        QCOMPARE(enter.texts.size(), 1);
        QVERIFY2(enter.texts[0].startsWith(QStringLiteral("Move 4 files (")) &&
                     enter.texts[0].endsWith(
                         QStringLiteral("to the trash? All 4 are copies of the same recording.")),
                 qPrintable(enter.texts[0]));
        QCOMPARE(enter.defaults, QStringList{QStringLiteral("&No")});
    }
    QVERIFY(QFile::exists(at("Backup/a.mp3")));
    QCOMPARE(groupColumn(), groupsBefore);

    // Yes: the four copies go to the trash, their rows go, the shading goes (a declined delete
    // has taken it already), the numbers stay.
    const std::vector<ColorGroup> shadesBefore = model.colors();
    {
        BoxAnswerer yes([&](const QString& name) { picture(form, name); }, true);
        form.onDeleteClicked();
        QCOMPARE(yes.texts.size(), 1);
    }
    QVERIFY(!QFile::exists(at("Backup/a.mp3")));
    QVERIFY(QFile::exists(at("Library/a.mp3")));
    QStringList remaining;
    for (int row = 0; row < groupsBefore.size(); ++row)
        if (!QStringList{at("Backup/a.mp3"), at("Backup/b.mp3"), at("Incoming/a (1).mp3"),
                         at("Masters/B master.mp3")}
                 .contains(allRows[row]))
            remaining.append(groupsBefore[row]);
    QCOMPARE(groupColumn(), remaining);
    QVERIFY(!model.data(model.index(0, 0), Qt::BackgroundRole).isValid());
    picture(form, QStringLiteral("after-delete"));

    // Undo: every file and row back, in its group and shade.
    form.actions().action(ResultsActions::Command::UndoDelete)->trigger();
    for (const QString& path : proven)
        QVERIFY2(QFile::exists(path), qPrintable(path));
    QCOMPARE(groupColumn(), groupsBefore);
    QCOMPARE(model.colors(), shadesBefore);
    picture(form, QStringLiteral("after-undo"));
}

int main(int argc, char** argv)
{
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    ResultsTour tour;
    return QTest::qExec(&tour, argc, argv);
}

#include "test_resultstour.moc"
