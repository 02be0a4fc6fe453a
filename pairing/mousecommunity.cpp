#include "mousecommunity.h"


MouseCommunity::MouseCommunity(QObject *parent)
    : QObject(parent)
{
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
