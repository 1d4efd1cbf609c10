#pragma once

#include <QRect>

class QWidget;

namespace tunesift {

// Window geometry is designed in twips (1/1440 inch): logical pixels = twips x logical DPI / 1440,
// 15 twips per pixel at 96 DPI.
inline constexpr double kTwipsPerInch = 1440.0;

double LogicalDpi(const QWidget* widget);
int TwipsToPixels(double twips, double dpi);
int PixelsToTwips(int pixels, double dpi);
QRect TwipsRect(int left, int top, int width, int height, double dpi);

} // namespace tunesift
