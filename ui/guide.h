// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>

class QLabel;

// The step pictures of the pairing pages, on the page's five labels from left
// to right, and what a reader hears of them; in the window's language.
namespace guide {

// page: MainWindow::PageMouse or PageKeyboard. geometry: places the labels as well.
void layOut(QLabel *const (&labels)[5], int page, bool tovrik, bool geometry);
// Also while the labels are hidden.
void describe(QLabel *const (&labels)[5], int page, bool tovrik);
// The pictures of both pairing pages.
QStringList pictures(bool tovrik);

} // namespace guide
