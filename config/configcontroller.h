#pragma once

#include "devicedetail.h"

#include <QMap>
#include <QObject>

// The supported receivers, and the scan that finds one among the present
// HID interfaces.
class ConfigController : public QObject
{
    Q_OBJECT

public:
    explicit ConfigController(QObject *parent = nullptr);

    // Config/DeviceConfig.json beside the executable.
    static QString configFilePath();

    bool loadConfig();
    bool loadConfig(const QString &path);
    bool findDevice();

    bool isMouse(int pid);
    bool isKeyboard(int pid);
    bool isSuit(int pid);
    bool isTovrik(int pid);

    // The entries, by product id.
    QMap<int, DeviceDetail> devices() const { return mDevices; }

public slots:
    void slotDeviceChange(bool status, QString devicePath);

signals:
    void sigDeviceConfigChange(bool status, DeviceDetail detail);

private:
    bool scan();

    DeviceDetail mCurrent;
    QMap<int, DeviceDetail> mDevices;
};
