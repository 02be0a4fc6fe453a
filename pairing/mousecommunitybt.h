// SPDX-License-Identifier: MIT
#pragma once

#include "pairing/mousecommunity.h"

// The receiver's vendor report protocol: begin, poll, end, on report 0xBA.
class MouseCommunityBT : public MouseCommunity
{
    Q_OBJECT

public:
    // Polls of one run's wait, 350 ms apart: about 30 s for the device to answer.
    static constexpr int kPollAttempts = 85;

    explicit MouseCommunityBT(QObject *parent = nullptr);

    bool startPairing(PairKind pairDevType) override;
    quint8 queryState() override;
    bool enterPairMode() override;
    bool waitPairResult() override;
    bool exitPairMode() override;

private:
    enum class Reply { Any, Valid, Paired };
    // How the last attempt of the last exchange went.
    enum class Step { Passed, Aborted, WriteFailed, ReadFailed, Rejected, Gone };

    // One command: up to `attempts` write-then-fetch exchanges until the reply passes.
    bool exchange(const quint8 *payload, int length, quint32 pauseMs, int attempts, Reply accept,
                  const char *writeError, const char *readError);
    quint8 firstFeatureReportId() const;
    bool stopAsked();
    // Why the last exchange did not pass.
    PairOutcome failure() const;
    void finish(const PairOutcome &outcome);
    // The end command, whenever the begin command may have reached the receiver.
    void endPairMode();

    Step mStep = Step::Passed;
    // A report of this run reached the receiver: it may be open for pairing.
    bool mWritten = false;
    // The end command goes out even when the run was asked to stop.
    bool mClosing = false;
    QString mStepWords;
    quint8 mLastReply[2] = {};
};
