// How soon the main window's Stop button ends a search. Starts the real main window on a library
// (six criteria, the large-catalogue question answered Yes), clicks Stop at chosen seconds into
// the run and times, from the click:
//   finished  the Stop button gives its place back to the find button (the run's last call);
//   ready     the run's thread is joined and the window's closing steps are done (runEnded);
//   CPU       the program's processor time over the same span, which a loaded machine does not
//             stretch as it does the wall time;
// and, for the whole run, the longest time the window's thread did not get to its event loop.
//
//   stop_window [--cache empty|warm|none] [--at S,S,...] [--points N] LIBRARY
//
// Without --at it first runs the search to its end and spreads N points (10) evenly over that
// length. empty: the facts cache is deleted before each run, so every file is read and written
// to it; warm: one full run fills it first; none: no cache can be opened, every file is read.
// Run it under QT_QPA_PLATFORM=offscreen (or on an X server). Settings, cache and trash live in a
// scratch home that is removed at the end.
#include "platform/settings.h"
#include "search/searchrun.h"
#include "ui/main/mainwindow.h"
#include "ui/support/messageboxes.h"
#include "ui/support/picturebutton.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace tunesift;

namespace {

// The user at the message boxes: Yes to the large-catalogue question, OK to anything else, which
// is counted (a stopped run shows none).
class AnsweringBoxes final : public MessageBoxes
{
public:
    MessageAnswer show(QWidget*, const QString&, const QString&, MessageButtons buttons) override
    {
        if (buttons == MessageButtons::YesNo)
            return MessageAnswer::Yes;
        ++messages;
        return MessageAnswer::Ok;
    }
    int messages = 0;
};

struct Measure
{
    double startedAt = 0;            // seconds from the find button's click to the Stop click
    std::optional<double> clickS;    // the Stop click's own time on the window's thread
    std::optional<double> finishedS; // Stop click to the find button back
    std::optional<double> readyS;    // Stop click to the run's end (thread joined)
    std::optional<double> cpuS; // processor time of the program from the click to the run's end
    double runS = 0;            // find button to the run's end
    double longestStallS = 0;   // longest gap of the window's event loop during the run
    double longestStallAfterStopS = 0;
    QString doing;    // the line under the progress bar at the click
    int messages = 0; // message boxes shown, besides the large-catalogue question
};

double seconds(const QElapsedTimer& clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

// Processor time of this program so far, every thread's; a loaded machine does not stretch it as
// it does the wall time.
double processCpu()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double loadAverage()
{
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// One run from the find button; the Stop button is clicked at stopAt seconds (none: never).
Measure runOnce(const QString& library, std::optional<double> stopAt)
{
    SearchSession session;
    AnsweringBoxes boxes;
    auto form = std::make_unique<MainWindow>(session);
    form->setMessageBoxes(&boxes);
    for (QCheckBox* box : {form->exactFilenameBox, form->exactFilesizeBox, form->similarFilenameBox,
                           form->exactTagBox, form->similarTagBox, form->exactAudioBox})
        box->setChecked(true);
    form->similarAudioBox->setChecked(false);
    form->id3v2TitlesBox->setChecked(false);
    form->addFolders({library});
    form->show();
    QCoreApplication::processEvents();

    Measure m;
    QElapsedTimer clock;
    QElapsedTimer sinceStop;
    double cpuAtStop = 0;
    QEventLoop loop;
    bool ended = false;
    QObject::connect(form.get(), &MainWindow::runEnded, &loop, [&] {
        m.runS = seconds(clock);
        if (sinceStop.isValid()) {
            m.readyS = seconds(sinceStop);
            m.cpuS = processCpu() - cpuAtStop;
        }
        ended = true;
        loop.quit();
    });

    // The find button's return: the Stop button hides in the run's last call to the window.
    struct HideWatch : QObject
    {
        std::function<void()> onHide;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Hide && onHide)
                onHide();
            return false;
        }
    } watch;
    watch.onHide = [&] {
        if (sinceStop.isValid() && !m.finishedS)
            m.finishedS = seconds(sinceStop);
    };
    form->stopButton->installEventFilter(&watch);

    // The window's event loop: how long it went without turning.
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    beat.setInterval(5);
    QElapsedTimer sinceBeat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const double gap = seconds(sinceBeat);
        sinceBeat.restart();
        m.longestStallS = std::max(m.longestStallS, gap);
        if (sinceStop.isValid())
            m.longestStallAfterStopS = std::max(m.longestStallAfterStopS, gap);
    });

    QTimer stopper;
    stopper.setSingleShot(true);
    stopper.setTimerType(Qt::PreciseTimer);
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (ended || !form->stopButton->isVisible())
            return; // the run ended first
        m.startedAt = seconds(clock);
        m.doing = form->progressText->text();
        cpuAtStop = processCpu();
        sinceStop.start();
        QTest::mouseClick(form->stopButton, Qt::LeftButton);
        m.clickS = seconds(sinceStop);
    });

    clock.start();
    sinceBeat.start();
    beat.start();
    QTest::mouseClick(form->findButton, Qt::LeftButton);
    if (stopAt)
        stopper.start(static_cast<int>(*stopAt * 1000));
    if (!ended)
        loop.exec();
    beat.stop();
    m.messages = boxes.messages;
    if (!sinceStop.isValid() && stopAt)
        m.startedAt = *stopAt; // the run ended before the click was due
    form->stopButton->removeEventFilter(&watch);
    return m;
}

