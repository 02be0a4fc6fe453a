// SPDX-License-Identifier: MIT
// The embedded resources as the program sees them at run time: the pictures the window names,
// the translation folder, the interface font. Nothing here registers the resources by hand,
// so every check also proves that the linker kept them.

#include <QtTest>

#include <QRawFont>
#include <QResource>

namespace {

const QString kPictures = QStringLiteral(":/newImage/");
const QString kFont = QStringLiteral(":/font/SOURCEHANSANSCN-NORMAL_0.ttf");

QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return QString::fromUtf8(file.readAll());
}

// The list the build draws and embeds: name to size.
QMap<QString, QSize> pictureList()
{
    QMap<QString, QSize> list;
    for (const QString &line : readText(BONDARA_PICTURE_LIST).split('\n')) {
        const QStringList fields = line.split(' ', Qt::SkipEmptyParts);
        if (fields.size() == 3 && !line.startsWith('#'))
            list.insert(fields[0], QSize(fields[1].toInt(), fields[2].toInt()));
    }
    return list;
}

QList<QPair<QString, QString>> catalogue()
{
    QList<QPair<QString, QString>> entries;
    for (const QJsonValue &entry : QJsonDocument::fromJson(readText(":/trans/language_zh.json").toUtf8())["trans"].toArray())
        entries << qMakePair(entry["key"].toString(), entry["value"].toString());
    return entries;
}

QStringList neutralTexts()
{
    QStringList texts;
    for (const QString &line : readText(BONDARA_NEUTRAL_TEXTS).split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            texts << line;
    return texts;
}

// Between two pictures, each read as stored: the mean difference per channel (0 to 255), and the
// share of pixels that differ visibly (all of them if the sizes differ).
struct Difference {
    double mean = 0;
    double share = 1;
};

Difference compare(const QImage &a, const QImage &b, QImage::Format format = QImage::Format_ARGB32)
{
    const QImage x = a.convertToFormat(format), y = b.convertToFormat(format);
    if (x.size() != y.size())
        return {255, 1};
    double sum = 0;
    int differing = 0;
    for (int row = 0; row < x.height(); ++row) {
        const QRgb *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const QRgb *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            const int d = qAbs(qRed(p[col]) - qRed(q[col])) + qAbs(qGreen(p[col]) - qGreen(q[col]))
                + qAbs(qBlue(p[col]) - qBlue(q[col])) + qAbs(qAlpha(p[col]) - qAlpha(q[col]));
            sum += d;
            differing += d > 24 ? 1 : 0;
        }
    }
    const double pixels = double(x.width()) * x.height();
    return {sum / (4 * pixels), differing / pixels};
}

