// SPDX-License-Identifier: MIT
#pragma once

#include "khid/kplatform.h"

#include <QString>
#include <QVector>

namespace KHID {

// One HID interface as the walk reports it.
struct KHidDetail {
    quint16 VendorID = 0;
    quint16 ProductID = 0;
    quint16 VersionNumber = 0;
    QString DevicePath;
    QString DeviceName;
    KHidCaps capAbilities;
    QVector<KHidValueCaps> capAbilitiesValue;
};

// Writes the detail dump to the debug log.
void printDetail(const KHidDetail &detail);

} // namespace KHID
