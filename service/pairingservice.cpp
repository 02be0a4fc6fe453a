// SPDX-License-Identifier: MIT
#include "service/pairingservice.h"

#include "base/plaintext.h"
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
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

using namespace PairServiceBus;

namespace {

// What of a caller's text a log line or another's reply may show.
constexpr int kExcerpt = 64;

bool acceptablePath(const QString &path)
{
    if (path.isEmpty() || path.size() > PairingService::kPathLimit)
        return false;
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

qint64 now()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

PairingService::PairingService(const QDBusConnection &bus, const QString &catalogue, int idleMs,
                               int questionLimitMs, QObject *parent)
    : QObject(parent)
    , mBus(bus)
    , mCatalogue(catalogue)
    , mQuestionLimitMs(questionLimitMs)
{
    qRegisterMetaType<PairOutcome>();
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
    for (auto &entry : mRequests) {
        Request &request = *entry.second;
        if (!request.pairing())
            continue;
        request.thread->requestInterruption();
        request.thread->quit();
        request.thread->wait();
        delete request.worker;
    }
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
    std::vector<quint64> ids;
    for (const auto &entry : mRequests)
        ids.push_back(entry.first);
    for (quint64 id : ids) {
        const auto it = mRequests.find(id);
        if (it != mRequests.end())
            cancel(*it->second, QStringLiteral("the service is stopping"));
    }
    if (mRequests.empty())
        idleNow();
}

QString PairingService::Pair(const QString &receiver, const QString &kind, QString &detail)
{
    Q_UNUSED(detail);
    const QDBusMessage message = this->message();
    setDelayedReply(true);
    // Every request counts as one for the idle time, so that refusals stay in one
    // instance's count, rather than a fresh one's each time.
    if (mRequests.empty() && !mShuttingDown)
        mIdle->start();
    const QDBusReply<uint> uid = mBus.interface()->serviceUid(message.service());
    if (!uid.isValid())
        return {}; // gone already: there is no one to answer
    PairKind pairKind = PairKind::Mouse;
    if (!pairKindFromWord(kind, &pairKind)) {
        refuse(message, uid, kInvalidArgument, QStringLiteral("the kind must be \"mouse\" or \"keyboard\""));
        return {};
    }
    Receiver found;
    if (admit(message, uid, receiver, pairKind, &found))
        ask(message, uid, found, pairKind);
    return {};
}

bool PairingService::admit(const QDBusMessage &message, uint uid, const QString &receiver, PairKind pairKind,
                           Receiver *found)
{
    if (!acceptablePath(receiver)) {
        refuse(message, uid, kInvalidArgument,
               QStringLiteral("the receiver must be an interface path of 1 to %1 printable ASCII characters")
                   .arg(kPathLimit));
        return false;
    }
    if (mShuttingDown) {
        refuse(message, uid, kBusy, QStringLiteral("the pairing service is stopping"));
        return false;
    }
    // One request in flight per user: a question left unanswered holds that user's turn alone.
    if (requestOf(uid)) {
        refuse(message, uid, kBusy, QStringLiteral("a pairing request of this user is in progress"));
        return false;
    }
    if (!mLimits.takeScan(uid, now())) {
        refuse(message, uid, kBusy, QStringLiteral("too many requests from this user; try again in a moment"));
        return false;
    }
    const char *error = nullptr;
    QString words;
    if (!findReceiver(receiver, pairKind, found, &error, &words)) {
        refuse(message, uid, error, words);
        return false;
    }
    if (runOn(found->path())) {
        refuse(message, uid, kBusy, QStringLiteral("a pairing is in progress on %1").arg(found->path()));
        return false;
    }
    return true;
}

void PairingService::ask(const QDBusMessage &message, uint uid, const Receiver &found, PairKind pairKind)
{
    auto request = std::make_unique<Request>();
    request->id = mNextId++;
    request->uid = uid;
    request->caller = message.service();
    request->receiver = found;
    request->kind = pairKind;
    request->message = message;
    request->cancelId =
        QStringLiteral("bondara-pairing-%1-%2").arg(QCoreApplication::applicationPid()).arg(request->id);
    mIdle->stop();
    // Watched before polkit is asked, so that the caller's going cannot fall in between.
    mCallers->addWatchedService(request->caller);
    // polkit and a rule see what the system says the receiver is, never the caller's words.
    request->check = new QDBusPendingCallWatcher(
        PolkitAuthority::check(mBus, request->caller, QLatin1String(kAction),
                               {{QStringLiteral("receiver"), found.path()},
                                {QStringLiteral("kind"), pairKindWord(pairKind)},
                                {QStringLiteral("name"), found.entry.name}},
                               message.isInteractiveAuthorizationAllowed(), request->cancelId),
        this);
    connect(request->check, &QDBusPendingCallWatcher::finished, this, &PairingService::slotAuthorised);
    request->question = new QTimer(this);
    request->question->setSingleShot(true);
    const quint64 id = request->id;
    connect(request->question, &QTimer::timeout, this, [this, id] { slotQuestionTimedOut(id); });
    request->question->start(mQuestionLimitMs);
    mRequests.emplace(id, std::move(request));
}

bool PairingService::findReceiver(const QString &path, PairKind kind, Receiver *found, const char **error,
                                  QString *words)
{
    // The receiver is the one the system shows, as the root-owned catalogue
    // knows it, never what the caller says it is.
    ConfigController catalogue;
    if (!catalogue.loadConfig(mCatalogue)) {
        *error = "org.freedesktop.DBus.Error.Failed";
        *words = QStringLiteral("the catalogue %1 cannot be used: %2").arg(mCatalogue, catalogue.errorString());
        return false;
    }
    for (const Receiver &present : catalogue.scanReceivers()) {
        if (present.path() != path)
            continue;
        if (!present.entry.pairs(kind)) {
            *error = kUnsupportedKind;
            *words = QStringLiteral("%1 does not pair a %2").arg(present.label(), pairKindWord(kind));
            return false;
        }
        *found = present;
        return true;
    }
    *error = kNotAReceiver;
    *words = QStringLiteral("no receiver of the catalogue is at %1").arg(plainExcerpt(path, kExcerpt));
    return false;
}

QString PairingService::journalWords(const char *error, const QString &words)
{
    // The caller's own text goes back to the caller alone, never to the journal.
    if (qstrcmp(error, kNotAReceiver) == 0)
        return QStringLiteral("no receiver of the catalogue is at the path asked for");
    return plain(words);
}

void PairingService::Stop(const QString &receiver)
{
    const QString caller = message().service();
    for (auto &entry : mRequests) {
        Request &request = *entry.second;
        if (request.caller == caller && request.receiver.path() == receiver) {
            cancel(request, QStringLiteral("stopped by its caller"));
            return;
        }
    }
    sendErrorReply(QLatin1String(kNotRunning),
                   QStringLiteral("no pairing of yours runs on %1").arg(plainExcerpt(receiver, kExcerpt)));
}

void PairingService::slotAuthorised(QDBusPendingCallWatcher *check)
{
    check->deleteLater();
    Request *request = requestBy(check);
    if (!request)
        return;
    request->check = nullptr;
    delete request->question;
    request->question = nullptr;
    QString why;
    if (!PolkitAuthority::allowed(*check, &why)) {
        refuse(request->message, request->uid, kNotAuthorized,
               QStringLiteral("pairing is not authorised for this user: %1").arg(why));
        finish(request->id);
        return;
    }
    // Another user's request for the same receiver may have been allowed first.
    if (runOn(request->receiver.path())) {
        refuse(request->message, request->uid, kBusy,
               QStringLiteral("a pairing is in progress on %1").arg(request->receiver.path()));
        finish(request->id);
        return;
    }
    startRun(*request);
}

void PairingService::startRun(Request &request)
{
    request.thread = new QThread(this);
    request.worker = new MouseCommunityBT;
    request.worker->moveToThread(request.thread);
    const quint64 id = request.id;
    connect(request.worker, &MouseCommunity::sigPairOutcome, this,
            [this, id](const PairOutcome &outcome) { slotOutcome(id, outcome); });
    connect(request.worker, &MouseCommunity::sigPollAttempt, this,
            [this, id](int attempt, const QString &status) { slotPoll(id, attempt, status); });
    request.worker->handOver(request.receiver);
    // The run is the thread's first and only work: whatever was set up before start() is
    // seen by it, with no queue in between.
    MouseCommunityBT *worker = request.worker;
    const PairKind kind = request.kind;
    connect(request.thread, &QThread::started, worker, [worker, kind] { worker->startPairing(kind); });
    qInfo().noquote() << QStringLiteral("pairing %1 starts: uid %2, %3 on %4 (%5)")
                             .arg(id)
                             .arg(request.uid)
                             .arg(pairKindWord(request.kind), request.receiver.path(),
                                  plainExcerpt(request.receiver.entry.name, kExcerpt));
    request.thread->start();
}

void PairingService::slotQuestionTimedOut(quint64 id)
{
    const auto it = mRequests.find(id);
    if (it == mRequests.end() || !it->second->check)
        return;
    Request &request = *it->second;
    withdrawQuestion(request);
    refuse(request.message, request.uid, kNotAuthorized,
           QStringLiteral("pairing is not authorised for this user: the password question was not answered "
                          "within %1 s")
               .arg(mQuestionLimitMs / 1000));
    finish(id);
}

void PairingService::slotCallerGone(const QString &name)
{
    std::vector<quint64> ids;
    for (const auto &entry : mRequests) {
        if (entry.second->caller == name)
            ids.push_back(entry.first);
    }
    for (quint64 id : ids) {
        const auto it = mRequests.find(id);
        if (it != mRequests.end())
            cancel(*it->second, QStringLiteral("its caller went away"));
    }
}

void PairingService::cancel(Request &request, const QString &why)
{
    if (request.pairing()) {
        // The worker ends with the end command; its outcome ends the request.
        request.endWhy = why;
        request.worker->abortRun(PairOutcome::Stopped);
        return;
    }
    // Nothing reached the receiver: the question alone is withdrawn.
    withdrawQuestion(request);
    mBus.send(request.message.createReply({PairOutcome::key(PairOutcome::Stopped), QString()}));
    finish(request.id);
}

void PairingService::withdrawQuestion(Request &request)
{
    if (request.check) {
        PolkitAuthority::cancel(mBus, request.cancelId);
        request.check->disconnect(this);
        request.check->deleteLater();
        request.check = nullptr;
    }
    delete request.question;
    request.question = nullptr;
}

void PairingService::slotOutcome(quint64 id, const PairOutcome &outcome)
{
    const auto it = mRequests.find(id);
    if (it == mRequests.end() || !it->second->pairing())
        return;
    Request &request = *it->second;
    const QString &why = request.endWhy;
    qInfo().noquote() << QStringLiteral("pairing %1 ends: uid %2 on %3: %4%5")
                             .arg(id)
                             .arg(request.uid)
                             .arg(request.receiver.path(), outcome.describe(),
                                  why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why));
    mBus.send(request.message.createReply({PairOutcome::key(outcome.reason), outcome.detail}));
    // The outcome is the run's last word: the worker's thread has nothing left to do.
    request.thread->quit();
    request.thread->wait();
    delete request.worker;
    request.worker = nullptr;
    delete request.thread;
    request.thread = nullptr;
    finish(id);
}

void PairingService::slotPoll(quint64 id, int attempt, const QString &status)
{
    const auto it = mRequests.find(id);
    if (it == mRequests.end() || !it->second->pairing())
        return;
    const Request &request = *it->second;
    QDBusMessage poll = QDBusMessage::createTargetedSignal(request.caller, QLatin1String(kPath),
                                                           QLatin1String(kInterface), QStringLiteral("Poll"));
    poll << request.receiver.path() << attempt << status;
    mBus.send(poll);
}

void PairingService::refuse(const QDBusMessage &message, uint uid, const char *error, const QString &words)
{
    int untold = 0;
    const bool logged = mLimits.takeLine(uid, now(), &untold);
    if (untold > 0)
        qInfo().noquote() << QStringLiteral("uid %1: %2 more refusals were not logged").arg(uid).arg(untold);
    if (logged) {
        const QString name = QString::fromLatin1(error).section(QLatin1Char('.'), -1);
        qInfo().noquote() << QStringLiteral("uid %1 refused (%2): %3").arg(uid).arg(name, journalWords(error, words));
    }
    mBus.send(message.createErrorReply(QLatin1String(error), words));
}

void PairingService::finish(quint64 id)
{
    const auto it = mRequests.find(id);
    if (it == mRequests.end())
        return;
    const QString caller = it->second->caller;
    mRequests.erase(it);
    bool watched = false;
    for (const auto &entry : mRequests)
        watched = watched || entry.second->caller == caller;
    if (!watched)
        mCallers->removeWatchedService(caller);
    if (!mRequests.empty())
        return;
    if (mShuttingDown)
        idleNow();
    else
        mIdle->start();
}

void PairingService::idleNow()
{
    if (!mRequests.empty())
        return;
    for (const QPair<uint, int> &untold : mLimits.takeUntold())
        qInfo().noquote() << QStringLiteral("uid %1: %2 more refusals were not logged").arg(untold.first).arg(untold.second);
    emit sigIdle();
}

PairingService::Request *PairingService::requestOf(uint uid)
{
    for (auto &entry : mRequests) {
        if (entry.second->uid == uid)
            return entry.second.get();
    }
    return nullptr;
}

PairingService::Request *PairingService::runOn(const QString &path)
{
    for (auto &entry : mRequests) {
        if (entry.second->pairing() && entry.second->receiver.path() == path)
            return entry.second.get();
    }
    return nullptr;
}

PairingService::Request *PairingService::requestBy(QDBusPendingCallWatcher *check)
{
    for (auto &entry : mRequests) {
        if (entry.second->check == check)
            return entry.second.get();
    }
    return nullptr;
}
