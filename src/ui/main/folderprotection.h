#pragma once

#include <QIcon>
#include <QObject>
#include <functional>

class QAction;
class QTreeWidget;
class QTreeWidgetItem;

namespace tunesift {

// Protected folders in the main window's folder list: the entries' context menu marks and
// unmarks them (kept in the settings), and entries inside a protected folder show a padlock on
// their icon. Files inside a protected folder are never ticked by a helper nor deleted. Entries
// of folders that do not exist (any more) show greyed, with a tooltip that says so.
class FolderProtection : public QObject
{
    Q_OBJECT
public:
    // True in an entry's data when its folder does not exist.
    static constexpr int kMissingRole = Qt::UserRole + 1;

    // baseIcon gives the entries' usual icon.
    FolderProtection(QTreeWidget* list, std::function<QIcon()> baseIcon, QObject* parent = nullptr);

    QAction* protectAction() const { return m_protect; }
    bool isProtected(const QTreeWidgetItem* item) const;

public slots:
    // Protects the selected entries, or unprotects them when all of them are protected.
    void toggleSelected();
    // Shows every entry's state anew (the results window may have changed the folders).
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QIcon protectedIcon();

    QTreeWidget* m_list;
    std::function<QIcon()> m_baseIcon;
    QIcon m_protectedIcon;
    QAction* m_protect = nullptr;
};

} // namespace tunesift
