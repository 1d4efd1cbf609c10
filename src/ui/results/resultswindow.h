#pragma once

#include "ui/results/resultsmodel.h"

#include <QCursor>
#include <QWidget>
#include <cstddef>
#include <memory>
#include <vector>

class QLabel;
class QTreeView;

namespace tunesift {

class PictureButton;
class RecycleBinDialogs;
class RecycleBinHost;
class ResultColumns;
class ResultsActions;
class SearchSession;
class SongTagReader;

// The results window: the rows of the last search, shaded by colour group, with the delete,
// back and clear commands. Created hidden on first use and reused by every search.
class ResultsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ResultsWindow(SearchSession& session, QWidget* parent = nullptr);
    ~ResultsWindow() override;

    // The main window, which the back command shows again.
    void setMainWindow(QWidget* mainWindow);

    // A run is about to change the result rows (the list is emptied and refilled on the run's
    // thread); the view lets go of them until endResultsUpdate().
    void beginResultsUpdate();
    void endResultsUpdate();

    // The end of a run with rows: take over the main window's state and, in the normal state,
    // its width, height, top and left, then show. The caller hides the main window.
    void takePlaceOf(QWidget* mainWindow);

    // Who asks before files go to the trash and moves them; nullptr restores the dialogs.
    void setRecycleBinHost(RecycleBinHost* host);

    ResultsModel& model() { return *m_model; }
    // The marking helpers, row menu, summary line, undo and save.
    ResultsActions& actions() { return *m_actions; }
    QTreeView& listView() { return *m_list; }
    // The columns' widths and the tag columns shown.
    ResultColumns& columns() { return *m_columns; }
    SongTagReader& tagReader() { return *m_tagReader; }
    // The design size of the list in twips as the last layout left it.
    int listWidthTwips() const { return m_listWidthTwips; }
    int listHeightTwips() const { return m_listHeightTwips; }

public slots:
    void onDeleteClicked();      // delete the checked files
    void onBackClicked();        // back to the main window
    void onClearChecksClicked(); // clear all check marks
    // A row's tick changed: every row of the same file takes the same tick.
    void onRowCheckToggled(int row, bool checked);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void layOutList();  // the list and column rule, from the outer size
    void quitProgram(); // the window closed: the program ends
    // Removes the checked rows whose files are no longer on disk; the others stay checked.
    // Returns the rows removed, as they were.
    std::vector<ResultsModel::RowRecord>
    removeCheckedRowsOfGoneFiles(const std::vector<std::size_t>& checkedPositions);
    void applyCursors();
    // Reads the files' song tags while a tag column is shown and they are not read yet.
    void readTagsIfShown();

    SearchSession& m_session;
    ResultsModel* m_model = nullptr;
    ResultsActions* m_actions = nullptr;
    ResultColumns* m_columns = nullptr;
    SongTagReader* m_tagReader = nullptr;
    QWidget* m_mainWindow = nullptr;
    std::unique_ptr<RecycleBinDialogs> m_dialogs;
    RecycleBinHost* m_recycleBin = nullptr;
    QCursor m_handCursor;

    // The controls; their object names are these names without the prefix ("deleteButton"),
    // the banner's and the list's "resultsBanner" and "resultsList".
    QLabel* m_banner = nullptr;
    PictureButton* m_deleteButton = nullptr;      // delete checked files
    PictureButton* m_backButton = nullptr;        // back to the main window
    PictureButton* m_clearChecksButton = nullptr; // clear all check marks
    QTreeView* m_list = nullptr;                  // the results list

    // The list's size as the layout last set it; a step that would make it negative keeps it.
    int m_listWidthTwips = 10095;
    int m_listHeightTwips = 4815;
    // The outer size the list was last laid out for.
    QSize m_laidOutOuterSize;
};

} // namespace tunesift
