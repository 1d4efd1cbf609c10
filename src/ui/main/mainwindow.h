#pragma once

#include "platform/settings.h"
#include "ui/main/guisearchhost.h"
#include "ui/support/messageboxes.h"

#include <QCursor>
#include <QIcon>
#include <QList>
#include <QMimeData>
#include <QRect>
#include <QStringList>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

class QCheckBox;
class QGroupBox;
class QProgressBar;

namespace tunesift {

class FolderListView;
class FolderProtection;
class ResultsWindow;
class PictureButton;
class SearchSession;
class SvgPicture;

// The folder-browse dialog: the chosen folder, or the empty text when the user cancels.
using FolderBrowser = std::function<QString(QWidget* owner, const QString& prompt)>;
QString BrowseForFolder(QWidget* owner, const QString& prompt);

// The start-up window: the folder list, the six criteria, the add, find, clear and stop
// commands and the progress bar. Geometry and criteria are kept in the settings store. A search
// runs on a thread of its own; the window stays usable and only the "Stop" key tells the run to
// end.
class MainWindow : public QWidget, private RunDisplay
{
    Q_OBJECT
public:
    explicit MainWindow(SearchSession& session, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Folders named on the command line, appended in order.
    void addFolders(const QStringList& folders);
    QStringList folderEntries() const;

    // Replace the real message boxes and the folder dialog (the tests answer in place of the
    // user). The window does not own the message boxes.
    void setMessageBoxes(MessageBoxes* boxes);
    void setFolderBrowser(FolderBrowser browser);

    bool isRunActive() const;
    // The results window, once the first search has made it.
    ResultsWindow* resultsWindow() const { return m_resultsWindow.get(); }

    // Program end: tells a running search to end and waits for it at most the timeout. False
    // when it is still busy (somewhere it does not look at the stop flag); the caller then ends
    // the process without waiting.
    bool endRunForExit(std::chrono::milliseconds timeout);
    void syncSettings();

    // Rectangles of the window's layout in twips, as the layout rule last set them.
    QRect listTwips() const { return m_listTwips; }
    QRect frameTwips() const { return m_frameTwips; }
    QRect progressTwips() const { return m_progressTwips; }

signals:
    // A search ended and its closing steps are done (the results window shown when it found
    // something).
    void runEnded();

public slots:
    // Start-up steps: centre the window, put the Stop button over the find button, load the hand
    // cursor, make the list's column, restore state, size and criteria.
    void onLoad();
    // The layout rule of the list, its frame and the progress bar; stores state and outer size.
    void layOutAndStoreGeometry();

    void onFindClicked();      // starts a search
    void onAddFolderClicked(); // adds a folder chosen in the folder dialog
    void onClearListClicked(); // empties the folder list
    void onStopClicked();      // asks the running search to stop
    void onExactFilenameToggled();
    void onExactFilesizeToggled();
    void onSimilarFilenameToggled();
    void onExactTagToggled();
    void onSimilarTagToggled();
    void onExactAudioToggled();

    void onFolderListKeyDown(int key, Qt::KeyboardModifiers modifiers, bool& handled);
    void onFolderListDropped(const QMimeData* dropData);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // RunDisplay: the run's calls, on this thread.
    void showRunCaption(const QString& caption) override;
    void showRunProgress(int percent) override;
    MessageAnswer askRunMessage(const QString& text, const QString& title,
                                MessageButtons buttons) override;
    void showRunStarted() override;
    void noteResultsReady() override;
    void showRunFinished() override;

    void createControls();
    void setTabOrderOfControls();
    void watchPointer();
    void applyLayoutTwips();
    void criterionClicked(QCheckBox* box, Criterion criterion, const char* key);
    void addEntry(const QString& text);
    void onRunThreadDone();
    void ensureResultsWindow();

    // The frame's share of the outer size, as far as it is known.
    QSize frameExtra() const;
    QSize normalClientSize() const;
    // Remembers the frame once the window manager has put it on, and takes it off a stored outer
    // size restored before it was known.
    void noteFrame();
    void setOuterWidthTwips(int twips);
    void setOuterHeightTwips(int twips);
    void updatePointer(const QPoint& globalPos);

public:
    // The controls. Each keeps its name in the window's design as its object name (in brackets),
    // so tests and automation find it by that name.
    SvgPicture* banner = nullptr;             // (Image6) product banner
    PictureButton* findButton = nullptr;      // (Check1) Find Dupes
    PictureButton* addFolderButton = nullptr; // (Check2) Add Folder
    PictureButton* clearListButton = nullptr; // (Check3) Clear List
    PictureButton* stopButton = nullptr;      // (Check6) Stop Find, over findButton in a run
    QCheckBox* exactFilenameBox = nullptr;    // (Check4) criterion Exact Filename
    QCheckBox* exactFilesizeBox = nullptr;    // (Check5) criterion Exact Filesize
    QCheckBox* similarFilenameBox = nullptr;  // (Check7) criterion Similar Filename
    QCheckBox* exactTagBox = nullptr;         // (Check8) criterion Exact Tag
    QCheckBox* similarTagBox = nullptr;       // (Check9) criterion Similar Tag
    QCheckBox* id3v2TitlesBox = nullptr;      // option Read ID3v2 titles, beside the frame title
    QCheckBox* exactAudioBox = nullptr;       // criterion Exact Audio
    QGroupBox* folderFrame = nullptr;         // (Frame2) holds the folder list
    FolderListView* folderList = nullptr;     // (ListView3) the folder list
    QProgressBar* progressBar = nullptr;      // (ProgressBar1)
    QList<QIcon> folderIcons;                 // image 1: the open-folder icon of the list entries
    FolderProtection* folderProtection = nullptr; // protected folders in the folder list

private:
    SearchSession& m_session;
    SettingsStore m_settings;
    RunChannel m_channel;
    std::thread m_runThread;
    std::unique_ptr<ResultsWindow> m_resultsWindow;
    bool m_resultsUpdating = false;
    bool m_resultsReady = false;

    DialogMessageBoxes m_dialogBoxes;
    MessageBoxes* m_messageBoxes = &m_dialogBoxes;
    FolderBrowser m_browseForFolder = &BrowseForFolder;

    QCursor m_handCursor;
    QRect m_listTwips;
    QRect m_frameTwips;
    QRect m_progressTwips;
    // The frame last seen around the normal window (nothing before the window manager framed it).
    QSize m_knownFrame{0, 0};
    // The restored outer size in pixels (-1: not restored) until the frame is known.
    std::optional<QSize> m_pendingOuter;
};

} // namespace tunesift
