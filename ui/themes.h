// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QString>

class QWidget;

// What a colour theme (MainWindow::Theme) gives the window.
struct ThemeSheets {
    // The home page only: its background and its two cards.
    QString background;
    QString card;
    // The title bar and the back button, on every page.
    QString close;
    QString minimize;
    QString modify;
    QString language;
    QString titleBar;
    QString titleText;
    QString logo;
    QString back;
    // The focus ring, and the halo that sets it off from any face.
    QColor ring;
    QColor ringHalo;
    // The run's own controls beside the working bubble, in the colours of the
    // theme's cards; the page under them is white in every theme.
    QString stop;
    QColor progressFill;
    QColor progressTrack;
};

// theme: one of MainWindow::Theme.
ThemeSheets themeSheets(int theme);

// A new style sheet re-polishes the widget and everything below it, which on
// the central widget costs tens of milliseconds: skip what would not change.
void setSheet(QWidget *widget, const QString &sheet);
