// SPDX-License-Identifier: MIT
#include "khid/kdevicemonitor.h"

#include "khid/kplatform.h"

namespace KHID {

KDeviceMonitor::KDeviceMonitor(QObject *parent)
    : QObject(parent)
{
}

KDeviceMonitor::~KDeviceMonitor() = default;

bool KDeviceMonitor::needsNativeWindow() const
{
    return false;
}

void KDeviceMonitor::handleNativeEvent(const QByteArray &, void *)
{
}

std::unique_ptr<KDeviceMonitor> makeDeviceMonitor()
{
    if (KDeviceMonitor *own = platform().newDeviceMonitor())
        return std::unique_ptr<KDeviceMonitor>(own);
    return makeNativeDeviceMonitor();
}

} // namespace KHID
