// SPDX-License-Identifier: MIT
#include "config/receiver.h"

#include "khid/kplatform.h"

#include <QCoreApplication>
#include <QHash>

QString Receiver::label() const
{
    const QString name = entry.name.isEmpty() ? QStringLiteral("%1:%2").arg(entry.vid, 4, 16, QLatin1Char('0'))
                                                    .arg(entry.pid, 4, 16, QLatin1Char('0'))
                                              : entry.name;
    if (twin == 0)
        return name;
    if (!port.isEmpty())
        return QCoreApplication::translate("Receiver", "%1 (port %2)").arg(name, port);
    if (!serial.isEmpty())
        return QCoreApplication::translate("Receiver", "%1 (serial %2)").arg(name, serial);
    return QStringLiteral("%1 #%2").arg(name).arg(twin);
}

void identifyReceivers(QVector<Receiver> &receivers)
{
    QHash<QString, int> seen;
    for (Receiver &receiver : receivers) {
        const KHID::KDeviceInstance instance = KHID::platform().deviceInstance(receiver.path().toStdU16String());
        receiver.instance = QString::fromStdString(instance.instance);
        receiver.port = QString::fromStdString(instance.port);
        receiver.serial = QString::fromStdString(instance.serial);
        receiver.twin = ++seen[receiver.entry.name];
    }
    // A name seen once needs no number.
    for (Receiver &receiver : receivers) {
        if (seen.value(receiver.entry.name) == 1)
            receiver.twin = 0;
    }
}
