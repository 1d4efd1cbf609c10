#pragma once

#include <string>

namespace tunesift {

class FileCache;
struct RunProgress;

// The criteria, in the order in which a run takes them.
enum class Criterion
{
    ExactFilename,
    ExactFilesize,
    SimilarFilename,
    ExactTag,
    SimilarTag,
    ExactAudio,
    SimilarAudio
};
inline constexpr int kCriterionCount = 7;

enum class MessageButtons
{
    Ok,
    YesNo
};
enum class MessageAnswer
{
    Ok,
    Yes,
    No
};

// Everything a search run needs from its surroundings. The GUI answers from its widgets and the
// settings store, the command line from its arguments and Ctrl-C, the tests record every call.
// A run calls the host only from the thread it runs on.
class SearchHost
{
public:
    virtual ~SearchHost() = default;

    // Read when the criterion's turn comes; the Exact Filesize box is also read once per file
    // while the scan catalogues it.
    virtual bool isCriterionTicked(Criterion criterion) = 0;

    // Read once when a run starts: the tag criteria then compare the title of a file's leading
    // ID3v2 tag where it has one, and its ID3v1 title otherwise.
    virtual bool readsID3v2Titles() { return false; }
    // Read once when a run starts: what earlier runs read of unchanged files; none reads all.
    virtual FileCache* fileCache() { return nullptr; }

    // The "Stop" setting: read at the check points, written "False" at the start of a run.
    virtual bool isStopRequested() = 0;
    virtual void resetStop() = 0;

    virtual void setCaption(const std::string& caption) = 0;
    virtual void setProgress(int percent) = 0;
    // What the run does, in words and counts (ProgressText), a few times a second at most and at
    // the start of every phase.
    virtual void showWork(const RunProgress& progress) { (void)progress; }

    // A modal message box; the run waits for the answer. Texts are UTF-8, except that a "Skip"
    // message carries the skipped path's own bytes.
    virtual MessageAnswer showMessage(const std::string& text, const std::string& title,
                                      MessageButtons buttons) = 0;

    // Window hand-overs of the run.
    // The Stop button takes the find button's place and gets the focus.
    virtual void runStarted() {}
    // The run wrote rows: show the results window in the main window's place, hide the main one.
    virtual void showResults() {}
    // The closing steps of every run begin here: the find button is back in place of the Stop
    // button. The caption "Tunesift" and progress 0 follow.
    virtual void runFinished() {}
};

} // namespace tunesift
