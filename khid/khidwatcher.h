// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

#include <memory>

namespace KHID {

class KDeviceMonitor;

// A hidden widget that tells, at once, when a HID interface arrives or goes.
// Any HID interface counts; which ones matter is the catalogue's business.
class KHIDWatcher : public QWidget
{
    Q_OBJECT

public:
    KHIDWatcher();
    ~KHIDWatcher() override;

    bool registerNotification();

signals:
    void sigHIDDeviceChange(bool status, QString devicePath);

protected:
    bool nativeEvent(const QByteArray &eventType, void *message, long *result) override;

private:
    bool mRegistered = false;
    std::unique_ptr<KDeviceMonitor> mMonitor;
};

} // namespace KHID
