// SPDX-License-Identifier: MIT
#pragma once

#include "devicedetail.h"
#include "kusbdevice.h"

#include <QMetaType>
#include <QObject>
#include <QSharedPointer>

#include <atomic>
#include <mutex>

// How a pairing run ended, and why.
struct PairOutcome {
    enum Reason {
        Paired,      // the receiver reported a device
        NoReceiver,  // no receiver was handed over
        Unplugged,   // the receiver went away during the run
        OpenFailed,  // the receiver could not be opened (detail: the system's words)
        WriteFailed, // a report could not be written (detail: the system's words)
        ReadFailed,  // a reply could not be read (detail: the system's words)
        NoAnswer,    // the receiver kept waiting: no device answered within the poll
        Refused,     // the receiver answered with something other than waiting (detail: its reply)
        Stopped      // the program is closing
    };

    Reason reason = NoReceiver;
    QString detail;

    bool ok() const { return reason == Paired; }
    // A stable name for scripts: "paired", "no-receiver", "unplugged", ...
    static QString key(Reason reason);
    // One English sentence, with the detail.
    QString describe() const;
};
Q_DECLARE_METATYPE(PairOutcome)

// The pairing worker's interface: one pairing run on the worker's own thread,
// against the receiver that the GUI thread last handed over.
class MouseCommunity : public QObject
{
    Q_OBJECT

public:
    static constexpr int kBufferSize = 2048;

    explicit MouseCommunity(QObject *parent = nullptr);
    ~MouseCommunity() override;

    // Runs a whole pairing and emits sigPairResult. 2 pairs a keyboard, anything else a mouse.
    virtual bool startPairing(int pairDevType) = 0;
    // Safe from any thread: while a run holds the receiver it answers 0 at once.
    virtual quint8 queryState() = 0;
    virtual bool enterPairMode() = 0;
    virtual bool waitPairResult() = 0;
    virtual bool exitPairMode() = 0;

    // Hand-over from the GUI thread, safe while a run is going on: the run
    // finishes with the device it started with and the next one takes the new
    // device. A device is released (deleteLater) once no run uses it.
    void handOver(QSharedPointer<KHID::KUSBDevice> device, const DeviceDetail &detail);
    // Opens the receiver `detail` names and hands it over, as the controller
    // does for every supported receiver reported. False, with the system's
    // reason, when the receiver cannot be opened (it is handed over all the same).
    bool handOverReceiver(const DeviceDetail &detail, QString *reason = nullptr);

    // Ends the run in progress at its next exchange, as a failure; from any thread.
    // Cleared by clearAbort() before the next request is sent.
    void abortRun() { mAbort.store(true); }
    void clearAbort() { mAbort.store(false); }

    bool isReady() const;
    DeviceDetail catalogueRecord() const;
    QSharedPointer<KHID::KUSBDevice> device() const;

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
    void endRun();
    bool abortRequested() const { return mAbort.load(); }

    // Held for a whole run or query: they share the device and the buffers.
    std::mutex mRunLock;
    // The receiver of the run in progress, under mRunLock.
    QSharedPointer<KHID::KUSBDevice> mRunDevice;
    quint8 mSendBuffer[kBufferSize] = {};
    quint8 mReceiveBuffer[kBufferSize] = {};
    int pairDevType = 0;

private:
    std::atomic<bool> mAbort{false};
    mutable std::mutex mHandOverLock;
    bool mReady = false;
    DeviceDetail mDetail;
    QSharedPointer<KHID::KUSBDevice> mDevice;
};
