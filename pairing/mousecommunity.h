// SPDX-License-Identifier: MIT
#pragma once

#include "config/devicedetail.h"
#include "config/pairkind.h"
#include "pairing/pairoutcome.h"
#include "khid/kusbdevice.h"
#include "config/receiver.h"

#include <QMetaType>
#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>

// The pairing worker's interface: one pairing run on the worker's own thread,
// against the receiver that the GUI thread last handed over.
class MouseCommunity : public QObject
{
    Q_OBJECT

public:
    static constexpr int kBufferSize = 2048;

    explicit MouseCommunity(QObject *parent = nullptr);
    ~MouseCommunity() override;

    // Runs a whole pairing and emits sigPairResult.
    virtual bool startPairing(PairKind pairDevType) = 0;
    // Safe from any thread: while a run holds the receiver it answers 0 at once.
    virtual quint8 queryState() = 0;
    virtual bool enterPairMode() = 0;
    virtual bool waitPairResult() = 0;
    virtual bool exitPairMode() = 0;

    // Hand-over from the GUI thread, safe while a run is going on: the run
    // finishes on the receiver it started with and the next one takes this
    // one. Nothing is opened until a run needs it.
    void handOver(const Receiver &receiver);
    // As handOver, and whether this user can open the receiver now (false
    // with the system's words); nothing is sent.
    bool handOverReceiver(const Receiver &receiver, QString *reason = nullptr);

    // Ends the run in progress at its next exchange, from any thread; the run
    // then reports `why`. Cleared by clearAbort() before the next request is sent.
    void abortRun(PairOutcome::Reason why = PairOutcome::Unplugged) { mAbort.store(int(why) + 1); }
    void clearAbort() { mAbort.store(0); }

    Receiver receiver() const;

signals:
    void sigPairResult(bool status, QString msg);
    // Emitted just before sigPairResult, for the same run.
    void sigPairOutcome(PairOutcome outcome);
    // One exchange of the poll: its number from 1, and "waiting", "paired",
    // "refused", "ignored" (not a valid reply), "write-failed" or "read-failed".
    void sigPollAttempt(int attempt, QString status);

protected:
    // Takes the hand-over state for one run; false before the first hand-over.
    bool beginRun();
    // Opens the run's receiver and takes its pairing lock: Busy while another
    // program holds it, Unplugged when another device answers at its node now,
    // OpenFailed (the reason kept by the device) when it cannot be opened;
    // Paired stands for "open and held".
    PairOutcome openRunDevice();
    void endRun();
    bool abortRequested() const { return mAbort.load() != 0; }
    PairOutcome::Reason abortReason() const { return PairOutcome::Reason(mAbort.load() - 1); }

    // Held for a whole run or query: they share the device and the buffers.
    std::mutex mRunLock;
    // The receiver of the run in progress and its opened interface, under mRunLock.
    Receiver mRunReceiver;
    std::unique_ptr<KHID::KUSBDevice> mRunDevice;
    quint8 mSendBuffer[kBufferSize] = {};
    quint8 mReceiveBuffer[kBufferSize] = {};
    PairKind pairDevType = PairKind::Mouse;

private:
    std::atomic<int> mAbort{0};
    mutable std::mutex mHandOverLock;
    bool mReady = false;
    Receiver mReceiver;
};
