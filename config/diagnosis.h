// SPDX-License-Identifier: MIT
#pragma once

#include "khid/kplatform.h"

#include <QString>
#include <QVector>

// One thing found between this user and a pairing, good or bad.
struct Finding {
    KHID::KCheck::Level level = KHID::KCheck::Ok;
    // Short and stable: "catalogue", "interfaces", "receiver", "access", "near-miss", and the platform's own.
    QString name;
    QString text; // what was found
    QString fix;  // for a warning or a problem: what to do
};

// What `bondara-cli doctor` reports, in its order: the catalogue file `config`, the HID
// interfaces, each supported receiver with the access to it, the near misses, then the machine
// and the session. Nothing is sent to any device.
QVector<Finding> diagnose(const QString &config);
// Whether this user can open a receiver's interface, and what the platform tells of its node.
QVector<Finding> accessFindings(const QString &path);
// Ok for none.
KHID::KCheck::Level worstLevel(const QVector<Finding> &findings);
// "ok", "warning" or "problem", as doctor prints them.
QString levelName(KHID::KCheck::Level level);
