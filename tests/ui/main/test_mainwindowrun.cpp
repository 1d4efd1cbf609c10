// Searches started from the main window over real folder trees: what the window shows while the
// run works on its own thread, the messages, Stop, closing, and the hand-over to the results
// window.
#include "mainfixture.h"
#include "platform/settings.h"
#include "search/searchrun.h"
#include "ui/main/mainwindow.h"
#include "ui/results/resultswindow.h"
#include "ui/support/picturebutton.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace tunesift;
using namespace tunesift::test;

namespace {

const QString kSkipTail = QStringLiteral(
    " has been skipped because it is unrecognizeable. This is probably because it contains strange "
    "characters. Please rename the file or folder if you would like it included next time you "
    "find dupes.");

} // namespace

class TestMainWindowRun : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SearchSession> m_session;
    std::unique_ptr<MainWindow> m_form;
    RecordingMessageBoxes m_boxes;
    QStringList m_captions;
    QList<int> m_progress;
    std::vector<std::string> m_unreadableFolders; // Qt cannot name them, so cannot remove them

    QString folder(const QString& name) const { return m_dir->path() + QLatin1Char('/') + name; }

    MainWindow& makeForm()
    {
        m_session = std::make_unique<SearchSession>();
        m_form = std::make_unique<MainWindow>(*m_session);
        m_form->setMessageBoxes(&m_boxes);
        connect(m_form.get(), &QWidget::windowTitleChanged, this,
                [this](const QString& caption) { m_captions.append(caption); });
        connect(m_form->progressBar, &QProgressBar::valueChanged, this,
                [this](int value) { m_progress.append(value); });
        m_form->show();
        return *m_form;
    }

    // Presses the find button and waits until the run and its closing steps are done.
    static bool runSearch(MainWindow& form)
    {
        QSignalSpy ended(&form, &MainWindow::runEnded);
        QTest::mouseClick(form.findButton, Qt::LeftButton);
        return ended.wait(60000) && !form.isRunActive();
    }

    // A folder whose name is not valid UTF-8: the scan shows "Skip" for it, which gives the tests
    // a moment in the middle of a run.
    bool makeUnreadableFolder(const QString& parent)
    {
#ifdef _WIN32
        Q_UNUSED(parent);
        return false;
#else
        const std::string path = parent.toStdString() + "/bad\xff";
        if (::mkdir(path.c_str(), 0755) != 0)
            return false;
        m_unreadableFolders.push_back(path);
        return true;
#endif
    }

    void expectIdle(MainWindow& form)
    {
        QVERIFY(form.findButton->isVisibleTo(&form));
        QVERIFY(!form.stopButton->isVisibleTo(&form));
        QCOMPARE(form.windowTitle(), QStringLiteral("Tunesift"));
        QCOMPARE(form.progressBar->value(), 0);
        QVERIFY(form.progressText->text().isEmpty()); // the run's last words go with it
    }

