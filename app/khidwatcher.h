// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

#include <memory>

namespace KHID {

class KDeviceMonitor;

// What nativeEvent() hands back its answer in: Qt 6 widened it to a pointer's size.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
using KNativeResult = qintptr;
#else
using KNativeResult = long;
#endif

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
    bool nativeEvent(const QByteArray &eventType, void *message, KNativeResult *result) override;

private:
    bool mRegistered = false;
    std::unique_ptr<KDeviceMonitor> mMonitor;
};

} // namespace KHID
