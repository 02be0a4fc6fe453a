// SPDX-License-Identifier: MIT
#include "pairing/mousecommunitybt.h"

#include "khid/kplatform.h"
#include "pairing/pairprotocol.h"

#include <QDebug>
#include <QThread>

#include <cstring>

using namespace PairProtocol;

namespace {

constexpr int kClearedBytes = 1024;
constexpr quint32 kCommandPauseMs = 50;
constexpr quint32 kPollPauseMs = 300;
constexpr quint32 kFetchPauseMs = 50;
constexpr int kCommandAttempts = 3;

} // namespace

MouseCommunityBT::MouseCommunityBT(QObject *parent)
    : MouseCommunity(parent)
{
}

bool MouseCommunityBT::startPairing(PairKind pairDevType)
{
    std::lock_guard<std::mutex> run(mRunLock);
    if (!beginRun()) {
        endRun();
        qDebug() << "Device未初始化";
        finish(PairOutcome{PairOutcome::NoReceiver, {}});
        return false;
    }
    this->pairDevType = pairDevType;
    mWritten = false;
    mDeadlineMs = KHID::platform().nowMs() + kRunLimitMs;

    const PairOutcome opened = openRunDevice();
    if (!opened.ok()) {
        endRun();
        finish(opened);
        return false;
    }

    const bool paired = enterPairMode() && waitPairResult();
    const PairOutcome outcome = paired ? PairOutcome{PairOutcome::Paired, {}} : failure();
    endPairMode();
    endRun();
    finish(outcome);
    return paired;
}

void MouseCommunityBT::endPairMode()
{
    // Left open, the receiver would take any device nearby until it gives up by itself.
    if (!mWritten || (mRunDevice && mRunDevice->isGone()))
        return;
    mClosing = true;
    // Its first attempt whatever the time; the others only while one exchange's time lasts.
    mDeadlineMs = KHID::platform().nowMs() + kExchangeLimitMs;
    exitPairMode();
    mClosing = false;
}

void MouseCommunityBT::finish(const PairOutcome &outcome)
{
    emit sigPairOutcome(outcome);
    if (outcome.reason == PairOutcome::NoReceiver)
        emit sigPairResult(false, QStringLiteral("Device未初始化"));
    else if (outcome.ok())
        emit sigPairResult(true, tr("Matched successfully"));
    else
        emit sigPairResult(false, tr("Matched failed"));
}

PairOutcome MouseCommunityBT::failure() const
{
    switch (mStep) {
    case Step::Passed:
        break;
    case Step::Aborted:
        if (abortRequested())
            return {abortReason(), {}};
        return {PairOutcome::Stopped, {}};
    case Step::Gone:
        return {PairOutcome::Unplugged, {}};
    case Step::WriteFailed:
        return {PairOutcome::WriteFailed, mStepWords};
    case Step::ReadFailed:
        return {PairOutcome::ReadFailed, mStepWords};
    case Step::Rejected:
        // 01 00 is the receiver's "still waiting"; anything else it said is its own answer.
        if (mLastReply[0] == kReplyMarker && mLastReply[1] == kStatusWaiting)
            return {PairOutcome::NoAnswer, {}};
        return {PairOutcome::Refused, QByteArray(reinterpret_cast<const char *>(mLastReply), 2).toHex(' ')};
    }
    return {PairOutcome::NoAnswer, {}};
}

quint8 MouseCommunityBT::queryState()
{
    const quint8 payload[4] = {kQuery, 0x00, 0x00, 0x00};
    // Waiting for a run would hold the caller, which may be the GUI thread, for up to 30 s.
    std::unique_lock<std::mutex> run(mRunLock, std::try_to_lock);
    if (!run.owns_lock()) {
        qDebug() << "queryState: a pairing run is in progress";
        return 0;
    }
    mDeadlineMs = KHID::platform().nowMs() + kExchangeLimitMs;
    const bool ok = beginRun() && openRunDevice().ok()
        && exchange(payload, sizeof payload, kCommandPauseMs, kCommandAttempts, Reply::Valid, "send errot",
                    "read error");
    const quint8 state = ok ? mReceiveBuffer[1] : 0;
    endRun();
    return state;
}

bool MouseCommunityBT::enterPairMode()
{
    const quint8 kind = pairDevType == PairKind::Keyboard ? kKindKeyboard : kKindMouse;
    const quint8 payload[4] = {kBegin, kBeginArgument, kind, kBeginLast};
    return exchange(payload, sizeof payload, kCommandPauseMs, kCommandAttempts, Reply::Any, "send errot",
                    "read error");
}

