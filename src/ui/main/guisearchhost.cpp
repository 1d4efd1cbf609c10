#include "ui/main/guisearchhost.h"

#include "platform/settings.h"
#include "search/progress.h"

#include <QMetaObject>
#include <QObject>

namespace tunesift {

void RunChannel::setCriterion(Criterion criterion, bool ticked)
{
    m_criteria[static_cast<std::size_t>(criterion)].store(ticked);
}

bool RunChannel::criterion(Criterion criterion) const
{
    return m_criteria[static_cast<std::size_t>(criterion)].load();
}

void RunChannel::close()
{
    {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_changed.notify_all();
}

bool RunChannel::closed() const
{
    const std::lock_guard lock(m_mutex);
    return m_closed;
}

void RunChannel::answer(Reply& reply, MessageAnswer answer)
{
    {
        const std::lock_guard lock(m_mutex);
        reply.answer = answer;
    }
    m_changed.notify_all();
}

std::optional<MessageAnswer> RunChannel::waitForAnswer(const Reply& reply)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return reply.answer.has_value() || m_closed; });
    return reply.answer;
}

void RunChannel::setRunActive(bool active)
{
    {
        const std::lock_guard lock(m_mutex);
        m_runActive = active;
    }
    m_changed.notify_all();
}

bool RunChannel::runActive() const
{
    const std::lock_guard lock(m_mutex);
    return m_runActive;
}

bool RunChannel::waitUntilIdle(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return !m_runActive; });
}

GuiSearchHost::GuiSearchHost(RunChannel& channel, SettingsStore& store, QObject* context,
                             RunDisplay* display)
    : m_channel(channel), m_store(store), m_context(context), m_display(display)
{}

template <typename Call>
void GuiSearchHost::post(Call&& call)
{
    QMetaObject::invokeMethod(m_context, std::forward<Call>(call), Qt::QueuedConnection);
}

bool GuiSearchHost::isCriterionTicked(Criterion criterion)
{
    return m_channel.criterion(criterion);
}

bool GuiSearchHost::isStopRequested()
{
    return m_channel.closed() || m_store.readBool(settingskeys::kStop);
}

void GuiSearchHost::resetStop()
{
    m_store.writeBool(settingskeys::kStop, false);
}

void GuiSearchHost::setCaption(const std::string& caption)
{
    if (m_lastCaption == caption)
        return;
    m_lastCaption = caption;
    post([display = m_display, text = QString::fromStdString(caption)] {
        display->showRunCaption(text);
    });
}

void GuiSearchHost::setProgress(int percent)
{
    if (m_lastProgress == percent)
        return;
    m_lastProgress = percent;
    post([display = m_display, percent] { display->showRunProgress(percent); });
}

void GuiSearchHost::showWork(const RunProgress& progress)
{
    post([display = m_display, text = QString::fromStdString(ProgressText(progress))] {
        display->showRunWork(text);
    });
}

MessageAnswer GuiSearchHost::showMessage(const std::string& text, const std::string& title,
                                         MessageButtons buttons)
{
    // When the window is closing nobody can answer; No ends the run like a refusal would.
    const MessageAnswer unanswered =
        buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    if (m_channel.closed())
        return unanswered;

    // Shared, because the question may outlive this call when the window closes meanwhile.
    auto reply = std::make_shared<RunChannel::Reply>();
    post([channel = &m_channel, display = m_display, reply, buttons,
          qtext = QString::fromStdString(text), qtitle = QString::fromStdString(title)] {
        if (channel->closed())
            return;
        channel->answer(*reply, display->askRunMessage(qtext, qtitle, buttons));
    });
    return m_channel.waitForAnswer(*reply).value_or(unanswered);
}

void GuiSearchHost::runStarted()
{
    post([display = m_display] { display->showRunStarted(); });
}

void GuiSearchHost::showResults()
{
    post([display = m_display] { display->noteResultsReady(); });
}

void GuiSearchHost::runFinished()
{
    post([display = m_display] { display->showRunFinished(); });
}

} // namespace tunesift
