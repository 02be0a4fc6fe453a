// SPDX-License-Identifier: MIT
#pragma once

#include "mousecommunity.h"

// The receiver's vendor report protocol: begin, poll, end, on report 0xBA.
class MouseCommunityBT : public MouseCommunity
{
    Q_OBJECT

public:
    // Polls of one run's wait, 350 ms apart: about 30 s for the device to answer.
    static constexpr int kPollAttempts = 85;

    explicit MouseCommunityBT(QObject *parent = nullptr);

    bool startPairing(int pairDevType) override;
    quint8 queryState() override;
    bool enterPairMode() override;
    bool waitPairResult() override;
    bool exitPairMode() override;

private:
    enum class Reply { Any, Valid, Paired };
    // How the last attempt of the last exchange went.
    enum class Step { Passed, Aborted, WriteFailed, ReadFailed, Rejected };

    // One command: up to `attempts` write-then-fetch exchanges until the reply passes.
    bool exchange(const quint8 *payload, int length, quint32 pauseMs, int attempts, Reply accept,
                  const char *writeError, const char *readError);
    quint8 firstFeatureReportId() const;
    // Why the last exchange did not pass.
    PairOutcome failure() const;
    void finish(const PairOutcome &outcome);

    Step mStep = Step::Passed;
    QString mStepWords;
    quint8 mLastReply[2] = {};
};
