#include "ui/results/keeprulesdialog.h"

#include "keep/keepbest.h"
#include "platform/settings.h"
#include "ui/results/resultsactions.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tunesift {

namespace {

constexpr int kRuleRole = Qt::UserRole;

// A folder list with Add and Remove beside it.
QListWidget* addFolderList(QGridLayout* grid, int row, const QString& caption,
                           const QStringList& folders, QWidget* owner)
{
    grid->addWidget(new QLabel(caption, owner), row, 0, 1, 2);
    auto* list = new QListWidget(owner);
    list->addItems(folders);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grid->addWidget(list, row + 1, 0, 2, 1);
    auto* add = new QPushButton(QStringLiteral("Add..."), owner);
    auto* remove = new QPushButton(QStringLiteral("Remove"), owner);
    grid->addWidget(add, row + 1, 1);
    grid->addWidget(remove, row + 2, 1, Qt::AlignTop);
    QObject::connect(add, &QPushButton::clicked, owner, [list, owner] {
        const QString folder = QFileDialog::getExistingDirectory(
            owner, QStringLiteral("Please select folder to add:"));
        if (!folder.isEmpty())
            list->addItem(QDir::toNativeSeparators(QDir::cleanPath(folder)));
    });
    QObject::connect(remove, &QPushButton::clicked, owner,
                     [list] { qDeleteAll(list->selectedItems()); });
    return list;
}

QStringList itemsOf(const QListWidget* list)
{
    QStringList texts;
    for (int k = 0; k < list->count(); ++k)
        texts.append(list->item(k)->text());
    return texts;
}

} // namespace

QString KeepRuleCaption(int rule)
{
    switch (static_cast<KeepRule>(rule)) {
    case KeepRule::InPreferredFolder:
        return QStringLiteral("Inside a preferred or protected folder");
    case KeepRule::HighestBitRate:
        return QStringLiteral("Highest bit rate");
    case KeepRule::LongestPlayingTime:
        return QStringLiteral("Longest playing time");
    case KeepRule::LargestFile:
        return QStringLiteral("Largest file");
    case KeepRule::MostCompleteTags:
        return QStringLiteral("Most complete tags (title, artist, album)");
    case KeepRule::OldestModification:
        return QStringLiteral("Oldest modification time");
    case KeepRule::ShortestPath:
        return QStringLiteral("Shortest path");
    case KeepRule::Count:
        break;
    }
    return {};
}

KeepRulesDialog::KeepRulesDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("keepRulesDialog"));
    setWindowTitle(QStringLiteral("Keep rules"));
    const SettingsStore settings;
    auto* grid = new QGridLayout(this);

    grid->addWidget(new QLabel(QStringLiteral("The file kept in each group is the best by the "
                                              "first rule that tells the files apart; ties go to "
                                              "the earlier row."),
                               this),
                    0, 0, 1, 2);
    m_rules = new QListWidget(this);
    m_rules->setObjectName(QStringLiteral("keepRulesList"));
    for (const KeepRuleSetting& setting : ResultsActions::keepRules()) {
        auto* item = new QListWidgetItem(KeepRuleCaption(static_cast<int>(setting.rule)), m_rules);
        item->setData(kRuleRole, static_cast<int>(setting.rule));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(setting.enabled ? Qt::Checked : Qt::Unchecked);
    }
    m_rules->setCurrentRow(0);
    grid->addWidget(m_rules, 1, 0, 2, 1);
    auto* up = new QPushButton(QStringLiteral("Up"), this);
    auto* down = new QPushButton(QStringLiteral("Down"), this);
    grid->addWidget(up, 1, 1);
    grid->addWidget(down, 2, 1, Qt::AlignTop);
    connect(up, &QPushButton::clicked, this, [this] { moveCurrentRule(-1); });
    connect(down, &QPushButton::clicked, this, [this] { moveCurrentRule(1); });

    m_preferred = addFolderList(grid, 3, QStringLiteral("Preferred folders:"),
                                settings.textList(settingskeys::kPreferredFolders), this);
    m_protected = addFolderList(
        grid, 6,
        QStringLiteral("Protected folders (never ticked, never deleted; their files are kept):"),
        settings.textList(settingskeys::kProtectedFolders), this);

    m_unproven = new QCheckBox(
        QStringLiteral("Also tick in groups found only by name, size or title"), this);
    m_unproven->setObjectName(QStringLiteral("unprovenGroupsBox"));
    m_unproven->setToolTip(QStringLiteral("Only groups found by Exact Audio are proven to hold "
                                          "copies of the same recording; the others are guesses."));
    m_unproven->setChecked(settings.readBool(settingskeys::kTickUnprovenGroups));
    grid->addWidget(m_unproven, 9, 0, 1, 2);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    grid->addWidget(buttons, 10, 0, 1, 2);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        store();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void KeepRulesDialog::moveCurrentRule(int step)
{
    const int from = m_rules->currentRow();
    const int to = from + step;
    if (from < 0 || to < 0 || to >= m_rules->count())
        return;
    QListWidgetItem* item = m_rules->takeItem(from);
    m_rules->insertItem(to, item);
    m_rules->setCurrentRow(to);
}

void KeepRulesDialog::store() const
{
    KeepRules rules;
    for (int k = 0; k < m_rules->count(); ++k) {
        const QListWidgetItem* item = m_rules->item(k);
        rules.push_back({static_cast<KeepRule>(item->data(kRuleRole).toInt()),
                         item->checkState() == Qt::Checked});
    }
    SettingsStore settings;
    settings.setText(settingskeys::kKeepRuleOrder,
                     QString::fromStdString(KeepRuleOrderText(rules)));
    settings.setText(settingskeys::kKeepRulesOff, QString::fromStdString(KeepRulesOffText(rules)));
    settings.setTextList(settingskeys::kPreferredFolders, itemsOf(m_preferred));
    settings.setTextList(settingskeys::kProtectedFolders, itemsOf(m_protected));
    settings.writeBool(settingskeys::kTickUnprovenGroups, m_unproven->isChecked());
    settings.sync();
}

} // namespace tunesift
