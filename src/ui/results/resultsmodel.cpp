#include "ui/results/resultsmodel.h"

#include "keep/keepbest.h"

#include <QBrush>
#include <QLocale>
#include <algorithm>
#include <array>

namespace tunesift {

namespace {

constexpr int kColumnCount = static_cast<int>(ResultsModel::Column::Count);

// Runs of neighbouring removed rows up to this many go out as ranged removals, which keep the
// view's scroll position and selection; beyond that one reset is cheaper than many O(n) shifts.
constexpr std::size_t kMaxRangedRemovals = 32;

struct Shade
{
    ColorGroup group;
    QRgb rgb;
};

// The two reds differ in green and blue, not only in lightness. The teals lean further to green
// and blue at once than any other family, so they do not pass for light blue or light green.
constexpr std::array<Shade, 14> kShades{{
    {ColorGroup::Blue, qRgb(212, 234, 255)},
    {ColorGroup::LightBlue, qRgb(242, 242, 255)},
    {ColorGroup::LightGreen, qRgb(242, 255, 242)},
    {ColorGroup::Green, qRgb(212, 255, 212)},
    {ColorGroup::LightRed, qRgb(255, 213, 212)},
    {ColorGroup::Red, qRgb(255, 212, 234)},
    {ColorGroup::Orange, qRgb(255, 219, 184)},
    {ColorGroup::LightOrange, qRgb(255, 233, 213)},
    {ColorGroup::Purple, qRgb(218, 184, 255)},
    {ColorGroup::LightPurple, qRgb(232, 212, 255)},
    {ColorGroup::Teal, qRgb(168, 226, 218)},
    {ColorGroup::LightTeal, qRgb(212, 243, 238)},
    {ColorGroup::Gold, qRgb(245, 230, 163)},
    {ColorGroup::LightGold, qRgb(251, 243, 212)},
}};

QString headerText(int section)
{
    switch (static_cast<ResultsModel::Column>(section)) {
    case ResultsModel::Column::Filename:
        return QStringLiteral("Filename");
    case ResultsModel::Column::Size:
        return QStringLiteral("Size");
    case ResultsModel::Column::Length:
        return QStringLiteral("Length");
    case ResultsModel::Column::Bitrate:
        return QStringLiteral("Bitrate");
    case ResultsModel::Column::Type:
        return QStringLiteral("Type");
    case ResultsModel::Column::Group:
        return QStringLiteral("Group");
    case ResultsModel::Column::Artist:
        return QStringLiteral("Artist");
    case ResultsModel::Column::Album:
        return QStringLiteral("Album");
    case ResultsModel::Column::Title:
        return QStringLiteral("Title");
    case ResultsModel::Column::Count:
        break;
    }
    return {};
}

} // namespace

std::optional<QColor> RowShade(ColorGroup group)
{
    for (const Shade& shade : kShades) {
        if (shade.group == group)
            return QColor::fromRgb(shade.rgb);
    }
    return std::nullopt;
}

ResultsModel::ResultsModel(ResultList& list, QObject* parent)
    : QAbstractTableModel(parent), m_list(list)
{
    const QLocale locale;
    m_thousandsSeparator = locale.groupSeparator().toStdString();
    m_decimalSeparator = locale.decimalPoint().toStdString();
}

void ResultsModel::beginResultsUpdate()
{
    if (m_updating)
        return;
    beginResetModel();
    m_updating = true;
    m_sortColumn = -1; // a new search shows its own order
    invalidateIndex();
    m_groupsValid = false;
    endResetModel();
}

void ResultsModel::endResultsUpdate()
{
    if (!m_updating)
        return;
    beginResetModel();
    m_updating = false;
    // A run refills the list in its own order; rows it left as they were go back to theirs.
    if (!InSearchOrder(m_list))
        m_list.reorder(SearchOrder(m_list));
    invalidateIndex();
    m_groupsValid = false;
    m_shadesValid = false;
    endResetModel();
}

int ResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows());
}

int ResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const auto position = static_cast<std::size_t>(index.row());
    const auto column = static_cast<Column>(index.column());

    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case Column::Filename:
            return pathText(position);
        case Column::Size:
            return QString::fromStdString(
                m_list.sizeText(position, m_thousandsSeparator, m_decimalSeparator));
        case Column::Length:
            return QString::fromStdString(m_list.lengthText(position));
        case Column::Bitrate:
            return QString::fromStdString(m_list.bitRateText(position));
        case Column::Type: {
            const std::string_view word = m_list.typeText(position);
            return QString::fromUtf8(word.data(), static_cast<qsizetype>(word.size()));
        }
        case Column::Group:
            return QString::number(m_list.row(position).group + 1);
        case Column::Artist:
        case Column::Album:
        case Column::Title:
            return tagText(position, column);
        case Column::Count:
            break;
        }
        return {};
    case Qt::TextAlignmentRole:
        if (column == Column::Group)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case Qt::ToolTipRole:
        // The whole path, also where the column shows it shortened.
        if (column == Column::Filename)
            return pathText(position);
        return {};
    case Qt::CheckStateRole:
        if (column != Column::Filename)
            return {};
        return m_list.row(position).checked ? Qt::Checked : Qt::Unchecked;
    case Qt::BackgroundRole:
        if (const auto shade = RowShade(shownColor(position)))
            return QBrush(*shade);
        return {};
    case Qt::ForegroundRole:
        // Black text on a shaded row whatever the palette; unshaded rows keep the list's own.
        if (RowShade(shownColor(position)))
            return QBrush(Qt::black);
        return {};
    default:
        return {};
    }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    // Numbers sort the largest first at the first click, texts from A.
    if (orientation == Qt::Horizontal && role == Qt::InitialSortOrderRole) {
        switch (static_cast<Column>(section)) {
        case Column::Size:
        case Column::Length:
        case Column::Bitrate:
        case Column::Group:
            return Qt::DescendingOrder;
        default:
            return Qt::AscendingOrder;
        }
    }
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kColumnCount)
        return {};
    return headerText(section);
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == static_cast<int>(Column::Filename))
        result |= Qt::ItemIsUserCheckable;
    return result;
}

bool ResultsModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != static_cast<int>(Column::Filename) ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    const bool checked = value.toInt() == Qt::Checked;
    const auto position = static_cast<std::size_t>(index.row());
    if (m_list.row(position).checked == checked)
        return true;
    m_list.setChecked(position, checked);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit itemCheck(index.row(), checked);
    return true;
}

std::size_t ResultsModel::setFileChecked(std::size_t position, bool checked)
{
    if (position >= rows())
        return 0;
    buildIndex();
    const std::uint32_t group = m_groupOfRow[position];
    std::vector<std::size_t> changed;
    for (std::uint32_t k = m_groupStart[group]; k < m_groupStart[group + 1]; ++k) {
        const std::size_t row = m_members[k];
        if (m_list.row(row).checked != checked) {
            m_list.setChecked(row, checked);
            changed.push_back(row);
        }
    }
    const std::size_t count = changed.size();
    emitCheckChanges(changed);
    return count;
}

bool ResultsModel::isChecked(std::size_t position) const
{
    return position < rows() && m_list.row(position).checked;
}

void ResultsModel::clearChecks()
{
    const std::size_t n = rows();
    std::size_t first = n;
    std::size_t last = 0;
    for (std::size_t row = 0; row < n; ++row) {
        if (!m_list.row(row).checked)
            continue;
        m_list.setChecked(row, false);
        first = std::min(first, row);
        last = row;
    }
    if (first < n)
        emit dataChanged(index(static_cast<int>(first), 0), index(static_cast<int>(last), 0),
                         {Qt::CheckStateRole});
}

