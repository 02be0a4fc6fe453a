// SPDX-License-Identifier: MIT
#pragma once

#include "config/devicedetail.h"
#include "khid/khiddetail.h"

#include <QMetaType>
#include <QString>
#include <QVector>

// One supported receiver present: the interface a scan matched and its
// catalogue entry. A pairing opens exactly this interface.
struct Receiver {
    KHID::KHidDetail interface;
    DeviceDetail entry;
    // The device behind the interface as plugged in this time; with the path,
    // what tells one receiver from another, or from itself plugged in again.
    QString instance;
    QString port;
    QString serial;
    // 1-based among the receivers present with the same name, in scan order;
    // 0 when its name is its own.
    int twin = 0;

    QString path() const { return interface.DevicePath; }
    bool sameDevice(const Receiver &other) const
    {
        return path() == other.path() && instance == other.instance;
    }
    // Its catalogue name; twins told apart by port, else serial number, else "#1", "#2".
    QString label() const;
};
Q_DECLARE_METATYPE(Receiver)

// Numbers the receivers that share a name, and gives each its instance.
void identifyReceivers(QVector<Receiver> &receivers);
