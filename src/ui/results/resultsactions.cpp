#include "ui/results/resultsactions.h"

#include "platform/settings.h"
#include "search/catalogue.h"
#include "search/filesize.h"
#include "search/searchrun.h"
#include "ui/results/keeprulesdialog.h"
#include "ui/results/resultexport.h"
#include "ui/support/twips.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QSaveFile>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <algorithm>
#include <unordered_set>

#ifdef TUNESIFT_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#endif

namespace tunesift {

namespace {

// Beside the three picture buttons, in the same row and height, within the design width.
constexpr int kMenuButtonLeft = 10560;
constexpr int kMenuButtonTop = 120;
constexpr int kMenuButtonWidth = 1770;
constexpr int kMenuButtonHeight = 1095;
// The room kept between the button and the window's right edge, and before the summary line.
constexpr int kMenuButtonMargin = 120;
// How many groups the last-copy question names before it says how many more there are.
constexpr std::size_t kGroupsNamed = 5;
constexpr qsizetype kPathsNamed = 10;

QString plural(std::size_t count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

QString folderText(QString folder)
{
    folder = QDir::toNativeSeparators(QDir::cleanPath(folder));
    return folder;
}

FolderSet folderSetFrom(const QStringList& folders)
{
    std::vector<std::string> texts;
    for (const QString& folder : folders)
        texts.push_back(folderText(folder).toStdString());
    return FolderSet(std::move(texts));
}

// The ticks a command gives whole files: every row of a file takes its file's tick.
class FileTicks
{
public:
    explicit FileTicks(const ResultList& list)
    {
        std::uint32_t count = 0;
        for (std::size_t row = 0; row < list.size(); ++row)
            count = std::max(count, list.row(row).pathId + 1);
        m_state.assign(count, kLeave);
    }
    void set(std::uint32_t file, bool ticked) { m_state[file] = ticked ? 1 : 0; }
    void setIfUnset(std::uint32_t file, bool ticked)
    {
        if (m_state[file] == kLeave)
            set(file, ticked);
    }
    void apply(ResultsModel& model) const
    {
        const ResultList& list = model.list();
        std::vector<char> ticks(list.size());
        for (std::size_t row = 0; row < list.size(); ++row) {
            const signed char state = m_state[list.row(row).pathId];
            ticks[row] = state == kLeave ? list.row(row).checked : state;
        }
        model.setTicks(ticks);
    }

private:
    static constexpr signed char kLeave = -1;
    std::vector<signed char> m_state;
};

} // namespace

QString SummaryText(const ResultsSummary& summary)
{
    QString text = plural(summary.groups, "group", "groups") + QStringLiteral(", ") +
                   plural(summary.files, "file", "files") + QStringLiteral(". ");
    if (summary.tickedFiles == 0)
        return text + QStringLiteral("No files ticked.");
    const QLocale locale;
    const std::string size =
        FormatFileSize(summary.tickedBytes, locale.groupSeparator().toStdString(),
                       locale.decimalPoint().toStdString());
    text += plural(summary.tickedFiles, "file", "files") + QStringLiteral(" ticked");
    if (!size.empty())
        text += QStringLiteral(", %1 to free").arg(QString::fromStdString(size));
    return text + QLatin1Char('.');
}

ResultsActions::ResultsActions(QWidget* window, QTreeView* list, ResultsModel* model,
                               std::function<void()> deleteCommand)
    : QObject(window), m_window(window), m_list(list), m_model(model),
      m_deleteCommand(std::move(deleteCommand))
{
    m_actions.assign(static_cast<std::size_t>(Command::Count), nullptr);
    addAction(Command::TickAllButBest, QStringLiteral("Tick all but the best"),
              QKeySequence(Qt::CTRL | Qt::Key_M), &ResultsActions::tickAllButBest);
    addAction(Command::EditKeepRules, QStringLiteral("Keep rules..."), {},
              &ResultsActions::editKeepRules);
    addAction(Command::UndoDelete, QStringLiteral("Undo last delete"), QKeySequence::Undo,
              &ResultsActions::undoLastDelete);
    addAction(Command::SaveList, QStringLiteral("Save list..."), QKeySequence::Save,
              &ResultsActions::saveList);
    addAction(Command::Play, QStringLiteral("Play"), {}, &ResultsActions::playFocusRow);
    addAction(Command::Open, QStringLiteral("Open"), {}, &ResultsActions::openRows);
    addAction(Command::OpenFolder, QStringLiteral("Open containing folder"), {},
              &ResultsActions::openContainingFolder);
    addAction(Command::CopyPaths, QStringLiteral("Copy path"), QKeySequence::Copy,
              &ResultsActions::copyPaths);
    addAction(Command::TickSelected, QStringLiteral("Tick selected"), {},
              &ResultsActions::tickSelected);
    addAction(Command::UntickSelected, QStringLiteral("Untick selected"), {},
              &ResultsActions::untickSelected);
    addAction(Command::KeepThisOne, QStringLiteral("Keep this one"), {},
              &ResultsActions::keepThisOne);
    addAction(Command::TickAllInFolder, QStringLiteral("Tick all in this folder"), {},
              &ResultsActions::tickAllInFolder);
    addAction(Command::ProtectFolder, QStringLiteral("Protect this folder"), {},
              &ResultsActions::protectFolder);
    // Undo puts files back through the trash's records, which only some platforms keep.
    action(Command::UndoDelete)->setVisible(CanRestoreFromTrash());
    action(Command::UndoDelete)->setEnabled(false);

    // Window-wide keys; the row commands' keys work in the list.
    for (const Command command : {Command::TickAllButBest, Command::UndoDelete, Command::SaveList})
        m_window->addAction(action(command));
    action(Command::CopyPaths)->setShortcutContext(Qt::WidgetShortcut);
    m_list->addAction(action(Command::CopyPaths));

    auto* menu = new QMenu(m_window);
    menu->setObjectName(QStringLiteral("MarkMenu"));
    menu->addAction(action(Command::TickAllButBest));
    menu->addAction(action(Command::EditKeepRules));
    menu->addSeparator();
    menu->addAction(action(Command::UndoDelete));
    menu->addAction(action(Command::SaveList));
    m_menuButton = new QToolButton(m_window);
    m_menuButton->setObjectName(QStringLiteral("MarkButton"));
    m_menuButton->setText(QStringLiteral("Mark"));
    m_menuButton->setToolTip(QStringLiteral("Tick all but the best, undo the last delete, save."));
    m_menuButton->setMenu(menu);
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    m_menuButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    QFont font = m_menuButton->font();
    font.setBold(true);
    m_menuButton->setFont(font);
    m_menuButton->setCursor(m_list->cursor());

    m_summary = new QLabel(m_window);
    m_summary->setObjectName(QStringLiteral("SummaryLine"));
    m_summary->setTextFormat(Qt::PlainText);

    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        QMenu* rowMenu = contextMenu();
        rowMenu->setAttribute(Qt::WA_DeleteOnClose);
        rowMenu->popup(m_list->viewport()->mapToGlobal(pos));
    });
    m_list->installEventFilter(this);
    m_window->installEventFilter(this); // the button's place depends on the window's width

