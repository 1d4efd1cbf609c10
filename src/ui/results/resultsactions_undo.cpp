#include "search/catalogue.h"
#include "search/searchrun.h"
#include "ui/results/resultsactions.h"

#include <QAction>
#include <algorithm>
#include <unordered_set>

// "Delete checked" as the helpers see it (protected folders, the last copy of a group) and undo
// of the last delete.

namespace tunesift {

namespace {

// How many groups the last-copy question names before it says how many more there are.
constexpr std::size_t kGroupsNamed = 5;
// How many paths each part of undo's report names.
constexpr qsizetype kPathsNamed = 10;

} // namespace

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

} // namespace tunesift
