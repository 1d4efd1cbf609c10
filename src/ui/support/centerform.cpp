#include "ui/support/centerform.h"

#include "ui/support/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

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

void CenterForm(QWidget* form)
{
    const QScreen* screen = form->screen() ? form->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const double dpi = LogicalDpi(form);
    const QRect screenArea = screen->geometry();
    const QSize outer = form->isVisible() ? form->frameGeometry().size() : form->size();

    const QPointF place = CenteredPlacement(
        QSizeF(PixelsToTwips(screenArea.width(), dpi), PixelsToTwips(screenArea.height(), dpi)),
        QSizeF(PixelsToTwips(outer.width(), dpi), PixelsToTwips(outer.height(), dpi)));
    form->move(screenArea.left() + TwipsToPixels(place.x(), dpi),
               screenArea.top() + TwipsToPixels(place.y(), dpi));
}

} // namespace tunesift
