// SPDX-License-Identifier: MIT
#pragma once

#include "config/pairkind.h"
#include "config/receiver.h"
#include "pairing/pairoutcome.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QString>

#include <optional>

class MouseCommunityBT;
class QDBusPendingCallWatcher;
class QDBusServiceWatcher;
class QThread;
class QTimer;

// The pairing service on the system bus: pairs a mouse or a keyboard on a
// receiver of the installed catalogue for a caller polkit allows, one run at a
// time, and ends the run with the end command when its caller goes away.
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
    // The catalogue is read again for every request, so an entry added to it
    // pairs at once. The service ends after `idleMs` without a request.
    PairingService(const QDBusConnection &bus, const QString &catalogue, int idleMs, QObject *parent = nullptr);
    ~PairingService() override;

    // Puts the object and the name on the bus; false with the reason.
    bool publish(QString *error);
    // Ends the run in progress, if any, with the end command; sigIdle follows
    // once nothing is left to do.
    void shutdown();

public slots:
    // Answered when the run is over, with the outcome's key and detail.
    QString Pair(const QString &receiver, const QString &kind, QString &detail);
    void Stop(const QString &receiver);

signals:
    // Nothing to do for the idle time, or a shutdown finished: the program may end.
    void sigIdle();

private:
    struct Run {
        QString caller;
        QString path;
        PairKind kind = PairKind::Mouse;
        QDBusMessage request;
        QString cancelId;
        // Waiting for polkit until the run is handed to the worker.
        QDBusPendingCallWatcher *check = nullptr;
        bool pairing = false;
    };

    void slotAuthorised(QDBusPendingCallWatcher *check);
    void slotCallerGone(const QString &name);
    void slotOutcome(const PairOutcome &outcome);
    void slotPoll(int attempt, const QString &status);
    // Ends the run's wait for polkit or its pairing; `why` goes to the log.
    void cancelRun(const char *why);
    void refuse(const QDBusMessage &request, const char *error, const QString &words);
    void endRun();
    void idleNow();

    QDBusConnection mBus;
    QString mCatalogue;
    QThread *mThread = nullptr;
    MouseCommunityBT *mWorker = nullptr;
    QDBusServiceWatcher *mCallers = nullptr;
    QTimer *mIdle = nullptr;
    std::optional<Run> mRun;
    quint64 mChecks = 0;
    bool mShuttingDown = false;
};
