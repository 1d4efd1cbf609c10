#pragma once

#include "ui/main/guisearchhost.h"

#include <QObject>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace tunesift {

class SearchSession;

// The main window's search on a thread of its own. The run talks to the window only through the
// display (captions, progress, questions, all on the window's thread) and the channel (criteria
// boxes, closing); the "Stop" key of the settings store asks it to end. Only one run at a time.
class SearchRunner : public QObject
{
    Q_OBJECT
public:
    // display: called on the thread of context, which must outlive the runner's runs.
    SearchRunner(SearchSession& session, QObject* context, RunDisplay* display);
    ~SearchRunner() override;

    RunChannel& channel() { return m_channel; }
    bool isActive() const { return m_thread.joinable(); }

    // Starts a run over the folders (a snapshot: the list stays free to edit meanwhile), with
    // the default cache where it can be used. False when a run is active already.
    bool start(std::vector<std::string> folders, bool id3v2Titles);

    // Program end: tells a running search to end and waits for it at most the timeout. False
    // when it is still busy (somewhere it does not look at the stop flag); the caller then ends
    // the process without waiting.
    bool endForExit(std::chrono::milliseconds timeout);

signals:
    // The run's thread has ended and is joined; everything it posted has been shown.
    void finished();

private:
    void onThreadDone();

    SearchSession& m_session;
    QObject* m_context;
    RunDisplay* m_display;
    RunChannel m_channel;
    std::thread m_thread;
};

} // namespace tunesift