std::vector<std::size_t> ResultsModel::checkedRows() const
{
    std::vector<std::size_t> result;
    const std::size_t n = rows();
    for (std::size_t row = 0; row < n; ++row) {
        if (m_list.row(row).checked)
            result.push_back(row);
    }
    return result;
}

void ResultsModel::removePositions(const std::vector<std::size_t>& ascendingPositions)
{
    const std::size_t n = rows();
    std::vector<std::size_t> positions;
    positions.reserve(ascendingPositions.size());
    for (const std::size_t position : ascendingPositions) {
        // Out-of-range or repeated positions would make the list drop the wrong rows.
        if (position < n && (positions.empty() || position > positions.back()))
            positions.push_back(position);
    }
    if (positions.empty())
        return;

    // Runs of neighbouring positions, as [first, last] pairs in ascending order.
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    for (const std::size_t position : positions) {
        if (!runs.empty() && runs.back().second + 1 == position)
            runs.back().second = position;
        else
            runs.emplace_back(position, position);
    }

    m_groupsValid = false;
    m_shadesValid = false;
    invalidateIndex();
    if (runs.size() > kMaxRangedRemovals) {
        beginResetModel();
        m_list.removeRows(positions);
        endResetModel();
        return;
    }
    // From the last run to the first, so the positions of the runs still to come stay valid.
    std::vector<std::size_t> run;
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
        run.clear();
        for (std::size_t position = it->first; position <= it->second; ++position)
            run.push_back(position);
        beginRemoveRows({}, static_cast<int>(it->first), static_cast<int>(it->second));
        m_list.removeRows(run);
        endRemoveRows();
    }
}

void ResultsModel::resetColors(ColorGroup group)
{
    if (m_updating)
        return;
    m_list.resetColors(group);
    const std::size_t n = rows();
    if (n > 0)
        emit dataChanged(index(0, 0), index(static_cast<int>(n - 1), kColumnCount - 1),
                         {Qt::BackgroundRole, Qt::ForegroundRole});
}

void ResultsModel::setTicks(const std::vector<char>& ticks)
{
    const std::size_t n = std::min(rows(), ticks.size());
    std::size_t first = n;
    std::size_t last = 0;
    for (std::size_t row = 0; row < n; ++row) {
        const bool checked = ticks[row] != 0;
        if (m_list.row(row).checked == checked)
            continue;
        m_list.setChecked(row, checked);
        first = std::min(first, row);
        last = row;
    }
    if (first < n)
        emit dataChanged(index(static_cast<int>(first), 0), index(static_cast<int>(last), 0),
                         {Qt::CheckStateRole});
}

const std::vector<std::uint32_t>& ResultsModel::duplicateGroups() const
{
    if (!m_groupsValid || m_duplicateGroups.size() != rows()) {
        const std::size_t n = rows();
        m_duplicateGroups.resize(n);
        for (std::size_t row = 0; row < n; ++row)
            m_duplicateGroups[row] = m_list.row(row).group;
        m_groupsValid = !m_updating;
    }
    return m_duplicateGroups;
}

std::vector<ColorGroup> ResultsModel::colors() const
{
    std::vector<ColorGroup> result(rows());
    for (std::size_t row = 0; row < result.size(); ++row)
        result[row] = m_list.color(row);
    return result;
}

void ResultsModel::setColors(const std::vector<ColorGroup>& colors)
{
    const std::size_t n = std::min(rows(), colors.size());
    for (std::size_t row = 0; row < n; ++row)
        m_list.setColor(row, colors[row]);
    if (n > 0)
        emit dataChanged(index(0, 0), index(static_cast<int>(n - 1), kColumnCount - 1),
                         {Qt::BackgroundRole, Qt::ForegroundRole});
}

