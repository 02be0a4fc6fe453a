// SPDX-License-Identifier: MIT
#include "ui/guide.h"

#include "ui/mainwindow.h"
#include "ui/themes.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>

namespace {

// The pictures of a page, left to right from label_2, with their x positions.
struct Guide {
    const char *pictures[5];
    int x[5];
    int count;
};

const Guide kMouseGuide = {{"mouse1_en.png", "mouse2_en.png", "mouse3_en.png", "mouse4_en.png", "mouse5_en.png"},
                           {40, 266, 492, 718, 944},
                           5};
const Guide kKeyboardGuide = {
    {"keyboard1_en.png", "keyboard2_en.png", "keyboard3_en.png", "keyboard4_en.png", "keyboard5_en.png"},
    {40, 266, 492, 718, 944},
    5};
const Guide kTovrikGuide = {{"keyboard1_en.png", "keyboard6_en.png", "keyboard3_en.png", "keyboard7_en.png"},
                            {116, 364, 612, 860},
                            4};

const Guide &pageGuide(int page, bool tovrik)
{
    return page == MainWindow::PageMouse ? kMouseGuide : (tovrik ? kTovrikGuide : kKeyboardGuide);
}

// The pictures are named in English; the window's language names the one it shows.
QString shownPicture(const char *picture)
{
    return QCoreApplication::translate("MainWindow", picture);
}

// The step captions of the guide pictures, by picture and language, as the art shows them.
const QJsonObject &guideCaptions()
{
    static const QJsonObject captions = [] {
        QFile file(QStringLiteral(":/guide/guide.json"));
        if (!file.open(QIODevice::ReadOnly))
            return QJsonObject();
        return QJsonDocument::fromJson(file.readAll()).object();
    }();
    return captions;
}

// "{Text}" in a caption stands for the window's own text.
QString fillCaption(QString text)
{
    int open = 0;
    while ((open = text.indexOf(QLatin1Char('{'), open)) >= 0) {
        const int close = text.indexOf(QLatin1Char('}'), open);
        if (close < 0)
            break;
        const QString inner = QCoreApplication::translate("MainWindow", text.mid(open + 1, close - open - 1).toUtf8());
        text.replace(open, close - open + 1, inner);
        open += inner.size();
    }
    return text;
}

} // namespace

namespace guide {

void layOut(QLabel *const (&labels)[5], int page, bool tovrik, bool geometry)
{
    const Guide &guide = pageGuide(page, tovrik);
    for (int i = 0; i < guide.count; ++i) {
        if (geometry)
            labels[i]->setGeometry(guide.x[i], 96, 218, 336);
        setSheet(labels[i], "background: url(:/newImage/" + shownPicture(guide.pictures[i]) + ")");
    }
    if (geometry)
        labels[4]->setVisible(guide.count == 5);
}

void describe(QLabel *const (&labels)[5], int page, bool tovrik)
{
    const Guide &guide = pageGuide(page, tovrik);
    for (int i = 0; i < guide.count; ++i) {
        const QString picture = shownPicture(guide.pictures[i]);
        // Described in the language the picture is drawn in.
        const QString key = QString::fromLatin1(guide.pictures[i]).section(QLatin1Char('_'), 0, 0);
        const QJsonObject entry = guideCaptions().value(key).toObject();
        const QJsonObject caption
            = entry.value(picture.endsWith(QLatin1String("_en.png")) ? QLatin1String("en") : QLatin1String("zh"))
                  .toObject();
        labels[i]->setAccessibleName(QCoreApplication::translate("MainWindow", "Step %1: %2")
                                         .arg(entry.value(QLatin1String("step")).toInt())
                                         .arg(fillCaption(caption.value(QLatin1String("title")).toString())));
        labels[i]->setAccessibleDescription(fillCaption(caption.value(QLatin1String("text")).toString()));
    }
    // A picture the page does not use keeps nothing from another page.
    for (int i = guide.count; i < 5; ++i) {
        labels[i]->setAccessibleName(QString());
        labels[i]->setAccessibleDescription(QString());
    }
}

QStringList pictures(bool tovrik)
{
    QStringList paths;
    for (const Guide *guide : {&kMouseGuide, tovrik ? &kTovrikGuide : &kKeyboardGuide}) {
        for (int i = 0; i < guide->count; ++i)
            paths << ":/newImage/" + shownPicture(guide->pictures[i]);
    }
    return paths;
}

} // namespace guide
