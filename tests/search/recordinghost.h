#pragma once

#include "search/host.h"
#include "search/progress.h"

#include <array>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

namespace tunesift::test {

// One call a run made to its host that the user could see (or that changes the stop flag).
// Polls of the stop flag and of the criterion boxes are counted apart: how often the engine
// polls is its own business, what it shows is not.
struct HostCall
{
    enum class Kind
    {
        ResetStop,
        RunStarted,
        Caption,
        Progress,
        Message,
        ShowResults,
        RunFinished
    };

    Kind kind = Kind::Caption;
    std::string text; // caption or message text
    std::string title;
    MessageButtons buttons = MessageButtons::Ok;
    int progress = 0;

    static HostCall caption(std::string text);
    static HostCall progressTo(int percent);
    static HostCall message(std::string text, std::string title,
                            MessageButtons buttons = MessageButtons::Ok);
    static HostCall of(Kind kind);

    bool operator==(const HostCall&) const = default;
};

std::ostream& operator<<(std::ostream& out, const HostCall& call);

// A host that records every call in order and plays a script: which boxes are ticked, how
// questions are answered, and actions fired right after a chosen call (set the stop flag, tick
// or clear a box, change the files on disk).
class RecordingHost : public SearchHost
{
public:
    using Action = std::function<void(RecordingHost&)>;
    using Predicate = std::function<bool(const HostCall&, std::size_t index)>;

    void setTicked(Criterion criterion, bool ticked);
    void tickOnly(std::initializer_list<Criterion> criteria);
    bool ticked(Criterion criterion) const;
    void setAnswer(MessageAnswer answer) { m_answer = answer; }
    void requestStop() { m_stop = true; }

    // Fires once, right after the first call that matches.
    void after(Predicate when, Action action);
    void stopAfterCall(std::size_t index);
    void afterCaption(const std::string& caption, Action action);
    void tickAfterCaption(const std::string& caption, Criterion criterion, bool ticked);

    const std::vector<HostCall>& calls() const { return m_calls; }
    std::vector<std::string> captions() const;
    std::vector<int> progressValues() const;
    std::vector<HostCall> messages() const;
    std::size_t count(HostCall::Kind kind) const;
    std::size_t stopPolls() const { return m_stopPolls; }
    std::size_t tickPolls(Criterion criterion) const
    {
        return m_tickPolls[static_cast<std::size_t>(criterion)];
    }

    bool isCriterionTicked(Criterion criterion) override;
    bool isStopRequested() override;
    void resetStop() override;
    void setCaption(const std::string& caption) override;
    void setProgress(int percent) override;
    // Kept apart from the calls: how often the work line changes depends on the clock.
    void showWork(const RunProgress& progress) override { m_work.push_back(progress); }
    const std::vector<RunProgress>& work() const { return m_work; }
    MessageAnswer showMessage(const std::string& text, const std::string& title,
                              MessageButtons buttons) override;
    void runStarted() override;
    void showResults() override;
    void runFinished() override;

    // Options of the run, not recorded: they show only in its rows.
    bool id3v2Titles = false;
    FileCache* cache = nullptr;
    bool readsID3v2Titles() override { return id3v2Titles; }
    FileCache* fileCache() override { return cache; }

private:
    struct Trigger
    {
        Predicate when;
        Action action;
        bool fired = false;
    };

    void record(HostCall call);

    std::vector<HostCall> m_calls;
    std::vector<RunProgress> m_work;
    std::vector<Trigger> m_triggers;
    std::array<bool, kCriterionCount> m_ticked{};
    std::array<std::size_t, kCriterionCount> m_tickPolls{};
    std::size_t m_stopPolls = 0;
    MessageAnswer m_answer = MessageAnswer::Yes;
    bool m_stop = false;
};

} // namespace tunesift::test
