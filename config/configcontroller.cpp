// SPDX-License-Identifier: MIT
#include "config/configcontroller.h"

#include "config/cataloguecheck.h"
#include "base/kfileread.h"
#include "khid/khid.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <utility>

ConfigController::ConfigController(QObject *parent)
    : QObject(parent)
{
}

QString ConfigController::configFilePath()
{
    return QCoreApplication::applicationDirPath() + "/Config" + "/DeviceConfig.json";
}

bool ConfigController::loadConfig()
{
    return loadConfig(configFilePath());
}

bool ConfigController::loadConfig(const QString &path)
{
    qDebug() << "load file: " << path;
    mError.clear();
    mWarnings.clear();
    QByteArray bytes;
    QString reason;
    if (!KHID::readFileCapped(path, KHID::kDocumentFileLimit, bytes, &reason)) {
        qDebug() << "open cofig file error !";
        mError = reason;
        return false;
    }
    return loadConfigData(bytes, path);
}

bool ConfigController::loadConfigData(const QByteArray &bytes, const QString &path)
{
    mError.clear();
    mWarnings.clear();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        qDebug() << "parse json error!";
        mError = QStringLiteral("not JSON: %1 at offset %2").arg(error.errorString()).arg(error.offset);
        return false;
    }

    const CatalogueCheck check = checkCatalogue(document);
    mError = check.error;
    mWarnings = check.warnings;
    // The log, not a warning: bondara-cli and the window tell the user in their own way.
    for (const QString &warning : std::as_const(mWarnings))
        qDebug().noquote() << QStringLiteral("catalogue %1: %2").arg(path, warning);
    if (!mError.isEmpty()) {
        qDebug().noquote() << QStringLiteral("catalogue %1: %2").arg(path, mError);
        return false;
    }

    const QJsonArray list = check.entries;
    for (const QJsonValue &element : list) {
        const DeviceDetail entry(element.toObject());
        entry.print();
        mDevices.insert(entry.pid, entry);
    }
    return true;
}

bool ConfigController::findDevice()
{
    return scan();
}

void ConfigController::slotDeviceChange(bool status, QString devicePath)
{
    Q_UNUSED(status)
    Q_UNUSED(devicePath)
    scan();
}

const DeviceDetail *ConfigController::entryFor(const KHID::KHidDetail &interface) const
{
    const auto entry = mDevices.constFind(interface.ProductID);
    if (entry == mDevices.constEnd() || entry->vid != int(interface.VendorID)
        || entry->usage != int(interface.capAbilities.Usage) || entry->usagePage != int(interface.capAbilities.UsagePage))
        return nullptr;
    return &*entry;
}

QVector<Receiver> ConfigController::scanReceivers()
{
    QVector<Receiver> receivers;
    KHID::enumHidDevices([&](KHID::KHidDetail detail, bool &) {
        if (const DeviceDetail *entry = entryFor(detail))
            receivers.append(Receiver{detail, *entry, {}, {}, {}, 0});
    });
    identifyReceivers(receivers);
    return receivers;
}

bool ConfigController::scan()
{
    const QVector<Receiver> receivers = scanReceivers();
    if (!receivers.isEmpty()) {
        mCurrent = receivers.first().entry;
        qDebug() << "-- found device --";
        KHID::printDetail(receivers.first().interface);
        mCurrent.print();
        emit sigDeviceConfigChange(true, mCurrent);
    } else {
        qDebug() << "not found device";
        emit sigDeviceConfigChange(false, mCurrent);
    }
    emit sigReceiversFound(receivers);
    return !receivers.isEmpty();
}

bool ConfigController::isMouse(int pid)
{
    return mDevices.value(pid).mouse;
}

bool ConfigController::isKeyboard(int pid)
{
    return mDevices.value(pid).keyboard;
}

bool ConfigController::isSuit(int pid)
{
    return mDevices.value(pid).suit;
}

bool ConfigController::isTovrik(int pid)
{
    return mDevices.value(pid).Tovrik;
}
