#pragma once

#include "cli/options.h"
#include "search/host.h"

#include <array>
#include <cstddef>
#include <string>

namespace tunesift {

// From now on the first Ctrl-C asks the run to stop at its next check point; the second ends the
// program at once (the default action), even where it waits, say on a full pipe.
void StopOnInterrupt();

// Answers the run from the command line: the criteria are those named for the whole run, the
// stop flag is Ctrl-C, messages go to standard error and the large-catalogue question is
// answered with yes.
class CliHost : public SearchHost
{
public:
    CliHost(const CliOptions& options, FileCache* cache);

    bool readsID3v2Titles() override { return m_id3v2Titles; }
    FileCache* fileCache() override { return m_cache; }

    bool isCriterionTicked(Criterion criterion) override
    {
        return m_criteria[static_cast<std::size_t>(criterion)];
    }
    bool isStopRequested() override;
    void resetStop() override {}
    void setCaption(const std::string&) override {}
    void setProgress(int) override {}
    void showWork(const RunProgress& progress) override;
    MessageAnswer showMessage(const std::string& text, const std::string& title,
                              MessageButtons buttons) override;
    void showResults() override { m_resultsShown = true; }

    // Takes the work line off the terminal before anything else is written there.
    void endWorkLine();
    bool stopped() const { return m_stopped; }
    bool resultsShown() const { return m_resultsShown; }

private:
    // How the search's work is shown on standard error: not at all, as lines, or on a terminal
    // as one line written over and over.
    enum class WorkLine
    {
        None,
        Lines,
        Terminal
    };

    std::array<bool, kCriterionCount> m_criteria;
    bool m_id3v2Titles;
    FileCache* m_cache;
    WorkLine m_workLine = WorkLine::None;
    std::size_t m_workLineLength = 0; // of the line now on the terminal
    bool m_stopped = false;
    bool m_resultsShown = false;
};

} // namespace tunesift
