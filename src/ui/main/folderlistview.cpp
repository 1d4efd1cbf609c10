#include "ui/main/folderlistview.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>

namespace tunesift {

FolderListView::FolderListView(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setDropIndicatorShown(false);
    setSortingEnabled(false);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
}

Qt::DropActions FolderListView::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
}

namespace {

// Take a drop as a copy whenever the source allows it: a file manager that sees a move accepted
// removes what was dragged.
void acceptAsCopy(QDropEvent* event)
{
    if (event->possibleActions() & Qt::CopyAction) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->acceptProposedAction();
    }
}

} // namespace

void FolderListView::dragEnterEvent(QDragEnterEvent* event)
{
    acceptAsCopy(event);
}

void FolderListView::dragMoveEvent(QDragMoveEvent* event)
{
    acceptAsCopy(event);
}

void FolderListView::dropEvent(QDropEvent* event)
{
    acceptAsCopy(event);
    emit dropped(event->mimeData());
}

void FolderListView::keyPressEvent(QKeyEvent* event)
{
    bool handled = false;
    emit keyDown(event->key(), event->modifiers(), handled);
    if (handled)
        event->accept();
    else
        QTreeWidget::keyPressEvent(event);
}

} // namespace tunesift
