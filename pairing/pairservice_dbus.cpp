// SPDX-License-Identifier: MIT
// The pairing service on the system bus.
#include "pairing/pairservice.h"

#include "pairing/pairservicebus.h"
#include "pairing/polkitauthority.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDebug>

using namespace PairServiceBus;

namespace {

// Hears the service's polls; sent to this program alone.
class PollListener : public QObject
{
    Q_OBJECT

public:
    explicit PollListener(PairService *owner)
        : QObject(owner)
        , mOwner(owner)
    {
    }

    QString path;

public slots:
    void slotPoll(const QString &receiver, int attempt, const QString &status)
    {
        if (receiver == path && mOwner->running())
            emit mOwner->sigPollAttempt(attempt, status);
    }

private:
    PairService *mOwner;
};

QDBusMessage serviceCall(const char *method)
{
    return QDBusMessage::createMethodCall(QLatin1String(kName), QLatin1String(kPath), QLatin1String(kInterface),
                                          QLatin1String(method));
}

PairOutcome outcomeOf(const QDBusMessage &reply)
{
    if (reply.type() == QDBusMessage::ReplyMessage) {
        const QList<QVariant> values = reply.arguments();
        PairOutcome::Reason reason;
        if (values.size() == 2 && PairOutcome::fromKey(values.at(0).toString(), &reason))
            return {reason, values.at(1).toString()};
        return {PairOutcome::OpenFailed, QStringLiteral("the pairing service gave an answer that could not be read")};
    }
    const QString error = reply.errorName();
    if (error == QLatin1String(kNotAuthorized))
        return {PairOutcome::NotAuthorised, reply.errorMessage()};
    if (error == QLatin1String(kBusy))
        return {PairOutcome::Busy, reply.errorMessage()};
    return {PairOutcome::OpenFailed, QStringLiteral("the pairing service: %1").arg(reply.errorMessage())};
}

} // namespace

struct PairService::Private {
    PollListener *listener = nullptr;
    QDBusPendingCallWatcher *call = nullptr;
    bool listening = false;
};

PairService::PairService(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    d->listener = new PollListener(this);
}

PairService::~PairService()
{
    // Left going, the receiver would stay open for pairing until the run's end.
    stop();
}

PairService::Reach PairService::reach(QString *why)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        if (why)
            *why = QStringLiteral("the system bus is not running (%1)").arg(bus.lastError().message());
        return Reach::NoBus;
    }
    const QString name = QLatin1String(kName);
    QDBusConnectionInterface *daemon = bus.interface();
    if (daemon->isServiceRegistered(name).value())
        return Reach::Offered;
    const QDBusReply<QStringList> activatable = daemon->activatableServiceNames();
    if (activatable.isValid() && activatable.value().contains(name))
        return Reach::Offered;
    if (why)
        *why = QStringLiteral("the pairing service (%1) is not installed").arg(name);
    return Reach::NotInstalled;
}

PairService::Authorisation PairService::authorised(QString *why)
{
    QString reason;
    Authorisation result = Authorisation::Unknown;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        reason = QStringLiteral("the system bus is not running (%1)").arg(bus.lastError().message());
    } else {
        // Named by our own unique name, polkit looks the process up on the bus itself.
        QDBusPendingCall check = PolkitAuthority::check(bus, bus.baseService(), QLatin1String(kAction), {},
                                                        false, QString());
        check.waitForFinished();
        switch (PolkitAuthority::answer(check, &reason)) {
        case PolkitAuthority::Answer::Yes:
            result = Authorisation::Yes;
            break;
        case PolkitAuthority::Answer::Challenge:
            result = Authorisation::Challenge;
            break;
        case PolkitAuthority::Answer::No:
            result = Authorisation::No;
            break;
        case PolkitAuthority::Answer::Unknown:
            break;
        }
    }
    if (why)
        *why = reason;
    return result;
}

bool PairService::start(const Receiver &receiver, PairKind kind)
{
    if (running())
        return false;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!d->listening)
        d->listening = bus.connect(QLatin1String(kName), QLatin1String(kPath), QLatin1String(kInterface),
                                   QStringLiteral("Poll"), d->listener,
                                   SLOT(slotPoll(QString, int, QString)));
    d->listener->path = receiver.path();
    QDBusMessage call = serviceCall("Pair");
    call << receiver.path() << pairKindWord(kind);
    // polkit may ask this user's agent for a password.
    call.setInteractiveAuthorizationAllowed(true);
    d->call = new QDBusPendingCallWatcher(bus.asyncCall(call, kPairTimeoutMs), this);
    connect(d->call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        if (done != d->call)
            return;
        d->call = nullptr;
        const PairOutcome outcome = outcomeOf(done->reply());
        qDebug().noquote() << "pairing service:" << PairOutcome::key(outcome.reason) << outcome.detail;
        emit sigPairOutcome(outcome);
    });
    return true;
}

void PairService::stop()
{
    if (!running())
        return;
    QDBusMessage call = serviceCall("Stop");
    call << d->listener->path;
    QDBusConnection::systemBus().send(call);
}

bool PairService::running() const
{
    return d->call != nullptr;
}

#include "pairservice_dbus.moc"
