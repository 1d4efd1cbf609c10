#pragma once

#include "search/host.h"

#include <QString>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QObject;

namespace tunesift {

class SettingsStore;

// What a run shows in the main window. Called on the window's (GUI) thread only.
class RunDisplay
{
public:
    virtual ~RunDisplay() = default;
    virtual void showRunCaption(const QString& caption) = 0;
    virtual void showRunProgress(int percent) = 0;
    // The line under the progress bar: what the run does, in words and counts.
    virtual void showRunWork(const QString& text) = 0;
    virtual MessageAnswer askRunMessage(const QString& text, const QString& title,
                                        MessageButtons buttons) = 0;
    virtual void showRunStarted() = 0;
    virtual void noteResultsReady() = 0;
    virtual void showRunFinished() = 0;
};

// What the window and the thread of a run share besides the "Stop" key: the criteria boxes,
// mirrored as they change, the answers of message boxes, and the window going away.
class RunChannel
{
public:
    void setCriterion(Criterion criterion, bool ticked);
    bool criterion(Criterion criterion) const;

    // The window is closing: every wait for an answer ends, and the run sees a stop request.
    void close();
    bool closed() const;

    // A question asked from the run's thread and answered on the GUI thread.
    struct Reply
    {
        std::optional<MessageAnswer> answer;
    };
    void answer(Reply& reply, MessageAnswer answer);
    // The answer, or nothing when the channel closed first.
    std::optional<MessageAnswer> waitForAnswer(const Reply& reply);

    void setRunActive(bool active);
    bool runActive() const;
    // True when no run is active (any more) within the timeout.
    bool waitUntilIdle(std::chrono::milliseconds timeout);

private:
    std::array<std::atomic<bool>, kCriterionCount> m_criteria{};
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_closed = false;
    bool m_runActive = false;
};

// The search host of the GUI. Lives on the run's thread: reads the criteria from the channel and
// "Stop" from its own settings store, and hands everything the user sees to the GUI thread —
// captions and progress queued (in order), message boxes as blocking questions.
class GuiSearchHost final : public SearchHost
{
public:
    // context: a QObject of the GUI thread that outlives the host (queued calls are dropped if it
    // is destroyed before they run); display: called on that thread.
    GuiSearchHost(RunChannel& channel, SettingsStore& store, QObject* context, RunDisplay* display);

    bool isCriterionTicked(Criterion criterion) override;
    bool isStopRequested() override;
    void resetStop() override;
    void setCaption(const std::string& caption) override;
    void setProgress(int percent) override;
    void showWork(const RunProgress& progress) override;
    MessageAnswer showMessage(const std::string& text, const std::string& title,
                              MessageButtons buttons) override;
    void runStarted() override;
    void showResults() override;
    void runFinished() override;

    // Options of the run, set before it starts.
    void setReading(bool id3v2Titles, FileCache* cache)
    {
        m_id3v2Titles = id3v2Titles;
        m_cache = cache;
    }
    bool readsID3v2Titles() override { return m_id3v2Titles; }
    FileCache* fileCache() override { return m_cache; }

private:
    template <typename Call>
    void post(Call&& call);

    RunChannel& m_channel;
    SettingsStore& m_store;
    QObject* m_context;
    RunDisplay* m_display;
    // The run sets the progress once per compared file; only changes cross to the GUI thread.
    std::optional<int> m_lastProgress;
    std::optional<std::string> m_lastCaption;
    bool m_id3v2Titles = false;
    FileCache* m_cache = nullptr;
};

} // namespace tunesift
