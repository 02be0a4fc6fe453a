// SPDX-License-Identifier: MIT
#pragma once

// The Windows side of the device-change monitor, free of Qt so that the
// cross build compiles, links and runs it; the Qt monitor only calls these.
// Defined by kwinnotify_win.cpp, in Windows builds only.

#include "khid/kwinmessage.h"

#include <cstdint>

namespace KHID {
namespace winnotify {

// HID interface arrivals and removals sent to a window, for as long as this lives.
class KHidNotifications {
public:
    KHidNotifications() = default;
    ~KHidNotifications();
    KHidNotifications(const KHidNotifications &) = delete;
    KHidNotifications &operator=(const KHidNotifications &) = delete;

    // Asks Windows to send them to `window` (an HWND), in place of any earlier
    // window. False with GetLastError()'s code in `errorCode` when it refuses;
    // an earlier registration is gone either way.
    bool registerWindow(std::uintptr_t window, long *errorCode);
    void unregister();
    bool isRegistered() const { return mHandle != nullptr; }

private:
    void *mHandle = nullptr;
};

// `msg` is the MSG* that Qt hands to nativeEvent for "windows_generic_MSG".
bool decodeMessage(const void *msg, winmsg::KDeviceChange &change);

} // namespace winnotify
} // namespace KHID
