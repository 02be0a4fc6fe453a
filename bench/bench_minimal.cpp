// The baseline of the start-up benchmark: a bare Qt Widgets program with a
// 1200 x 700 frameless window, and with --picture the same window with one
// full-size style-sheet background picture, embedded as the program's are.

#include <QApplication>
#include <QWidget>

#include <cstring>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.setFixedSize(1200, 700);
    if (argc > 1 && std::strcmp(argv[1], "--picture") == 0)
        window.setStyleSheet("background-image: url(:/bench/background.png);");
    window.show();
    return app.exec();
}
