// SPDX-License-Identifier: MIT
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <QStringList>

// What the program can use of a catalogue document. The package's udev rule generator takes
// the same verdict, so that a receiver gets a rule exactly when the program keeps its entry.
struct CatalogueCheck {
    // Why the whole file is refused (its root or its DeviceList), or null.
    QString error;
    // One line per field left out or ignored, with its place in the file:
    // "DeviceList[2].vid: expected a hexadecimal string, the entry is left out".
    QStringList warnings;
    // The entries kept, in the file's order, without their bad optional fields, so that
    // those take their defaults.
    QJsonArray entries;
};

CatalogueCheck checkCatalogue(const QJsonDocument &document);
