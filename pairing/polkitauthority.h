// SPDX-License-Identifier: MIT
#pragma once

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QMap>
#include <QString>

// polkit's authority, asked over the system bus: may this caller, named by its
// unique bus name (never by what it says of itself), do the action? The
// pairing service asks it of its callers, the command line of itself.
namespace PolkitAuthority {

enum class Answer {
    Yes,
    Challenge, // yes once the user authenticates (interactive checks only ask)
    No,
    Unknown    // polkit could not be asked, or its answer not read
};

// Starts the check. Interactive: polkit may ask the caller's agent for a
// password. `cancelId` names the check for cancel(); empty for none.
QDBusPendingCall check(QDBusConnection bus, const QString &caller, const QString &action,
                       const QMap<QString, QString> &details, bool interactive, const QString &cancelId);
// Withdraws a check still waiting (the caller went away); its answer is then a refusal.
void cancel(QDBusConnection bus, const QString &cancelId);
// The answer, with the reason for anything but Yes ("not authorised",
// "authentication was cancelled", polkit's error).
Answer answer(const QDBusPendingCall &reply, QString *why);
// True only for a plain yes.
bool allowed(const QDBusPendingCall &reply, QString *why);

} // namespace PolkitAuthority
