// SPDX-License-Identifier: MIT
#pragma once

#include "config/pairkind.h"
#include "config/receiver.h"
#include "pairing/pairoutcome.h"
#include "service/callerlimits.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QString>

#include <map>
#include <memory>

class MouseCommunityBT;
class QDBusPendingCallWatcher;
class QDBusServiceWatcher;
class QThread;
class QTimer;

// The pairing service on the system bus: pairs a mouse or a keyboard on a
// receiver of the installed catalogue for a caller polkit allows, one run per
// receiver, several receivers at once, and ends a run with the end command
// when its caller goes away.
//
// A request is checked before it holds anything others need: its arguments,
// the receiver against a fresh scan, then polkit. Only a run holds its
// receiver; the pairing lock on the receiver's node keeps other programs out.
class PairingService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.bondara.Pairing1")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"org.bondara.Pairing1\">\n"
                "    <method name=\"Pair\">\n"
                "      <arg name=\"receiver\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"kind\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"reason\" type=\"s\" direction=\"out\"/>\n"
                "      <arg name=\"detail\" type=\"s\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"Stop\">\n"
                "      <arg name=\"receiver\" type=\"s\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <signal name=\"Poll\">\n"
                "      <arg name=\"receiver\" type=\"s\"/>\n"
                "      <arg name=\"attempt\" type=\"i\"/>\n"
                "      <arg name=\"status\" type=\"s\"/>\n"
                "    </signal>\n"
                "  </interface>\n")

public:
    // How long polkit may wait for a password before the request is refused.
    static constexpr int kQuestionLimitMs = 2 * 60 * 1000;
    // Interface paths the systems give are short and printable ASCII.
    static constexpr int kPathLimit = 256;

    // The catalogue is read again for every request, so an entry added to it
    // pairs at once. The service ends after `idleMs` without a request.
    PairingService(const QDBusConnection &bus, const QString &catalogue, int idleMs,
                   int questionLimitMs = kQuestionLimitMs, QObject *parent = nullptr);
    ~PairingService() override;

    // Puts the object and the name on the bus; false with the reason.
    bool publish(QString *error);
    // Ends every run with the end command and withdraws every question;
    // sigIdle follows once nothing is left.
    void shutdown();

public slots:
    // Answered when the run is over, with the outcome's key and detail.
    QString Pair(const QString &receiver, const QString &kind, QString &detail);
    void Stop(const QString &receiver);

signals:
    // Nothing to do for the idle time, or a shutdown finished: the program may end.
    void sigIdle();

private:
    // One request, from its checks to its outcome.
    struct Request {
        quint64 id = 0;
        uint uid = 0;
        QString caller;
        // As the scan found it: never the caller's words.
        Receiver receiver;
        PairKind kind = PairKind::Mouse;
        QDBusMessage message;
        QString cancelId;
        // While polkit is asked, and how long it may take.
        QDBusPendingCallWatcher *check = nullptr;
        QTimer *question = nullptr;
        // Once allowed: the run on its own worker.
        QThread *thread = nullptr;
        MouseCommunityBT *worker = nullptr;
        // Why it was cut short, for its end line.
        QString endWhy;
        bool pairing() const { return worker != nullptr; }
    };

    // False, the caller answered with the refusal, for a request that cannot be taken;
    // else `found` is the receiver it pairs.
    bool admit(const QDBusMessage &message, uint uid, const QString &receiver, PairKind kind, Receiver *found);
    // The request waits for polkit, within the bound of a password question.
    void ask(const QDBusMessage &message, uint uid, const Receiver &found, PairKind kind);
    // The receiver at `path` that the caller may ask for, or why not (an error reply's name and words).
    bool findReceiver(const QString &path, PairKind kind, Receiver *found, const char **error, QString *words);
    void slotAuthorised(QDBusPendingCallWatcher *check);
    void slotQuestionTimedOut(quint64 id);
    void slotCallerGone(const QString &name);
    void slotOutcome(quint64 id, const PairOutcome &outcome);
    void slotPoll(quint64 id, int attempt, const QString &status);
    void startRun(Request &request);
    // Ends a request: a run at its next exchange with the end command, a
    // question at once; `why` joins its end line.
    void cancel(Request &request, const QString &why);
    void withdrawQuestion(Request &request);
    void refuse(const QDBusMessage &message, uint uid, const char *error, const QString &words);
    // What of a refusal's words the journal gets.
    static QString journalWords(const char *error, const QString &words);
    void finish(quint64 id);
    void idleNow();
    Request *requestOf(uint uid);
    Request *runOn(const QString &path);
    Request *requestBy(QDBusPendingCallWatcher *check);

    QDBusConnection mBus;
    QString mCatalogue;
    QDBusServiceWatcher *mCallers = nullptr;
    QTimer *mIdle = nullptr;
    int mQuestionLimitMs;
    std::map<quint64, std::unique_ptr<Request>> mRequests;
    CallerLimits mLimits;
    quint64 mNextId = 1;
    bool mShuttingDown = false;
};
