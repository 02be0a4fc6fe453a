// SPDX-License-Identifier: MIT
#pragma once

#include "config/pairkind.h"

#include <QJsonObject>
#include <QString>

// One receiver of the catalogue.
struct DeviceDetail {
    QString name;
    int vid = 0;
    int pid = 0;
    int usage = 0;
    int usagePage = 0;
    int reportId = 0;
    int communicationId = 0;
    bool mouse = false;
    bool keyboard = false;
    bool suit = false;
    bool Tovrik = false;

    DeviceDetail() = default;
    explicit DeviceDetail(const QJsonObject &entry);

    // What the receiver can pair; the window, the pairing page and the
    // command-line companion all ask here.
    bool pairsMouse() const { return mouse || suit; }
    bool pairsKeyboard() const { return keyboard || suit; }
    bool pairs(PairKind kind) const { return kind == PairKind::Keyboard ? pairsKeyboard() : pairsMouse(); }

    // Writes the entry to the debug log.
    void print() const;
};
