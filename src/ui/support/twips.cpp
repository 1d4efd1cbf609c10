#include "ui/support/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace tunesift {

double LogicalDpi(const QWidget* widget)
{
    const QScreen* screen = widget ? widget->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return 96.0;
    const double dpi = screen->logicalDotsPerInch();
    return dpi > 0 ? dpi : 96.0;
}

int TwipsToPixels(double twips, double dpi)
{
    return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

int PixelsToTwips(int pixels, double dpi)
{
    return static_cast<int>(std::lround(pixels * kTwipsPerInch / dpi));
}

QRect TwipsRect(int left, int top, int width, int height, double dpi)
{
    return {TwipsToPixels(left, dpi), TwipsToPixels(top, dpi), TwipsToPixels(width, dpi),
            TwipsToPixels(height, dpi)};
}

} // namespace tunesift