// The sources under the given folders: the window's are under ui/ and app/.
QMap<QString, QString> readSources(const QStringList &folders = {"ui", "app"})
{
    QMap<QString, QString> sources;
    for (const QString &sub : folders) {
        QDirIterator it(QStringLiteral(BONDARA_SOURCE_DIR "/") + sub, {"*.cpp", "*.h", "*.ui", "*.qss"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            sources.insert(path, readText(path));
        }
    }
    return sources;
}

QString unescape(QString text, bool xml)
{
    if (xml) {
        text.replace("&quot;", "\"").replace("&apos;", "'").replace("&lt;", "<").replace("&gt;", ">");
        return text.replace("&amp;", "&");
    }
    return text.replace("\\\"", "\"").replace("\\n", "\n").replace("\\\\", "\\");
}

// The texts passed to tr() (or QCoreApplication::translate, or marked for it) as literals, and a .ui file's
// translatable strings.
QStringList translatedLiterals(const QString &path, const QString &source)
{
    QStringList texts;
    const bool form = path.endsWith(".ui");
    const QRegularExpression pattern(
        form ? QStringLiteral("<string>([^<]+)</string>")
             : QStringLiteral("\\b(?:tr\\(\\s*|(?:translate|QT_TRANSLATE_NOOP)\\(\\s*\"(?:[^\"\\\\]|\\\\.)*\"\\s*,\\s*)\"((?:[^\"\\\\]|\\\\.)*)\"\\s*[,)]"));
    for (auto it = pattern.globalMatch(source); it.hasNext();)
        texts << unescape(it.next().captured(1), form);
    return texts;
}

// Resource paths a source names: ":/newImage/NAME.png" and style-sheet "url(...)" arguments.
// Names put together at run time ("%1.png", "... + tr(...)") are not fixed paths and are skipped.
QStringList namedPaths(const QString &source)
{
    QStringList paths;
    static const QRegularExpression picture(QStringLiteral(":/newImage/([A-Za-z0-9_.\\-]+\\.png)"));
    for (auto it = picture.globalMatch(source); it.hasNext();)
        paths << kPictures + it.next().captured(1);
    static const QRegularExpression url(QStringLiteral("url\\(\\s*(:/[^)\"'%\\s]+\\.png)\\s*\\)"));
    for (auto it = url.globalMatch(source); it.hasNext();)
        paths << it.next().captured(1);
    paths.removeDuplicates();
    return paths;
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private:
    QMap<QString, QSize> list;

private slots:
    void initTestCase()
    {
        list = pictureList();
        QVERIFY2(list.size() > 50, "the picture list was not read");
        QVERIFY2(QFileInfo(kPictures).isDir() && QFileInfo(":/trans/").isDir() && QFileInfo(kFont).isFile(),
                 "the resource collections are not registered: dropped at link time?");
    }

    // Every listed picture at its size and not blank. The 2 x picture is the same picture, drawn
    // with twice the detail: halved, it matches the 1 x one; the 1 x one doubled does not match
    // it, as it would if it had only been enlarged.
    void picturesAreDrawnAtTheirSizes()
    {
        int drawn = 0;
        for (auto it = list.constBegin(); it != list.constEnd(); ++it) {
            // Premultiplied: the colour of a transparent pixel is nothing to compare.
            const auto premultiplied = QImage::Format_ARGB32_Premultiplied;
            const QImage one = QImage(kPictures + it.key() + ".png").convertToFormat(premultiplied);
            const QImage two = QImage(kPictures + it.key() + "@2x.png").convertToFormat(premultiplied);
            QCOMPARE(one.size(), it.value());
            QCOMPARE(two.size(), it.value() * 2);
            QImage blank(one.size(), premultiplied);
            blank.fill(Qt::transparent);
            QVERIFY2(compare(one, blank, premultiplied).mean > 0, qPrintable(it.key() + " is blank"));
            const QImage halved = two.scaled(one.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            const QImage doubled = one.scaled(two.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            const double same = compare(halved, one, premultiplied).mean;
            const double enlarged = compare(doubled, two, premultiplied).mean;
            QVERIFY2(same < 6, qPrintable(QString("%1@2x is not the same picture (%2)").arg(it.key()).arg(same)));
            if (enlarged > 1.0 && enlarged > 1.5 * same)
                ++drawn;
        }
        // Flat shapes can look alike at both sizes; pictures with any edge or text cannot.
        QVERIFY2(drawn > list.size() * 3 / 4, qPrintable(QString("%1 of %2").arg(drawn).arg(list.size())));
    }

    // The window writes the warning over its banner in its own font; words
    // in the picture as well show doubled wherever the two differ by a pixel.
    void bannersUnderTextCarryNoWords()
    {
        for (const QString name : {"tips", "tips_en", "tips@2x", "tips_en@2x"}) {
            const QImage banner = QImage(kPictures + name + ".png").convertToFormat(QImage::Format_ARGB32);
            QVERIFY2(!banner.isNull(), qPrintable(name));
            // Inside the rounded ends and the border: one colour.
            const int margin = banner.height() / 2 + 2;
            const QRgb fill = banner.pixel(banner.width() / 2, banner.height() / 2);
            for (int y = banner.height() / 4; y < banner.height() * 3 / 4; ++y)
                for (int x = margin; x < banner.width() - margin; ++x)
                    QVERIFY2(banner.pixel(x, y) == fill, qPrintable(QString("%1 at %2,%3").arg(name).arg(x).arg(y)));
        }
    }

    void everyPictureTheWindowNamesExists()
    {
        const auto sources = readSources();
        int named = 0;
        for (auto it = sources.constBegin(); it != sources.constEnd(); ++it) {
            for (const QString &path : namedPaths(it.value())) {
                ++named;
                QVERIFY2(QFileInfo(path).isFile(), qPrintable(it.key() + " names " + path + ", which is not embedded"));
                if (path.startsWith(kPictures))
                    QVERIFY(list.contains(QFileInfo(path).completeBaseName()));
            }
        }
        QVERIFY(named > 0);
    }

    // A translated picture differs from its Chinese face, a hover or pressed face from the normal
    // one: each pair, and the share of pixels that must differ at least.
    void facesDiffer()
    {
        QList<std::tuple<QString, QString, double>> pairs;
        for (const auto &[key, value] : catalogue())
            if (key.endsWith(".png"))
                pairs.append({key, value, 0.01});
        QVERIFY(!pairs.isEmpty());
        for (const QString &name : list.keys())
            for (const QString suffix : {"_ov", "_click"})
                if (name.endsWith(suffix))
                    pairs.append({name.chopped(suffix.size()) + ".png", name + ".png", 0.05});
        for (const auto &[one, other, least] : pairs) {
            const QImage a(kPictures + one), b(kPictures + other);
            QVERIFY2(!a.isNull() && !b.isNull(), qPrintable(one + " / " + other));
            const double share = compare(a, b).share;
            QVERIFY2(share > least, qPrintable(QString("%1 differs from %2 in %3 of its pixels").arg(other, one).arg(share)));
        }
    }

    void everyTranslatedLiteralIsInTheCatalogue()
    {
        QSet<QString> known;
        for (const auto &[key, value] : catalogue())
            known << key;
        for (const QString &text : neutralTexts())
            known << text;
        const auto read = readSources({"ui", "app", "pairing"});
        int literals = 0;
        for (auto it = read.constBegin(); it != read.constEnd(); ++it) {
            for (const QString &text : translatedLiterals(it.key(), it.value())) {
                ++literals;
                QVERIFY2(known.contains(text), qPrintable(it.key() + ": \"" + text +
                                                           "\" has no catalogue entry and is not in neutral_texts.txt"));
            }
        }
        QVERIFY2(literals >= 2, "found no tr() literal in the pairing worker");
    }

    // That the window shows its texts in this font is the window tests' business.
    void fontCoversTheInterface()
    {
        QFile file(kFont);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QRawFont raw(file.readAll(), 16);
        QVERIFY(raw.isValid());
        // Every character the interface can show: printable ASCII, the catalogue, the texts
        // without an entry, and whatever the window's sources pass to tr().
        QString texts;
        for (char c = 0x20; c < 0x7F; ++c)
            texts += QChar(c);
        for (const auto &[key, value] : catalogue())
            texts += key + value;
        texts += neutralTexts().join(QString());
        const auto sources = readSources();
        for (auto it = sources.constBegin(); it != sources.constEnd(); ++it)
            texts += translatedLiterals(it.key(), it.value()).join(QString());
        QString missing;
        for (const QChar c : texts)
            if (c.unicode() >= 0x20 && !c.isSurrogate() && !raw.supportsCharacter(c) && !missing.contains(c))
                missing += c;
        QVERIFY2(missing.isEmpty(), qPrintable("the interface font lacks: " + missing));
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
