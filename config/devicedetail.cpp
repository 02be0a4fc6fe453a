// SPDX-License-Identifier: MIT
#include "config/devicedetail.h"

#include <QDebug>

namespace {

// Ids are hexadecimal strings; anything else reads as 0.
int hexField(const QJsonObject &entry, const char *key)
{
    return entry.value(QLatin1String(key)).toString().toInt(nullptr, 16);
}

} // namespace

DeviceDetail::DeviceDetail(const QJsonObject &entry)
    : name(entry.value(QLatin1String("name")).toString())
    , vid(hexField(entry, "vid"))
    , pid(hexField(entry, "pid"))
    , usage(hexField(entry, "usage"))
    , usagePage(hexField(entry, "usagePage"))
    , reportId(hexField(entry, "reportId"))
    , communicationId(entry.value(QLatin1String("communicationId")).toInt(0))
    , mouse(entry.value(QLatin1String("mouse")).toBool(false))
    , keyboard(entry.value(QLatin1String("keyboard")).toBool(false))
    , suit(entry.value(QLatin1String("suit")).toBool(false))
    , Tovrik(entry.value(QLatin1String("Tovrik")).toBool(false))
{
}

void DeviceDetail::print() const
{
    qDebug() << "";
    qDebug() << "----- Device Detail ----- ";
    qDebug() << "name:" << name;
    qDebug("vid: 0x%x", vid);
    qDebug("pid: 0x%x", pid);
    qDebug("usage: 0x%x", usage);
    qDebug("usagePage: 0x%x", usagePage);
    qDebug("reportId: 0x%x", reportId);
    qDebug("communicationId: %d", communicationId);
    qDebug("mouse: %d", mouse);
    qDebug("keyboard: %d", keyboard);
    qDebug("suit: %d", suit);
    qDebug("tovrik: %d", Tovrik);
}
