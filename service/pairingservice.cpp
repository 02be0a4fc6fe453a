// SPDX-License-Identifier: MIT
#include "service/pairingservice.h"

#include "config/configcontroller.h"
#include "pairing/mousecommunitybt.h"
#include "pairing/pairservicebus.h"
#include "pairing/polkitauthority.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDebug>
#include <QThread>
#include <QTimer>

using namespace PairServiceBus;

namespace {

// Longer than any interface path the systems give, short enough to log.
constexpr int kPathLimit = 4096;

bool acceptablePath(const QString &path)
{
    if (path.isEmpty() || path.size() > kPathLimit)
        return false;
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

} // namespace

PairingService::PairingService(const QDBusConnection &bus, const QString &catalogue, int idleMs, QObject *parent)
    : QObject(parent)
    , mBus(bus)
    , mCatalogue(catalogue)
{
    mThread = new QThread(this);
    mWorker = new MouseCommunityBT;
    mWorker->moveToThread(mThread);
    connect(mWorker, &MouseCommunity::sigPairOutcome, this, &PairingService::slotOutcome);
    connect(mWorker, &MouseCommunity::sigPollAttempt, this, &PairingService::slotPoll);
    mThread->start();

    mCallers = new QDBusServiceWatcher(this);
    mCallers->setConnection(mBus);
    mCallers->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(mCallers, &QDBusServiceWatcher::serviceUnregistered, this, &PairingService::slotCallerGone);

    mIdle = new QTimer(this);
    mIdle->setSingleShot(true);
    mIdle->setInterval(idleMs);
    connect(mIdle, &QTimer::timeout, this, &PairingService::idleNow);
    mIdle->start();
}

PairingService::~PairingService()
{
    // A run still going is cut short with its end command.
    mThread->requestInterruption();
    mThread->quit();
    mThread->wait();
    delete mWorker;
}

bool PairingService::publish(QString *error)
{
    if (!mBus.isConnected()) {
        *error = QStringLiteral("no system bus: %1").arg(mBus.lastError().message());
        return false;
    }
    if (!mBus.registerObject(QLatin1String(kPath), this, QDBusConnection::ExportAllSlots)) {
        *error = QStringLiteral("cannot register %1").arg(QLatin1String(kPath));
        return false;
    }
    if (!mBus.registerService(QLatin1String(kName))) {
        *error = QStringLiteral("cannot take the name %1: %2").arg(QLatin1String(kName), mBus.lastError().message());
        return false;
    }
    return true;
}

void PairingService::shutdown()
{
    mShuttingDown = true;
    mIdle->stop();
    if (mRun)
        cancelRun("the service is stopping");
    else
        emit sigIdle();
}

QString PairingService::Pair(const QString &receiver, const QString &kind, QString &detail)
{
    Q_UNUSED(detail);
    const QDBusMessage request = message();
    setDelayedReply(true);
    if (kind != QLatin1String("mouse") && kind != QLatin1String("keyboard")) {
        refuse(request, kInvalidArgument, QStringLiteral("the kind must be \"mouse\" or \"keyboard\""));
        return {};
    }
    if (!acceptablePath(receiver)) {
        refuse(request, kInvalidArgument,
               QStringLiteral("the receiver must be an interface path of 1 to %1 printable characters")
                   .arg(kPathLimit));
        return {};
    }
    if (mShuttingDown) {
        refuse(request, kBusy, QStringLiteral("the pairing service is stopping"));
        return {};
    }
    if (mRun) {
        // One run at a time: the worker has one thread, and a receiver one pairing.
        refuse(request, kBusy, QStringLiteral("a pairing is in progress on %1").arg(mRun->path));
        return {};
    }

    Run run;
    run.caller = request.service();
    run.path = receiver;
    run.kind = kind == QLatin1String("keyboard") ? PairKind::Keyboard : PairKind::Mouse;
    run.request = request;
    run.cancelId = QStringLiteral("bondara-pairing-%1-%2").arg(QCoreApplication::applicationPid()).arg(++mChecks);
    mIdle->stop();
    // Watched before it is asked about, so that its going cannot fall in between.
    mCallers->addWatchedService(run.caller);
    const QDBusReply<uint> uid = mBus.interface()->serviceUid(run.caller);
    if (!uid.isValid()) {
        qInfo().noquote() << "pairing request from" << run.caller << "dropped: the caller is gone";
        mCallers->removeWatchedService(run.caller);
        mIdle->start();
        return {};
    }
    qInfo().noquote() << QStringLiteral("pair %1 on %2 for %3 (uid %4)")
                             .arg(kind, receiver, run.caller)
                             .arg(uid.value());
    run.check = new QDBusPendingCallWatcher(
        PolkitAuthority::check(mBus, run.caller, QLatin1String(kAction),
                               {{QStringLiteral("receiver"), receiver}, {QStringLiteral("kind"), kind}},
                               request.isInteractiveAuthorizationAllowed(), run.cancelId),
        this);
    connect(run.check, &QDBusPendingCallWatcher::finished, this, &PairingService::slotAuthorised);
    mRun = run;
    return {};
}

void PairingService::Stop(const QString &receiver)
{
    const QString caller = message().service();
    if (!mRun || mRun->caller != caller || mRun->path != receiver) {
        sendErrorReply(QLatin1String(kNotRunning), QStringLiteral("no pairing of yours runs on %1").arg(receiver));
        return;
    }
    cancelRun("stopped by its caller");
}

void PairingService::slotAuthorised(QDBusPendingCallWatcher *check)
{
    check->deleteLater();
    if (!mRun || mRun->check != check)
        return;
    mRun->check = nullptr;
    const QDBusMessage request = mRun->request;
    QString why;
    if (!PolkitAuthority::allowed(*check, &why)) {
        qInfo().noquote() << "refused" << mRun->caller << ":" << why;
        refuse(request, kNotAuthorized, QStringLiteral("pairing is not authorised for this user: %1").arg(why));
        endRun();
        return;
    }

    // The receiver is the one the system shows, as the root-owned catalogue
    // knows it, never what the caller says it is.
    ConfigController catalogue;
    if (!catalogue.loadConfig(mCatalogue)) {
        refuse(request, "org.freedesktop.DBus.Error.Failed",
               QStringLiteral("the catalogue %1 cannot be used: %2").arg(mCatalogue, catalogue.errorString()));
        endRun();
        return;
    }
    std::optional<Receiver> found;
    for (const Receiver &present : catalogue.scanReceivers()) {
        if (present.path() == mRun->path) {
            found = present;
            break;
        }
    }
    if (!found) {
        refuse(request, kNotAReceiver, QStringLiteral("no receiver of the catalogue is at %1").arg(mRun->path));
        endRun();
        return;
    }
    if (!found->entry.pairs(mRun->kind)) {
        refuse(request, kUnsupportedKind,
               QStringLiteral("%1 does not pair a %2")
                   .arg(found->label(), mRun->kind == PairKind::Keyboard ? QStringLiteral("keyboard")
                                                                         : QStringLiteral("mouse")));
        endRun();
        return;
    }
    mRun->pairing = true;
    mWorker->clearAbort();
    mWorker->handOver(*found);
    const PairKind kind = mRun->kind;
    MouseCommunityBT *worker = mWorker;
    QMetaObject::invokeMethod(worker, [worker, kind] { worker->startPairing(kind); }, Qt::QueuedConnection);
}

void PairingService::slotCallerGone(const QString &name)
{
    if (mRun && mRun->caller == name)
        cancelRun("its caller went away");
}

void PairingService::cancelRun(const char *why)
{
    if (!mRun)
        return;
    qInfo().noquote() << "pairing on" << mRun->path << "ends:" << why;
    if (mRun->pairing) {
        // The worker ends with the end command; its outcome ends the run.
        mWorker->abortRun(PairOutcome::Stopped);
        return;
    }
    if (mRun->check) {
        PolkitAuthority::cancel(mBus, mRun->cancelId);
        mRun->check->disconnect(this);
        mRun->check->deleteLater();
        mRun->check = nullptr;
    }
    // Nothing reached the receiver.
    mBus.send(mRun->request.createReply({PairOutcome::key(PairOutcome::Stopped), QString()}));
    endRun();
}

void PairingService::slotOutcome(const PairOutcome &outcome)
{
    if (!mRun || !mRun->pairing)
        return;
    qInfo().noquote() << "pairing on" << mRun->path << "for" << mRun->caller << ":" << outcome.describe();
    mBus.send(mRun->request.createReply({PairOutcome::key(outcome.reason), outcome.detail}));
    endRun();
}

void PairingService::slotPoll(int attempt, const QString &status)
{
    if (!mRun || !mRun->pairing)
        return;
    QDBusMessage poll = QDBusMessage::createTargetedSignal(mRun->caller, QLatin1String(kPath),
                                                           QLatin1String(kInterface), QStringLiteral("Poll"));
    poll << mRun->path << attempt << status;
    mBus.send(poll);
}

void PairingService::refuse(const QDBusMessage &request, const char *error, const QString &words)
{
    qInfo().noquote() << "refused" << request.service() << ":" << error << words;
    mBus.send(request.createErrorReply(QLatin1String(error), words));
}

void PairingService::endRun()
{
    if (mRun)
        mCallers->removeWatchedService(mRun->caller);
    mRun.reset();
    if (mShuttingDown)
        emit sigIdle();
    else
        mIdle->start();
}

void PairingService::idleNow()
{
    if (!mRun)
        emit sigIdle();
}
