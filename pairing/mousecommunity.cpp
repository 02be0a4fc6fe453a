// SPDX-License-Identifier: MIT
#include "mousecommunity.h"


QString PairOutcome::key(Reason reason)
{
    switch (reason) {
    case Paired:
        return QStringLiteral("paired");
    case NoReceiver:
        return QStringLiteral("no-receiver");
    case Unplugged:
        return QStringLiteral("unplugged");
    case OpenFailed:
        return QStringLiteral("open-failed");
    case WriteFailed:
        return QStringLiteral("write-failed");
    case ReadFailed:
        return QStringLiteral("read-failed");
    case NoAnswer:
        return QStringLiteral("no-answer");
    case Refused:
        return QStringLiteral("refused");
    case Stopped:
        break;
    }
    return QStringLiteral("stopped");
}

QString PairOutcome::describe() const
{
    switch (reason) {
    case Paired:
        return QStringLiteral("a device was paired");
    case NoReceiver:
        return QStringLiteral("no receiver to pair with");
    case Unplugged:
        return QStringLiteral("the receiver was unplugged");
    case OpenFailed:
        return QStringLiteral("the receiver could not be opened: %1").arg(detail);
    case WriteFailed:
        return QStringLiteral("a report could not be written to the receiver: %1").arg(detail);
    case ReadFailed:
        return QStringLiteral("a reply could not be read from the receiver: %1").arg(detail);
    case NoAnswer:
        return QStringLiteral("no device answered within the poll");
    case Refused:
        return QStringLiteral("the receiver refused (reply %1)").arg(detail);
    case Stopped:
        break;
    }
    return QStringLiteral("the pairing was stopped");
}

MouseCommunity::MouseCommunity(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<PairOutcome>();
}

MouseCommunity::~MouseCommunity() = default;

void MouseCommunity::handOver(QSharedPointer<KHID::KUSBDevice> device, const DeviceDetail &detail)
{
    QSharedPointer<KHID::KUSBDevice> previous;
    {
        std::lock_guard<std::mutex> lock(mHandOverLock);
        previous = mDevice;
        mDevice = device;
        mDetail = detail;
        mReady = true;
    }
    // Dropped outside the lock; a run still holding it keeps it alive.
    previous.reset();
}

bool MouseCommunity::handOverReceiver(const DeviceDetail &detail, QString *reason)
{
    // Deleted on its own (GUI) thread once neither the worker nor a run holds it.
    QSharedPointer<KHID::KUSBDevice> device(new KHID::KUSBDevice(), &QObject::deleteLater);
    const bool opened = device->initDevice(static_cast<quint16>(detail.vid), static_cast<quint16>(detail.pid),
                                           static_cast<quint16>(detail.usage),
                                           static_cast<quint16>(detail.usagePage), 0);
    if (!opened && reason)
        *reason = device->errorString();
    handOver(device, detail);
    return opened;
}

bool MouseCommunity::isReady() const
{
    std::lock_guard<std::mutex> lock(mHandOverLock);
    return mReady;
}

DeviceDetail MouseCommunity::catalogueRecord() const
{
    std::lock_guard<std::mutex> lock(mHandOverLock);
    return mDetail;
}

QSharedPointer<KHID::KUSBDevice> MouseCommunity::device() const
{
    std::lock_guard<std::mutex> lock(mHandOverLock);
    return mDevice;
}

bool MouseCommunity::beginRun()
{
    std::lock_guard<std::mutex> lock(mHandOverLock);
    mRunDevice = mDevice;
    return mReady;
}

void MouseCommunity::endRun()
{
    mRunDevice.reset();
}
