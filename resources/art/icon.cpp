// SPDX-License-Identifier: MIT
// Draws the application icon at build time: the brand mark as PNG at each requested size,
// and as SVG for the scalable theme directory.
//
//   icongen --out DIR --sizes 16,22,24,32,48,64,128,256
//
// writes DIR/NxN/bondara.png for each size and DIR/scalable/bondara.svg.

#include "resources/art/mark.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QRegularExpression>
#include <QSvgGenerator>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "icongen: %s\n", qPrintable(message));
    std::exit(1);
}

// Desktop icons keep a margin of about a sixteenth on every side; whole pixels keep
// the tile's edges sharp at the small sizes.
QRectF tileFor(int size)
{
    const int margin = qMax(1, qRound(size / 16.0));
    return QRectF(margin, margin, size - 2 * margin, size - 2 * margin);
}

QDir subdirectory(const QDir &out, const QString &name)
{
    if (!out.mkpath(name))
        fail("cannot create " + out.filePath(name));
    return QDir(out.filePath(name));
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    parser.addOption({"out", "output directory", "path"});
    parser.addOption({"sizes", "comma-separated pixel sizes", "list"});
    parser.process(app);
    if (!parser.isSet("out") || !parser.isSet("sizes"))
        fail("--out and --sizes are required");
    const QDir out(parser.value("out"));

    int drawn = 0;
    for (const QString &field : parser.value("sizes").split(',')) {
        bool ok = false;
        const int size = field.toInt(&ok);
        if (!ok || size < 16 || size > 1024)
            fail(QStringLiteral("bad icon size \"%1\" (16 to 1024)").arg(field));
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        drawMark(painter, tileFor(size));
        painter.end();
        const QString path = subdirectory(out, QStringLiteral("%1x%1").arg(size)).filePath("bondara.png");
        if (!image.save(path, "PNG"))
            fail("cannot write " + path);
        ++drawn;
    }

    // The SVG is drawn by the same code at the largest hicolor size's geometry.
    const int side = 256;
    QBuffer buffer;
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(QSize(side, side));
    svg.setViewBox(QRect(0, 0, side, side));
    svg.setTitle("Bondara");
    svg.setDescription("Bondara application icon");
    QPainter painter;
    if (!painter.begin(&svg))
        fail("cannot draw the SVG");
    painter.setRenderHint(QPainter::Antialiasing);
    drawMark(painter, tileFor(side));
    painter.end();
    // The generator states the size in millimetres; icon loaders expect pixels.
    QString text = QString::fromUtf8(buffer.data());
    const QRegularExpression millimetres(QStringLiteral("<svg width=\"[0-9.]+mm\" height=\"[0-9.]+mm\""));
    if (!text.contains(millimetres))
        fail("the SVG generator wrote an unexpected header");
    text.replace(millimetres, QStringLiteral("<svg width=\"%1\" height=\"%1\"").arg(side));
    const QString svgPath = subdirectory(out, "scalable").filePath("bondara.svg");
    QFile file(svgPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.flush())
        fail("cannot write " + svgPath);

    std::printf("icongen: %d sizes and the SVG in %s\n", drawn, qPrintable(out.path()));
    return 0;
}
