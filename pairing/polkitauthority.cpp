// SPDX-License-Identifier: MIT
#include "pairing/polkitauthority.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

const char *const kService = "org.freedesktop.PolicyKit1";
const char *const kPath = "/org/freedesktop/PolicyKit1/Authority";
const char *const kInterface = "org.freedesktop.PolicyKit1.Authority";
constexpr uint kAllowUserInteraction = 1;

// polkit's subject, (sa{sv}): a kind and what names it.
struct Subject {
    QString kind;
    QVariantMap details;
};

using Details = QMap<QString, QString>;

} // namespace

Q_DECLARE_METATYPE(Subject)

namespace {

QDBusArgument &operator<<(QDBusArgument &argument, const Subject &subject)
{
    argument.beginStructure();
    argument << subject.kind << subject.details;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Subject &subject)
{
    argument.beginStructure();
    argument >> subject.kind >> subject.details;
    argument.endStructure();
    return argument;
}

QDBusMessage authorityCall(const char *method)
{
    return QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                                          QLatin1String(method));
}

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<Subject>();
        qDBusRegisterMetaType<Details>();
        return true;
    }();
    Q_UNUSED(registered);
}

} // namespace

namespace PolkitAuthority {

QDBusPendingCall check(QDBusConnection bus, const QString &caller, const QString &action,
                       const QMap<QString, QString> &details, bool interactive, const QString &cancelId)
{
    registerTypes();
    QDBusMessage call = authorityCall("CheckAuthorization");
    const Subject subject{QStringLiteral("system-bus-name"), {{QStringLiteral("name"), caller}}};
    call << QVariant::fromValue(subject) << action << QVariant::fromValue(Details(details))
         << uint(interactive ? kAllowUserInteraction : 0) << cancelId;
    // The user may take their time over a password; without one polkit answers at once.
    return bus.asyncCall(call, interactive ? 24 * 60 * 60 * 1000 : -1);
}

void cancel(QDBusConnection bus, const QString &cancelId)
{
    QDBusMessage call = authorityCall("CancelCheckAuthorization");
    call << cancelId;
    bus.send(call);
}

Answer answer(const QDBusPendingCall &reply, QString *why)
{
    const QDBusMessage message = reply.reply();
    if (message.type() != QDBusMessage::ReplyMessage) {
        *why = QStringLiteral("polkit could not be asked: %1").arg(message.errorMessage());
        return Answer::Unknown;
    }
    const QList<QVariant> values = message.arguments();
    if (values.isEmpty() || !values.first().canConvert<QDBusArgument>()) {
        *why = QStringLiteral("polkit's answer could not be read");
        return Answer::Unknown;
    }
    // (bba{ss}): authorised, a challenge (authentication would be needed), details.
    bool authorised = false;
    bool challenge = false;
    Details details;
    const QDBusArgument result = values.first().value<QDBusArgument>();
    result.beginStructure();
    result >> authorised >> challenge >> details;
    result.endStructure();
    if (authorised)
        return Answer::Yes;
    if (details.value(QStringLiteral("polkit.dismissed")) == QLatin1String("true")) {
        *why = QStringLiteral("authentication was cancelled");
        return Answer::No;
    }
    if (challenge) {
        *why = QStringLiteral("authentication is required and none was given");
        return Answer::Challenge;
    }
    *why = QStringLiteral("not authorised");
    return Answer::No;
}

bool allowed(const QDBusPendingCall &reply, QString *why)
{
    return answer(reply, why) == Answer::Yes;
}

} // namespace PolkitAuthority
