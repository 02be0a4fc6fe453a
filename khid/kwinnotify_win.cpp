// SPDX-License-Identifier: MIT
#include "khid/kwinnotify.h"

#include "khid/kwindows.h"

#include <cstddef>

namespace KHID {
namespace winnotify {

// The decoder reads records by these offsets without the Windows headers.
static_assert(offsetof(DEV_BROADCAST_HDR, dbch_size) == winmsg::kSizeOffset, "dbch_size");
static_assert(offsetof(DEV_BROADCAST_HDR, dbch_devicetype) == winmsg::kDeviceTypeOffset, "dbch_devicetype");
static_assert(sizeof(DEV_BROADCAST_HDR) == winmsg::kHeaderBytes, "DEV_BROADCAST_HDR");
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid) == winmsg::kClassGuidOffset,
              "dbcc_classguid");
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) == winmsg::kNameOffset, "dbcc_name");
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == winmsg::kInterfaceRecordBytes,
              "DEV_BROADCAST_DEVICEINTERFACE_W");
static_assert(WM_DEVICECHANGE == winmsg::kWmDeviceChange, "WM_DEVICECHANGE");
static_assert(DBT_DEVICEARRIVAL == winmsg::kDbtDeviceArrival, "DBT_DEVICEARRIVAL");
static_assert(DBT_DEVICEREMOVECOMPLETE == winmsg::kDbtDeviceRemoveComplete, "DBT_DEVICEREMOVECOMPLETE");
static_assert(DBT_DEVTYP_DEVICEINTERFACE == winmsg::kDbtDevtypDeviceInterface, "DBT_DEVTYP_DEVICEINTERFACE");

KHidNotifications::~KHidNotifications()
{
    unregister();
}

bool KHidNotifications::registerWindow(std::uintptr_t window, long *errorCode)
{
    // Two registrations would deliver every change twice.
    unregister();
    // Without a window the notifications would have nowhere to go.
    if (window == 0) {
        if (errorCode)
            *errorCode = ERROR_INVALID_WINDOW_HANDLE;
        return false;
    }

    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);

    const HDEVNOTIFY handle =
        RegisterDeviceNotificationW(reinterpret_cast<HWND>(window), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!handle) {
        if (errorCode)
            *errorCode = static_cast<long>(GetLastError());
        return false;
    }
    mHandle = handle;
    return true;
}

void KHidNotifications::unregister()
{
    if (mHandle)
        UnregisterDeviceNotification(static_cast<HDEVNOTIFY>(mHandle));
    mHandle = nullptr;
}

bool decodeMessage(const void *msg, winmsg::KDeviceChange &change)
{
    const MSG *m = static_cast<const MSG *>(msg);
    if (!m)
        return false;
    return winmsg::decodeDeviceChange(m->message, m->wParam, reinterpret_cast<const void *>(m->lParam),
                                      change);
}

} // namespace winnotify
} // namespace KHID