std::vector<ResultsModel::RowRecord>
ResultsModel::rowRecords(const std::vector<std::size_t>& ascendingPositions) const
{
    std::vector<RowRecord> records;
    records.reserve(ascendingPositions.size());
    for (const std::size_t position : ascendingPositions) {
        if (position < rows())
            records.push_back({position, m_list.row(position), m_list.color(position)});
    }
    return records;
}

void ResultsModel::restoreRows(const std::vector<RowRecord>& records)
{
    if (records.empty() || m_updating)
        return;
    std::vector<std::pair<std::size_t, ResultRow>> rowsBack;
    rowsBack.reserve(records.size());
    for (const RowRecord& record : records)
        rowsBack.emplace_back(record.position, record.row);
    beginResetModel();
    m_list.insertRows(rowsBack);
    // The positions were those of the order at the delete; the order of now puts each row back
    // in its place.
    if (m_sortColumn >= 0 || !inSearchOrderAround(rowsBack))
        m_list.reorder(sortedOrder());
    m_shadesValid = false;
    invalidateIndex();
    m_groupsValid = false;
    endResetModel();
}

bool ResultsModel::inSearchOrderAround(
    const std::vector<std::pair<std::size_t, ResultRow>>& inserted) const
{
    // Unsorted, the other rows stand in the search's order already.
    const std::size_t n = m_list.size();
    for (const auto& [position, row] : inserted) {
        if (position >= n || m_list.row(position).written != row.written ||
            (position > 0 && m_list.row(position - 1).written > row.written) ||
            (position + 1 < n && m_list.row(position + 1).written < row.written))
            return false;
    }
    return true;
}

std::vector<std::uint32_t> ResultsModel::sortedOrder() const
{
    if (m_sortColumn < 0)
        return SearchOrder(m_list);
    const GroupSortKey key = [this] {
        switch (static_cast<Column>(m_sortColumn)) {
        case Column::Size:
            return GroupSortKey::Size;
        case Column::Length:
            return GroupSortKey::Length;
        case Column::Bitrate:
            return GroupSortKey::BitRate;
        case Column::Type:
            return GroupSortKey::Type;
        case Column::Group:
            return GroupSortKey::GroupSize;
        case Column::Artist:
            return GroupSortKey::Artist;
        case Column::Album:
            return GroupSortKey::Album;
        case Column::Title:
            return GroupSortKey::Title;
        case Column::Filename:
        case Column::Count:
            break;
        }
        return GroupSortKey::Path;
    }();
    return GroupSortOrder(m_list, key, m_sortOrder == Qt::DescendingOrder, m_tags);
}

void ResultsModel::sortGroups(int column, Qt::SortOrder order)
{
    m_sortColumn = column >= 0 && column < kColumnCount ? column : -1;
    m_sortOrder = order;
    const std::size_t n = rows();
    if (n == 0)
        return;
    const std::vector<std::uint32_t> newOrder = sortedOrder();
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<std::uint32_t> newPosition(n);
    for (std::size_t k = 0; k < n; ++k)
        newPosition[newOrder[k]] = static_cast<std::uint32_t>(k);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from)
        to.append(index(static_cast<int>(newPosition[static_cast<std::size_t>(old.row())]),
                        old.column()));
    m_list.reorder(newOrder);
    invalidateIndex();
    m_groupsValid = false;
    m_shadesValid = false;
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

ColorGroup ResultsModel::shownColor(std::size_t position) const
{
    const ColorGroup stored = m_list.color(position);
    if (m_sortColumn < 0 || !RowShade(stored))
        return stored;
    if (!m_shadesValid || m_darkGroup.size() != rows()) {
        // The first group light, then every change of group changes the shade.
        const std::size_t n = rows();
        m_darkGroup.resize(n);
        bool dark = false;
        for (std::size_t row = 0; row < n; ++row) {
            if (row > 0 && m_list.row(row).group != m_list.row(row - 1).group)
                dark = !dark;
            m_darkGroup[row] = dark ? 1 : 0;
        }
        m_shadesValid = true;
    }
    return ColorGroupOf(m_list.row(position).criterion, m_darkGroup[position] != 0);
}

