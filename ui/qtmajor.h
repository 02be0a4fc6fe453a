// SPDX-License-Identifier: MIT
#pragma once

// What the window asks of Qt in words that differ between Qt 5 and Qt 6
// (qtmajor_qt5.cpp, qtmajor_qt6.cpp; CMake builds the one of its Qt).

#include <QPoint>

class QFont;
class QMouseEvent;

// Where on the screen a mouse event happened, in device-independent pixels.
QPoint screenPointOf(const QMouseEvent &event);
// Whether the font names its family itself rather than taking one from its parent or the theme.
bool namesFamily(const QFont &font);
