// SPDX-License-Identifier: MIT
#pragma once

#include "devicedetail.h"
#include "receiver.h"

#include <QMap>
#include <QObject>
#include <QStringList>

// The supported receivers, and the scan that finds one among the present
// HID interfaces.
class ConfigController : public QObject
{
    Q_OBJECT

public:
    explicit ConfigController(QObject *parent = nullptr);

    // Config/DeviceConfig.json beside the executable.
    static QString configFilePath();

    // False when the file cannot be read, is not JSON or is not a catalogue
    // (errorString() says why; the catalogue is then left as it was).
    bool loadConfig();
    bool loadConfig(const QString &path);
    // As loadConfig(), from a file's content; `origin` names it in the log.
    bool loadConfigData(const QByteArray &json, const QString &origin);
    // The first problem of the last failed load, with the path of the bad
    // field ("DeviceList[3].vid: expected a hexadecimal string").
    QString errorString() const { return mError; }
    // Keys the last load did not know (each "DeviceList[0].Mouse: unknown key").
    QStringList warnings() const { return mWarnings; }
    bool findDevice();
    // Every supported receiver present, in enumeration order, each with the
    // interface it was found on.
    QVector<Receiver> scanReceivers();
    // The entry an interface matches by vendor, product, usage and usage page; null for none.
    const DeviceDetail *entryFor(const KHID::KHidDetail &interface) const;

    bool isMouse(int pid);
    bool isKeyboard(int pid);
    bool isSuit(int pid);
    bool isTovrik(int pid);

    // The entries, by product id.
    QMap<int, DeviceDetail> devices() const { return mDevices; }

public slots:
    void slotDeviceChange(bool status, QString devicePath);

signals:
    // The first receiver of a scan, or none.
    void sigDeviceConfigChange(bool status, DeviceDetail detail);
    // Every receiver of the same scan.
    void sigReceiversFound(QVector<Receiver> receivers);

private:
    bool scan();

    DeviceDetail mCurrent;
    QMap<int, DeviceDetail> mDevices;
    QString mError;
    QStringList mWarnings;
};
