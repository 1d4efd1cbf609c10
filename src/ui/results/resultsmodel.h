#pragma once

#include "mp3/songtags.h"
#include "search/resultlist.h"
#include "ui/results/groupsort.h"

#include <QAbstractTableModel>
#include <QColor>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tunesift {

// The shade of a colour group, or nothing for a name outside the colour table ("white", empty),
// which leaves the row in the list's own colours.
std::optional<QColor> RowShade(ColorGroup group);

// The rows of the last search as the results list shows them. It reads the engine's ResultList
// directly and keeps no copy of the rows, only an index from a file's path to its rows so that a
// tick reaches every row of the file without a walk over the whole list.
class ResultsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum class Column
    {
        Filename,
        Size,
        Length,
        Bitrate,
        Type,
        Group, // the duplicate group's number, counted from 1
        Artist,
        Album,
        Title,
        Count
    };

    explicit ResultsModel(ResultList& list, QObject* parent = nullptr);

    // The run empties and refills the list on its own thread between these two calls; the model
    // shows no rows in between and never reads the list then.
    void beginResultsUpdate();
    void endResultsUpdate();
    bool isUpdating() const { return m_updating; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A tick set through the view changes the toggled row only and reports it by itemCheck();
    // the window then carries it to the file's other rows.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Gives every row whose path equals the path of the row at `position` the checked state, the
    // row itself included; rows of other paths (also those differing only in letter case) keep
    // theirs. Returns the number of rows whose state changed.
    std::size_t setFileChecked(std::size_t position, bool checked);
    bool isChecked(std::size_t position) const;
    // Unticks every row; the shading stays.
    void clearChecks();
    // Positions of the ticked rows, ascending.
    std::vector<std::size_t> checkedRows() const;

    // Removes the rows at the given ascending positions; the others close up in their order and
    // keep their ticks.
    void removePositions(const std::vector<std::size_t>& ascendingPositions);
    // Gives every colour slot of the list the same group (the delete command writes White).
    void resetColors(ColorGroup group);

    // Sets the tick of every row at once (one flag per row), as the marking helpers decide.
    void setTicks(const std::vector<char>& ticks);

    // Each row's duplicate group (counted from 0) as the search wrote it.
    const std::vector<std::uint32_t>& duplicateGroups() const;

    // The shade of every row, and a new shading of every row (one entry per row).
    std::vector<ColorGroup> colors() const;
    void setColors(const std::vector<ColorGroup>& colors);

    // A row as it stood before a removal, to bring it back; its group goes with the row.
    struct RowRecord
    {
        std::size_t position = 0;
        ResultRow row;
        ColorGroup color = ColorGroup::None;
    };
    std::vector<RowRecord> rowRecords(const std::vector<std::size_t>& ascendingPositions) const;
    // Puts rows back at the positions given (ascending, each the position the row has once all
    // are in); the rows between move down. The shading stays with the positions.
    void restoreRows(const std::vector<RowRecord>& records);

    // Sorts the groups by the column's value in their first rows (Filename: the path; Group: the
    // number of rows), each group's rows together in the search's order; -1 puts the rows back
    // into the search's order. Ticks, shades and the view's selection go with the rows; while
    // sorted, neighbouring groups are shaded alternately in their criteria's colours.
    void sortGroups(int column, Qt::SortOrder order);
    int sortColumn() const { return m_sortColumn; }

    // The shade of every row with its place in the search's order; and such a shading given back
    // to the rows still on the list, wherever they stand now.
    using Shading = std::vector<std::pair<std::uint32_t, ColorGroup>>;
    Shading shading() const;
    void setShading(const Shading& shading);

    // Where the tag columns take their texts: a file's tags by its path id, nullptr while they are
    // not known (the cells stay empty). tagsChanged() shows what became known since.
    using TagLookup = std::function<const SongTags*(std::uint32_t pathId)>;
    void setTagLookup(TagLookup lookup) { m_tags = std::move(lookup); }
    void tagsChanged();

    std::string pathOf(std::size_t position) const { return m_list.path(position); }
    QString pathText(std::size_t position) const;
    std::uint32_t pathIdOf(std::size_t position) const { return m_list.row(position).pathId; }
    const ResultList& list() const { return m_list; }

signals:
    // The user toggled the tick of a row.
    void itemCheck(int row, bool checked);

private:
    std::size_t rows() const { return m_updating ? 0 : m_list.size(); }
    void invalidateIndex();
    void buildIndex() const;
    // Reports changed ticks as few narrow dataChanged signals: one per run of neighbouring rows.
    void emitCheckChanges(std::vector<std::size_t>& positions);
    QString tagText(std::size_t position, Column column) const;
    // Whether rows just put back at these positions stand in the search's order among the others.
    bool inSearchOrderAround(const std::vector<std::pair<std::size_t, ResultRow>>& inserted) const;
    // The rows' positions in the order the sort asks for.
    std::vector<std::uint32_t> sortedOrder() const;
    // The colour group the row is shown in.
    ColorGroup shownColor(std::size_t position) const;

    ResultList& m_list;
    bool m_updating = false;
    std::string m_thousandsSeparator;
    std::string m_decimalSeparator;
    TagLookup m_tags;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    // While sorted: per row, whether its group takes the dark shade.
    mutable bool m_shadesValid = false;
    mutable std::vector<char> m_darkGroup;

    mutable bool m_groupsValid = false;
    mutable std::vector<std::uint32_t> m_duplicateGroups;

    // path -> rows: the rows of path group g are m_members[m_groupStart[g] .. m_groupStart[g+1]),
    // ascending; m_groupOfRow maps a row to its group. Built on the first tick after a change.
    mutable bool m_indexValid = false;
    mutable std::vector<std::uint32_t> m_groupOfRow;
    mutable std::vector<std::uint32_t> m_groupStart;
    mutable std::vector<std::uint32_t> m_members;
};

} // namespace tunesift
