// SPDX-License-Identifier: MIT
#include "ksimdevicemonitor.h"

#include "ksimplatform.h"

#include <QTimer>

namespace KHID {

KSimDeviceMonitor::KSimDeviceMonitor(KSimPlatform *platform, QObject *parent)
    : KDeviceMonitor(parent)
    , mPlatform(platform)
{
}

KSimDeviceMonitor::~KSimDeviceMonitor()
{
    if (mListener)
        mPlatform->removeChangeListener(mListener);
}

bool KSimDeviceMonitor::start(quintptr, long *errorCode)
{
    const long failure = mPlatform->notificationFailure();
    if (failure != 0) {
        if (errorCode)
            *errorCode = failure;
        return false;
    }
    if (mListener)
        return true;

    // The platform calls back on the thread that changed the scene; the
    // signal then reaches receivers the usual way.
    mListener = mPlatform->addChangeListener([this](bool arrival, const QString &path) {
        emit sigDeviceChange(arrival, path);
    });
    for (const KSimChange &change : mPlatform->scheduledChanges()) {
        auto *timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, change] {
            if (change.plug)
                mPlatform->plug(change.interface);
            else
                mPlatform->unplug(change.path);
        });
        timer->start(static_cast<int>(change.afterMs));
    }
    return true;
}

} // namespace KHID
