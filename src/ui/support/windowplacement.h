#pragma once

#include <QPointF>
#include <QSizeF>
#include <initializer_list>

class QWidget;

namespace tunesift {

// Where CenterOnScreen puts a window, in twips: centred across the whole screen (not the work area)
// and 1000 twips above the vertical centre. Single precision and no clamping, so a window taller
// than the screen less 2000 twips gets a negative top.
QPointF CenteredPlacement(QSizeF screenTwips, QSizeF windowTwips);

// Moves the window (its outer frame) to CenteredPlacement on its screen, using the window's outer
// size at the moment of the call.
void CenterOnScreen(QWidget* window);

// Keeps a top-level window whole on the available area of its screen (the screen less panels and
// docks): shrinks it to that area, no further than its minimum size, then moves it inside. frame:
// what the frame adds to the client size, as far as known.
void KeepOnScreen(QWidget* window, QSize frame);

// The right edge of the rightmost control: the least client width at which all of them stay
// whole.
int RightEdgeOfControls(std::initializer_list<const QWidget*> controls);

} // namespace tunesift
