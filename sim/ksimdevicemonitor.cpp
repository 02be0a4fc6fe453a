// SPDX-License-Identifier: MIT
#include "sim/ksimdevicemonitor.h"

#include "sim/ksimplatform.h"

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
    // The machine plays its timed changes whenever it is used; this wakes it
    // for each on time while nothing else does.
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    const auto arm = [this, timer] {
        const qint64 wait = mPlatform->nextChangeInMs();
        if (wait >= 0)
            timer->start(static_cast<int>(qMin<qint64>(wait, 24 * 3600 * 1000)));
    };
    connect(timer, &QTimer::timeout, this, [this, arm] {
        mPlatform->playDueChanges();
        arm();
    });
    arm();
    return true;
}

KDeviceMonitor *KSimPlatform::newDeviceMonitor()
{
    return new KSimDeviceMonitor(this);
}

} // namespace KHID
