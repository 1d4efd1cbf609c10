#include "files/fileaccess.h"
#include "mp3/songtags.h"
#include "platform/settings.h"
#include "search/catalogue.h"
#include "search/searchrun.h"
#include "ui/results/keeprulesdialog.h"
#include "ui/results/resultsactions.h"

#include <QDir>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QTreeView>
#include <algorithm>

// The ticking helpers of the results window: "Tick all but the best" and the keep rules, the row
// commands that tick, protected folders, and the selection they act on.

namespace tunesift {

namespace {

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

void ResultsActions::resultsFilled()
{
    const KeepRules rules = keepRules();
    if (std::any_of(rules.begin(), rules.end(), [](const KeepRuleSetting& setting) {
            return setting.enabled && setting.rule == KeepRule::OldestModification;
        }))
        m_fileTimes.start(m_model->list());
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

std::vector<std::size_t> ResultsActions::rowsActedOn() const
{
    std::vector<std::size_t> rows = selectedRows();
    if (rows.empty()) {
        if (const auto row = focusRow())
            rows.push_back(*row);
    }
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
    const std::vector<std::size_t> rows = rowsActedOn();
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

bool ResultsActions::isRowFolderProtected(std::size_t row) const
{
    const QString folder = rowFolder(row);
    const QStringList stored = SettingsStore().textList(settingskeys::kProtectedFolders);
    return std::any_of(stored.begin(), stored.end(), [&](const QString& protectedFolder) {
        return folderText(protectedFolder) == folder;
    });
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

} // namespace tunesift
