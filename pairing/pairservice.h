// SPDX-License-Identifier: MIT
#pragma once

#include "config/pairkind.h"
#include "config/receiver.h"
#include "pairing/pairoutcome.h"

#include <QObject>
#include <QString>

#include <memory>

// Pairing through the system's pairing service, for a receiver this user
// cannot open: the service pairs, polkit decides whether it may. Lives on the
// GUI thread (the main thread of the command line); nothing here blocks for
// longer than a question to the bus.
class PairService : public QObject
{
    Q_OBJECT

public:
    enum class Reach {
        Offered,      // the bus can start the service, or it runs
        NotInstalled, // the bus knows no such service
        NoBus,        // there is no system bus to ask
        Unsupported   // this system has no pairing service at all
    };
    // Whether polkit lets this user pair through the service.
    enum class Authorisation {
        Yes,
        Challenge, // once the user gives a password (theirs or an administrator's)
        No,
        Unknown    // polkit could not be asked
    };

    explicit PairService(QObject *parent = nullptr);
    ~PairService() override;

    // Whether the service can be asked; `why` says what is missing otherwise.
    static Reach reach(QString *why = nullptr);
    // polkit's answer for this very process, asked without any prompt; `why`
    // says why for anything but Yes.
    static Authorisation authorised(QString *why = nullptr);

    // Starts a run on the receiver; its polls come as sigPollAttempt and its end
    // as sigPairOutcome, also when the service cannot be asked. False (and
    // nothing sent) while a run of this object is going.
    bool start(const Receiver &receiver, PairKind kind);
    // Asks the service to end the run; it sends the end command and the
    // outcome follows as "stopped".
    void stop();
    bool running() const;

signals:
    void sigPollAttempt(int attempt, QString status);
    void sigPairOutcome(PairOutcome outcome);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
