#pragma once

#include "platform/settings.h"
#include "ui/main/guisearchhost.h"
#include "ui/support/messageboxes.h"

#include <QCursor>
#include <QIcon>
#include <QList>
#include <QMimeData>
#include <QStringList>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>

class QCheckBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QProgressBar;
class QTimer;

namespace tunesift {

class FolderListView;
class FolderProtection;
class ResultsWindow;
class PictureButton;
class SearchRunner;
class SearchSession;
class SvgPicture;
class WindowGeometry;

// The folder-browse dialog: the folders chosen, none when the user cancels. startFolder: where
// the dialog opens.
using FolderBrowser =
    std::function<QStringList(QWidget* owner, const QString& prompt, const QString& startFolder)>;
// The dialog of the Add Folder button: folders only, several at once, opened at startFolder.
QFileDialog* makeFolderDialog(QWidget* owner, const QString& prompt, const QString& startFolder);
QStringList browseForFolders(QWidget* owner, const QString& prompt, const QString& startFolder);

// The start-up window: the folder list, the criteria, the add, find, clear and stop commands,
// the progress bar and the line under it that says what the search does. Criteria and folders
// are kept in the settings store, and so is the geometry (WindowGeometry). A search runs on a
// thread of its own (SearchRunner); the window stays usable and only the "Stop" key tells the run
// to end.
class MainWindow : public QWidget, private RunDisplay
{
    Q_OBJECT
public:
    explicit MainWindow(SearchSession& session, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Folders named on the command line, appended in order; one listed already (the list is
    // kept from run to run) is not listed again.
    void addFolders(const QStringList& folders);
    QStringList folderEntries() const;

    // Replace the real message boxes and the folder dialog (the tests answer in place of the
    // user). The window does not own the message boxes.
    void setMessageBoxes(MessageBoxes* boxes);
    void setFolderBrowser(FolderBrowser browser);

    bool isRunActive() const;
    // The results window, once the first search has made it.
    ResultsWindow* resultsWindow() const { return m_resultsWindow.get(); }
    const WindowGeometry& windowGeometry() const { return *m_geometry; }

    // Program end: tells a running search to end and waits for it at most the timeout. False
    // when it is still busy (somewhere it does not look at the stop flag); the caller then ends
    // the process without waiting.
    bool endRunForExit(std::chrono::milliseconds timeout);
    void syncSettings();

    // Shows the entries of folders that no longer exist greyed, with a tooltip saying so.
    void refreshFolderEntries();

signals:
    // A search ended and its closing steps are done (the results window shown when it found
    // something).
    void runEnded();

public slots:
    void onFindClicked();      // starts a search
    void onAddFolderClicked(); // adds the folders chosen in the folder dialog
    void onClearListClicked(); // empties the folder list
    void onStopClicked();      // asks the running search to stop

    void onFolderListKeyDown(int key, Qt::KeyboardModifiers modifiers, bool& handled);
    void onFolderListDropped(const QMimeData* dropData);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // RunDisplay: the run's calls, on this thread.
    void showRunCaption(const QString& caption) override;
    void showRunProgress(int percent) override;
    void showRunWork(const QString& text) override;
    MessageAnswer askRunMessage(const QString& text, const QString& title,
                                MessageButtons buttons) override;
    void showRunStarted() override;
    void noteResultsReady() override;
    void showRunFinished() override;

    void createControls();
    void connectControls();
    void setTabOrderOfControls();
    void watchPointer();
    // Start-up: centre the window, put the Stop button over the find button, load the hand
    // cursor, make the list's column, restore state, size, criteria and folders.
    void load();
    void placeBesideFrameTitle();
    void criterionToggled(QCheckBox* box, Criterion criterion, const char* key);
    void addEntry(const QString& text);
    void noteFolderAdded(const QString& entry);
    void storeFolders();
    void restoreFolders();
    void onRunFinished();
    void ensureResultsWindow();
    void updatePointer(const QPoint& globalPos);

public:
    // The controls, each with its member's name as its object name, so tests and automation
    // find it by its purpose.
    SvgPicture* banner = nullptr;
    PictureButton* findButton = nullptr;      // Find Dupes
    PictureButton* addFolderButton = nullptr; // Add Folder
    PictureButton* clearListButton = nullptr; // Clear List
    PictureButton* stopButton = nullptr;      // Stop Find, in the find button's place during a run
    QCheckBox* exactFilenameBox = nullptr;
    QCheckBox* exactFilesizeBox = nullptr;
    QCheckBox* similarFilenameBox = nullptr;
    QCheckBox* exactTagBox = nullptr;
    QCheckBox* similarTagBox = nullptr;
    QCheckBox* exactAudioBox = nullptr;
    QCheckBox* similarAudioBox = nullptr; // hidden where the build cannot decode audio
    QCheckBox* id3v2TitlesBox = nullptr;  // option Read ID3v2 titles, beside the frame title
    QGroupBox* folderFrame = nullptr;     // holds the folder list
    FolderListView* folderList = nullptr;
    QProgressBar* progressBar = nullptr;
    QLabel* progressText = nullptr; // the phase in words and counts, under the bar
    QList<QIcon> folderIcons;       // image 1: the open-folder icon of the list entries
    FolderProtection* folderProtection = nullptr; // protected folders in the folder list

private:
    SearchSession& m_session;
    SettingsStore m_settings;
    WindowGeometry* m_geometry = nullptr;
    std::unique_ptr<SearchRunner> m_runner;
    std::unique_ptr<ResultsWindow> m_resultsWindow;
    bool m_resultsUpdating = false;
    bool m_resultsReady = false;
    bool m_restoringFolders = false;

    // The line under the bar changes a few times a second at most: what comes sooner waits.
    QTimer* m_workTimer = nullptr;
    QString m_pendingWork;

    DialogMessageBoxes m_dialogBoxes;
    MessageBoxes* m_messageBoxes = &m_dialogBoxes;
    FolderBrowser m_browseForFolders = &browseForFolders;

    QCursor m_handCursor;
};

} // namespace tunesift