bool MouseCommunityBT::waitPairResult()
{
    const quint8 payload[2] = {kPairing, kPoll};
    return exchange(payload, sizeof payload, kPollPauseMs, kPollAttempts, Reply::Paired, "[Error] send errot",
                    "[Error] read error");
}

bool MouseCommunityBT::exitPairMode()
{
    const quint8 payload[2] = {kPairing, kEnd};
    return exchange(payload, sizeof payload, kCommandPauseMs, kCommandAttempts, Reply::Any, "send errot",
                    "read error");
}

bool MouseCommunityBT::exchange(const quint8 *payload, int length, quint32 pauseMs, int attempts, Reply accept,
                                const char *writeError, const char *readError)
{
    std::memset(mSendBuffer, 0, kClearedBytes);
    std::memcpy(mSendBuffer, payload, length);
    std::memset(mReceiveBuffer, 0, kClearedBytes);

    KHID::KUSBDevice *device = mRunDevice.get();
    KHID::KHidPlatform &hid = KHID::platform();
    const bool poll = accept == Reply::Paired;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (stopAsked() || hid.nowMs() >= mDeadlineMs)
            return false;
        hid.sleepMs(pauseMs);
        if (stopAsked()) // during the pause: nothing more goes out before the end command
            return false;
        // A write that fails may still have reached the receiver: the end command follows it.
        mWritten = mWritten || device;
        if (!device || !device->writeReport(kReportId, mSendBuffer, length)) {
            qDebug() << writeError << int(firstFeatureReportId());
            mStep = device && device->isGone() ? Step::Gone : Step::WriteFailed;
            mStepWords = device ? device->ioErrorString() : QString();
            if (poll)
                emit sigPollAttempt(attempt + 1, QStringLiteral("write-failed"));
            if (mStep == Step::Gone)
                return false;
            continue;
        }
        hid.sleepMs(kFetchPauseMs);
        if (!device->readReport(kReportId, mReceiveBuffer)) {
            qDebug() << readError;
            mStep = device->isGone() ? Step::Gone : Step::ReadFailed;
            mStepWords = device->ioErrorString();
            if (poll)
                emit sigPollAttempt(attempt + 1, QStringLiteral("read-failed"));
            if (mStep == Step::Gone)
                return false;
            continue;
        }
        if (takeReply(accept, attempt))
            return true;
    }
    return false;
}

bool MouseCommunityBT::takeReply(Reply accept, int attempt)
{
    mLastReply[0] = mReceiveBuffer[0];
    mLastReply[1] = mReceiveBuffer[1];
    mStep = Step::Rejected;
    switch (accept) {
    case Reply::Any:
        mStep = Step::Passed;
        return true;
    case Reply::Valid:
        if (mReceiveBuffer[0] == kReplyMarker) {
            mStep = Step::Passed;
            return true;
        }
        return false;
    case Reply::Paired:
        if (mReceiveBuffer[0] == kReplyMarker
            && (mReceiveBuffer[1] == kStatusPaired || mReceiveBuffer[1] == kStatusPairedToo)) {
            qDebug() << "对码成功";
            mStep = Step::Passed;
            emit sigPollAttempt(attempt + 1, QStringLiteral("paired"));
            return true;
        }
        if (mReceiveBuffer[0] != kReplyMarker)
            emit sigPollAttempt(attempt + 1, QStringLiteral("ignored"));
        else
            emit sigPollAttempt(attempt + 1, mReceiveBuffer[1] == kStatusWaiting ? QStringLiteral("waiting")
                                                                                  : QStringLiteral("refused"));
        return false;
    }
    return false;
}

// The receiver went away, the program is closing or the user stopped: give up rather than poll on.
bool MouseCommunityBT::stopAsked()
{
    if (mClosing || !(QThread::currentThread()->isInterruptionRequested() || abortRequested()))
        return false;
    mStep = Step::Aborted;
    return true;
}

quint8 MouseCommunityBT::firstFeatureReportId() const
{
    if (!mRunDevice)
        return 0;
    const KHID::KHidDetail detail = mRunDevice->getDetail();
    return detail.capAbilitiesValue.isEmpty() ? 0 : detail.capAbilitiesValue.first().ReportID;
}
