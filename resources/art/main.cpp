// SPDX-License-Identifier: MIT
// Draws the window's pictures at build time.
//
//   artgen --list pictures.txt --catalogue language_zh.json --guide guide.json --font font.otf
//          --out DIR [--sheet contact_sheet.png] [--previews DIR]
//
// Draws exactly the pictures of the list, at the sizes of the list, with the interface font,
// and stops with a message when a picture is missing, has another size, or a text does not fit.

#include "resources/art/paint.h"
#include "resources/art/pictures.h"
#include "resources/art/pngwriter.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace {

struct Entry {
    QString name;
    QSize size;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        paint::fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    return file.readAll();
}

QJsonObject readJson(const QString &path)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(readFile(path), &error);
    if (!document.isObject())
        paint::fail(QStringLiteral("%1 is not a JSON object: %2").arg(path, error.errorString()));
    return document.object();
}

std::vector<Entry> readList(const QString &path)
{
    std::vector<Entry> entries;
    QStringList seen;
    int number = 0;
    for (const QByteArray &raw : readFile(path).split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QStringList fields = line.split(' ', Qt::SkipEmptyParts);
        bool okWidth = false, okHeight = false;
        const Entry entry{fields.value(0), QSize(fields.value(1).toInt(&okWidth), fields.value(2).toInt(&okHeight))};
        if (fields.size() != 3 || !okWidth || !okHeight || entry.size.isEmpty())
            paint::fail(QStringLiteral("%1:%2: expected \"name width height\"").arg(path).arg(number));
        if (seen.contains(entry.name))
            paint::fail(QStringLiteral("%1:%2: %3 listed twice").arg(path).arg(number).arg(entry.name));
        seen << entry.name;
        entries.push_back(entry);
    }
    return entries;
}

void save(const QImage &image, const QString &path)
{
    const QByteArray png = art::encodePng(image);
    // Our own encoder: read it back before anything embeds it.
    const QImage::Format format = image.hasAlphaChannel() ? QImage::Format_RGBA8888 : QImage::Format_RGB888;
    if (QImage::fromData(png, "PNG").convertToFormat(format) != image.convertToFormat(format))
        paint::fail(path + " does not read back as drawn");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size() || !file.flush())
        paint::fail("cannot write " + path);
}

void loadFont(const QString &path)
{
    const int fontId = QFontDatabase::addApplicationFontFromData(readFile(path));
    const QStringList families = QFontDatabase::applicationFontFamilies(fontId);
    if (families.size() != 1)
        paint::fail(QStringLiteral("the interface font gives %1 families").arg(families.size()));
    paint::setFamily(families.first());
}

// Every listed picture at 1 x, each at its listed size; a drawing the list lacks is refused.
std::map<QString, QImage> drawListed(const Registry &registry, const std::vector<Entry> &list, const QDir &out)
{
    std::map<QString, QImage> pictures;
    for (const Entry &entry : list) {
        const auto drawing = registry.find(entry.name);
        if (drawing == registry.end())
            paint::fail("nothing draws " + entry.name);
        const QImage image = drawing->second();
        if (image.size() != entry.size)
            paint::fail(QStringLiteral("%1 is drawn %2 x %3, listed %4 x %5")
                            .arg(entry.name)
                            .arg(image.width())
                            .arg(image.height())
                            .arg(entry.size.width())
                            .arg(entry.size.height()));
        save(image, out.filePath(entry.name + ".png"));
        pictures[entry.name] = image;
    }
    for (const auto &[name, drawing] : registry)
        if (!pictures.count(name))
            paint::fail(name + " is drawn but not listed");
    return pictures;
}

void savePreviews(const std::map<QString, QImage> &pictures, const Art &art, const QDir &previews)
{
    if (!previews.mkpath("."))
        paint::fail("cannot create " + previews.path());
    const char *themes[] = {"black", "blue", "skyblue"};
    for (int theme = 0; theme < 3; ++theme) {
        save(previewHome(pictures, art, theme, theme != 1, theme == 1),
             previews.filePath(QStringLiteral("home_%1.png").arg(themes[theme])));
    }
    save(previewPairing(pictures, art, 0, true, false), previews.filePath("pairing_mouse_zh.png"));
    save(previewPairing(pictures, art, 1, false, false), previews.filePath("pairing_mouse_en.png"));
    save(previewPairing(pictures, art, 2, true, true), previews.filePath("pairing_keyboard_zh.png"));
    save(previewPairing(pictures, art, 0, false, true), previews.filePath("pairing_keyboard_en.png"));
}

// The same pictures at twice the pixels, drawn rather than enlarged: Qt
// takes "name@2x.png" for "name.png" by itself on screens scaled above 1.
void drawDouble(const Registry &registry, const std::vector<Entry> &list, const QDir &out)
{
    paint::setScale(2);
    for (const Entry &entry : list) {
        const QImage image = registry.find(entry.name)->second();
        if (image.size() != entry.size * 2)
            paint::fail(QStringLiteral("%1@2x is drawn %2 x %3").arg(entry.name).arg(image.width()).arg(image.height()));
        save(image, out.filePath(entry.name + "@2x.png"));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // Nothing is shown: the drawing needs the font machinery, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    for (const char *option : {"list", "catalogue", "guide", "font", "out", "sheet", "previews"})
        parser.addOption({option, option, "path"});
    parser.process(app);
    for (const char *required : {"list", "catalogue", "guide", "font", "out"})
        if (!parser.isSet(required))
            paint::fail(QStringLiteral("--%1 is required").arg(required));
    loadFont(parser.value("font"));

    Art art;
    for (const QJsonValue &entry : readJson(parser.value("catalogue")).value("trans").toArray())
        art.chinese.insert(entry["key"].toString(), entry["value"].toString());
    art.guide = readJson(parser.value("guide"));

    Registry registry;
    addChrome(registry, art);
    addCards(registry, art);
    addGuides(registry, art);

    const std::vector<Entry> list = readList(parser.value("list"));
    const QDir out(parser.value("out"));
    if (!out.mkpath("."))
        paint::fail("cannot create " + out.path());
    const std::map<QString, QImage> pictures = drawListed(registry, list, out);
    if (parser.isSet("sheet")) {
        QStringList order;
        for (const Entry &entry : list)
            order << entry.name;
        save(contactSheet(pictures, order), parser.value("sheet"));
    }
    if (parser.isSet("previews"))
        savePreviews(pictures, art, QDir(parser.value("previews")));
    drawDouble(registry, list, out);
    std::printf("artgen: %d pictures at 1 x and 2 x in %s\n", int(list.size()), qPrintable(out.path()));
    return 0;
}
