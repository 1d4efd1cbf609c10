#pragma once

#include "ui/results/resultsmodel.h"

#include <QHeaderView>
#include <QObject>
#include <array>
#include <optional>

class QMenu;
class QTreeView;

namespace tunesift {

// The results list's header: a section is never narrower than its text, with room for the sort
// arrow, and Type never narrower than its longest match word.
class ResultsHeader : public QHeaderView
{
    Q_OBJECT
public:
    // parent: the list.
    explicit ResultsHeader(QWidget* parent);
    // The least width that shows the section's text whole (and for Type, every match word).
    int neededWidth(int logicalIndex) const;

private:
    int widestMatchWord() const;
};

// The widths and visibility of the results list's columns. Until the user drags a column the
// design widths hold, each widened to its header where that would cut it, and Filename takes the
// rest of the list; a width the user gives a column is kept from then on, here and in later runs,
// and Filename still takes the rest. The tag columns are hidden until the user shows them from
// the header's menu.
class ResultColumns : public QObject
{
    Q_OBJECT
public:
    using Column = ResultsModel::Column;
    static constexpr int kCount = static_cast<int>(Column::Count);

    ResultColumns(QTreeView* list, ResultsModel* model);

    // Sets the widths for a list of this width (twips).
    void layOut(int listWidthTwips);

    bool isShown(Column column) const;
    void setShown(Column column, bool shown);
    // True while one of the tag columns is shown.
    bool tagsShown() const;
    // Forgets the widths the user set; the design widths hold again.
    void resetWidths();
    // The header's menu as it would open now (built anew each time).
    QMenu* headerMenu();
    ResultsHeader* header() const { return m_header; }

signals:
    // A tag column was shown or hidden.
    void tagColumnsChanged(bool anyShown);

private:
    void onSectionResized(int logicalIndex, int oldSize, int newSize);
    void storeWidths() const;
    void loadSettings();
    // The column's width in twips as the rule gives it, before Filename takes the rest.
    int ruleWidthTwips(int logicalIndex) const;

    QTreeView* m_list;
    ResultsHeader* m_header;
    std::array<std::optional<int>, kCount> m_userWidthTwips{};
    int m_listWidthTwips = 0;
    // Set while the widths are set here rather than by the user.
    bool m_settingWidths = false;
};

} // namespace tunesift
