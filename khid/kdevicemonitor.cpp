// SPDX-License-Identifier: MIT
#include "khid/kdevicemonitor.h"

#include "khid/kplatform.h"
#include "sim/ksimdevicemonitor.h"
#include "sim/ksimplatform.h"

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
    if (auto *simulated = dynamic_cast<KSimPlatform *>(&platform()))
        return std::make_unique<KSimDeviceMonitor>(simulated);
    return makeNativeDeviceMonitor();
}

} // namespace KHID
