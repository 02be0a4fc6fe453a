// SPDX-License-Identifier: MIT
#include "sim/ksimreceiver.h"

#include <algorithm>
#include <cstring>

namespace KHID {

using namespace PairProtocol;

bool KSimReceiver::takeRequest(const QByteArray &frame, std::string *words, QString *departure)
{
    const int exchange = ++exchanges;
    if (!replay.isEmpty()) {
        if (exchange > replay.size()) {
            *departure = QStringLiteral("replay: request %1 (%2) comes after the %3 recorded")
                             .arg(exchange).arg(QString::fromLatin1(frame.toHex(' '))).arg(replay.size());
            *words = "No such device (the recording ends here)";
            return false;
        }
        const KSimReplayStep &step = replay.at(exchange - 1);
        if (frame != step.write)
            *departure = QStringLiteral("replay: request %1 departs from the recording: sent %2, recorded %3")
                             .arg(exchange)
                             .arg(QString::fromLatin1(frame.toHex(' ')), QString::fromLatin1(step.write.toHex(' ')));
        if (step.writeFails) {
            *words = step.words.toStdString();
            return false;
        }
        return true;
    }

    if (failAllWrites || failWrites.contains(exchange)) {
        *words = "Input/output error (simulated)";
        return false;
    }
    replyStatus = kStatusWaiting;
    const quint8 command = frame.size() > 1 ? quint8(frame.at(1)) : 0;
    const quint8 argument = frame.size() > 2 ? quint8(frame.at(2)) : 0;
    if (command == kBegin && argument == kBeginArgument) {
        polls = 0;
    } else if (command == kPairing && argument == kPoll) {
        ++polls;
        if (pairAfterPolls >= 0 && polls > pairAfterPolls)
            replyStatus = pairStatus;
    } else if (command == kQuery) {
        replyStatus = queryState;
    }
    return true;
}

bool KSimReceiver::giveReply(uint8_t *buffer, std::size_t length, std::string *words) const
{
    if (!replay.isEmpty()) {
        const KSimReplayStep *step =
            exchanges >= 1 && exchanges <= replay.size() ? &replay.at(exchanges - 1) : nullptr;
        if (step && step->hasReply && !step->readFails) {
            std::memset(buffer, 0, length);
            std::memcpy(buffer, step->reply.constData(), std::min<std::size_t>(length, step->reply.size()));
            return true;
        }
        *words = step && step->readFails ? step->words.toStdString() : "Input/output error (nothing recorded)";
        return false;
    }

    if (failAllReads || failReads.contains(exchanges) || length < 2) {
        *words = "Input/output error (simulated)";
        return false;
    }
    std::memset(buffer, 0, length);
    buffer[0] = replyMarker;
    buffer[1] = replyStatus;
    return true;
}

} // namespace KHID
