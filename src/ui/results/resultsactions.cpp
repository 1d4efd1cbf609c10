#include "ui/results/resultsactions.h"

#include "files/fileaccess.h"
#include "mp3/songtags.h"
#include "platform/settings.h"
#include "search/catalogue.h"
#include "search/rowtext.h"
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
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
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

const QString kUnprovenHint =
    QStringLiteral("To tick in such groups too, turn on \"Also tick in groups found only by name, "
                   "size or title\" in Keep rules.");
const QString kNothingProvenQuestion = QStringLiteral(
    "No group here was found by Exact Audio, so none is proven to hold copies of the same "
    "recording: a name, size or title only suggests a copy.\n\nTick Exact Audio for the next "
    "search to find the true copies. Or tick by name, size or title this once?");
const QString kKeepFolderQuestion =
    QStringLiteral("Which of the searched folders holds the copies to keep? Its files are kept "
                   "first (a preferred folder; Keep rules changes it).");

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

// Every file left as it is.
FileTicks noFileTicks(const ResultList& list)
{
    std::uint32_t count = 0;
    for (std::size_t row = 0; row < list.size(); ++row)
        count = std::max(count, list.row(row).pathId + 1);
    return FileTicks(count, -1);
}

QString groupsText(std::size_t count)
{
    return count == 1 ? QStringLiteral("1 group") : QStringLiteral("%1 groups").arg(count);
}

} // namespace

bool OpenOnDesktop(const QUrl& url)
{
    if (QDesktopServices::openUrl(url))
        return true;
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // On a desktop Qt does not know it finds no launcher ("Unable to detect a launcher" on
    // stderr) and opens nothing; xdg-open knows the user's choices.
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!xdgOpen.isEmpty() &&
        QProcess::startDetached(xdgOpen, {url.isLocalFile() ? url.toLocalFile() : url.toString()}))
        return true;
#endif
    return false;
}

