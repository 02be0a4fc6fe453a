// SPDX-License-Identifier: MIT
#pragma once

// The pairing service on the system bus, as the service and its callers name it.
//
//   Pair(s receiver, s kind) -> (s reason, s detail)
//       Pairs a "mouse" or a "keyboard" on the receiver at that interface path;
//       answers when the run is over, with the outcome's key and detail.
//   Stop(s receiver)
//       Ends the caller's own run on that receiver; the end command follows.
//   signal Poll(s receiver, i attempt, s status)
//       Each exchange of the poll, sent to the run's caller alone.
namespace PairServiceBus {

constexpr const char *kName = "org.bondara.Pairing1";
constexpr const char *kPath = "/org/bondara/Pairing1";
constexpr const char *kInterface = "org.bondara.Pairing1";
// The polkit action every call is checked against.
constexpr const char *kAction = "org.bondara.pair";

// The service's refusals.
constexpr const char *kNotAuthorized = "org.bondara.Pairing1.Error.NotAuthorized";
constexpr const char *kInvalidArgument = "org.bondara.Pairing1.Error.InvalidArgument";
constexpr const char *kNotAReceiver = "org.bondara.Pairing1.Error.NotAReceiver";
constexpr const char *kUnsupportedKind = "org.bondara.Pairing1.Error.UnsupportedKind";
constexpr const char *kBusy = "org.bondara.Pairing1.Error.Busy";
constexpr const char *kNotRunning = "org.bondara.Pairing1.Error.NotRunning";

// A run's answer comes after the poll (about 30 s) and any password prompt.
constexpr int kPairTimeoutMs = 10 * 60 * 1000;

} // namespace PairServiceBus
