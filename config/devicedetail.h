// SPDX-License-Identifier: MIT
#pragma once

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
    // 1 a mouse, 2 a keyboard, anything else counts as a mouse (as the worker does).
    bool pairs(int pairType) const { return pairType == 2 ? pairsKeyboard() : pairsMouse(); }
    // The device kinds as the window takes them: 1 mouse, 2 keyboard, 3 both, 0 none.
    int pairKinds() const { return (pairsMouse() ? 1 : 0) | (pairsKeyboard() ? 2 : 0); }

    // Writes the entry to the debug log.
    void print() const;
};
