// SPDX-License-Identifier: MIT
#pragma once

// The pictures, by file name (without ".png"). Each group adds its drawings to one registry;
// the generator draws the names that the picture list asks for.

#include <QHash>
#include <QImage>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <map>

struct Art {
    QHash<QString, QString> chinese; // the translation catalogue's Chinese table
    QJsonObject guide;               // captions of the guide pictures

    // A text in the picture's language: the catalogue's Chinese, or the English source.
    QString text(const QString &english, bool zh) const
    {
        return zh ? chinese.value(english, english) : english;
    }
};

using Drawing = std::function<QImage()>;
using Registry = std::map<QString, Drawing>;

void addChrome(Registry &registry, const Art &art);
void addCards(Registry &registry, const Art &art);
void addGuides(Registry &registry, const Art &art);

// The home page and pairing page put together the way the window lays them out, for review.
QImage previewHome(const std::map<QString, QImage> &pictures, const Art &art, int theme, bool zh, bool popups);
QImage previewPairing(const std::map<QString, QImage> &pictures, const Art &art, int theme, bool zh, bool keyboard);
QImage contactSheet(const std::map<QString, QImage> &pictures, const QStringList &order);
