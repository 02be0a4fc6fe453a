// SPDX-License-Identifier: MIT
#pragma once

// What a scene of the simulated machine is made of: its interfaces and the
// changes it schedules. The reader (ksimscene.cpp) makes a KSimPlatform of a
// scene's JSON file.

#include "khid/kplatform.h"
#include "sim/ksimreceiver.h"

#include <QString>
#include <QVector>

namespace KHID {

struct KSimInterface {
    QString path;
    quint16 vendorId = 0;
    quint16 productId = 0;
    quint16 version = 0;
    QString name;
    // False when the interface's descriptor cannot be parsed.
    bool hasPreparsedData = true;
    KHidCaps caps;
    QVector<KHidValueCaps> featureValueCaps;
    bool queryFails = false;
    bool openFails = false;
    // The words of the refusal; empty for "Permission denied (simulated)".
    QString openFailsWords;
    // Its node is root's alone, as a hidraw node is without a rule that opens
    // it to the seat's user: only a program run as root opens it.
    bool rootOnly = false;
    bool hasReceiver = false;
    KSimReceiver receiver;
    // Where the receiver is plugged and its serial number, when the scene tells them.
    QString port;
    QString serial;
    // Each plugging is a device of its own: handles from an earlier one are dead.
    quint64 plugging = 0;
};

// A change of the simulated machine that the scene schedules.
struct KSimChange {
    qint64 afterMs = 0; // from the start of notifications
    bool plug = false;
    QString path;            // unplug
    KSimInterface interface; // plug
};

} // namespace KHID