QString SummaryText(const ResultsSummary& summary)
{
    // Only groups that still hold two files count; a file standing in several groups counts once.
    QString text = summary.groups == 0
                       ? QStringLiteral("No group holds two files now. ")
                       : plural(summary.files, "file", "files") + QStringLiteral(" in ") +
                             plural(summary.groups, "group", "groups") +
                             (summary.fileInSeveralGroups
                                  ? QStringLiteral(" (a file can match by several criteria). ")
                                  : QStringLiteral(". "));
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
    menu->setObjectName(QStringLiteral("markMenu"));
    menu->addAction(action(Command::TickAllButBest));
    menu->addAction(action(Command::EditKeepRules));
    menu->addSeparator();
    menu->addAction(action(Command::UndoDelete));
    menu->addAction(action(Command::SaveList));
    m_menuButton = new QToolButton(m_window);
    m_menuButton->setObjectName(QStringLiteral("markButton"));
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
    m_summary->setObjectName(QStringLiteral("summaryLine"));
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
    menu->setObjectName(QStringLiteral("rowMenu"));
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
    return SummaryText(SummarizeResults(m_model->list()));
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

KeepInputs ResultsActions::keepInputs()
{
    KeepInputs inputs;
    inputs.list = &m_model->list();
    inputs.rules = keepRules();
    inputs.preferred = preferredFolders();
    inputs.protectedFolders = protectedFolders();
    inputs.unprovenGroups = SettingsStore().readBool(settingskeys::kTickUnprovenGroups);
    // A second press reads no file again: the times stay known until the next search.
    inputs.modifiedTimes = [this](const std::vector<std::size_t>& rows) {
        return m_fileTimes.timesOf(m_model->list(), rows);
    };
    inputs.tagFields = [this](const std::vector<std::size_t>& rows) {
        std::vector<int> fields;
        fields.reserve(rows.size());
        for (const std::size_t row : rows) {
            ReadOnlyFile file;
            const std::optional<SongTags> tags =
                file.open(m_model->pathOf(row)) ? ReadSongTags(file) : std::nullopt;
            fields.push_back(tags ? int{!tags->title.empty()} + int{!tags->artist.empty()} +
                                        int{!tags->album.empty()}
                                  : 0);
        }
        return fields;
    };
    return inputs;
}

void ResultsActions::applyTicks(const FileTicks& files)
{
    m_model->setTicks(RowTicks(m_model->list(), files));
}

void ResultsActions::askKeepFolderOnce()
{
    SettingsStore settings;
    if (settings.readBool(settingskeys::kKeepFolderAsked) ||
        !settings.textList(settingskeys::kPreferredFolders).isEmpty() ||
        !settings.textList(settingskeys::kProtectedFolders).isEmpty())
        return;
    QStringList folders;
    if (m_listedFolders) {
        for (const QString& folder : m_listedFolders()) {
            const QString text = folderText(folder);
            if (!folders.contains(text))
                folders.append(text);
        }
    }
    if (folders.size() < 2)
        return; // nothing to choose between
    settings.writeBool(settingskeys::kKeepFolderAsked, true);
    settings.sync();
    const std::optional<QString> chosen = m_chooseKeepFolder ? m_chooseKeepFolder(m_window, folders)
                                                             : [&]() -> std::optional<QString> {
        bool ok = false;
        const QString none = QStringLiteral("None of them");
        const QString item =
            QInputDialog::getItem(m_window, QStringLiteral("Tick all but the best"),
                                  kKeepFolderQuestion, folders + QStringList{none}, 0, false, &ok);
        if (!ok || item == none)
            return std::nullopt;
        return item;
    }();
    if (chosen && folders.contains(*chosen)) {
        settings.setTextList(settingskeys::kPreferredFolders, {*chosen});
        settings.sync();
    }
}

void ResultsActions::tickAllButBest()
{
    if (m_model->isUpdating())
        return;
    askKeepFolderOnce();
    KeepInputs inputs = keepInputs();
    if (!inputs.unprovenGroups && !HasProvenGroups(m_model->list()) && m_model->rowCount() > 0) {
        // Nothing here is proven a copy: the user decides whether the guesses will do this once.
        if (m_boxes->askBeforeHarm(m_window, kNothingProvenQuestion,
                                   QString::fromLatin1(kProductName)) != MessageAnswer::Yes)
            return;
        inputs.unprovenGroups = true;
    }
    applyTicks(TickAllButBest(inputs).files);
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
    FileTicks files = noFileTicks(m_model->list());
    for (const std::size_t row : selectedRows())
        files[m_model->pathIdOf(row)] = ticked;
    applyTicks(files);
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
    FileTicks files = noFileTicks(m_model->list());
    for (const std::size_t row : rows)
        files[m_model->pathIdOf(row)] = !allTicked;
    applyTicks(files);
}

void ResultsActions::keepThisOne()
{
    const std::optional<std::size_t> kept = focusRow();
    if (!kept || m_model->isUpdating())
        return;
    const TickOutcome outcome = KeepThisOne(keepInputs(), *kept);
    if (outcome.provenGroups == 0) {
        message(QStringLiteral("Group %1 was found only by name, size or title, so its files are "
                               "not proven to be the same recording. Nothing was ticked.\n\n%2")
                    .arg(m_model->list().row(*kept).group + 1)
                    .arg(kUnprovenHint));
        return;
    }
    applyTicks(outcome.files);
}

void ResultsActions::tickAllInFolder()
{
    const std::optional<std::size_t> focus = focusRow();
    if (!focus || m_model->isUpdating())
        return;
    const KeepInputs inputs = keepInputs();
    if (RowInFolders(m_model->list(), *focus, inputs.protectedFolders)) {
        message(QStringLiteral("This folder is protected; its files are never ticked."));
        return;
    }
    const TickOutcome outcome = TickAllInFolder(inputs, *focus);
    applyTicks(outcome.files);
    if (outcome.unprovenGroups > 0) {
        message(QStringLiteral("Files of this folder that stand only in groups found by name, "
                               "size or title were not ticked (%1).\n\n%2")
                    .arg(groupsText(outcome.unprovenGroups))
                    .arg(kUnprovenHint));
    }
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
    QStringList failed;
    for (const std::size_t row : rows) {
        if (!opened.insert(m_model->pathIdOf(row)).second)
            continue;
        const QUrl url = QUrl::fromLocalFile(m_model->pathText(row));
        if (!(m_open ? m_open(url) : OpenOnDesktop(url)))
            failed.append(m_model->pathText(row));
    }
    if (!failed.isEmpty())
        message(QStringLiteral("Nothing on this system could open %1. Set a program for MP3 "
                               "files in the desktop's settings, or install xdg-utils.")
                    .arg(failed.size() == 1 ? failed.front()
                                            : QStringLiteral("these %1 files").arg(failed.size())));
}

void ResultsActions::openContainingFolder()
{
    const std::optional<std::size_t> row = focusRow();
    if (!row)
        return;
    const QString path = m_model->pathText(*row);
    const QUrl folderUrl = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    const auto openFolder = [&] {
        if (!(m_open ? m_open(folderUrl) : OpenOnDesktop(folderUrl)))
            message(QStringLiteral("Nothing on this system could open the folder %1. Install a "
                                   "file manager, or xdg-utils.")
                        .arg(QDir::toNativeSeparators(folderUrl.toLocalFile())));
    };
    if (m_open) {
        openFolder();
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
    openFolder();
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
    const std::vector<std::uint32_t> losing = GroupsLosingEveryCopy(list, going);
    if (losing.empty())
        return plan;

    // Name each losing group by its number (as the Group column shows it) and the file name of
    // its first row.
    QString text =
        losing.size() == 1
            ? QStringLiteral("1 group would lose every copy of its file:\n")
            : QStringLiteral("%1 groups would lose every copy of their file:\n").arg(losing.size());
    const std::size_t named = std::min(losing.size(), kGroupsNamed);
    std::vector<std::optional<std::size_t>> firstRow(named);
    for (std::size_t row = 0; row < list.size(); ++row) {
        const auto at =
            std::lower_bound(losing.begin(), losing.begin() + static_cast<std::ptrdiff_t>(named),
                             list.row(row).group);
        const auto k = static_cast<std::size_t>(at - losing.begin());
        if (k < named && *at == list.row(row).group && !firstRow[k])
            firstRow[k] = row;
    }
    for (std::size_t k = 0; k < named; ++k) {
        const std::string_view name =
            firstRow[k] ? list.catalogue().name(list.row(*firstRow[k]).entry) : std::string_view{};
        text += QStringLiteral("\nGroup %1: %2")
                    .arg(losing[k] + 1)
                    .arg(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    }
    if (losing.size() > named)
        text += QStringLiteral("\n... and %1 more.").arg(losing.size() - named);
    text += QStringLiteral("\n\nDelete them anyway?");
    plan.proceed = m_boxes->askBeforeHarm(m_window, text, QString::fromLatin1(kProductName)) ==
                   MessageAnswer::Yes;
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
    m_moved.clear();
    for (qsizetype k = 0; k < result.moved.size(); ++k) {
        const auto at = static_cast<std::size_t>(k);
        m_moved.push_back({result.moved[k],
                           k < result.inTrash.size() ? result.inTrash[k] : QString(),
                           at < result.stamps.size() ? result.stamps[at] : std::nullopt});
    }
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
            return setting.enabled && setting.rule == KeepRule::OldestModification;
        }))
        m_fileTimes.start(m_model->list());
}

