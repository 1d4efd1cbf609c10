#pragma once

#include <QPointF>
#include <QSizeF>

class QWidget;

namespace tunesift {

// Where CenterForm puts a window, in twips: centred across the whole screen (not the work area)
// and 1000 twips above the vertical centre. Single precision and no clamping, so a window taller
// than the screen less 2000 twips gets a negative top.
QPointF CenteredPlacement(QSizeF screenTwips, QSizeF windowTwips);

// Moves the window (its outer frame) to CenteredPlacement on its screen, using the window's outer
// size at the moment of the call.
void CenterForm(QWidget* form);

} // namespace tunesift
