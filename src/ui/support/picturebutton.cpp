#include "ui/support/picturebutton.h"

#include <QPainter>
#include <QSvgRenderer>

namespace tunesift {

PictureButton::PictureButton(const QString& picture, const QString& label, QWidget* parent)
    : QAbstractButton(parent), m_renderer(new QSvgRenderer(picture, this))
{
    setCheckable(false);
    setAccessibleName(label);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);
}

QSize PictureButton::sizeHint() const
{
    const QSize size = m_renderer->defaultSize();
    return size.isValid() ? size : QSize(113, 73);
}

void PictureButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect area = rect();
    painter.fillRect(area, Qt::white);

    // A pressed button sinks by one pixel; a hovered one gets a faint frame.
    QRectF picture = area.adjusted(2, 2, -2, -2);
    if (isDown())
        picture.translate(1, 1);
    m_renderer->render(&painter, picture);

    if (m_hovered || hasFocus()) {
        QPen pen(hasFocus() ? QColor(80, 120, 200) : QColor(190, 190, 190));
        pen.setStyle(hasFocus() ? Qt::DotLine : Qt::SolidLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(area).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    }
}

void PictureButton::enterEvent(QEnterEvent* event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void PictureButton::leaveEvent(QEvent* event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

} // namespace tunesift
