#include "ui/main/folderprotection.h"

#include "files/pathops.h"
#include "keep/keepbest.h"
#include "platform/settings.h"

#include <QAction>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QTreeWidget>
#include <algorithm>

namespace tunesift {

namespace {

QString folderText(const QString& folder)
{
    return QDir::toNativeSeparators(QDir::cleanPath(folder));
}

FolderSet storedProtected()
{
    std::vector<std::string> folders;
    for (const QString& folder : SettingsStore().textList(settingskeys::kProtectedFolders))
        folders.push_back(folderText(folder).toStdString());
    return FolderSet(std::move(folders));
}

bool inside(const FolderSet& folders, const QTreeWidgetItem* item)
{
    // The entry itself counts as inside: a folder path continued by a separator.
    return folders.containsFolder(folderText(item->text(0)).toStdString() + kPathSeparator);
}

} // namespace

FolderProtection::FolderProtection(QTreeWidget* list, std::function<QIcon()> baseIcon,
                                   QObject* parent)
    : QObject(parent), m_list(list), m_baseIcon(std::move(baseIcon))
{
    m_protect = new QAction(QStringLiteral("Protect folder"), this);
    m_protect->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    m_protect->setShortcutContext(Qt::WidgetShortcut);
    m_list->addAction(m_protect);
    connect(m_protect, &QAction::triggered, this, &FolderProtection::toggleSelected);

    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
        if (selected.isEmpty())
            return;
        const bool all =
            std::all_of(selected.begin(), selected.end(),
                        [this](const QTreeWidgetItem* item) { return isProtected(item); });
        m_protect->setText(all ? QStringLiteral("Unprotect folder")
                               : QStringLiteral("Protect folder"));
        auto* menu = new QMenu(m_list);
        menu->setObjectName(QStringLiteral("folderMenu"));
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(m_protect);
        menu->popup(m_list->viewport()->mapToGlobal(pos));
    });
    connect(m_list->model(), &QAbstractItemModel::rowsInserted, this, &FolderProtection::refresh);
    m_list->installEventFilter(this);
}

bool FolderProtection::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list && event->type() == QEvent::Show)
        refresh();
    // The list's own keys reach it as key presses (the window handles Delete and Ctrl+A alike).
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_P &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier) {
            toggleSelected();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool FolderProtection::isProtected(const QTreeWidgetItem* item) const
{
    return inside(storedProtected(), item);
}

void FolderProtection::toggleSelected()
{
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    const FolderSet current = storedProtected();
    const bool allProtected =
        std::all_of(selected.begin(), selected.end(),
                    [&](const QTreeWidgetItem* item) { return inside(current, item); });
    SettingsStore settings;
    QStringList folders = settings.textList(settingskeys::kProtectedFolders);
    for (const QTreeWidgetItem* item : selected) {
        const QString entry = folderText(item->text(0));
        if (allProtected)
            folders.removeIf([&](const QString& f) { return folderText(f) == entry; });
        else if (!folders.contains(entry))
            folders.append(entry);
    }
    settings.setTextList(settingskeys::kProtectedFolders, folders);
    settings.sync();
    refresh();
}

void FolderProtection::refresh()
{
    const FolderSet folders = storedProtected();
    const QString protectedTip =
        QStringLiteral("Protected: its files are never ticked or deleted.");
    const QString missingTip =
        QStringLiteral("This folder does not exist (any more); a search skips it.");
    const QBrush missingText(QColor(160, 160, 160));
    for (int k = 0; k < m_list->topLevelItemCount(); ++k) {
        QTreeWidgetItem* item = m_list->topLevelItem(k);
        const bool guarded = inside(folders, item);
        const bool missing = !QFileInfo(item->text(0)).isDir();
        item->setIcon(0, guarded ? protectedIcon() : m_baseIcon());
        QStringList tips;
        if (missing)
            tips.append(missingTip);
        if (guarded)
            tips.append(protectedTip);
        item->setToolTip(0, tips.join(QLatin1Char('\n')));
        item->setData(0, Qt::ForegroundRole, missing ? QVariant(missingText) : QVariant());
        item->setData(0, kMissingRole, missing);
    }
}

QIcon FolderProtection::protectedIcon()
{
    if (!m_protectedIcon.isNull())
        return m_protectedIcon;
    // The usual icon with a small padlock in its lower right corner.
    const int side = 48;
    QPixmap pixmap = m_baseIcon().pixmap(side, side);
    if (pixmap.isNull()) {
        pixmap = QPixmap(side, side);
        pixmap.fill(Qt::transparent);
    }
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body(side * 0.52, side * 0.60, side * 0.42, side * 0.34);
    QPen shackle(QColor(60, 60, 60), side * 0.07);
    painter.setPen(shackle);
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(body.left() + body.width() * 0.18, body.top() - body.height() * 0.62,
                           body.width() * 0.64, body.height() * 1.1),
                    0, 180 * 16);
    painter.setPen(QPen(QColor(60, 60, 60), side * 0.03));
    painter.setBrush(QColor(240, 190, 40));
    painter.drawRoundedRect(body, side * 0.05, side * 0.05);
    painter.end();
    m_protectedIcon = QIcon(pixmap);
    return m_protectedIcon;
}

} // namespace tunesift
