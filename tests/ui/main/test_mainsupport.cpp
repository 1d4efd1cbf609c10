// The pieces under the main window: placement, cursor files, folder entry texts, message texts
// and the host that carries a run's calls between its thread and the window.
#include "mainfixture.h"
#include "platform/settings.h"
#include "search/progress.h"
#include "ui/main/folderpaths.h"
#include "ui/main/guisearchhost.h"
#include "ui/support/cursorfile.h"
#include "ui/support/windowplacement.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <future>
#include <thread>

using namespace tunesift;
using namespace tunesift::test;

namespace {

// A display that records what reaches the window's thread and answers questions as told.
class RecordingDisplay : public QObject, public RunDisplay
{
public:
    QStringList calls;
    MessageAnswer answer = MessageAnswer::Yes;
    Qt::HANDLE thread = nullptr;

    void showRunCaption(const QString& caption) override { note("caption " + caption); }
    void showRunProgress(int percent) override { note("progress " + QString::number(percent)); }
    void showRunWork(const QString& text) override { note("work " + text); }
    MessageAnswer askRunMessage(const QString& text, const QString& title, MessageButtons) override
    {
        note("message " + title + ": " + text);
        return answer;
    }
    void showRunStarted() override { note(QStringLiteral("started")); }
    void noteResultsReady() override { note(QStringLiteral("results")); }
    void showRunFinished() override { note(QStringLiteral("finished")); }

private:
    void note(const QString& call)
    {
        calls.append(call);
        thread = QThread::currentThreadId();
    }
};

// A 32 by 32 icon file turned into a cursor file with the given hot spot.
QByteArray cursorFileBytes(int hotX, int hotY)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "ico");
    if (!writer.write(image))
        return {};
    bytes[2] = 2; // type: cursor
    bytes[6 + 4] = char(hotX);
    bytes[6 + 6] = char(hotY);
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestMainSupport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { UseEmptyTestSettings(); }

    void centredPlacement()
    {
        QCOMPARE(CenteredPlacement(QSizeF(15360, 11520), QSizeF(9000, 6000)), QPointF(3180, 1760));
        QCOMPARE(CenteredPlacement(QSizeF(15360, 11520), QSizeF(15360, 11520)), QPointF(0, -1000));
        // Nothing is clamped.
        QCOMPARE(CenteredPlacement(QSizeF(15360, 11520), QSizeF(16000, 12000)),
                 QPointF(-320, -1240));
    }

    void cursorFileWithHotSpot()
    {
        QTemporaryDir dir;
        const QByteArray bytes = cursorFileBytes(5, 7);
        if (bytes.isEmpty())
            QSKIP("this Qt cannot write icon files");
        QVERIFY(writeFile(dir.filePath("HAND-M.CUR"), bytes));

        const std::optional<QCursor> cursor = LoadCursorFile(dir.filePath("HAND-M.CUR"));
        QVERIFY(cursor);
        QCOMPARE(cursor->shape(), Qt::BitmapCursor);
        QCOMPARE(cursor->hotSpot(), QPoint(5, 7));
        QCOMPARE(cursor->pixmap().size(), QSize(32, 32));
        QCOMPARE(HandCursor(dir.path()).shape(), Qt::BitmapCursor);

        // A hot spot outside the picture falls back to the centre instead of pointing nowhere.
        QVERIFY(writeFile(dir.filePath("far.cur"), cursorFileBytes(200, 3)));
        QCOMPARE(LoadCursorFile(dir.filePath("far.cur"))->hotSpot(), QPoint(16, 16));
    }

    void cursorFileMissingOrBroken()
    {
        QTemporaryDir dir;
        QVERIFY(!LoadCursorFile(dir.filePath("HAND-M.CUR")));
        QCOMPARE(HandCursor(dir.path()).shape(), Qt::PointingHandCursor);

        QVERIFY(writeFile(dir.filePath("HAND-M.CUR"), QByteArray(6 + 16, '\0') + "garbage"));
        QVERIFY(!LoadCursorFile(dir.filePath("HAND-M.CUR")));
        QCOMPARE(HandCursor(dir.path()).shape(), Qt::PointingHandCursor);

        QVERIFY(writeFile(dir.filePath("short.cur"), QByteArray("\0\0\2\0", 4)));
        QVERIFY(!LoadCursorFile(dir.filePath("short.cur")));
    }

    void droppedEntries()
    {
        QTemporaryDir dir;
        QCOMPARE(folderEntryFromDrop(dir.path()), std::optional<QString>(dir.path()));
        QCOMPARE(folderEntryFromDrop(dir.path() + "/"), std::optional<QString>(dir.path() + "/"));
        QCOMPARE(folderEntryFromDrop(dir.path() + "/x.mp3"), std::optional<QString>(dir.path()));
        QCOMPARE(folderEntryFromDrop("/x.mp3"), std::optional<QString>("/"));
        QVERIFY(!folderEntryFromDrop(QString()));
        QVERIFY(!folderEntryFromDrop("relative.mp3"));

        QMimeData none;
        QVERIFY(!folderEntriesFromDrop(&none).ok);
        QVERIFY(!folderEntriesFromDrop(nullptr).ok);
    }

    void messageTextsBreakAtCarriageReturns()
    {
        QCOMPARE(MessageBoxDisplayText("a.\r\rWould you?"), QStringLiteral("a.\n\nWould you?"));
        QCOMPARE(MessageBoxDisplayText("one\r\ntwo"), QStringLiteral("one\ntwo"));
    }

    // Everything the run's thread hands over arrives on the window's thread, in order; a question
    // waits for its answer.
    void hostCarriesCallsToTheWindowThread()
    {
        RecordingDisplay display;
        RunChannel channel;
        channel.setCriterion(Criterion::SimilarTag, true);

        std::promise<MessageAnswer> answered;
        std::future<MessageAnswer> answer = answered.get_future();
        std::vector<bool> ticked;
        std::thread run([&] {
            SettingsStore store;
            GuiSearchHost host(channel, store, &display, &display);
            host.resetStop();
            host.runStarted();
            host.setCaption("Tunesift [Analyzing x folder]");
            for (int percent : {0, 0, 50, 50, 100})
                host.setProgress(percent);
            RunProgress reading;
            reading.phase = WorkPhase::Reading;
            reading.done = 1200;
            reading.total = 3000;
            reading.elapsed = std::chrono::seconds(75);
            host.showWork(reading);
            host.setCaption("Tunesift");
            host.setCaption("Tunesift");
            for (Criterion c : {Criterion::ExactFilename, Criterion::SimilarTag})
                ticked.push_back(host.isCriterionTicked(c));
            answered.set_value(host.showMessage("Go on?", "Question", MessageButtons::YesNo));
            host.showResults();
            host.runFinished();
        });
        QTRY_VERIFY_WITH_TIMEOUT(
            answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready, 60000);
        run.join();
        QCoreApplication::processEvents();

        QCOMPARE(answer.get(), MessageAnswer::Yes);
        QCOMPARE(ticked, (std::vector<bool>{false, true}));
        QCOMPARE(display.calls, (QStringList{"started", "caption Tunesift [Analyzing x folder]",
                                             "progress 0", "progress 50", "progress 100",
                                             "work Reading 1,200 of 3,000 files - 1:15 elapsed",
                                             "caption Tunesift", "message Question: Go on?",
                                             "results", "finished"}));
        QCOMPARE(display.thread, QThread::currentThreadId());
        QCOMPARE(StoredText(settingskeys::kStop), QStringLiteral("False"));
    }

    // Closing the window while the run waits for an answer frees the run: it gets No, sees a
    // stop, and the question never opens.
    void closingFreesAWaitingRun()
    {
        RecordingDisplay display;
        RunChannel channel;
        std::promise<void> asking;
        MessageAnswer answer = MessageAnswer::Yes;
        bool stopSeen = false;
        std::thread run([&] {
            SettingsStore store;
            GuiSearchHost host(channel, store, &display, &display);
            host.resetStop();
            asking.set_value();
            answer = host.showMessage("Go on?", "Question", MessageButtons::YesNo);
            stopSeen = host.isStopRequested();
        });
        asking.get_future().wait();
        channel.close();
        run.join();
        QCoreApplication::processEvents();
        QCOMPARE(answer, MessageAnswer::No);
        QVERIFY(stopSeen);
        QVERIFY(display.calls.isEmpty());
        QVERIFY(channel.waitUntilIdle(std::chrono::milliseconds(0)));
    }

    void stopKeyIsTheStopRequest()
    {
        RunChannel channel;
        RecordingDisplay display;
        SettingsStore store;
        GuiSearchHost host(channel, store, &display, &display);
        host.resetStop();
        QVERIFY(!host.isStopRequested());
        SettingsStore button; // the Stop button's own store
        button.writeBool(settingskeys::kStop, true);
        QVERIFY(host.isStopRequested());
        QCOMPARE(StoredText(settingskeys::kStop), QStringLiteral("True"));
    }
};

QTEST_MAIN(TestMainSupport)
#include "test_mainsupport.moc"
