// SPDX-License-Identifier: MIT
#pragma once

// The receiver's pairing protocol, as the pairing worker speaks it and the
// simulated receiver answers it: one definition, so the two cannot drift apart.

#include <QtGlobal>

namespace PairProtocol {

// Every request and every reply travels as this report.
constexpr quint8 kReportId = 0xBA;

// A request: a command byte, then its argument.
// Begin, A0 81 <kind> 01: the receiver takes the next device of that kind.
constexpr quint8 kBegin = 0xA0;
constexpr quint8 kBeginArgument = 0x81;
constexpr quint8 kBeginLast = 0x01;
// Poll (A1 01) and end (A1 84) share their command byte.
constexpr quint8 kPairing = 0xA1;
constexpr quint8 kPoll = 0x01;
constexpr quint8 kEnd = 0x84;
// A7 00 00 00: the receiver's state comes back as the reply's status.
constexpr quint8 kQuery = 0xA7;

// The kind of device a begin asks for.
constexpr quint8 kKindMouse = 0x01;
constexpr quint8 kKindKeyboard = 0x02;

// A reply: the marker, then the status.
constexpr quint8 kReplyMarker = 0x01;
constexpr quint8 kStatusWaiting = 0x00;
// Either of these: a device paired.
constexpr quint8 kStatusPaired = 0x01;
constexpr quint8 kStatusPairedToo = 0x02;

} // namespace PairProtocol
