#include "search/recordinghost.h"

#include <utility>

namespace tunesift::test {

HostCall HostCall::caption(std::string text)
{
    HostCall call;
    call.kind = Kind::Caption;
    call.text = std::move(text);
    return call;
}

HostCall HostCall::progressTo(int percent)
{
    HostCall call;
    call.kind = Kind::Progress;
    call.progress = percent;
    return call;
}

HostCall HostCall::message(std::string text, std::string title, MessageButtons buttons)
{
    HostCall call;
    call.kind = Kind::Message;
    call.text = std::move(text);
    call.title = std::move(title);
    call.buttons = buttons;
    return call;
}

HostCall HostCall::of(Kind kind)
{
    HostCall call;
    call.kind = kind;
    return call;
}

std::ostream& operator<<(std::ostream& out, const HostCall& call)
{
    switch (call.kind) {
    case HostCall::Kind::ResetStop:
        return out << "resetStop";
    case HostCall::Kind::RunStarted:
        return out << "runStarted";
    case HostCall::Kind::Caption:
        return out << "caption \"" << call.text << '"';
    case HostCall::Kind::Progress:
        return out << "progress " << call.progress;
    case HostCall::Kind::Message:
        return out << "message [" << call.title << ", "
                   << (call.buttons == MessageButtons::YesNo ? "YesNo" : "Ok") << "] \""
                   << call.text << '"';
    case HostCall::Kind::ShowResults:
        return out << "showResults";
    case HostCall::Kind::RunFinished:
        return out << "runFinished";
    }
    return out << "?";
}

void RecordingHost::setTicked(Criterion criterion, bool ticked)
{
    m_ticked[static_cast<std::size_t>(criterion)] = ticked;
}

void RecordingHost::tickOnly(std::initializer_list<Criterion> criteria)
{
    m_ticked.fill(false);
    for (Criterion criterion : criteria)
        setTicked(criterion, true);
}

bool RecordingHost::ticked(Criterion criterion) const
{
    return m_ticked[static_cast<std::size_t>(criterion)];
}

void RecordingHost::after(Predicate when, Action action)
{
    m_triggers.push_back({std::move(when), std::move(action)});
}

void RecordingHost::stopAfterCall(std::size_t index)
{
    after([index](const HostCall&, std::size_t i) { return i == index; },
          [](RecordingHost& host) { host.requestStop(); });
}

void RecordingHost::afterCaption(const std::string& caption, Action action)
{
    after(
        [caption](const HostCall& call, std::size_t) {
            return call.kind == HostCall::Kind::Caption && call.text == caption;
        },
        std::move(action));
}

void RecordingHost::tickAfterCaption(const std::string& caption, Criterion criterion, bool ticked)
{
    afterCaption(caption,
                 [criterion, ticked](RecordingHost& host) { host.setTicked(criterion, ticked); });
}

std::vector<std::string> RecordingHost::captions() const
{
    std::vector<std::string> result;
    for (const HostCall& call : m_calls)
        if (call.kind == HostCall::Kind::Caption)
            result.push_back(call.text);
    return result;
}

std::vector<int> RecordingHost::progressValues() const
{
    std::vector<int> result;
    for (const HostCall& call : m_calls)
        if (call.kind == HostCall::Kind::Progress)
            result.push_back(call.progress);
    return result;
}

std::vector<HostCall> RecordingHost::messages() const
{
    std::vector<HostCall> result;
    for (const HostCall& call : m_calls)
        if (call.kind == HostCall::Kind::Message)
            result.push_back(call);
    return result;
}

std::size_t RecordingHost::count(HostCall::Kind kind) const
{
    std::size_t n = 0;
    for (const HostCall& call : m_calls)
        n += call.kind == kind ? 1 : 0;
    return n;
}

bool RecordingHost::isCriterionTicked(Criterion criterion)
{
    ++m_tickPolls[static_cast<std::size_t>(criterion)];
    return ticked(criterion);
}

bool RecordingHost::isStopRequested()
{
    ++m_stopPolls;
    return m_stop;
}

void RecordingHost::resetStop()
{
    m_stop = false;
    record(HostCall::of(HostCall::Kind::ResetStop));
}

void RecordingHost::setCaption(const std::string& caption)
{
    record(HostCall::caption(caption));
}

void RecordingHost::setProgress(int percent)
{
    record(HostCall::progressTo(percent));
}

MessageAnswer RecordingHost::showMessage(const std::string& text, const std::string& title,
                                         MessageButtons buttons)
{
    record(HostCall::message(text, title, buttons));
    return buttons == MessageButtons::YesNo ? m_answer : MessageAnswer::Ok;
}

void RecordingHost::runStarted()
{
    record(HostCall::of(HostCall::Kind::RunStarted));
}

void RecordingHost::showResults()
{
    record(HostCall::of(HostCall::Kind::ShowResults));
}

void RecordingHost::runFinished()
{
    record(HostCall::of(HostCall::Kind::RunFinished));
}

void RecordingHost::record(HostCall call)
{
    m_calls.push_back(std::move(call));
    const std::size_t index = m_calls.size() - 1;
    for (std::size_t t = 0; t < m_triggers.size(); ++t) {
        if (m_triggers[t].fired || !m_triggers[t].when(m_calls[index], index))
            continue;
        m_triggers[t].fired = true;
        // A copy: the action may add triggers and so move the vector.
        Action action = m_triggers[t].action;
        action(*this);
    }
}

} // namespace tunesift::test
