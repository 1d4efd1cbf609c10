#pragma once

#include <QWidget>

namespace tunesift {

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
};

} // namespace tunesift