private slots:
    void init()
    {
        UseEmptyTestSettings();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_boxes = RecordingMessageBoxes();
        m_captions.clear();
        m_progress.clear();
    }

    void cleanup()
    {
        m_form.reset();
        m_session.reset();
#ifndef _WIN32
        for (const std::string& path : m_unreadableFolders)
            ::rmdir(path.c_str());
#endif
        m_unreadableFolders.clear();
        m_dir.reset();
    }

    void runShowsCaptionsProgressAndResults()
    {
        WriteMp3(folder("T/a.mp3"));
        WriteMp3(folder("T/b.mp3"));
        WriteMp3(folder("T/S/a.mp3"));
        StoreText(settingskeys::kStop, QStringLiteral("True")); // left over from a stopped run
        MainWindow& form = makeForm();
        form.exactFilenameBox->setChecked(true);
        form.addFolders({folder("T")});

        QVERIFY(runSearch(form));

        QCOMPARE(m_captions,
                 (QStringList{"Tunesift [Analyzing " + folder("T") + " folder]", "Tunesift",
                              "Tunesift [Finding duplicates - Exact Filename]", "Tunesift"}));
        // Scan of two folders (0, 50, 100), then one step per catalogued file, then idle.
        QCOMPARE(m_progress, (QList<int>{50, 100, 33, 66, 100, 0}));
        QVERIFY(m_boxes.shown.isEmpty());
        QCOMPARE(StoredText(settingskeys::kStop), QStringLiteral("False"));

        QCOMPARE(m_session->results().size(), std::size_t{2});
        QVERIFY(form.resultsWindow());
        QVERIFY(form.resultsWindow()->isVisible());
        QVERIFY(!form.isVisible());
        expectIdle(form);

        // The same results window serves the next search.
        ResultsWindow* first = form.resultsWindow();
        form.show();
        QVERIFY(runSearch(form));
        QCOMPARE(form.resultsWindow(), first);
        QCOMPARE(m_session->results().size(), std::size_t{2});
    }

    void emptyListSaysSoAndResetsNothing()
    {
        StoreText(settingskeys::kStop, QStringLiteral("True"));
        MainWindow& form = makeForm();
        form.exactFilenameBox->setChecked(true);
        QVERIFY(runSearch(form));
        QCOMPARE(m_boxes.shown.size(), 1);
        QCOMPARE(m_boxes.shown[0].text,
                 QStringLiteral("There are no folders to find duplicates for. Please drag and "
                                "drop some folders into the list above."));
        QCOMPARE(m_boxes.shown[0].title, QStringLiteral("Tunesift"));
        QCOMPARE(m_boxes.shown[0].buttons, MessageButtons::Ok);
        QCOMPARE(StoredText(settingskeys::kStop), QStringLiteral("True"));
        QVERIFY(!form.resultsWindow());
        QVERIFY(form.isVisible());
        expectIdle(form);
    }

    void noCriterionScansFirstThenSaysSo()
    {
        WriteMp3(folder("T/a.mp3"));
        WriteMp3(folder("U/a.mp3"));
        MainWindow& form = makeForm();
        form.addFolders({folder("T"), folder("U")});
        QVERIFY(runSearch(form));
        QVERIFY(m_captions.contains("Tunesift [Analyzing " + folder("U") + " folder]"));
        QCOMPARE(m_boxes.shown.size(), 1);
        QCOMPARE(m_boxes.shown[0].text,
                 QStringLiteral("Please select at least one option at the upper right: Exact "
                                "Filename, Exact Filesize, Similar Filename, Exact Tag, Similar "
                                "Tag, Exact Audio, Similar Audio"));
        QCOMPARE(m_boxes.shown[0].title, QStringLiteral("Tunesift"));
        QVERIFY(m_session->results().empty());
        QVERIFY(form.isVisible());
        QVERIFY(!form.resultsWindow()->isVisible());
        expectIdle(form);
    }

    void nothingFoundSaysNoDupes()
    {
        WriteMp3(folder("T/a.mp3"));
        WriteMp3(folder("T/b.mp3"));
        MainWindow& form = makeForm();
        form.exactFilenameBox->setChecked(true);
        form.addFolders({folder("T")});
        QVERIFY(runSearch(form));
        QCOMPARE(m_boxes.shown.size(), 1);
        QCOMPARE(m_boxes.shown[0].text, QStringLiteral("No duplicate MP3s found."));
        QCOMPARE(m_boxes.shown[0].title, QStringLiteral("No dupes"));
        QVERIFY(form.isVisible());
        QVERIFY(!form.resultsWindow()->isVisible());
        expectIdle(form);
    }

    void stopEndsTheRunWithoutMessages()
    {
        QVERIFY(QDir().mkpath(folder("T")));
        if (!makeUnreadableFolder(folder("T")))
            QSKIP("the file system refuses names that are not UTF-8");
        WriteMp3(folder("T/a.mp3"));
        WriteMp3(folder("U/a.mp3"));
        MainWindow& form = makeForm();
        form.exactFilenameBox->setChecked(true);
        form.addFolders({folder("T"), folder("U")});

        bool stopShownDuringRun = false;
        QString workLine;
        m_boxes.onShow = [&](const RecordingMessageBoxes::Shown&) {
            workLine = form.progressText->text();
            stopShownDuringRun = form.stopButton->isVisible() && !form.findButton->isVisible() &&
                                 form.stopButton->geometry() == QRect(368, 8, 113, 73);
            QTest::mouseClick(form.stopButton, Qt::LeftButton);
            return MessageAnswer::Ok;
        };
        QVERIFY(runSearch(form));

        QVERIFY(stopShownDuringRun);
        // Under the bar, while the first folder is listed.
        QVERIFY2(workLine.startsWith(QStringLiteral("Scanning: 0 files in 0 folders - 0:0")),
                 qPrintable(workLine));
        QCOMPARE(m_boxes.shown.size(), 1);
        QCOMPARE(m_boxes.shown[0].title, QStringLiteral("Skip"));
        QVERIFY(m_boxes.shown[0].text.startsWith(folder("T/bad")));
        QVERIFY(m_boxes.shown[0].text.endsWith(kSkipTail));
        QVERIFY(!m_captions.contains("Tunesift [Analyzing " + folder("U") + " folder]"));
        QCOMPARE(StoredText(settingskeys::kStop), QStringLiteral("True"));
        QVERIFY(form.isVisible());
        QVERIFY(!form.resultsWindow()->isVisible());
        expectIdle(form);
    }

    // While a run works the window stays usable: a criterion ticked meanwhile still runs, and
    // the folder list can change without disturbing the run's own copy of it.
    void windowStaysUsableDuringARun()
    {
        QVERIFY(QDir().mkpath(folder("T")));
        if (!makeUnreadableFolder(folder("T")))
            QSKIP("the file system refuses names that are not UTF-8");
        WriteMp3(folder("T/Hey Jude.mp3"));
        WriteMp3(folder("U/Hey Jude.mp3"));
        WriteMp3(folder("U/hey jude.mp3"));
        MainWindow& form = makeForm();
        form.exactFilenameBox->setChecked(true);
        form.addFolders({folder("T"), folder("U")});
        m_boxes.onShow = [&](const RecordingMessageBoxes::Shown&) {
            form.similarFilenameBox->setChecked(true);
            QTest::mouseClick(form.clearListButton, Qt::LeftButton);
            return MessageAnswer::Ok;
        };
        QVERIFY(runSearch(form));

        QVERIFY(form.folderEntries().isEmpty());
        QVERIFY(m_captions.contains("Tunesift [Analyzing " + folder("U") + " folder]"));
        QVERIFY(m_captions.contains("Tunesift [Finding duplicates - Exact Filename]"));
        QVERIFY(m_captions.contains("Tunesift [Finding duplicates - Similar Filename]"));
        // Two rows of equal names, three of names alike but for the letter case.
        QCOMPARE(m_session->results().size(), std::size_t{5});
        QVERIFY(form.resultsWindow()->isVisible());
    }

    void closingTheWindowEndsTheRun()
    {
        QVERIFY(QDir().mkpath(folder("T")));
        if (!makeUnreadableFolder(folder("T")))
            QSKIP("the file system refuses names that are not UTF-8");
        WriteMp3(folder("T/a.mp3"));
        WriteMp3(folder("U/a.mp3"));
        MainWindow& form = makeForm();
        form.exactFilenameBox->setChecked(true);
        form.addFolders({folder("T"), folder("U")});
        m_boxes.onShow = [&](const RecordingMessageBoxes::Shown&) {
            form.close();
            return MessageAnswer::Ok;
        };
        QVERIFY(runSearch(form));
        QVERIFY(form.endRunForExit(std::chrono::milliseconds(0)));
        QCOMPARE(m_boxes.shown.size(), 1);
        QVERIFY(!m_captions.contains("Tunesift [Analyzing " + folder("U") + " folder]"));
        QVERIFY(!form.resultsWindow()->isVisible());
        // Closing is not a Stop press: the key keeps what the run wrote.
        QCOMPARE(StoredText(settingskeys::kStop), QStringLiteral("False"));
    }
};

QTEST_MAIN(TestMainWindowRun)
#include "test_mainwindowrun.moc"
