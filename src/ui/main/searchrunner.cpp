#include "ui/main/searchrunner.h"

#include "cache/defaultcache.h"
#include "platform/settings.h"
#include "search/searchrun.h"

#include <QMetaObject>
#include <memory>

namespace tunesift {

SearchRunner::SearchRunner(SearchSession& session, QObject* context, RunDisplay* display)
    : QObject(nullptr), m_session(session), m_context(context), m_display(display)
{}

SearchRunner::~SearchRunner()
{
    m_channel.close();
    if (m_thread.joinable())
        m_thread.join();
}

bool SearchRunner::start(std::vector<std::string> folders, bool id3v2Titles)
{
    if (m_thread.joinable())
        return false;
    m_channel.setRunActive(true);
    m_thread = std::thread([this, folders = std::move(folders), id3v2Titles] {
        {
            SettingsStore store; // QSettings objects are not shared between threads
            GuiSearchHost host(m_channel, store, m_context, m_display);
            // The window says nothing of a cache that cannot be used: the run reads every file.
            const std::unique_ptr<FileCache> cache = OpenDefaultFileCache(nullptr);
            host.setReading(id3v2Titles, cache.get());
            RunSearch(m_session, folders, host);
        }
        m_channel.setRunActive(false);
        // Queued behind everything the run posted to the window.
        QMetaObject::invokeMethod(this, &SearchRunner::onThreadDone, Qt::QueuedConnection);
    });
    return true;
}

void SearchRunner::onThreadDone()
{
    if (m_thread.joinable())
        m_thread.join();
    emit finished();
}

bool SearchRunner::endForExit(std::chrono::milliseconds timeout)
{
    m_channel.close();
    if (!m_thread.joinable())
        return true;
    if (!m_channel.waitUntilIdle(timeout))
        return false;
    m_thread.join();
    return true;
}

} // namespace tunesift
