// SPDX-License-Identifier: MIT
#pragma once

#include "khid/kplatform.h"

#include <QString>
#include <QVector>

// One thing found between this user and a pairing, good or bad.
struct Finding {
    KHID::KCheck::Level level = KHID::KCheck::Ok;
    // Short and stable: "catalogue", "interfaces", "receiver", "access", "near-miss", "udev-rule",
    // the pairing service's ("service", "polkit") and the platform's own.
    QString name;
    QString text; // what was found
    QString fix;  // for a warning or a problem: what to do
};

// The pairing service as the caller found it: config/ asks no bus.
struct ServiceFacts {
    // A receiver this user cannot open is paired all the same: the service is
    // there and polkit does not refuse this user.
    bool pairs = false;
    // Otherwise, what would let it pair; empty where the system has no such service.
    QString missing;
    // The service's own findings.
    QVector<Finding> findings;
};

// What `bondara-cli doctor` reports, in its order: the catalogue file `config`, the HID
// interfaces, each supported receiver with the access to it, the near misses, the pairing
// service, the udev rules that expose a receiver, then the machine and the session. Nothing
// is sent to any device.
QVector<Finding> diagnose(const QString &config, const ServiceFacts &service = {});
// Whether this user can open a receiver's interface, or else the service pairs it, and what
// the platform tells of its node.
QVector<Finding> accessFindings(const QString &path, const ServiceFacts &service = {});
// Ok for none.
KHID::KCheck::Level worstLevel(const QVector<Finding> &findings);
// "ok", "warning" or "problem", as doctor prints them.
QString levelName(KHID::KCheck::Level level);
