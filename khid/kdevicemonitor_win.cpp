// SPDX-License-Identifier: MIT
// The Windows monitor: registration and decoding live in the Qt-free
// kwinnotify, which the cross build checks; this only hands them Qt's values.

#include "khid/kdevicemonitor.h"
#include "khid/kwinnotify.h"

#include <QByteArray>
#include <QString>

namespace KHID {

namespace {

class KWinDeviceMonitor final : public KDeviceMonitor
{
public:
    bool start(quintptr nativeWindow, long *errorCode) override
    {
        return mNotifications.registerWindow(nativeWindow, errorCode);
    }

    // Windows sends its notices to a window.
    bool needsNativeWindow() const override { return true; }

    void handleNativeEvent(const QByteArray &eventType, void *message) override
    {
        if (eventType != "windows_generic_MSG")
            return;
        winmsg::KDeviceChange change;
        if (winnotify::decodeMessage(message, change))
            emit sigDeviceChange(change.arrival, QString::fromStdU16String(change.path));
    }

private:
    winnotify::KHidNotifications mNotifications;
};

} // namespace

std::unique_ptr<KDeviceMonitor> makeNativeDeviceMonitor()
{
    return std::make_unique<KWinDeviceMonitor>();
}

} // namespace KHID
