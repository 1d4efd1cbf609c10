#pragma once

#include "keep/keepbest.h"
#include "platform/recyclingbin.h"
#include "ui/results/filetimereader.h"
#include "ui/results/resultsmodel.h"
#include "ui/results/songplayer.h"
#include "ui/support/messageboxes.h"

#include <QObject>
#include <QPoint>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QToolButton;
class QTreeView;
class QWidget;

namespace tunesift {

// The height of the summary line under the results list.
inline constexpr int kSummaryLineTwips = 300;

// The results window's helpers beyond its three buttons: the marking commands, the row context
// menu and keys, the summary line, undo of the last delete and saving the list. It owns its
// controls (the menu button and the summary line) and places them around the list; the window
// only calls in around its delete command. resultsactions.cpp holds the controls, keys and row
// commands, resultsactions_ticks.cpp the ticking helpers, resultsactions_undo.cpp delete and undo.
class ResultsActions : public QObject
{
    Q_OBJECT
public:
    enum class Command
    {
        TickAllButBest,
        EditKeepRules,
        UndoDelete,
        SaveList,
        Play,
        Open,
        OpenFolder,
        CopyPaths,
        TickSelected,
        UntickSelected,
        KeepThisOne,
        TickAllInFolder,
        ProtectFolder,
        Count
    };

    // deleteCommand runs the window's "Delete checked".
    ResultsActions(QWidget* window, QTreeView* list, ResultsModel* model,
                   std::function<void()> deleteCommand);

    QAction* action(Command command) const { return m_actions[static_cast<int>(command)]; }
    QToolButton* menuButton() const { return m_menuButton; }
    QLabel* summaryLine() const { return m_summary; }
    // The row context menu as it would open on the current row (built anew each time).
    QMenu* contextMenu();

    // Replacements for the tests: message boxes, the save dialog (returns a file name and sets the
    // chosen format), and the desktop's opener.
    void setMessageBoxes(MessageBoxes* boxes) { m_boxes = boxes ? boxes : &m_dialogBoxes; }
    using SaveChooser = std::function<QString(QWidget* owner, bool* jsonLines)>;
    void setSaveChooser(SaveChooser chooser) { m_chooseSave = std::move(chooser); }
    void setOpener(std::function<bool(const QUrl&)> opener) { m_open = std::move(opener); }
    // The folders the last search was given, and the question that asks the first time which
    // of them holds the copies to keep (returns the folder, or nothing).
    void setListedFolders(std::function<QStringList()> folders)
    {
        m_listedFolders = std::move(folders);
    }
    using KeepFolderChooser =
        std::function<std::optional<QString>(QWidget* owner, const QStringList& folders)>;
    void setKeepFolderChooser(KeepFolderChooser chooser)
    {
        m_chooseKeepFolder = std::move(chooser);
    }
    // The player of "Play" (nullptr: the system's, made when first needed).
    void setSongPlayer(SongPlayer* player);

    // Around "Delete checked": which ticked rows may go (files inside protected folders stay, and
    // the user is told), and whether the user agrees when some group would lose every copy.
    // Nothing to do when proceed is false.
    struct DeletePlan
    {
        bool proceed = true;
        std::vector<std::size_t> going;
    };
    DeletePlan planDelete(const std::vector<std::size_t>& checked);
    // After the move: the rows taken off the list, the shading of the list before, and what the
    // trash did, for undo.
    void noteDeleted(const RecycleBinResult& result, std::vector<ResultsModel::RowRecord> removed,
                     ResultsModel::Shading shadingBefore);
    // A new search: the last delete can no longer be undone, file times are read anew.
    void forgetResults();
    // The search has filled the list: the files' times are read in the background while the
    // newest-file rule is on.
    void resultsFilled();
    // Waits for that background reading (for benchmarks and tests).
    void waitForFileTimes() { m_fileTimes.wait(); }

    QString summaryText() const;
    // The folders as stored in the settings.
    static FolderSet protectedFolders();
    static FolderSet preferredFolders();
    static KeepRules keepRules();

public slots:
    void tickAllButBest();
    void editKeepRules();
    void undoLastDelete();
    void saveList();
    void openRows();
    void openContainingFolder();
    void copyPaths();
    void tickSelected() { setSelectedTicks(true); }
    void untickSelected() { setSelectedTicks(false); }
    void toggleSelected();
    void keepThisOne();
    void tickAllInFolder();
    void protectFolder();
    void refreshSummary();
    // Plays the row's file; P plays or stops, Esc stops.
    void playFocusRow();
    void stopPlaying();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* addAction(Command command, const QString& text, const QKeySequence& shortcut,
                       void (ResultsActions::*slot)());
    void scheduleSummary();
    void placeControls();
    void setSelectedTicks(bool ticked);
    std::vector<std::size_t> selectedRows() const;
    // The row the context menu acts on: the current row, else the first selected.
    std::optional<std::size_t> focusRow() const;
    // The rows a command for several rows acts on: the selected ones, else the focus row.
    std::vector<std::size_t> rowsActedOn() const;
    KeepInputs keepInputs();
    void applyTicks(const FileTicks& files);
    // The first "tick all but the best" with no preferred or protected folder asks once which
    // searched folder holds the copies to keep.
    void askKeepFolderOnce();
    void forgetDelete();
    // The folder of the row's file as the settings keep folders (no trailing separator).
    QString rowFolder(std::size_t row) const;
    // The row's folder is itself a protected folder (not merely inside one).
    bool isRowFolderProtected(std::size_t row) const;
    void message(const QString& text);
    SongPlayer& player();
    void playProblem(const QString& why);

    QWidget* m_window;
    QTreeView* m_list;
    ResultsModel* m_model;
    std::function<void()> m_deleteCommand;
    QToolButton* m_menuButton = nullptr;
    QLabel* m_summary = nullptr;
    std::vector<QAction*> m_actions;
    bool m_summaryPending = false;

    DialogMessageBoxes m_dialogBoxes;
    MessageBoxes* m_boxes = &m_dialogBoxes;
    SaveChooser m_chooseSave;
    std::function<bool(const QUrl&)> m_open;
    std::function<QStringList()> m_listedFolders;
    KeepFolderChooser m_chooseKeepFolder;
    std::unique_ptr<SongPlayer> m_ownPlayer;
    SongPlayer* m_player = nullptr;
    // Why songs cannot be played is said once; the rest works on.
    bool m_playProblemSaid = false;

    // The last delete: each moved file, where the trash keeps it and what it was; the rows it
    // took. A failed undo keeps the files it could not put back, for another try.
    struct MovedFile
    {
        QString path;
        QString inTrash;
        std::optional<MovedFileStamp> stamp;
    };
    std::vector<MovedFile> m_moved;
    std::vector<ResultsModel::RowRecord> m_removedRows;
    ResultsModel::Shading m_shadingBefore; // every row's shade before the delete

    // Modification times by file, read when the list fills or when a keep rule first needs them.
    FileTimeReader m_fileTimes;
};

// Opens the file or folder with the desktop's program for it, through xdg-open where Qt finds no
// launcher; false when nothing could be started.
bool OpenOnDesktop(const QUrl& url);

// The summary line's text for the numbers.
QString SummaryText(const ResultsSummary& summary);

} // namespace tunesift
