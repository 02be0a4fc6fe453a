// SPDX-License-Identifier: MIT
// bondara-pairingd: the pairing service, started by the system bus.

#include "base/stopsignals.h"
#include "config/configcontroller.h"
#include "khid/kplatform.h"
#include "pairing/pairservicebus.h"
#include "service/pairingservice.h"
#include "sim/ksimplatform.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QLoggingCategory>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

namespace {

const char kUsage[] =
    "usage: bondara-pairingd --config FILE [--idle-seconds N] [--simulate SCENE [--trace FILE]]\n"
    "The pairing service, started by the system bus: it pairs a device on a receiver of the\n"
    "catalogue FILE for callers that polkit allows (action org.bondara.pair).\n"
    "  --config FILE      the catalogue (the installed, root-owned one)\n"
    "  --idle-seconds N   end after N seconds without a request (1 to 3600, default 30)\n"
    "  --simulate SCENE   pair on the simulated machine of SCENE (tests)\n"
    "  --trace FILE       with --simulate, append every written report to FILE\n";

struct Options {
    QString catalogue;
    QString scene;
    QString trace;
    int idleSeconds = 30;
};

int fail(int code, const QString &words)
{
    std::fprintf(stderr, "bondara-pairingd: %s\n", qPrintable(words));
    return code;
}

// The options come from the root-owned activation file or unit only; the
// environment, which the caller might shape, is not read.
std::optional<Options> parse(const QStringList &arguments, QString *error)
{
    Options options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &option = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (option == QLatin1String("--config") && hasValue) {
            options.catalogue = arguments.at(++i);
        } else if (option == QLatin1String("--simulate") && hasValue) {
            options.scene = arguments.at(++i);
        } else if (option == QLatin1String("--trace") && hasValue) {
            options.trace = arguments.at(++i);
        } else if (option == QLatin1String("--idle-seconds") && hasValue) {
            bool ok = false;
            options.idleSeconds = arguments.at(++i).toInt(&ok);
            if (!ok || options.idleSeconds < 1 || options.idleSeconds > 3600) {
                *error = QStringLiteral("--idle-seconds takes 1 to 3600");
                return std::nullopt;
            }
        } else {
            *error = QStringLiteral("unexpected argument \"%1\"").arg(option);
            return std::nullopt;
        }
    }
    if (options.catalogue.isEmpty())
        *error = QStringLiteral("--config FILE is required");
    else if (!options.trace.isEmpty() && options.scene.isEmpty())
        *error = QStringLiteral("--trace is for the simulated machine (--simulate SCENE)");
    else
        return options;
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bondara-pairingd"));
    // The journal keeps each request and how it ended, not the catalogue's and the worker's chatter.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.contains(QLatin1String("--help"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    QString error;
    const std::optional<Options> options = parse(arguments, &error);
    if (!options) {
        std::fputs(kUsage, stderr);
        return fail(2, error);
    }

    // The pairing lock wants a private directory; the bus starts us without one.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    if (options->scene.isEmpty()) {
        KHID::installPlatform(KHID::makeNativePlatform());
    } else {
        std::unique_ptr<KHID::KSimPlatform> scene = KHID::KSimPlatform::fromFile(options->scene, &error, options->trace);
        if (!scene)
            return fail(1, error);
        KHID::installPlatform(std::move(scene));
    }
    // Refused at the start, with its reason in the journal, rather than at each request.
    ConfigController catalogue;
    if (!catalogue.loadConfig(options->catalogue))
        return fail(1, QStringLiteral("catalogue %1: %2").arg(options->catalogue, catalogue.errorString()));

    QDBusConnection bus = QDBusConnection::systemBus();
    PairingService service(bus, options->catalogue, options->idleSeconds * 1000);
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
