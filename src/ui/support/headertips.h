#pragma once

#include <QObject>

class QHeaderView;

namespace tunesift {

// Shows a header section's full text as its tooltip while the section is too narrow to show it
// whole; a section whose text fits shows none. Owned by the header.
class CutHeaderTips : public QObject
{
    Q_OBJECT
public:
    explicit CutHeaderTips(QHeaderView* header);

    // Whether the section's text is cut at the section's present width.
    bool isCut(int logicalIndex) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QHeaderView* m_header;
};

} // namespace tunesift
