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
class Form4;
class PictureButton;
class SearchSession;
class SvgPicture;

// The folder-browse dialog: the chosen folder, or the empty text when the user cancels.
using FolderBrowser = std::function<QString(QWidget* owner, const QString& prompt)>;
QString BrowseForFolder(QWidget* owner, const QString& prompt);

// The start-up window: the folder list, the five criteria, the add, find, clear and stop
// commands and the progress bar. Geometry and criteria are kept in the settings store. A search
// runs on a thread of its own; the window stays usable and only the "Stop" key tells the run to
// end.
class Form1 : public QWidget, private RunDisplay
{
    Q_OBJECT
public:
    explicit Form1(SearchSession& session, QWidget* parent = nullptr);
    ~Form1() override;

    // Folders named on the command line, appended in order.
    void addFolders(const QStringList& folders);
    QStringList folderEntries() const;

    // Replace the real message boxes and the folder dialog (the tests answer in place of the
    // user). The window does not own the message boxes.
    void setMessageBoxes(MessageBoxes* boxes);
    void setFolderBrowser(FolderBrowser browser);

    bool isRunActive() const;
    // The results window, once the first search has made it.
    Form4* resultsWindow() const { return m_form4.get(); }

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
    void Form_Load();
    void Form_Resize();

    void Check1_Click(); // find
    void Check2_Click(); // add folder
    void Check3_Click(); // clear list
    void Check4_Click(); // criterion Exact Filename
    void Check5_Click(); // criterion Exact Filesize
    void Check6_Click(); // stop
    void Check7_Click(); // criterion Similar Filename
    void Check8_Click(); // criterion Exact Tag
    void Check9_Click(); // criterion Similar Tag

    void ListView3_KeyDown(int key, Qt::KeyboardModifiers modifiers, bool& handled);
    void ListView3_OLEDragDrop(const QMimeData* dropData);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
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

    QSize outerSize() const;
    QSize frameExtra() const;
    void setOuterWidthTwips(int twips);
    void setOuterHeightTwips(int twips);
    void applyRestoredOuterSize();
    void updatePointer(const QPoint& globalPos);

public:
    // The controls, under their names in the window's design.
    SvgPicture* Image6 = nullptr;        // product banner
    PictureButton* Check1 = nullptr;     // Find Dupes
    PictureButton* Check2 = nullptr;     // Add Folder
    PictureButton* Check3 = nullptr;     // Clear List
    PictureButton* Check6 = nullptr;     // Stop Find, in Check1's place while a search runs
    QCheckBox* Check4 = nullptr;         // Exact Filename
    QCheckBox* Check5 = nullptr;         // Exact Filesize
    QCheckBox* Check7 = nullptr;         // Similar Filename
    QCheckBox* Check8 = nullptr;         // Exact Tag
    QCheckBox* Check9 = nullptr;         // Similar Tag
    QCheckBox* Check10 = nullptr;        // option Read ID3v2 titles, beside Frame2's caption
    QGroupBox* Frame2 = nullptr;         // holds the folder list
    FolderListView* ListView3 = nullptr; // the folder list
    QProgressBar* ProgressBar1 = nullptr;
    QList<QIcon> ImageList1; // image 1: the open-folder icon of the list entries

private:
    SearchSession& m_session;
    SettingsStore m_settings;
    RunChannel m_channel;
    std::thread m_runThread;
    std::unique_ptr<Form4> m_form4;
    bool m_resultsUpdating = false;
    bool m_resultsReady = false;

    DialogMessageBoxes m_dialogBoxes;
    MessageBoxes* m_messageBoxes = &m_dialogBoxes;
    FolderBrowser m_browseForFolder = &BrowseForFolder;

    QCursor m_handCursor;
    QRect m_listTwips;
    QRect m_frameTwips;
    QRect m_progressTwips;
    // A stored outer size is only exact once the window has its frame; re-applied after showing.
    std::optional<int> m_restoredWidthTwips;
    std::optional<int> m_restoredHeightTwips;
    bool m_shownOnce = false;
};

} // namespace tunesift