void ResultsActions::forgetDelete()
{
    m_moved.clear();
    m_removedRows.clear();
    m_shadingBefore.clear();
    action(Command::UndoDelete)->setEnabled(false);
}

void ResultsActions::undoLastDelete()
{
    if (m_moved.empty() || m_model->isUpdating())
        return;
    QSet<QString> back;
    QSet<QString> retry; // still in the trash, and may come back once what blocked it is cleared
    QStringList taken;
    QStringList failed;
    QStringList replaced;
    QStringList gone;
    std::vector<MovedFile> stillInTrash;
    for (const MovedFile& file : m_moved) {
        switch (file.inTrash.isEmpty() ? RestoreOutcome::NotInTrash
                                       : RestoreFromTrash(file.inTrash, file.path, file.stamp)) {
        case RestoreOutcome::Restored:
            back.insert(file.path);
            break;
        case RestoreOutcome::PlaceTaken:
            taken.append(file.path);
            retry.insert(file.path);
            stillInTrash.push_back(file);
            break;
        case RestoreOutcome::Failed:
            failed.append(file.path);
            retry.insert(file.path);
            stillInTrash.push_back(file);
            break;
        case RestoreOutcome::Replaced:
            replaced.append(file.path);
            break;
        case RestoreOutcome::NotInTrash:
            gone.append(file.path);
            break;
        }
    }

    // The removed rows, at their places in the list as it was before the delete: those whose
    // files came back return (the rows still away close up before them); those whose files may
    // yet come back stay in the record; the others are given up. The rows on the list then take
    // the shading they had before the delete.
    const Catalogue& catalogue = m_model->list().catalogue();
    std::vector<ResultsModel::RowRecord> rows;
    std::vector<ResultsModel::RowRecord> kept;
    std::size_t stillAway = 0;
    std::size_t givenUp = 0;
    for (ResultsModel::RowRecord record : m_removedRows) {
        const QString path = QString::fromStdString(catalogue.path(record.row.entry));
        if (back.contains(path)) {
            record.position -= stillAway;
            record.row.checked = false;
            rows.push_back(record);
            continue;
        }
        const bool retried = retry.contains(path);
        ++stillAway;
        if (retried) {
            record.position -= givenUp;
            kept.push_back(record);
        } else {
            ++givenUp;
        }
    }
    m_model->restoreRows(rows);
    // Each row on the list takes its shade from before the delete, wherever it stands now.
    if (!rows.empty())
        m_model->setShading(m_shadingBefore);
    if (stillInTrash.empty()) {
        forgetDelete();
    } else {
        m_moved = std::move(stillInTrash);
        m_removedRows = std::move(kept);
    }

    const auto listOf = [](const QStringList& paths) {
        QString text;
        for (qsizetype k = 0; k < std::min(paths.size(), kPathsNamed); ++k)
            text += QLatin1Char('\n') + paths[k];
        if (paths.size() > kPathsNamed)
            text += QStringLiteral("\n... and %1 more.").arg(paths.size() - kPathsNamed);
        return text;
    };
    QStringList parts;
    if (!taken.isEmpty())
        parts.append(QStringLiteral("Something else now stands in the place of these files; they "
                                    "stay in the trash:\n") +
                     listOf(taken));
    if (!failed.isEmpty())
        parts.append(QStringLiteral("These files could not be put back (their folder may now lie "
                                    "on another drive, or may not be writable); they stay in the "
                                    "trash:\n") +
                     listOf(failed));
    if (!replaced.isEmpty())
        parts.append(QStringLiteral("The trash now holds other files under the names of these; "
                                    "they were left in the trash:\n") +
                     listOf(replaced));
    if (!gone.isEmpty())
        parts.append(QStringLiteral("These files are no longer in the trash:\n") + listOf(gone));
    if (!retry.isEmpty())
        parts.append(QStringLiteral("Clear what blocks them and press Ctrl+Z again to bring them "
                                    "back."));
    if (!parts.isEmpty())
        message(parts.join(QStringLiteral("\n\n")));
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
