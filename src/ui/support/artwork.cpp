#include "ui/support/artwork.h"

#include <QPainter>
#include <QSvgRenderer>
#include <array>

// Q_INIT_RESOURCE declares a function of the global namespace, so it cannot be called from inside
// ours.
static void initArtworkResource()
{
    Q_INIT_RESOURCE(artwork);
}

namespace tunesift {

void InitArtwork()
{
    static const bool registered = [] {
        initArtworkResource();
        return true;
    }();
    (void)registered;
}

QPixmap SvgPixmap(const QString& path, QSize size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(path);
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    return pixmap;
}

QIcon SvgIcon(const QString& path)
{
    static constexpr std::array kSizes{16, 20, 24, 32, 48, 64, 128, 256};
    QIcon icon;
    for (const int side : kSizes)
        icon.addPixmap(SvgPixmap(path, QSize(side, side)));
    return icon;
}

SvgPicture::SvgPicture(const QString& path, QWidget* parent)
    : QWidget(parent), m_renderer(new QSvgRenderer(path, this))
{
    setFocusPolicy(Qt::NoFocus);
}

void SvgPicture::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    m_renderer->render(&painter, QRectF(rect()));
}

} // namespace tunesift
