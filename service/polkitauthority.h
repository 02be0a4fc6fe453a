// SPDX-License-Identifier: MIT
#pragma once

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QMap>
#include <QString>

// polkit's authority, asked over the system bus: may this caller, named by its
// unique bus name (never by what it says of itself), do the action?
namespace PolkitAuthority {

// Starts the check. Interactive: polkit may ask the caller's agent for a
// password. `cancelId` names the check for cancel().
QDBusPendingCall check(QDBusConnection bus, const QString &caller, const QString &action,
                       const QMap<QString, QString> &details, bool interactive, const QString &cancelId);
// Withdraws a check still waiting (the caller went away); its answer is then a refusal.
void cancel(QDBusConnection bus, const QString &cancelId);
// The answer: true only for a plain yes; otherwise false with the reason
// ("not authorised", "authentication was cancelled", polkit's error).
bool allowed(const QDBusPendingCall &answer, QString *why);

} // namespace PolkitAuthority
