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
    // No exchange starts later than this after the run began: a receiver whose
    // transfers hang cannot stretch the wait. Room for the 85 polls and the begin.
    static constexpr quint32 kRunLimitMs = 35000;
    // What one exchange may take: the longest pause, and the write and the
    // fetch each up to the kernel's 5 s per USB transfer, which user space
    // cannot cut short. A stop is honoured within one exchange; the end
    // command gets another two at most, so a whole run ends within
    // kRunLimitMs + 3 * kExchangeLimitMs, about 66 s.
    static constexpr quint32 kExchangeLimitMs = 300 + 5000 + 50 + 5000;

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
    // Whether `accept` takes the reply just read; a poll's is reported whatever it says.
    bool takeReply(Reply accept, int attempt);
    quint8 firstFeatureReportId() const;
    bool stopAsked();
    // Why the last exchange did not pass.
    PairOutcome failure() const;
    void finish(const PairOutcome &outcome);
    // The end command, whenever the begin command may have reached the receiver.
    void endPairMode();

    // On the platform's clock: no attempt starts at or after it.
    quint64 mDeadlineMs = 0;
    Step mStep = Step::Passed;
    // A report of this run reached the receiver: it may be open for pairing.
    bool mWritten = false;
    // The end command goes out even when the run was asked to stop.
    bool mClosing = false;
    QString mStepWords;
    quint8 mLastReply[2] = {};
};
