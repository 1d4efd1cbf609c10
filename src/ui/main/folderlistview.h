#pragma once

#include <QMimeData>
#include <QTreeWidget>

namespace tunesift {

// The folder list's widget: a one-column report list that takes drops of anything (the window
// decides what a drop means and complains about drops without local files) and hands its key
// presses to the window before the usual item-view handling.
class FolderListView : public QTreeWidget
{
    Q_OBJECT
public:
    explicit FolderListView(QWidget* parent = nullptr);

signals:
    void dropped(const QMimeData* dropData);
    // Set handled to keep the key from the item view's own handling.
    void keyDown(int key, Qt::KeyboardModifiers modifiers, bool& handled);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    Qt::DropActions supportedDropActions() const override;
};

} // namespace tunesift
