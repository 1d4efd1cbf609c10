#include "ui/support/windowplacement.h"

#include "ui/support/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace tunesift {

QPointF CenteredPlacement(QSizeF screenTwips, QSizeF windowTwips)
{
    const float left =
        (static_cast<float>(screenTwips.width()) - static_cast<float>(windowTwips.width())) / 2.0f;
    const float top =
        (static_cast<float>(screenTwips.height()) - static_cast<float>(windowTwips.height())) /
            2.0f -
        1000.0f;
    return {left, top};
}

void CenterOnScreen(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const double dpi = LogicalDpi(window);
    const QRect screenArea = screen->geometry();
    const QSize outer = window->isVisible() ? window->frameGeometry().size() : window->size();

    const QPointF place = CenteredPlacement(
        QSizeF(PixelsToTwips(screenArea.width(), dpi), PixelsToTwips(screenArea.height(), dpi)),
        QSizeF(PixelsToTwips(outer.width(), dpi), PixelsToTwips(outer.height(), dpi)));
    window->move(screenArea.left() + TwipsToPixels(place.x(), dpi),
                 screenArea.top() + TwipsToPixels(place.y(), dpi));
}

void KeepOnScreen(QWidget* window, QSize frame)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize client(
        std::max(std::min(window->width(), area.width() - frame.width()), window->minimumWidth()),
        std::max(std::min(window->height(), area.height() - frame.height()),
                 window->minimumHeight()));
    if (client != window->size())
        window->resize(client);

    // A top-level window's position is that of its frame.
    const QSize outer = client + frame;
    const auto inside = [](int at, int extent, int areaStart, int areaExtent) {
        return std::max(std::min(at, areaStart + areaExtent - extent), areaStart);
    };
    const QPoint place(inside(window->x(), outer.width(), area.left(), area.width()),
                       inside(window->y(), outer.height(), area.top(), area.height()));
    if (place != window->pos())
        window->move(place);
}

int RightEdgeOfControls(std::initializer_list<const QWidget*> controls)
{
    int right = 0;
    for (const QWidget* control : controls)
        right = std::max(right, control->geometry().right() + 1);
    return right;
}

} // namespace tunesift
