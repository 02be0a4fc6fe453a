// SPDX-License-Identifier: MIT
#pragma once

#include "config/devicedetail.h"
#include "config/receiver.h"

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
    // (errorString() says why; the catalogue is then left as it was). A bad
    // entry is left out and a bad optional field takes its default (warnings()).
    bool loadConfig();
    bool loadConfig(const QString &path);
    // As loadConfig(), from a file's content; `origin` names it in the log.
    bool loadConfigData(const QByteArray &json, const QString &origin);
    // Why the last load failed ("DeviceList: expected an array of receivers").
    QString errorString() const { return mError; }
    // What the last load left out, defaulted or ignored, each with the path of its
    // field ("DeviceList[1].name: expected a string, the default is used",
    // "DeviceList[0].Mouse: unknown key").
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
