// SPDX-License-Identifier: MIT
#include "service/servicemain.h"

#include "base/stopsignals.h"
#include "config/configcontroller.h"
#include "pairing/pairservicebus.h"
#include "service/pairingservice.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QLoggingCategory>

#include <cstdio>
#include <optional>

namespace {

const char kUsage[] =
    "usage: bondara-pairingd --config FILE [--idle-seconds N]\n"
    "The pairing service, started by the system bus: it pairs a device on a receiver of the\n"
    "catalogue FILE for callers that polkit allows (action org.bondara.pair).\n"
    "  --config FILE      the catalogue (the installed, root-owned one)\n"
    "  --idle-seconds N   end after N seconds without a request (1 to 3600, default 30)\n";

struct Options {
    QString catalogue;
    int idleSeconds = 30;
};

int fail(int code, const QString &words)
{
    std::fprintf(stderr, "bondara-pairingd: %s\n", qPrintable(words));
    return code;
}

// The options come from the root-owned activation file or unit only; the
// environment, which the caller might shape, is not read.
std::optional<Options> parse(const QStringList &arguments, const ServicePlatform &platform, QString *error)
{
    Options options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &option = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (option == QLatin1String("--config") && hasValue) {
            options.catalogue = arguments.at(++i);
        } else if (option == QLatin1String("--idle-seconds") && hasValue) {
            bool ok = false;
            options.idleSeconds = arguments.at(++i).toInt(&ok);
            if (!ok || options.idleSeconds < 1 || options.idleSeconds > 3600) {
                *error = QStringLiteral("--idle-seconds takes 1 to 3600");
                return std::nullopt;
            }
        } else if (!platform.takeOption || !platform.takeOption(arguments, i)) {
            *error = QStringLiteral("unexpected argument \"%1\"").arg(option);
            return std::nullopt;
        }
    }
    if (options.catalogue.isEmpty()) {
        *error = QStringLiteral("--config FILE is required");
        return std::nullopt;
    }
    return options;
}

void usage(FILE *stream, const ServicePlatform &platform)
{
    std::fputs(kUsage, stream);
    std::fputs(platform.usage, stream);
}

} // namespace

int runPairingService(int argc, char *argv[], const ServicePlatform &platform)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bondara-pairingd"));
    // The journal keeps each run's start and end and the refusals, not the catalogue's and the worker's chatter.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.contains(QLatin1String("--help"))) {
        usage(stdout, platform);
        return 0;
    }
    QString error;
    const std::optional<Options> options = parse(arguments, platform, &error);
    if (!options) {
        usage(stderr, platform);
        return fail(2, error);
    }
    if (!platform.install(&error))
        return fail(1, error);
    // Refused at the start, with its reason in the journal, rather than at each request.
    ConfigController catalogue;
    if (!catalogue.loadConfig(options->catalogue))
        return fail(1, QStringLiteral("catalogue %1: %2").arg(options->catalogue, catalogue.errorString()));

    QDBusConnection bus = QDBusConnection::systemBus();
    PairingService service(bus, options->catalogue, options->idleSeconds * 1000,
                           platform.questionLimitMs > 0 ? platform.questionLimitMs : PairingService::kQuestionLimitMs);
    if (!service.publish(&error))
        return fail(1, error);
    QObject::connect(StopSignals::install(), &StopSignals::sigStop, &service, [&service] { service.shutdown(); });
    QObject::connect(&service, &PairingService::sigIdle, &app, [&bus] {
        // Calls from here on start a new instance.
        bus.unregisterService(QLatin1String(PairServiceBus::kName));
        QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}
