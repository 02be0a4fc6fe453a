#include "configcontroller.h"

#include "khid.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "open cofig file error !";
        return false;
    }
    const QByteArray bytes = file.readAll();
    file.close();

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        qDebug() << "parse json error!";
        return false;
    }

    const QJsonArray list = document.object().value(QLatin1String("DeviceList")).toArray();
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

bool ConfigController::scan()
{
    bool found = false;
    KHID::enumHidDevices([this, &found](KHID::KHidDetail detail, bool &keepGoing) {
        const auto entry = mDevices.constFind(detail.ProductID);
        if (entry == mDevices.constEnd())
            return;
        if (entry->vid != int(detail.VendorID) || entry->pid != int(detail.ProductID)
            || entry->usage != int(detail.capAbilities.Usage)
            || entry->usagePage != int(detail.capAbilities.UsagePage))
            return;
        mCurrent = *entry;
        keepGoing = false;
        found = true;
        qDebug() << "-- found device --";
        KHID::printDetail(detail);
        mCurrent.print();
    });

    if (found) {
        emit sigDeviceConfigChange(true, mCurrent);
    } else {
        qDebug() << "not found device";
        emit sigDeviceConfigChange(false, mCurrent);
    }
    return found;
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
