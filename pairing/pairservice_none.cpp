// SPDX-License-Identifier: MIT
// Systems without a system bus: every receiver is opened by the program itself.
#include "pairing/pairservice.h"

#include <QTimer>

struct PairService::Private {
};

PairService::PairService(QObject *parent)
    : QObject(parent)
{
}

PairService::~PairService() = default;

PairService::Reach PairService::reach(QString *why)
{
    if (why)
        *why = QStringLiteral("this system has no pairing service");
    return Reach::Unsupported;
}

PairService::Authorisation PairService::authorised(QString *why)
{
    if (why)
        *why = QStringLiteral("this system has no pairing service");
    return Authorisation::Unknown;
}

bool PairService::start(const Receiver &, PairKind)
{
    QTimer::singleShot(0, this, [this] {
        emit sigPairOutcome({PairOutcome::OpenFailed, QStringLiteral("this system has no pairing service")});
    });
    return true;
}

void PairService::stop()
{
}

bool PairService::running() const
{
    return false;
}
