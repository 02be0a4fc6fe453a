// SPDX-License-Identifier: MIT
#include "pairing/pairservicecheck.h"

#include "pairing/pairservicebus.h"

using namespace PairServiceBus;

namespace {

// A finding that is not ok says what is missing, unless the service pairs already.
void add(ServiceFacts &facts, KHID::KCheck::Level level, const char *name, const QString &text, const QString &fix)
{
    facts.findings.append({level, name, text, level == KHID::KCheck::Ok ? QString() : fix});
    if (level != KHID::KCheck::Ok && !facts.pairs)
        facts.missing = fix;
}

// Whether the bus reaches the service.
bool addReach(ServiceFacts &facts, PairService::Reach reach, const QString &unreached)
{
    switch (reach) {
    case PairService::Reach::Unsupported:
        return false;
    case PairService::Reach::Offered:
        add(facts, KHID::KCheck::Ok, "service",
            QStringLiteral("the pairing service %1 is installed and the system bus reaches it").arg(kName), QString());
        return true;
    case PairService::Reach::NoBus:
    case PairService::Reach::NotInstalled:
        break;
    }
    const bool noBus = reach == PairService::Reach::NoBus;
    add(facts, KHID::KCheck::Warning, "service",
        noBus ? QStringLiteral("the pairing service cannot be asked: %1").arg(unreached) : unreached,
        noBus ? QStringLiteral("start the system bus (dbus), which starts the pairing service when asked")
              : QStringLiteral("reinstall bondara's package: it brings the pairing service (bondara-pairingd), "
                               "which the system bus starts when asked"));
    return false;
}

void addAnswer(ServiceFacts &facts, PairService::Authorisation answer, const QString &unanswered)
{
    switch (answer) {
    case PairService::Authorisation::Yes:
        facts.pairs = true;
        add(facts, KHID::KCheck::Ok, "polkit",
            QStringLiteral("polkit lets this user pair through the service (action %1)").arg(kAction), QString());
        break;
    case PairService::Authorisation::Challenge:
        // A warning: without the password, or with no agent to ask for it
        // (a desktop's, or polkit's text agent on a terminal), it is refused.
        facts.pairs = true;
        add(facts, KHID::KCheck::Warning, "polkit",
            QStringLiteral("polkit lets this user pair through the service (action %1) once a password is given: "
                           "yours or an administrator's, as the system's policy says")
                .arg(kAction),
            QStringLiteral("have that password ready: the desktop's authentication agent asks for it, or bondara-cli "
                           "pair on its terminal; or ask an administrator to allow %1 for you without one")
                .arg(kAction));
        break;
    case PairService::Authorisation::No:
        add(facts, KHID::KCheck::Problem, "polkit",
            QStringLiteral("polkit does not let this user pair through the service (action %1): %2")
                .arg(kAction, unanswered),
            QStringLiteral("ask an administrator to allow you the polkit action %1 (a rule in "
                           "/etc/polkit-1/rules.d)")
                .arg(kAction));
        break;
    case PairService::Authorisation::Unknown:
        add(facts, KHID::KCheck::Warning, "polkit",
            QStringLiteral("polkit cannot tell whether this user may pair through the service: %1").arg(unanswered),
            QStringLiteral("install and start polkit (polkitd), which the pairing service asks on every call"));
        break;
    }
}

} // namespace

ServiceFacts serviceFacts(PairService::Reach reach, const QString &unreached,
                          PairService::Authorisation answer, const QString &unanswered)
{
    ServiceFacts facts;
    if (addReach(facts, reach, unreached))
        addAnswer(facts, answer, unanswered);
    return facts;
}

ServiceFacts examineService()
{
    QString unreached;
    QString unanswered;
    const PairService::Reach reach = PairService::reach(&unreached);
    const PairService::Authorisation answer = reach == PairService::Reach::Offered
                                                  ? PairService::authorised(&unanswered)
                                                  : PairService::Authorisation::Unknown;
    return serviceFacts(reach, unreached, answer, unanswered);
}
