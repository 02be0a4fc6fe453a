// SPDX-License-Identifier: MIT
// What registering the interface font costs at start-up: the cut font that ships against the
// whole Simplified Chinese face it is cut from, and both against decoding one background
// picture, which the window does anyway. Figures are ratios against baselines of the same run.

#include "bench/benchsupport.h"

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using benchsupport::medianSeconds;

namespace {


QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One registration as start-up does it, undone so that the next round starts alike.
double registration(const QByteArray &font, int rounds, int *families)
{
    return medianSeconds(rounds, [&] {
        const int id = QFontDatabase::addApplicationFontFromData(font);
        *families = QFontDatabase::applicationFontFamilies(id).size();
        QFontDatabase::removeApplicationFont(id);
    });
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QByteArray cut = readFile(":/font/SOURCEHANSANSCN-NORMAL_0.ttf");
    const QByteArray whole = readFile(BONDARA_FULL_FONT);
    if (cut.isEmpty() || whole.isEmpty()) {
        std::fprintf(stderr, "bench: the embedded font or %s is missing\n", BONDARA_FULL_FONT);
        return 2;
    }
    // The font machinery starts with the first text the program lays out, font or no font.
    QFontDatabase().families();
    int families = 0;
    // Start-up registers once: the first registration of each, then the median of repeats.
    const double wholeFirst = registration(whole, 1, &families);
    const double cutFirst = registration(cut, 1, &families);
    const double picture = medianSeconds(51, [] { QImage(":/newImage/home_page4.png").bits(); });
    const double cutCost = registration(cut, 51, &families);
    const int cutFamilies = families;
    const double wholeCost = registration(whole, 11, &families);

    std::printf("%-36s %9s %10s %11s %9s\n", "font registration", "KiB", "first ms", "median ms", "families");
    std::printf("%-36s %9s %10s %11.3f %9s\n", "decode home_page4.png (baseline)", "", "", picture * 1e3, "");
    std::printf("%-36s %9d %10.3f %11.3f %9d\n", "embedded cut font", int(cut.size() / 1024), cutFirst * 1e3,
                cutCost * 1e3, cutFamilies);
    std::printf("%-36s %9d %10.3f %11.3f %9d\n", "whole Simplified Chinese face", int(whole.size() / 1024),
                wholeFirst * 1e3, wholeCost * 1e3, families);
    std::printf("ratio to the picture, first / median: cut %.3f / %.3f, whole %.2f / %.2f; whole / cut (median): %.0f\n",
                cutFirst / picture, cutCost / picture, wholeFirst / picture, wholeCost / picture, wholeCost / cutCost);
    return 0;
}
