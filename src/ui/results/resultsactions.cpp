#include "ui/results/resultsactions.h"

#include "search/rowtext.h"
#include "search/searchrun.h"
#include "ui/results/resultexport.h"
#include "ui/support/twips.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
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

QString plural(std::size_t count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
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
    action(Command::ProtectFolder)
        ->setText(row && isRowFolderProtected(*row) ? QStringLiteral("Unprotect this folder")
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

void ResultsActions::openRows()
{
    const std::vector<std::size_t> rows = rowsActedOn();
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
    const std::vector<std::size_t> rows = rowsActedOn();
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
