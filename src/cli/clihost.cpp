#include "cli/clihost.h"

#include "search/progress.h"

#include <csignal>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace tunesift {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int)
{
    g_interrupted = 1;
    std::signal(SIGINT, SIG_DFL);
}

bool standardErrorIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) == 1;
#endif
}

// The width of the terminal standard error writes to; 0 when it cannot be told.
std::size_t terminalWidth()
{
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
#else
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0)
        return size.ws_col;
#endif
    return 0;
}

} // namespace

void StopOnInterrupt()
{
    std::signal(SIGINT, onInterrupt);
}

CliHost::CliHost(const CliOptions& options, FileCache* cache)
    : m_criteria(options.criteria), m_id3v2Titles(options.id3v2Titles), m_cache(cache)
{
    const bool terminal = standardErrorIsTerminal();
    switch (options.work) {
    case WorkDisplay::Default:
        m_workLine = terminal ? WorkLine::Terminal : WorkLine::None;
        break;
    case WorkDisplay::Always:
        m_workLine = terminal ? WorkLine::Terminal : WorkLine::Lines;
        break;
    case WorkDisplay::Never:
        m_workLine = WorkLine::None;
        break;
    }
}

bool CliHost::isStopRequested()
{
    if (g_interrupted)
        m_stopped = true;
    return m_stopped;
}

void CliHost::showWork(const RunProgress& progress)
{
    std::string text = ProgressText(progress);
    if (m_workLine == WorkLine::Lines) {
        std::fprintf(stderr, "%s\n", text.c_str());
    } else if (m_workLine == WorkLine::Terminal) {
        // A line longer than the terminal is wide would wrap, and the next one would be
        // written under it rather than over it.
        const std::size_t width = terminalWidth();
        if (width > 1 && text.size() > width - 1)
            text.resize(width - 1);
        // Spaces cover what is left of a longer line before.
        const std::size_t cover =
            m_workLineLength > text.size() ? m_workLineLength - text.size() : 0;
        std::fprintf(stderr, "\r%s%*s", text.c_str(), static_cast<int>(cover), "");
        if (cover > 0)
            std::fprintf(stderr, "\r%s", text.c_str());
        std::fflush(stderr);
        m_workLineLength = text.size();
    }
}

void CliHost::endWorkLine()
{
    if (m_workLineLength == 0)
        return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_workLineLength), "");
    std::fflush(stderr);
    m_workLineLength = 0;
}

MessageAnswer CliHost::showMessage(const std::string& text, const std::string& title,
                                   MessageButtons buttons)
{
    if (buttons == MessageButtons::YesNo)
        return MessageAnswer::Yes;
    endWorkLine();
    std::string line = title + ": " + text;
    for (char& c : line)
        if (c == '\r')
            c = '\n';
    std::fprintf(stderr, "%s\n", line.c_str());
    return MessageAnswer::Ok;
}

} // namespace tunesift
