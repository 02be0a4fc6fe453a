// SPDX-License-Identifier: MIT
#pragma once

// The brand mark: a receiver's dot sending two waves on a blue tile. The logo and the
// application icon both draw it, so the desktop shows the same sign as the window.

#include <QPainter>
#include <QRectF>

// Paints the mark into the square `tile`; every measure scales with its side.
void drawMark(QPainter &painter, const QRectF &tile);
