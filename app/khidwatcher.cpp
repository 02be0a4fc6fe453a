// SPDX-License-Identifier: MIT
#include "app/khidwatcher.h"

#include "khid/kdevicemonitor.h"

#include <QDebug>

namespace KHID {

KHIDWatcher::KHIDWatcher() = default;

KHIDWatcher::~KHIDWatcher() = default;

bool KHIDWatcher::registerNotification()
{
    if (mRegistered)
        return true;
    std::unique_ptr<KDeviceMonitor> monitor = makeDeviceMonitor();
    long code = 0;
    // Asking for the handle creates the hidden widget's native window: only
    // for a backend that is told through one.
    const quintptr window = monitor && monitor->needsNativeWindow() ? quintptr(winId()) : 0;
    if (!monitor || !monitor->start(window, &code)) {
        qDebug() << "error: RegisterDeviceNotification, code:" << code;
        return false;
    }
    connect(monitor.get(), &KDeviceMonitor::sigDeviceChange, this, &KHIDWatcher::sigHIDDeviceChange);
    mMonitor = std::move(monitor);
    mRegistered = true;
    return true;
}

bool KHIDWatcher::nativeEvent(const QByteArray &eventType, void *message, KNativeResult *result)
{
    if (mMonitor)
        mMonitor->handleNativeEvent(eventType, message);
    return QWidget::nativeEvent(eventType, message, result);
}

} // namespace KHID
