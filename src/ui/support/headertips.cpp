#include "ui/support/headertips.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QToolTip>

namespace tunesift {

CutHeaderTips::CutHeaderTips(QHeaderView* header) : QObject(header), m_header(header)
{
    header->viewport()->installEventFilter(this);
}

bool CutHeaderTips::isCut(int logicalIndex) const
{
    if (!m_header->model() || logicalIndex < 0)
        return false;
    QStyleOptionHeader option;
    option.initFrom(m_header);
    option.section = logicalIndex;
    option.text = m_header->model()
                      ->headerData(logicalIndex, m_header->orientation(), Qt::DisplayRole)
                      .toString();
    const QSize needed =
        m_header->style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), m_header);
    return needed.width() > m_header->sectionSize(logicalIndex);
}

bool CutHeaderTips::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QObject::eventFilter(watched, event);
    auto* help = static_cast<QHelpEvent*>(event);
    const int section = m_header->logicalIndexAt(help->pos());
    if (isCut(section))
        QToolTip::showText(
            help->globalPos(),
            m_header->model()->headerData(section, m_header->orientation()).toString(),
            m_header->viewport());
    else
        QToolTip::hideText();
    return true;
}

} // namespace tunesift
