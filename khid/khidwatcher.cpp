#include "khidwatcher.h"

#include "kdevicemonitor.h"

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
    // Asking for the handle creates the hidden widget's native window, which
    // is where Windows sends its notices.
    if (!monitor || !monitor->start(quintptr(winId()), &code)) {
        qDebug() << "error: RegisterDeviceNotification, code:" << code;
        return false;
    }
    connect(monitor.get(), &KDeviceMonitor::sigDeviceChange, this, &KHIDWatcher::sigHIDDeviceChange);
    mMonitor = std::move(monitor);
    mRegistered = true;
    return true;
}

bool KHIDWatcher::nativeEvent(const QByteArray &eventType, void *message, long *result)
{
    if (mMonitor)
        mMonitor->handleNativeEvent(eventType, message);
    return QWidget::nativeEvent(eventType, message, result);
}

} // namespace KHID