std::vector<double> parseSeconds(const char* text)
{
    std::vector<double> values;
    for (const char* p = text; *p;) {
        char* end = nullptr;
        values.push_back(std::strtod(p, &end));
        if (end == p)
            break;
        p = *end == ',' ? end + 1 : end;
    }
    return values;
}

int usage()
{
    std::fprintf(stderr, "usage: stop_window [--cache empty|warm|none] [--at S,S,...] "
                         "[--points N] LIBRARY\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    // A scratch home: the settings store, the facts cache and the trash of the window stay in it.
    QByteArray home = QDir::tempPath().toLocal8Bit() + "/tunesift-stop-window-XXXXXX";
    if (!mkdtemp(home.data()))
        return 1;
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/config");
    qputenv("XDG_DATA_HOME", home + "/share");
    qputenv("XDG_CACHE_HOME", home + "/cache");

    QApplication app(argc, argv);
    std::string cacheMode = "empty";
    std::vector<double> at;
    int points = 10;
    QString library;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--cache" && i + 1 < argc)
            cacheMode = argv[++i];
        else if (arg == "--at" && i + 1 < argc)
            at = parseSeconds(argv[++i]);
        else if (arg == "--points" && i + 1 < argc)
            points = std::max(1, std::atoi(argv[++i]));
        else if (!arg.empty() && arg[0] != '-' && library.isEmpty())
            library = QDir(QString::fromLocal8Bit(argv[i])).absolutePath();
        else
            return usage();
    }
    if (library.isEmpty() || (cacheMode != "empty" && cacheMode != "warm" && cacheMode != "none"))
        return usage();

    const QString cacheFolder = QString::fromLocal8Bit(home) + QStringLiteral("/cache/tunesift");
    if (cacheMode == "none") {
        // A file where the cache's folder would be: the window then reads without a cache.
        QDir().mkpath(QString::fromLocal8Bit(home) + QStringLiteral("/cache"));
        QFile blocker(cacheFolder);
        blocker.open(QIODevice::WriteOnly);
    }
    const auto prepare = [&] {
        if (cacheMode == "empty")
            QDir(cacheFolder).removeRecursively();
    };

    if (cacheMode == "warm" || at.empty()) {
        prepare();
        const Measure full = runOnce(library, std::nullopt);
        std::printf("full run (%s cache): %.2f s, longest stall of the window %.3f s, load %.2f\n",
                    cacheMode.c_str(), full.runS, full.longestStallS, loadAverage());
        if (at.empty())
            for (int k = 0; k < points; ++k)
                at.push_back(full.runS * (k + 0.5) / points);
    }

    double worst = -1;
    for (const double when : at) {
        prepare();
        const Measure m = runOnce(library, when);
        if (!m.readyS) {
            std::printf("stop at %7.2f s: the run had ended after %.2f s\n", when, m.runS);
            continue;
        }
        worst = std::max(worst, *m.readyS);
        std::printf("stop at %7.2f s -> finished %.3f s, ready %.3f s, %.3f s CPU (click %.3f s, "
                    "longest stall %.3f s after the stop, %.3f s in all, %d messages) load %.2f  "
                    "%s\n",
                    m.startedAt, m.finishedS.value_or(-1), *m.readyS, m.cpuS.value_or(-1),
                    m.clickS.value_or(-1), m.longestStallAfterStopS, m.longestStallS, m.messages,
                    loadAverage(), qPrintable(m.doing));
        std::fflush(stdout);
    }
    std::printf("worst from Stop to a ready window: %.3f s (goal 0.5 s)\n", worst);
    QDir(QString::fromLocal8Bit(home)).removeRecursively();
    return 0;
}
