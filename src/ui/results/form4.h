#pragma once

#include <QCursor>
#include <QWidget>
#include <cstddef>
#include <memory>
#include <vector>

class QLabel;
class QTreeView;

namespace tunesift {

class PictureButton;
class RecycleBinHost;
class ResultsModel;
class SearchSession;

// The results window: the rows of the last search, shaded by colour group, with the delete,
// back and clear commands. Created hidden on first use and reused by every search.
class Form4 : public QWidget
{
    Q_OBJECT
public:
    explicit Form4(SearchSession& session, QWidget* parent = nullptr);
    ~Form4() override;

    // The main window, which the back command shows again.
    void setMainWindow(QWidget* form1);

    // A run is about to change the result rows (the list is emptied and refilled on the run's
    // thread); the view lets go of them until endResultsUpdate().
    void beginResultsUpdate();
    void endResultsUpdate();

    // The end of a run with rows: take over the main window's state and, in the normal state,
    // its width, height, top and left, then show. The caller hides the main window.
    void takePlaceOf(QWidget* form1);

    // Who asks before files go to the trash and moves them; nullptr restores the dialogs.
    void setRecycleBinHost(RecycleBinHost* host);

    ResultsModel& model() { return *m_model; }
    QTreeView& listView() { return *ListView1; }
    // The design size of the list in twips as the last layout left it.
    int listWidthTwips() const { return m_listWidthTwips; }
    int listHeightTwips() const { return m_listHeightTwips; }

public slots:
    void Check1_Click(); // delete the checked files
    void Check2_Click(); // back to the main window
    void Check3_Click(); // clear all check marks
    void ListView1_ItemCheck(int row, bool checked);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Form_Resize();
    void Form_Unload();
    // Removes the checked rows whose files are no longer on disk; the others stay checked.
    void RemoveCheckedRows(const std::vector<std::size_t>& checkedPositions);
    void applyCursors();

    SearchSession& m_session;
    ResultsModel* m_model = nullptr;
    QWidget* m_form1 = nullptr;
    std::unique_ptr<RecycleBinHost> m_dialogs;
    RecycleBinHost* m_recycleBin = nullptr;
    QCursor m_handCursor;

    QLabel* Image1 = nullptr;        // banner
    PictureButton* Check1 = nullptr; // delete checked files
    PictureButton* Check2 = nullptr; // back to the main window
    PictureButton* Check3 = nullptr; // clear all check marks
    QTreeView* ListView1 = nullptr;  // the results list

    // The list's size as the layout last set it; a step that would make it negative keeps it.
    int m_listWidthTwips = 10095;
    int m_listHeightTwips = 4815;
};

} // namespace tunesift
