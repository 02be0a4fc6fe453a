// SPDX-License-Identifier: MIT
#include "pairing/mousecommunity.h"

#include "khid/kplatform.h"

#include <QDebug>

MouseCommunity::MouseCommunity(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<PairOutcome>();
    qRegisterMetaType<PairKind>();
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

PairOutcome MouseCommunity::openRunDevice()
{
    mRunDevice = std::make_unique<KHID::KUSBDevice>();
    if (!mRunDevice->openInterface(mRunReceiver.interface, mRunReceiver.instance)) {
        if (mRunDevice->isGone())
            return {PairOutcome::Unplugged, {}};
        return {PairOutcome::OpenFailed, mRunDevice->errorString()};
    }
    switch (mRunDevice->lockForPairing()) {
    case KHID::KLock::Held:
        qDebug().noquote() << "another program is pairing with" << mRunReceiver.path();
        return {PairOutcome::Busy, {}};
    case KHID::KLock::Failed:
        // Without the lock another program could pair beside this run.
        return {PairOutcome::OpenFailed, QStringLiteral("its pairing lock could not be taken")};
    case KHID::KLock::Taken:
    case KHID::KLock::Unsupported:
        break;
    }
    return {PairOutcome::Paired, {}};
}

void MouseCommunity::endRun()
{
    mRunDevice.reset();
}
