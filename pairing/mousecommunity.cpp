// SPDX-License-Identifier: MIT
#include "pairing/mousecommunity.h"

#include "khid/kplatform.h"


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
    case Busy:
        return QStringLiteral("busy");
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
    case Busy:
        return QStringLiteral("another program is pairing with the receiver");
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

void MouseCommunity::handOver(const Receiver &receiver)
{
    std::lock_guard<std::mutex> lock(mHandOverLock);
    mReceiver = receiver;
    mReady = true;
}

bool MouseCommunity::handOverReceiver(const Receiver &receiver, QString *reason)
{
    handOver(receiver);
    std::string words;
    const bool open = KHID::platform().probeAccess(receiver.path().toStdU16String(), &words);
    if (!open && reason)
        *reason = QString::fromStdString(words);
    return open;
}

bool MouseCommunity::isReady() const
{
    std::lock_guard<std::mutex> lock(mHandOverLock);
    return mReady;
}

DeviceDetail MouseCommunity::catalogueRecord() const
{
    std::lock_guard<std::mutex> lock(mHandOverLock);
    return mReceiver.entry;
}

Receiver MouseCommunity::receiver() const
{
    std::lock_guard<std::mutex> lock(mHandOverLock);
    return mReceiver;
}

bool MouseCommunity::beginRun()
{
    std::lock_guard<std::mutex> lock(mHandOverLock);
    mRunReceiver = mReceiver;
    return mReady;
}

bool MouseCommunity::openRunDevice()
{
    mRunDevice = std::make_unique<KHID::KUSBDevice>();
    return mRunDevice->openInterface(mRunReceiver.interface);
}

void MouseCommunity::endRun()
{
    mRunDevice.reset();
}
