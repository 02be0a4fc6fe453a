// SPDX-License-Identifier: MIT
// The baseline of the start-up benchmark: a bare Qt Widgets program with a
// 1200 x 700 frameless window, and with --picture the same window with one
// full-size style-sheet background picture, embedded as the program's are.
// With --no-gl it does what the program does on X: it leaves Qt's OpenGL
// integration unloaded, for a like-for-like comparison.

#include <QApplication>
#include <QWidget>

#include <cstring>

int main(int argc, char *argv[])
{
    bool picture = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--picture") == 0)
            picture = true;
        else if (std::strcmp(argv[i], "--no-gl") == 0)
            qputenv("QT_XCB_GL_INTEGRATION", "none");
    }
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.setFixedSize(1200, 700);
    if (picture)
        window.setStyleSheet("background-image: url(:/bench/background.png);");
    window.show();
    return app.exec();
}
