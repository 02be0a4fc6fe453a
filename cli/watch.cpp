// SPDX-License-Identifier: MIT
// watch: HID arrivals and removals, each with a fresh scan.

#include "cli/commands.h"
#include "cli/output.h"
#include "config/configcontroller.h"
#include "khid/kdevicemonitor.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonObject>
#include <QTimer>

namespace cli {

namespace {

struct WatchOptions {
    double seconds = -1; // for ever
    bool json = false;
    QString config = ConfigController::configFilePath();
};

// Anything but the options ends the command with the status returned; 0 when all were read.
int readWatchOptions(const QStringList &args, WatchOptions &options)
{
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--json")) {
            options.json = true;
        } else if (args.at(i) == QLatin1String("--for")) {
            if (i + 1 >= args.size())
                return fail(ExitBadInput, QStringLiteral("watch: --for needs a number of seconds (0 to 86400)"));
            bool ok = false;
            const double seconds = args.at(++i).toDouble(&ok);
            // "nan" and "inf" parse as numbers; neither is a duration.
            if (!ok || !qIsFinite(seconds) || seconds < 0 || seconds > 24 * 3600)
                return fail(ExitBadInput, QStringLiteral("watch: --for takes 0 to 86400 seconds"));
            options.seconds = seconds;
        } else if (args.at(i) == QLatin1String("--config") && i + 1 < args.size()) {
            options.config = args.at(++i);
        } else {
            return fail(ExitBadInput, QStringLiteral("watch: unexpected argument \"%1\"").arg(args.at(i)));
        }
    }
    return ExitOk;
}

void printScan(bool json, const QVector<Receiver> &receivers)
{
    if (json) {
        emitEvent(QStringLiteral("scan"),
                  QJsonObject{{"found", !receivers.isEmpty()},
                              {"receiver", receivers.isEmpty() ? QJsonValue() : QJsonValue(receiverObject(receivers.first()))},
                              {"receivers", receiversArray(receivers)}});
    } else if (receivers.isEmpty()) {
        out() << "  not found device\n";
    } else {
        for (const Receiver &receiver : receivers)
            out() << "  receiver: " << plain(receiver.label()) << " (vid " << hex(receiver.entry.vid) << ", pid "
                  << hex(receiver.entry.pid) << ") at " << plain(receiver.path()) << "\n";
    }
    out().flush();
}

void printChange(bool json, bool arrival, const QString &path)
{
    if (json) {
        emitEvent(arrival ? QStringLiteral("arrival") : QStringLiteral("removal"),
                  QJsonObject{{"time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                              {"path", path}});
    } else {
        out() << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) << ' '
              << (arrival ? "arrival" : "removal") << ' ' << plain(path) << '\n';
        out().flush();
    }
}

} // namespace

int watchCommand(const QStringList &args)
{
    WatchOptions options;
    if (const int code = readWatchOptions(args, options))
        return code;
    const bool json = options.json;

    ConfigController catalogue;
    if (!catalogue.loadConfig(options.config))
        return fail(ExitBadInput, catalogueProblem(options.config, catalogue));
    printCatalogueWarnings(options.config, catalogue);
    QObject::connect(&catalogue, &ConfigController::sigReceiversFound,
                     [json](const QVector<Receiver> &receivers) { printScan(json, receivers); });

    std::unique_ptr<KHID::KDeviceMonitor> monitor = KHID::makeDeviceMonitor();
    long code = 0;
    if (!monitor || !monitor->start(0, &code))
        return fail(ExitBadInput, QStringLiteral("cannot watch for HID changes (error code %1)").arg(code));
    QObject::connect(monitor.get(), &KHID::KDeviceMonitor::sigDeviceChange, [&](bool arrival, const QString &path) {
        printChange(json, arrival, path);
        catalogue.slotDeviceChange(arrival, path);
    });

    const double seconds = options.seconds;
    if (!json) {
        out() << "watching for HID changes" << (seconds >= 0 ? QStringLiteral(" for %1 s").arg(seconds) : QString())
              << "\n";
        out().flush();
    }
    if (seconds >= 0)
        QTimer::singleShot(static_cast<int>(seconds * 1000), qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    return ExitOk;
}

} // namespace cli