    connect(m_model, &QAbstractItemModel::dataChanged, this, &ResultsActions::scheduleSummary);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &ResultsActions::scheduleSummary);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &ResultsActions::scheduleSummary);
    connect(m_model, &QAbstractItemModel::modelReset, this, &ResultsActions::scheduleSummary);

    placeControls();
    refreshSummary();
}

QAction* ResultsActions::addAction(Command command, const QString& text,
                                   const QKeySequence& shortcut, void (ResultsActions::*slot)())
{
    auto* created = new QAction(text, this);
    created->setShortcut(shortcut);
    connect(created, &QAction::triggered, this, slot);
    m_actions[static_cast<std::size_t>(command)] = created;
    return created;
}

void ResultsActions::placeControls()
{
    const double dpi = LogicalDpi(m_window);
    const QRect list = m_list->geometry();
    const QRect summary(list.left(), list.bottom() + 1, list.width(),
                        TwipsToPixels(kSummaryLineTwips, dpi));
    const QRect beside =
        TwipsRect(kMenuButtonLeft, kMenuButtonTop, kMenuButtonWidth, kMenuButtonHeight, dpi);
    if (beside.right() + TwipsToPixels(kMenuButtonMargin, dpi) < m_window->width()) {
        m_menuButton->setGeometry(beside);
        m_summary->setGeometry(summary);
        return;
    }
    // A window too narrow for the button beside the picture buttons (as narrow as the main window
    // it takes the place of) has it at the right end of the summary line.
    const int width = std::min(beside.width(), summary.width() / 2);
    m_menuButton->setGeometry(summary.right() + 1 - width, summary.top(), width, summary.height());
    m_summary->setGeometry(
        summary.adjusted(0, 0, -(width + TwipsToPixels(kMenuButtonMargin, dpi)), 0));
}

