// SPDX-License-Identifier: MIT
#pragma once

// Live arrival and removal of HID interfaces, without widgets: the watcher
// widget and bondara-cli both sit on top of this.

#include <QObject>
#include <QString>

#include <memory>

namespace KHID {

class KDeviceMonitor : public QObject
{
    Q_OBJECT

public:
    explicit KDeviceMonitor(QObject *parent = nullptr);
    ~KDeviceMonitor() override;

    // Starts delivering changes. `nativeWindow` is the window that receives
    // the platform's notifications where it sends them to a window (Windows);
    // other backends ignore it. False with the platform's error code when no
    // notifications can be had.
    virtual bool start(quintptr nativeWindow, long *errorCode) = 0;

    // Whether start() needs a native window. Creating one is not free: on X
    // it is the first native window, which sets up the display's OpenGL side.
    virtual bool needsNativeWindow() const;

    // A native window message, for backends that are told through one.
    // Never consumes it.
    virtual void handleNativeEvent(const QByteArray &eventType, void *message);

signals:
    // One signal per HID interface, with the path the HID walk reports.
    void sigDeviceChange(bool arrival, QString devicePath);
};

// The monitor for the backend in use: the simulated machine's own when the
// simulated backend is installed, otherwise this platform's native one.
std::unique_ptr<KDeviceMonitor> makeDeviceMonitor();

// This build's native monitor (one per platform, chosen at build time).
std::unique_ptr<KDeviceMonitor> makeNativeDeviceMonitor();

} // namespace KHID
