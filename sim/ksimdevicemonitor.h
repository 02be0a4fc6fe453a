// SPDX-License-Identifier: MIT
#pragma once

#include "khid/kdevicemonitor.h"


namespace KHID {

class KSimPlatform;

// Changes of the simulated machine: the scene's timed events, counted from
// the machine's making, and whatever a test plugs or unplugs in process.
class KSimDeviceMonitor : public KDeviceMonitor
{
    Q_OBJECT

public:
    explicit KSimDeviceMonitor(KSimPlatform *platform, QObject *parent = nullptr);
    ~KSimDeviceMonitor() override;

    bool start(quintptr nativeWindow, long *errorCode) override;

private:
    KSimPlatform *mPlatform;
    int mListener = 0;
};

} // namespace KHID