bool ResultsActions::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Resize)
        placeControls();
    if (watched == m_list) {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move) {
            placeControls();
        } else if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
            if (mods == Qt::NoModifier) {
                switch (key->key()) {
                case Qt::Key_Space:
                    toggleSelected();
                    return true;
                case Qt::Key_Return:
                case Qt::Key_Enter:
                    openRows();
                    return true;
                case Qt::Key_Delete:
                    if (m_deleteCommand)
                        m_deleteCommand();
                    return true;
                case Qt::Key_P:
                    if (m_player && m_player->isPlaying())
                        stopPlaying();
                    else
                        playFocusRow();
                    return true;
                case Qt::Key_Escape:
                    if (m_player && m_player->isPlaying()) {
                        stopPlaying();
                        return true;
                    }
                    break;
                default:
                    break;
                }
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

QMenu* ResultsActions::contextMenu()
{
    const std::vector<std::size_t> selected = selectedRows();
    const std::optional<std::size_t> row = focusRow();
    auto* menu = new QMenu(m_list);
    menu->setObjectName(QStringLiteral("RowMenu"));
    action(Command::CopyPaths)
        ->setText(selected.size() > 1 ? QStringLiteral("Copy paths") : QStringLiteral("Copy path"));
    bool protectedRow = false;
    if (row) {
        const QString folder = rowFolder(*row);
        for (const QString& stored : SettingsStore().textList(settingskeys::kProtectedFolders))
            protectedRow = protectedRow || folderText(stored) == folder;
    }
    action(Command::ProtectFolder)
        ->setText(protectedRow ? QStringLiteral("Unprotect this folder")
                               : QStringLiteral("Protect this folder"));
    for (const Command command :
         {Command::Play, Command::Open, Command::OpenFolder, Command::CopyPaths,
          Command::TickSelected, Command::UntickSelected, Command::KeepThisOne,
          Command::TickAllInFolder, Command::ProtectFolder}) {
        if (command == Command::TickSelected || command == Command::KeepThisOne ||
            command == Command::ProtectFolder)
            menu->addSeparator();
        action(command)->setEnabled(row.has_value());
        menu->addAction(action(command));
    }
    menu->addSeparator();
    menu->addAction(action(Command::TickAllButBest));
    return menu;
}

void ResultsActions::scheduleSummary()
{
    if (m_summaryPending)
        return;
    m_summaryPending = true;
    // One count after a burst of changes (a helper ticks thousands of rows at once).
    QTimer::singleShot(0, this, &ResultsActions::refreshSummary);
}

void ResultsActions::refreshSummary()
{
    m_summaryPending = false;
    m_summary->setText(summaryText());
}

QString ResultsActions::summaryText() const
{
    if (m_model->isUpdating() || m_model->rowCount() == 0)
        return {};
    return SummaryText(SummarizeResults(m_model->list(), m_model->duplicateGroups()));
}

FolderSet ResultsActions::protectedFolders()
{
    return folderSetFrom(SettingsStore().textList(settingskeys::kProtectedFolders));
}

FolderSet ResultsActions::preferredFolders()
{
    return folderSetFrom(SettingsStore().textList(settingskeys::kPreferredFolders));
}

KeepRules ResultsActions::keepRules()
{
    const SettingsStore settings;
    return KeepRulesFromText(
        settings.text(settingskeys::kKeepRuleOrder).value_or(QString()).toStdString(),
        settings.text(settingskeys::kKeepRulesOff).value_or(QString()).toStdString());
}

MarkingInputs ResultsActions::markingInputs()
{
    MarkingInputs inputs;
    inputs.list = &m_model->list();
    inputs.groupOfRow = &m_model->duplicateGroups();
    inputs.rules = keepRules();
    inputs.preferred = preferredFolders();
    inputs.protectedFolders = protectedFolders();
    // A second press reads no file again: the times stay known until the next search.
    inputs.modifiedTimes = [this](const std::vector<std::size_t>& rows) {
        return m_fileTimes.timesOf(m_model->list(), rows);
    };
    return inputs;
}

void ResultsActions::tickAllButBest()
{
    if (m_model->isUpdating())
        return;
    m_model->setTicks(TickAllButBest(markingInputs()));
}

void ResultsActions::editKeepRules()
{
    KeepRulesDialog dialog(m_window);
    dialog.exec();
}

std::vector<std::size_t> ResultsActions::selectedRows() const
{
    // From the selection's ranges: asking row by row is slow when all 100,000 are selected.
    std::vector<std::size_t> rows;
    if (!m_list->selectionModel())
        return rows;
    std::vector<char> seen(static_cast<std::size_t>(m_model->rowCount()), 0);
    for (const QItemSelectionRange& range : m_list->selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            const auto position = static_cast<std::size_t>(row);
            if (position < seen.size() && !seen[position]) {
                seen[position] = 1;
                rows.push_back(position);
            }
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::optional<std::size_t> ResultsActions::focusRow() const
{
    const QModelIndex current = m_list->currentIndex();
    if (current.isValid() && m_list->selectionModel()->isRowSelected(current.row(), {}))
        return static_cast<std::size_t>(current.row());
    const std::vector<std::size_t> selected = selectedRows();
    if (!selected.empty())
        return selected.front();
    if (current.isValid())
        return static_cast<std::size_t>(current.row());
    return std::nullopt;
}

void ResultsActions::setSelectedTicks(bool ticked)
{
    FileTicks files(m_model->list());
    for (const std::size_t row : selectedRows())
        files.set(m_model->pathIdOf(row), ticked);
    files.apply(*m_model);
}

void ResultsActions::toggleSelected()
{
    std::vector<std::size_t> rows = selectedRows();
    if (rows.empty()) {
        if (const auto row = focusRow())
            rows.push_back(*row);
    }
    // All ticked: untick them all; otherwise tick them all.
    const bool allTicked = std::all_of(rows.begin(), rows.end(),
                                       [&](std::size_t row) { return m_model->isChecked(row); });
    FileTicks files(m_model->list());
    for (const std::size_t row : rows)
        files.set(m_model->pathIdOf(row), !allTicked);
    files.apply(*m_model);
}

void ResultsActions::keepThisOne()
{
    const std::optional<std::size_t> kept = focusRow();
    if (!kept)
        return;
    const ResultList& list = m_model->list();
    const std::vector<std::uint32_t>& groups = m_model->duplicateGroups();
    const FolderSet guarded = protectedFolders();
    FileTicks files(list);
    files.set(list.row(*kept).pathId, false);
    for (std::size_t row = 0; row < list.size(); ++row) {
        if (groups[row] == groups[*kept] && !RowInFolders(list, row, guarded))
            files.setIfUnset(list.row(row).pathId, true);
    }
    files.apply(*m_model);
}

void ResultsActions::tickAllInFolder()
{
    const std::optional<std::size_t> focus = focusRow();
    if (!focus)
        return;
    const ResultList& list = m_model->list();
    const Catalogue& catalogue = list.catalogue();
    const std::string_view folder = catalogue.folder(list.row(*focus).entry);
    if (RowInFolders(list, *focus, protectedFolders())) {
        message(QStringLiteral("This folder is protected; its files are never ticked."));
        return;
    }
    FileTicks files(list);
    for (std::size_t row = 0; row < list.size(); ++row) {
        if (catalogue.folder(list.row(row).entry) == folder)
            files.set(list.row(row).pathId, true);
    }
    files.apply(*m_model);
}

void ResultsActions::protectFolder()
{
    const std::optional<std::size_t> focus = focusRow();
    if (!focus)
        return;
    const QString folder = rowFolder(*focus);
    SettingsStore settings;
    QStringList folders = settings.textList(settingskeys::kProtectedFolders);
    const qsizetype before = folders.size();
    folders.removeIf([&](const QString& f) { return folderText(f) == folder; });
    if (folders.size() == before)
        folders.append(folder);
    settings.setTextList(settingskeys::kProtectedFolders, folders);
    settings.sync();
}

QString ResultsActions::rowFolder(std::size_t row) const
{
    const ResultList& list = m_model->list();
    const std::string_view folder = list.catalogue().folder(list.row(row).entry);
    return folderText(QString::fromUtf8(folder.data(), static_cast<qsizetype>(folder.size())));
}

void ResultsActions::openRows()
{
    std::vector<std::size_t> rows = selectedRows();
    if (rows.empty()) {
        if (const auto row = focusRow())
            rows.push_back(*row);
    }
    std::unordered_set<std::uint32_t> opened;
    for (const std::size_t row : rows) {
        if (!opened.insert(m_model->pathIdOf(row)).second)
            continue;
        const QUrl url = QUrl::fromLocalFile(m_model->pathText(row));
        if (m_open)
            m_open(url);
        else
            QDesktopServices::openUrl(url);
    }
}

void ResultsActions::openContainingFolder()
{
    const std::optional<std::size_t> row = focusRow();
    if (!row)
        return;
    const QString path = m_model->pathText(*row);
    const QUrl folderUrl = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    if (m_open) {
        m_open(folderUrl);
        return;
    }
#ifdef TUNESIFT_HAVE_DBUS
    // File managers that speak the freedesktop.org FileManager1 interface open the folder with
    // the file selected.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return;
#endif
    QDesktopServices::openUrl(folderUrl);
}

void ResultsActions::setSongPlayer(SongPlayer* player)
{
    if (m_player)
        m_player->stop();
    m_player = player;
    if (m_player)
        connect(m_player, &SongPlayer::failed, this, &ResultsActions::playProblem,
                Qt::UniqueConnection);
}

SongPlayer& ResultsActions::player()
{
    if (!m_player) {
        m_ownPlayer = MakeSongPlayer();
        setSongPlayer(m_ownPlayer.get());
    }
    return *m_player;
}

void ResultsActions::playFocusRow()
{
    const std::optional<std::size_t> row = focusRow();
    if (!row || m_model->isUpdating())
        return;
    QString whyNot;
    if (!player().play(m_model->pathText(*row), &whyNot))
        playProblem(whyNot);
}

void ResultsActions::stopPlaying()
{
    if (m_player)
        m_player->stop();
}

void ResultsActions::playProblem(const QString& why)
{
    if (m_playProblemSaid)
        return;
    m_playProblemSaid = true;
    message(why);
}

void ResultsActions::copyPaths()
{
    std::vector<std::size_t> rows = selectedRows();
    if (rows.empty()) {
        if (const auto row = focusRow())
            rows.push_back(*row);
    }
    QStringList paths;
    std::unordered_set<std::uint32_t> seen;
    for (const std::size_t row : rows) {
        if (seen.insert(m_model->pathIdOf(row)).second)
            paths.append(m_model->pathText(row));
    }
    if (!paths.isEmpty())
        QApplication::clipboard()->setText(paths.join(QLatin1Char('\n')));
}

void ResultsActions::message(const QString& text)
{
    m_boxes->show(m_window, text, QString::fromLatin1(kProductName), MessageButtons::Ok);
}

ResultsActions::DeletePlan ResultsActions::planDelete(const std::vector<std::size_t>& checked)
{
    // A file being played is held open, and some systems keep such a file from the trash.
    stopPlaying();
    DeletePlan plan;
    const ResultList& list = m_model->list();
    const FolderSet guarded = protectedFolders();
    std::unordered_set<std::uint32_t> stayingFiles;
    for (const std::size_t row : checked) {
        if (RowInFolders(list, row, guarded))
            stayingFiles.insert(list.row(row).pathId);
        else
            plan.going.push_back(row);
    }
    if (!stayingFiles.empty()) {
        message(stayingFiles.size() == 1
                    ? QStringLiteral("1 ticked file is inside a protected folder. It stays where "
                                     "it is.")
                    : QStringLiteral("%1 ticked files are inside protected folders. They stay "
                                     "where they are.")
                          .arg(stayingFiles.size()));
    }

    std::vector<char> going(list.size(), 0);
    for (const std::size_t row : plan.going)
        going[row] = 1;
    const std::vector<std::uint32_t>& groups = m_model->duplicateGroups();
    const std::vector<std::uint32_t> losing = GroupsLosingEveryCopy(groups, going);
    if (losing.empty())
        return plan;

    // Name each losing group by its number and the file name of its first row.
    QString text =
        losing.size() == 1
            ? QStringLiteral("1 group would lose every copy of its file:\n")
            : QStringLiteral("%1 groups would lose every copy of their file:\n").arg(losing.size());
    std::size_t named = 0;
    std::size_t next = 0;
    for (std::size_t row = 0; row < list.size() && named < kGroupsNamed && next < losing.size();
         ++row) {
        if (groups[row] != losing[next])
            continue;
        const std::string_view name = list.catalogue().name(list.row(row).entry);
        text += QStringLiteral("\nGroup %1: %2")
                    .arg(groups[row] + 1)
                    .arg(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
        ++named;
        ++next;
    }
    if (losing.size() > named)
        text += QStringLiteral("\n... and %1 more.").arg(losing.size() - named);
    text += QStringLiteral("\n\nDelete them anyway?");
    plan.proceed = m_boxes->show(m_window, text, QString::fromLatin1(kProductName),
                                 MessageButtons::YesNo) == MessageAnswer::Yes;
    if (!plan.proceed)
        plan.going.clear();
    return plan;
}

void ResultsActions::noteDeleted(const RecycleBinResult& result,
                                 std::vector<ResultsModel::RowRecord> removed,
                                 ResultsModel::Shading shadingBefore)
{
    if (!result.confirmed || result.moved.isEmpty())
        return;
    m_movedPaths = result.moved;
    m_movedInTrash = result.inTrash;
    m_removedRows = std::move(removed);
    m_shadingBefore = std::move(shadingBefore);
    action(Command::UndoDelete)->setEnabled(CanRestoreFromTrash());
}

void ResultsActions::forgetResults()
{
    stopPlaying();
    forgetDelete();
    m_fileTimes.forget();
}

void ResultsActions::resultsFilled()
{
    const KeepRules rules = keepRules();
    if (std::any_of(rules.begin(), rules.end(), [](const KeepRuleSetting& setting) {
            return setting.enabled && setting.rule == KeepRule::NewestModification;
        }))
        m_fileTimes.start(m_model->list());
}

void ResultsActions::forgetDelete()
{
    m_movedPaths.clear();
    m_movedInTrash.clear();
    m_removedRows.clear();
    m_shadingBefore.clear();
    action(Command::UndoDelete)->setEnabled(false);
}

void ResultsActions::undoLastDelete()
{
    if (m_movedPaths.isEmpty() || m_model->isUpdating())
        return;
    QSet<QString> back;
    QStringList taken;
    QStringList failed;
    for (qsizetype k = 0; k < m_movedPaths.size(); ++k) {
        const QString inTrash = k < m_movedInTrash.size() ? m_movedInTrash[k] : QString();
        switch (inTrash.isEmpty() ? RestoreOutcome::NotInTrash
                                  : RestoreFromTrash(inTrash, m_movedPaths[k])) {
        case RestoreOutcome::Restored:
            back.insert(m_movedPaths[k]);
            break;
        case RestoreOutcome::PlaceTaken:
            taken.append(m_movedPaths[k]);
            break;
        case RestoreOutcome::NotInTrash:
        case RestoreOutcome::Failed:
            failed.append(m_movedPaths[k]);
            break;
        }
    }

    // The rows of the files that came back return to their places; a row whose file stayed in
    // the trash stays off the list, and the rows after it close up accordingly.
    // The rows on the list then take the shading they had before the delete.
    std::vector<ResultsModel::RowRecord> rows;
    std::size_t skipped = 0;
    for (ResultsModel::RowRecord record : m_removedRows) {
        if (!back.contains(
                QString::fromStdString(m_model->list().catalogue().path(record.row.entry)))) {
            ++skipped;
            continue;
        }
        record.position -= skipped;
        record.row.checked = false;
        rows.push_back(record);
    }
    m_model->restoreRows(rows);
    if (!rows.empty())
        m_model->setShading(m_shadingBefore);
    forgetDelete();

    const auto listOf = [](const QStringList& paths) {
        QString text;
        for (qsizetype k = 0; k < std::min(paths.size(), kPathsNamed); ++k)
            text += QLatin1Char('\n') + paths[k];
        if (paths.size() > kPathsNamed)
            text += QStringLiteral("\n... and %1 more.").arg(paths.size() - kPathsNamed);
        return text;
    };
    QString report;
    if (!taken.isEmpty())
        report += QStringLiteral("Something else now stands in the place of these files; they "
                                 "stay in the trash:\n") +
                  listOf(taken);
    if (!failed.isEmpty()) {
        if (!report.isEmpty())
            report += QStringLiteral("\n\n");
        report += QStringLiteral("These files could not be taken back from the trash:\n") +
                  listOf(failed);
    }
    if (!report.isEmpty())
        message(report);
}

void ResultsActions::saveList()
{
    if (m_model->isUpdating())
        return;
    bool jsonLines = false;
    QString fileName;
    if (m_chooseSave) {
        fileName = m_chooseSave(m_window, &jsonLines);
    } else {
        const QString csv = QStringLiteral("CSV files (*.csv)");
        const QString jsonl = QStringLiteral("JSON lines (*.jsonl)");
        QString filter = csv;
        fileName = QFileDialog::getSaveFileName(m_window, QStringLiteral("Save list"),
                                                QStringLiteral("duplicates.csv"),
                                                csv + QStringLiteral(";;") + jsonl, &filter);
        jsonLines =
            filter == jsonl || fileName.endsWith(QLatin1String(".jsonl"), Qt::CaseInsensitive);
    }
    if (fileName.isEmpty())
        return;
    const std::string text =
        ExportResults(*m_model, jsonLines ? ExportFormat::JsonLines : ExportFormat::Csv);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit())
        message(QStringLiteral("The list could not be saved to %1.").arg(fileName));
}

} // namespace tunesift
