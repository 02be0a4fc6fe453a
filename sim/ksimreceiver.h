// SPDX-License-Identifier: MIT
#pragma once

// The simulated receiver: it answers the pairing protocol on an interface of
// the simulated machine, or replays a recorded session.

#include "pairing/pairprotocol.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstddef>
#include <cstdint>
#include <string>

namespace KHID {

// One recorded exchange: the request written and what the receiver did with it.
struct KSimReplayStep {
    QByteArray write;
    bool writeFails = false;
    bool readFails = false;
    bool hasReply = false; // false when the run ended before the fetch
    QByteArray reply;
    QString words;         // the system's words for a failed write or read
};

struct KSimReceiver {
    // Poll replies say "not yet" this many times, then pairStatus; -1 never pairs.
    int pairAfterPolls = 0;
    quint8 pairStatus = PairProtocol::kStatusPaired;
    quint8 replyMarker = PairProtocol::kReplyMarker;
    quint8 queryState = 0;
    // 1-based exchange numbers (one exchange: a write and the fetch after it).
    QVector<int> failWrites;
    QVector<int> failReads;
    bool failAllWrites = false;
    bool failAllReads = false;
    // Every fetch takes this long on the machine's clock: a receiver slow to
    // answer, or with failReads a transfer the kernel gives up on (after 5 s).
    int fetchMs = 0;
    // A recorded session: when present, the receiver answers exactly as
    // recorded instead of following the protocol above.
    QVector<KSimReplayStep> replay;

    // What the receiver has seen so far.
    int exchanges = 0;
    int polls = 0;
    quint8 replyStatus = PairProtocol::kStatusWaiting;

    // A request written to the receiver: false, with the system's words, when
    // the write fails. A request the recording did not expect leaves a
    // sentence in `departure`.
    bool takeRequest(const QByteArray &frame, std::string *words, QString *departure);
    // The reply to the last request, into `buffer`: false, with the system's
    // words, when the fetch fails.
    bool giveReply(uint8_t *buffer, std::size_t length, std::string *words) const;
};

} // namespace KHID
