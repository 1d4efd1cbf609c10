#include "ui/results/resultcolumns.h"

#include "platform/settings.h"
#include "search/resultlist.h"
#include "ui/support/twips.h"

#include <QAction>
#include <QMenu>
#include <QStyleOptionViewItem>
#include <QTreeView>

namespace tunesift {

namespace {

constexpr int kFilename = static_cast<int>(ResultsModel::Column::Filename);
constexpr int kType = static_cast<int>(ResultsModel::Column::Type);
// The room the columns leave in the list, and each column's design width (Filename takes the
// rest, the group number's included).
constexpr int kListAllowance = 400;
constexpr std::array<int, ResultColumns::kCount> kDesignWidths{
    0, 1000, 700, 500, 1100, 500, 1500, 1500, 1500,
};
constexpr std::array kTagColumns{ResultsModel::Column::Artist, ResultsModel::Column::Album,
                                 ResultsModel::Column::Title};

bool isTagColumn(int logicalIndex)
{
    for (const ResultsModel::Column column : kTagColumns) {
        if (static_cast<int>(column) == logicalIndex)
            return true;
    }
    return false;
}

} // namespace

ResultsHeader::ResultsHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

int ResultsHeader::neededWidth(int logicalIndex) const
{
    const int headerWidth = sectionSizeFromContents(logicalIndex).width();
    return logicalIndex == kType ? std::max(headerWidth, widestMatchWord()) : headerWidth;
}

int ResultsHeader::widestMatchWord() const
{
    // Measured as the list lays out a cell of its font, margins included.
    const auto* list = qobject_cast<const QAbstractItemView*>(parentWidget());
    if (!list)
        return 0;
    QStyleOptionViewItem cell;
    cell.initFrom(list);
    cell.font = list->font();
    cell.fontMetrics = QFontMetrics(cell.font);
    cell.features = QStyleOptionViewItem::HasDisplay;
    int widest = 0;
    for (int criterion = 0; criterion < kCriterionCount; ++criterion) {
        const std::string_view word = MatchTypeWord(static_cast<Criterion>(criterion));
        cell.text = QString::fromLatin1(word.data(), static_cast<qsizetype>(word.size()));
        widest = std::max(
            widest,
            list->style()->sizeFromContents(QStyle::CT_ItemViewItem, &cell, QSize(), list).width());
    }
    return widest;
}

ResultColumns::ResultColumns(QTreeView* list, ResultsModel* model)
    : QObject(list), m_list(list), m_header(new ResultsHeader(list))
{
    m_list->setHeader(m_header);
    m_list->setModel(model);
    m_header->setSectionsMovable(false);
    m_header->setStretchLastSection(false);
    m_header->setMinimumSectionSize(0);
    m_header->setSectionResizeMode(QHeaderView::Interactive);
    // The arrow's room is kept in every header, so a sorted column never cuts its text.
    m_header->setSortIndicatorShown(true);
    m_header->setSortIndicator(-1, Qt::AscendingOrder);
    m_header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_header, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        QMenu* menu = headerMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_header->mapToGlobal(pos));
    });
    connect(m_header, &QHeaderView::sectionResized, this, &ResultColumns::onSectionResized);

    const bool wasSetting = std::exchange(m_settingWidths, true);
    for (const Column column : kTagColumns)
        m_list->setColumnHidden(static_cast<int>(column), true);
    m_settingWidths = wasSetting;
    loadSettings();
}

int ResultColumns::ruleWidthTwips(int logicalIndex) const
{
    const double dpi = LogicalDpi(m_list);
    const int wanted = m_userWidthTwips[static_cast<std::size_t>(logicalIndex)].value_or(
        kDesignWidths[static_cast<std::size_t>(logicalIndex)]);
    const int needed = m_header->neededWidth(logicalIndex);
    return TwipsToPixels(wanted, dpi) < needed ? PixelsToTwips(needed, dpi) : wanted;
}

void ResultColumns::layOut(int listWidthTwips)
{
    m_listWidthTwips = listWidthTwips;
    const double dpi = LogicalDpi(m_list);
    const bool wasSetting = std::exchange(m_settingWidths, true);
    int othersTwips = 0;
    for (int column = kFilename + 1; column < kCount; ++column) {
        if (m_header->isSectionHidden(column))
            continue;
        const int width = ruleWidthTwips(column);
        othersTwips += width;
        // A width widened to its header's keeps the header's pixels, whatever the rounding.
        m_list->setColumnWidth(column,
                               std::max(TwipsToPixels(width, dpi), m_header->neededWidth(column)));
    }
    // A list too narrow for Filename leaves its width as it was; otherwise it gets the rest, but
    // never less than its header.
    if (const int rest = listWidthTwips - kListAllowance - othersTwips; rest >= 0)
        m_list->setColumnWidth(
            kFilename, std::max(TwipsToPixels(rest, dpi), m_header->neededWidth(kFilename)));
    m_settingWidths = wasSetting;
}