ResultsModel::Shading ResultsModel::shading() const
{
    Shading result;
    result.reserve(rows());
    for (std::size_t row = 0; row < rows(); ++row)
        result.emplace_back(m_list.row(row).written, m_list.color(row));
    return result;
}

void ResultsModel::setShading(const Shading& shading)
{
    const std::size_t n = rows();
    if (n == 0 || shading.empty())
        return;
    std::uint32_t largest = 0;
    for (const auto& [written, color] : shading)
        largest = std::max(largest, written);
    // Rows the shading does not name keep theirs.
    std::vector<std::optional<ColorGroup>> byWritten(std::size_t{largest} + 1);
    for (const auto& [written, color] : shading)
        byWritten[written] = color;
    for (std::size_t row = 0; row < n; ++row) {
        const std::uint32_t written = m_list.row(row).written;
        if (written < byWritten.size() && byWritten[written])
            m_list.setColor(row, *byWritten[written]);
    }
    emit dataChanged(index(0, 0), index(static_cast<int>(n - 1), kColumnCount - 1),
                     {Qt::BackgroundRole, Qt::ForegroundRole});
}

void ResultsModel::tagsChanged()
{
    const std::size_t n = rows();
    if (n > 0)
        emit dataChanged(index(0, static_cast<int>(Column::Artist)),
                         index(static_cast<int>(n - 1), static_cast<int>(Column::Title)),
                         {Qt::DisplayRole});
}

QString ResultsModel::tagText(std::size_t position, Column column) const
{
    const SongTags* tags = m_tags ? m_tags(m_list.row(position).pathId) : nullptr;
    if (tags == nullptr)
        return {};
    const std::string& text = column == Column::Artist  ? tags->artist
                              : column == Column::Album ? tags->album
                                                        : tags->title;
    return QString::fromStdString(text);
}

QString ResultsModel::pathText(std::size_t position) const
{
    return QString::fromStdString(m_list.path(position));
}

void ResultsModel::invalidateIndex()
{
    m_indexValid = false;
    m_groupOfRow.clear();
    m_groupStart.clear();
    m_members.clear();
}

void ResultsModel::buildIndex() const
{
    if (m_indexValid)
        return;
    const std::size_t n = rows();
    // One sort of (pathId, position) keys puts every path's rows together, in ascending order.
    std::vector<std::uint64_t> keys(n);
    for (std::size_t row = 0; row < n; ++row)
        keys[row] = (std::uint64_t{m_list.row(row).pathId} << 32) | row;
    std::sort(keys.begin(), keys.end());

    m_groupOfRow.assign(n, 0);
    m_members.resize(n);
    m_groupStart.clear();
    for (std::size_t k = 0; k < n; ++k) {
        const auto row = static_cast<std::uint32_t>(keys[k] & 0xffffffffu);
        if (k == 0 || (keys[k] >> 32) != (keys[k - 1] >> 32))
            m_groupStart.push_back(static_cast<std::uint32_t>(k));
        m_members[k] = row;
        m_groupOfRow[row] = static_cast<std::uint32_t>(m_groupStart.size() - 1);
    }
    m_groupStart.push_back(static_cast<std::uint32_t>(n));
    m_indexValid = true;
}

void ResultsModel::emitCheckChanges(std::vector<std::size_t>& positions)
{
    std::sort(positions.begin(), positions.end());
    std::size_t k = 0;
    while (k < positions.size()) {
        std::size_t end = k;
        while (end + 1 < positions.size() && positions[end + 1] == positions[end] + 1)
            ++end;
        emit dataChanged(index(static_cast<int>(positions[k]), 0),
                         index(static_cast<int>(positions[end]), 0), {Qt::CheckStateRole});
        k = end + 1;
    }
}

} // namespace tunesift