void ResultColumns::onSectionResized(int logicalIndex, int /*oldSize*/, int newSize)
{
    if (m_settingWidths || logicalIndex < 0 || logicalIndex >= kCount ||
        m_header->isSectionHidden(logicalIndex))
        return;
    const int needed = m_header->neededWidth(logicalIndex);
    if (newSize < needed) {
        const bool wasSetting = std::exchange(m_settingWidths, true);
        m_header->resizeSection(logicalIndex, needed);
        m_settingWidths = wasSetting;
        newSize = needed;
    }
    if (logicalIndex == kFilename)
        return; // Filename takes what the others leave
    m_userWidthTwips[static_cast<std::size_t>(logicalIndex)] =
        PixelsToTwips(newSize, LogicalDpi(m_list));
    storeWidths();
    if (m_listWidthTwips > 0)
        layOut(m_listWidthTwips);
}

bool ResultColumns::isShown(Column column) const
{
    return !m_header->isSectionHidden(static_cast<int>(column));
}

void ResultColumns::setShown(Column column, bool shown)
{
    const int logicalIndex = static_cast<int>(column);
    if (!isTagColumn(logicalIndex) || isShown(column) == shown)
        return;
    const bool wasSetting = std::exchange(m_settingWidths, true);
    m_list->setColumnHidden(logicalIndex, !shown);
    m_settingWidths = wasSetting;
    QStringList names;
    for (const Column tag : kTagColumns) {
        if (isShown(tag))
            names.append(
                m_list->model()->headerData(static_cast<int>(tag), Qt::Horizontal).toString());
    }
    SettingsStore().setTextList(settingskeys::kResultTagColumns, names);
    if (m_listWidthTwips > 0)
        layOut(m_listWidthTwips);
    emit tagColumnsChanged(tagsShown());
}

bool ResultColumns::tagsShown() const
{
    for (const Column column : kTagColumns) {
        if (isShown(column))
            return true;
    }
    return false;
}

void ResultColumns::resetWidths()
{
    m_userWidthTwips.fill(std::nullopt);
    storeWidths();
    if (m_listWidthTwips > 0)
        layOut(m_listWidthTwips);
}

QMenu* ResultColumns::headerMenu()
{
    auto* menu = new QMenu(m_header);
    menu->setObjectName(QStringLiteral("headerMenu"));
    for (const Column column : kTagColumns) {
        const QString name =
            m_list->model()->headerData(static_cast<int>(column), Qt::Horizontal).toString();
        QAction* action = menu->addAction(name);
        action->setCheckable(true);
        action->setChecked(isShown(column));
        connect(action, &QAction::toggled, this,
                [this, column](bool checked) { setShown(column, checked); });
    }
    menu->addSeparator();
    QAction* reset = menu->addAction(QStringLiteral("Reset column widths"));
    reset->setEnabled(
        std::any_of(m_userWidthTwips.begin(), m_userWidthTwips.end(),
                    [](const std::optional<int>& width) { return width.has_value(); }));
    connect(reset, &QAction::triggered, this, &ResultColumns::resetWidths);
    return menu;
}

void ResultColumns::storeWidths() const
{
    QStringList entries;
    for (int column = kFilename + 1; column < kCount; ++column) {
        if (const std::optional<int> width = m_userWidthTwips[static_cast<std::size_t>(column)])
            entries.append(m_list->model()->headerData(column, Qt::Horizontal).toString() +
                           QLatin1Char('=') + QString::number(*width));
    }
    SettingsStore().setTextList(settingskeys::kResultColumnWidths, entries);
}

void ResultColumns::loadSettings()
{
    const SettingsStore settings;
    const QAbstractItemModel* model = m_list->model();
    const auto columnNamed = [model](const QString& name) -> std::optional<int> {
        for (int column = kFilename + 1; column < kCount; ++column) {
            if (model->headerData(column, Qt::Horizontal).toString() == name)
                return column;
        }
        return std::nullopt;
    };
    for (const QString& entry : settings.textList(settingskeys::kResultColumnWidths)) {
        const qsizetype equals = entry.lastIndexOf(QLatin1Char('='));
        bool ok = false;
        const int width = entry.mid(equals + 1).toInt(&ok);
        const std::optional<int> column =
            equals > 0 ? columnNamed(entry.left(equals)) : std::nullopt;
        // A stored width beyond reason is no width the user could have dragged.
        if (ok && column && width > 0 && width <= 1'000'000)
            m_userWidthTwips[static_cast<std::size_t>(*column)] = width;
    }
    const bool wasSetting = std::exchange(m_settingWidths, true);
    for (const QString& name : settings.textList(settingskeys::kResultTagColumns)) {
        if (const std::optional<int> column = columnNamed(name); column && isTagColumn(*column))
            m_list->setColumnHidden(*column, false);
    }
    m_settingWidths = wasSetting;
}

} // namespace tunesift
