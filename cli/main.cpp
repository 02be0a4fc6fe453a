// SPDX-License-Identifier: MIT
// bondara-cli: the receiver tool without a window.

#include "config/configcontroller.h"
#include "base/kfileread.h"
#include "khid/kdevicemonitor.h"
#include "khid/khid.h"
#include "khid/kplatform.h"
#include "sim/ksimplatform.h"
#include "sim/krecorder.h"
#include "khid/kreportdescriptor.h"
#include "pairing/mousecommunitybt.h"
#include "base/stopsignals.h"
#include "cli/terminal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStringList>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>

namespace {

// 1 is also "no device answered": the pairing ran and nothing paired.
enum ExitCode { ExitOk = 0, ExitNotFound = 1, ExitBadInput = 2, ExitReceiverFailed = 3 };

bool gVerbose = false;

// Text from devices and files, made safe for a terminal: one device stays one
// line, and nothing in a name can move the cursor or change colours.
QString plain(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const ushort u = c.unicode();
        // Marks that turn the rest of the line around, and line breaks of their own.
        const bool direction = u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E)
            || (u >= 0x2066 && u <= 0x2069) || u == 0x2028 || u == 0x2029;
        const bool pair = c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (c == QLatin1Char('\\'))
            result += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            result += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            result += QLatin1String("\\r");
        else if (c == QLatin1Char('\t'))
            result += QLatin1String("\\t");
        else if (u < 0x20 || (u >= 0x7F && u < 0xA0))
            result += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else if (direction || (c.isSurrogate() && !pair))
            result += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else if (pair)
            result += text.mid(i++, 2);
        else
            result += c;
    }
    return result;
}

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg && !gVerbose)
        return;
    // The log quotes device and file text; one message stays one line.
    std::fprintf(stderr, "%s\n", qPrintable(plain(message)));
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int fail(int code, const QString &reason)
{
    out().flush();
    std::fprintf(stderr, "bondara-cli: %s\n", qPrintable(reason));
    return code;
}

QString hex(int value, int width = 4)
{
    return QStringLiteral("%1").arg(value, width, 16, QLatin1Char('0'));
}

// One JSON Lines event: every line names its schema version and event.
void emitEvent(const QString &event, QJsonObject fields)
{
    fields.insert(QStringLiteral("schema"), 1);
    fields.insert(QStringLiteral("event"), event);
    out() << QJsonDocument(fields).toJson(QJsonDocument::Compact) << '\n';
    out().flush();
}

QJsonObject receiverObject(const Receiver &receiver)
{
    return QJsonObject{{"name", receiver.entry.name},
                       {"vid", hex(receiver.entry.vid)},
                       {"pid", hex(receiver.entry.pid)},
                       {"path", receiver.path()}};
}

QString usageText()
{
    return QStringLiteral(
        "Usage: bondara-cli [-v] COMMAND\n"
        "\n"
        "Commands:\n"
        "  list [--json] [--config FILE]  every HID interface, then each supported receiver found\n"
        "  pair mouse|keyboard [--receiver PATH] [--json] [--config FILE]\n"
        "                                  pair a device with the receiver that can (about 30 s);\n"
        "                                  with several, --receiver names one by its path\n"
        "  watch [--for SECONDS] [--json] [--config FILE]\n"
        "                                  print HID arrivals and removals, each with a fresh scan\n"
        "  doctor [--json] [--config FILE] check the catalogue, the receivers and the access to them,\n"
        "                                  each check ok, warning or problem with its fix\n"
        "  record FILE pair mouse|keyboard [--receiver PATH] [--config FILE]\n"
        "                                  pair as above and keep what the receiver saw and answered\n"
        "                                  in FILE, a scene BONDARA_SIMULATE replays (for bug reports)\n"
        "  descriptor FILE [--json]        the top-level collections of a report descriptor\n"
        "                                  (raw bytes, or text of hex bytes; - for standard input)\n"
        "\n"
        "Options:\n"
        "  -v, --verbose   show the diagnostic log on standard error\n"
        "  -h, --help      show this help\n"
        "  --version       show the version\n"
        "\n"
        "With BONDARA_SIMULATE=SCENE.json the simulated receiver stands in for the machine's HID devices.\n"
        "--json prints JSON Lines: one event per line, each with \"schema\": 1 and \"event\".\n"
        "Exit status: 0 success; 1 not found, or no device answered the pairing; 2 bad input (an unusable\n"
        "file, catalogue or scene), no receiver, several and none chosen, no access to it, or another\n"
        "program pairing with it; 3 the receiver failed during pairing (unplugged, a report not written\n"
        "or read, or it refused); 130 stopped by Ctrl+C (143 SIGTERM), the receiver told to stop waiting.\n"
        "doctor: 0 no problem, 1 a problem, 2 bad input.\n");
}

QJsonArray reportIds(const QVector<KHID::KHidValueCaps> &values)
{
    QJsonArray ids;
    for (const KHID::KHidValueCaps &value : values)
        ids.append(value.ReportID);
    return ids;
}

QString reportIdsText(const QJsonArray &ids)
{
    QStringList parts;
    for (const QJsonValue &id : ids)
        parts << QString::number(id.toInt());
    return parts.isEmpty() ? QStringLiteral("-") : parts.join(QLatin1Char(','));
}

QJsonObject capsObject(const KHID::KHidCaps &caps, const QJsonArray &ids)
{
    return QJsonObject{{"usagePage", hex(caps.UsagePage)},
                       {"usage", hex(caps.Usage)},
                       {"inputReportLength", caps.InputReportByteLength},
                       {"outputReportLength", caps.OutputReportByteLength},
                       {"featureReportLength", caps.FeatureReportByteLength},
                       {"featureReportIds", ids}};
}

QString capsText(const KHID::KHidCaps &caps, const QJsonArray &ids)
{
    return QStringLiteral("usage %1:%2  input %3  output %4  feature %5  feature ids %6")
        .arg(hex(caps.UsagePage), hex(caps.Usage))
        .arg(caps.InputReportByteLength)
        .arg(caps.OutputReportByteLength)
        .arg(caps.FeatureReportByteLength)
        .arg(reportIdsText(ids));
}

QJsonObject entryObject(const DeviceDetail &entry)
{
    return QJsonObject{{"name", entry.name},
                       {"vid", hex(entry.vid)},
                       {"pid", hex(entry.pid)},
                       {"usage", hex(entry.usage)},
                       {"usagePage", hex(entry.usagePage)},
                       {"reportId", hex(entry.reportId, 2)},
                       {"communicationId", entry.communicationId},
                       {"mouse", entry.mouse},
                       {"keyboard", entry.keyboard},
                       {"suit", entry.suit},
                       {"Tovrik", entry.Tovrik}};
}

// Every receiver of a scan: its entry, where it is and the name it is shown by.
QJsonArray receiversArray(const QVector<Receiver> &receivers)
{
    QJsonArray all;
    for (const Receiver &receiver : receivers) {
        QJsonObject object = entryObject(receiver.entry);
        object.insert(QStringLiteral("path"), receiver.path());
        object.insert(QStringLiteral("label"), receiver.label());
        if (!receiver.port.isEmpty())
            object.insert(QStringLiteral("port"), receiver.port);
        if (!receiver.serial.isEmpty())
            object.insert(QStringLiteral("serial"), receiver.serial);
        all.append(object);
    }
    return all;
}

QString kindName(int type)
{
    return type == 2 ? QStringLiteral("keyboard") : QStringLiteral("mouse");
}

QString catalogueProblem(const QString &path, const ConfigController &catalogue)
{
    return QStringLiteral("cannot use the catalogue %1: %2").arg(path, plain(catalogue.errorString()));
}

// The entries left out and the fields defaulted or ignored of a catalogue in use, one line each.
void printCatalogueWarnings(const QString &path, const ConfigController &catalogue)
{
    out().flush();
    for (const QString &warning : catalogue.warnings())
        std::fprintf(stderr, "bondara-cli: catalogue %s: %s\n", qPrintable(path), qPrintable(plain(warning)));
}

// The options of list and doctor: --json and --config FILE. Anything else ends
// the command with the exit status returned; 0 when all were read.
int readJsonAndConfig(const QString &command, const QStringList &args, bool &json, QString &config)
{
    config = ConfigController::configFilePath();
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--json"))
            json = true;
        else if (args.at(i) == QLatin1String("--config") && i + 1 < args.size())
            config = args.at(++i);
        else
            return fail(ExitBadInput, QStringLiteral("%1: unexpected argument \"%2\"").arg(command, args.at(i)));
    }
    return ExitOk;
}

int listCommand(const QStringList &args)
{
    bool json = false;
    QString config;
    if (const int code = readJsonAndConfig(QStringLiteral("list"), args, json, config))
        return code;

    QJsonArray interfaces;
    KHID::enumHidDevices([&](KHID::KHidDetail detail, bool &) {
        const QJsonArray ids = reportIds(detail.capAbilitiesValue);
        QJsonObject object = capsObject(detail.capAbilities, ids);
        object.insert("path", detail.DevicePath);
        object.insert("vendorId", hex(detail.VendorID));
        object.insert("productId", hex(detail.ProductID));
        object.insert("version", detail.VersionNumber);
        object.insert("name", detail.DeviceName);
        interfaces.append(object);
        if (!json)
            out() << plain(detail.DevicePath) << "  " << hex(detail.VendorID) << ':' << hex(detail.ProductID)
                  << "  version " << detail.VersionNumber << "  " << capsText(detail.capAbilities, ids)
                  << "  \"" << plain(detail.DeviceName) << "\"\n";
    });

    ConfigController catalogue;
    const bool loaded = catalogue.loadConfig(config);
    if (!loaded) {
        if (json)
            out() << QJsonDocument(QJsonObject{{"interfaces", interfaces}, {"match", QJsonValue()}})
                         .toJson(QJsonDocument::Indented);
        return fail(ExitBadInput, catalogueProblem(config, catalogue));
    }
    printCatalogueWarnings(config, catalogue);
    const QVector<Receiver> receivers = catalogue.scanReceivers();
    const bool found = !receivers.isEmpty();

    if (json) {
        const QJsonObject document{{"interfaces", interfaces},
                                   {"match", found ? QJsonValue(entryObject(receivers.first().entry)) : QJsonValue()},
                                   {"receivers", receiversArray(receivers)}};
        out() << QJsonDocument(document).toJson(QJsonDocument::Indented);
    } else if (found) {
        for (const Receiver &receiver : receivers) {
            const DeviceDetail &match = receiver.entry;
            out() << "match: " << plain(receiver.label()) << " (vid " << hex(match.vid) << ", pid " << hex(match.pid)
                  << ", usage " << hex(match.usagePage) << ':' << hex(match.usage) << ") at "
                  << plain(receiver.path()) << "\n";
        }
    } else {
        out() << "not found device\n";
    }
    out().flush();
    return found ? ExitOk : ExitNotFound;
}

// Pairs through the same worker, on its own thread, as the window does.
int pairCommand(const QStringList &args)
{
    int type = 0;
    bool json = false;
    QString config = ConfigController::configFilePath();
    QString chosen;
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--json"))
            json = true;
        else if (args.at(i) == QLatin1String("--receiver") && i + 1 < args.size() && chosen.isEmpty())
            chosen = args.at(++i);
        else if (args.at(i) == QLatin1String("mouse") && type == 0)
            type = 1;
        else if (args.at(i) == QLatin1String("keyboard") && type == 0)
            type = 2;
        else if (args.at(i) == QLatin1String("--config") && i + 1 < args.size())
            config = args.at(++i);
        else
            return fail(ExitBadInput, QStringLiteral("pair: unexpected argument \"%1\"").arg(args.at(i)));
    }
    if (type == 0)
        return fail(ExitBadInput, QStringLiteral("pair: say what to pair: mouse or keyboard"));

    ConfigController catalogue;
    if (!catalogue.loadConfig(config))
        return fail(ExitBadInput, catalogueProblem(config, catalogue));
    printCatalogueWarnings(config, catalogue);
    const QVector<Receiver> receivers = catalogue.scanReceivers();
    QVector<Receiver> candidates;
    for (const Receiver &present : receivers) {
        if (chosen.isEmpty() ? present.entry.pairs(PairKind(type)) : present.path() == chosen)
            candidates.append(present);
    }
    if (!chosen.isEmpty() && candidates.isEmpty())
        return fail(ExitBadInput, QStringLiteral("no supported receiver is plugged in at %1").arg(plain(chosen)));
    if (receivers.isEmpty())
        return fail(ExitBadInput, QStringLiteral("no supported receiver is plugged in"));
    if (candidates.isEmpty() || !candidates.first().entry.pairs(PairKind(type))) {
        const Receiver &named = candidates.isEmpty() ? receivers.first() : candidates.first();
        return fail(ExitBadInput, QStringLiteral("%1 does not pair a %2").arg(plain(named.label()), kindName(type)));
    }
    if (candidates.size() > 1) {
        QString list;
        for (const Receiver &candidate : candidates)
            list += QStringLiteral("\n  %1  %2").arg(plain(candidate.label()), plain(candidate.path()));
        return fail(ExitBadInput, QStringLiteral("%1 receivers can pair a %2; choose one with --receiver PATH:%3")
                                      .arg(candidates.size())
                                      .arg(kindName(type), list));
    }
    const Receiver receiver = candidates.first();

    auto *worker = new MouseCommunityBT;
    // A receiver found but closed to us is a matter of the machine, not a failed pairing.
    QString reason;
    if (!worker->handOverReceiver(receiver, &reason)) {
        delete worker;
        return fail(ExitBadInput,
                    QStringLiteral("cannot open the receiver %1: %2").arg(plain(receiver.label()), plain(reason)));
    }
    auto *thread = new QThread;
    worker->moveToThread(thread);
    QObject::connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    // The request crosses to the worker's thread as a queued call, wired before the thread runs.
    QTimer request;
    request.setSingleShot(true);
    QObject::connect(&request, &QTimer::timeout, worker, [worker, type] { worker->startPairing(PairKind(type)); });

    const QString kind = kindName(type);
    if (json) {
        emitEvent(QStringLiteral("begin"), QJsonObject{{"kind", kind}, {"receiver", receiverObject(receiver)}});
    } else {
        out() << "Receiver: " << plain(receiver.label()) << " (pid 0x" << QString::number(receiver.entry.pid, 16)
              << ") at " << plain(receiver.path()) << "\n"
              << "Put the " << kind << " into pairing mode now; waiting for it for up to 30 seconds.\n";
        out().flush();
    }

    const bool terminal = !json && stdoutIsTerminal();
    int seconds = 0;
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [&] {
        ++seconds;
        if (terminal)
            out() << "\r" << QString(qMin(seconds, 30), QLatin1Char('#')).leftJustified(30, QLatin1Char('.'))
                  << ' ' << seconds << " s";
        else
            out() << "waiting " << seconds << " s\n";
        out().flush();
    });
    if (!json)
        progress.start(1000);
    else
        QObject::connect(worker, &MouseCommunity::sigPollAttempt, &progress, [](int attempt, const QString &status) {
            emitEvent(QStringLiteral("poll"), QJsonObject{{"attempt", attempt}, {"status", status}});
        });

    int code = ExitNotFound;
    int stopSignal = 0;
    PairOutcome outcome;
    QObject::connect(worker, &MouseCommunity::sigPairOutcome, &progress,
                     [&](const PairOutcome &result) { outcome = result; });
    QObject::connect(worker, &MouseCommunity::sigPairResult, &progress, [&](bool status, const QString &message) {
        progress.stop();
        if (json) {
            QJsonObject fields{{"ok", status}, {"reason", PairOutcome::key(outcome.reason)},
                               {"message", outcome.describe()}};
            if (!outcome.detail.isEmpty())
                fields.insert(QStringLiteral("detail"), outcome.detail);
            emitEvent(QStringLiteral("result"), fields);
        } else {
            if (terminal && seconds > 0)
                out() << '\n';
            // The window's words; the detail may come from the device.
            out() << (status ? message : plain(outcome.describe())) << '\n';
            out().flush();
        }
        if (status)
            code = ExitOk;
        else if (stopSignal != 0)
            code = 128 + stopSignal;
        else if (outcome.reason == PairOutcome::NoAnswer)
            code = ExitNotFound;
        else if (outcome.reason == PairOutcome::Busy)
            code = ExitBadInput;
        else
            code = ExitReceiverFailed;
        QCoreApplication::quit();
    });
    // Ctrl+C or a request to stop: the run ends at its next exchange with the
    // end command, so the receiver is not left open for pairing.
    QObject::connect(StopSignals::install(), &StopSignals::sigStop, &progress, [&stopSignal, worker](int number) {
        if (stopSignal == 0)
            worker->abortRun(PairOutcome::Stopped);
        stopSignal = number;
    });
    thread->start();
    request.start(0);
    QCoreApplication::exec();

    thread->quit();
    thread->wait();
    return code;
}

int watchCommand(const QStringList &args)
{
    double seconds = -1;
    bool json = false;
    QString config = ConfigController::configFilePath();
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--json")) {
            json = true;
        } else if (args.at(i) == QLatin1String("--for")) {
            if (i + 1 >= args.size())
                return fail(ExitBadInput, QStringLiteral("watch: --for needs a number of seconds (0 to 86400)"));
            bool ok = false;
            seconds = args.at(++i).toDouble(&ok);
            // "nan" and "inf" parse as numbers; neither is a duration.
            if (!ok || !qIsFinite(seconds) || seconds < 0 || seconds > 24 * 3600)
                return fail(ExitBadInput, QStringLiteral("watch: --for takes 0 to 86400 seconds"));
        } else if (args.at(i) == QLatin1String("--config") && i + 1 < args.size()) {
            config = args.at(++i);
        } else {
            return fail(ExitBadInput, QStringLiteral("watch: unexpected argument \"%1\"").arg(args.at(i)));
        }
    }

    ConfigController catalogue;
    if (!catalogue.loadConfig(config))
        return fail(ExitBadInput, catalogueProblem(config, catalogue));
    printCatalogueWarnings(config, catalogue);
    QObject::connect(&catalogue, &ConfigController::sigReceiversFound, [json](const QVector<Receiver> &receivers) {
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
    });

    std::unique_ptr<KHID::KDeviceMonitor> monitor = KHID::makeDeviceMonitor();
    long code = 0;
    if (!monitor || !monitor->start(0, &code))
        return fail(ExitBadInput, QStringLiteral("cannot watch for HID changes (error code %1)").arg(code));
    QObject::connect(monitor.get(), &KHID::KDeviceMonitor::sigDeviceChange, [&](bool arrival, const QString &path) {
        if (json) {
            emitEvent(arrival ? QStringLiteral("arrival") : QStringLiteral("removal"),
                      QJsonObject{{"time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                                  {"path", path}});
        } else {
            out() << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) << ' '
                  << (arrival ? "arrival" : "removal") << ' ' << plain(path) << '\n';
            out().flush();
        }
        catalogue.slotDeviceChange(arrival, path);
    });

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

struct Finding {
    KHID::KCheck::Level level = KHID::KCheck::Ok;
    QString name;
    QString text;
    QString fix;
};

QString levelName(KHID::KCheck::Level level)
{
    switch (level) {
    case KHID::KCheck::Ok:
        return QStringLiteral("ok");
    case KHID::KCheck::Warning:
        return QStringLiteral("warning");
    case KHID::KCheck::Problem:
        break;
    }
    return QStringLiteral("problem");
}

Finding finding(const KHID::KCheck &check)
{
    return {check.level, QString::fromStdString(check.name), QString::fromStdString(check.text),
            QString::fromStdString(check.fix)};
}

bool matches(const DeviceDetail &entry, const KHID::KHidDetail &detail)
{
    return entry.vid == detail.VendorID && entry.pid == detail.ProductID
        && entry.usage == detail.capAbilities.Usage && entry.usagePage == detail.capAbilities.UsagePage;
}

QString idsText(const KHID::KHidDetail &detail)
{
    return QStringLiteral("%1:%2, usage %3:%4")
        .arg(hex(detail.VendorID), hex(detail.ProductID), hex(detail.capAbilities.UsagePage),
             hex(detail.capAbilities.Usage));
}

// Looks at what stands between this user and a pairing, without sending anything.
int doctorCommand(const QStringList &args)
{
    bool json = false;
    QString config;
    if (const int code = readJsonAndConfig(QStringLiteral("doctor"), args, json, config))
        return code;

    QVector<Finding> findings;
    const QString addFix = QStringLiteral("add it to the catalogue (README: Adding a receiver)");

    ConfigController catalogue;
    bool usable = false;
    if (!QFileInfo::exists(config)) {
        findings.append({KHID::KCheck::Problem, "catalogue", QStringLiteral("no catalogue at %1").arg(config),
                         QStringLiteral("reinstall bondara, or name a catalogue with --config FILE")});
    } else if (!catalogue.loadConfig(config)) {
        findings.append({KHID::KCheck::Problem, "catalogue",
                         QStringLiteral("the catalogue %1 cannot be used: %2").arg(config, catalogue.errorString()),
                         QStringLiteral("correct the field named (README: Adding a receiver), or reinstall bondara "
                                        "to restore the shipped catalogue")});
    } else {
        usable = true;
        findings.append({KHID::KCheck::Ok, "catalogue",
                         QStringLiteral("the catalogue %1 lists %2 receivers").arg(config).arg(catalogue.devices().size()),
                         QString()});
        if (!catalogue.warnings().isEmpty())
            findings.append({KHID::KCheck::Warning, "catalogue",
                             QStringLiteral("the catalogue has entries left out or fields not used as written: %1")
                                 .arg(catalogue.warnings().join(QStringLiteral("; "))),
                             QStringLiteral("correct or remove the fields named (README: Adding a receiver)")});
    }

    QVector<KHID::KHidDetail> interfaces;
    KHID::enumHidDevices([&](KHID::KHidDetail detail, bool &) { interfaces.append(detail); });
    if (interfaces.isEmpty())
        findings.append({KHID::KCheck::Warning, "interfaces", QStringLiteral("no HID interface is seen"),
                         QStringLiteral("plug the receiver in")});
    else
        findings.append({KHID::KCheck::Ok, "interfaces",
                         (interfaces.size() == 1 ? QStringLiteral("1 HID interface is seen") : QStringLiteral("%1 HID interfaces are seen").arg(interfaces.size())), QString()});

    KHID::KHidPlatform &hid = KHID::platform();
    if (usable) {
        const QList<DeviceDetail> entries = catalogue.devices().values();
        QSet<QString> matchedIds;
        int receivers = 0;
        for (const KHID::KHidDetail &detail : interfaces) {
            for (const DeviceDetail &entry : entries) {
                if (!matches(entry, detail))
                    continue;
                ++receivers;
                matchedIds.insert(hex(detail.VendorID) + hex(detail.ProductID));
                findings.append({KHID::KCheck::Ok, "receiver",
                                 QStringLiteral("%1 at %2 (%3)").arg(entry.name, detail.DevicePath, idsText(detail)),
                                 QString()});
                const std::u16string path = detail.DevicePath.toStdU16String();
                std::string reason;
                const bool open = hid.probeAccess(path, &reason);
                if (open)
                    findings.append({KHID::KCheck::Ok, "access",
                                     QStringLiteral("this user can open %1 for reading and writing").arg(detail.DevicePath),
                                     QString()});
                else
                    findings.append({KHID::KCheck::Problem, "access",
                                     QStringLiteral("this user cannot open %1: %2")
                                         .arg(detail.DevicePath, QString::fromStdString(reason)),
                                     QString::fromStdString(hid.accessFix())});
                for (KHID::KCheck check : hid.nodeChecks(path)) {
                    // With the node open to us, a missing grant only matters for other users.
                    if (open && check.level == KHID::KCheck::Problem)
                        check.level = KHID::KCheck::Warning;
                    findings.append(finding(check));
                }
            }
        }
        // Near misses: the vendor of a catalogue receiver, but no interface of that
        // product matching an entry. One finding per product.
        QSet<QString> reported;
        for (const KHID::KHidDetail &detail : interfaces) {
            const QString ids = hex(detail.VendorID) + hex(detail.ProductID);
            if (matchedIds.contains(ids) || reported.contains(ids))
                continue;
            for (const DeviceDetail &entry : entries) {
                if (entry.vid != detail.VendorID)
                    continue;
                // The vendor collection is the one an entry names; prefer it when the product has several.
                const KHID::KHidDetail *shown = &detail;
                for (const KHID::KHidDetail &other : interfaces) {
                    if (other.VendorID == detail.VendorID && other.ProductID == detail.ProductID
                        && other.capAbilities.UsagePage >= 0xFF00) {
                        shown = &other;
                        break;
                    }
                }
                const bool samePid = entry.pid == detail.ProductID;
                findings.append({KHID::KCheck::Warning, "near-miss",
                                 QStringLiteral("%1 (%2) has the vendor id of %3 but not its %4")
                                     .arg(shown->DevicePath, idsText(*shown), entry.name,
                                          samePid ? QStringLiteral("usage") : QStringLiteral("product id")),
                                 QStringLiteral("if this is your receiver, add an entry with \"vid\": \"%1\", \"pid\": "
                                                "\"%2\", \"usagePage\": \"%3\", \"usage\": \"%4\" to the catalogue "
                                                "(README: Adding a receiver)")
                                     .arg(hex(shown->VendorID), hex(shown->ProductID),
                                          hex(shown->capAbilities.UsagePage), hex(shown->capAbilities.Usage))});
                reported.insert(ids);
                break;
            }
        }
        if (receivers == 0)
            findings.append({KHID::KCheck::Problem, "receiver", QStringLiteral("no supported receiver is plugged in"),
                             reported.isEmpty() ? QStringLiteral("plug the receiver in; if it is plugged in, ") + addFix
                                                : QStringLiteral("see the near misses above, or plug the receiver in")});
    }

    for (const KHID::KCheck &check : hid.systemChecks())
        findings.append(finding(check));

    KHID::KCheck::Level worst = KHID::KCheck::Ok;
    for (const Finding &f : findings)
        worst = std::max(worst, f.level);

    if (json) {
        QJsonArray checks;
        for (const Finding &f : findings) {
            QJsonObject object{{"check", f.name}, {"level", levelName(f.level)}, {"text", f.text}};
            if (f.level != KHID::KCheck::Ok)
                object.insert(QStringLiteral("fix"), f.fix);
            checks.append(object);
        }
        out() << QJsonDocument(QJsonObject{{"schema", 1}, {"checks", checks}, {"result", levelName(worst)}})
                     .toJson(QJsonDocument::Indented);
    } else {
        for (const Finding &f : findings) {
            out() << levelName(f.level).leftJustified(8) << f.name.leftJustified(11) << plain(f.text);
            if (f.level != KHID::KCheck::Ok)
                out() << " -- fix: " << plain(f.fix);
            out() << '\n';
        }
    }
    out().flush();
    return worst == KHID::KCheck::Problem ? ExitNotFound : ExitOk;
}

// A real pairing, kept as a scene that BONDARA_SIMULATE replays: the
// receiver's interfaces and every exchange, without product strings.
int recordCommand(const QStringList &args)
{
    if (args.size() < 2 || args.at(1) != QLatin1String("pair"))
        return fail(ExitBadInput, QStringLiteral("record: usage: record FILE pair mouse|keyboard [--receiver PATH] [--config FILE]"));
    const QString file = args.at(0);
    const QStringList pairArgs = args.mid(2);
    if (pairArgs.contains(QLatin1String("--json")))
        return fail(ExitBadInput, QStringLiteral("record: --json is for pair itself"));
    QString config = ConfigController::configFilePath();
    const int at = pairArgs.indexOf(QStringLiteral("--config"));
    if (at >= 0 && at + 1 < pairArgs.size())
        config = pairArgs.at(at + 1);

    auto recorder = new KHID::KRecordPlatform(KHID::takePlatform());
    KHID::installPlatform(std::unique_ptr<KHID::KHidPlatform>(recorder));
    const int code = pairCommand(pairArgs);

    // Without a receiver opened, the interfaces of the catalogue's vendors show what was there.
    QVector<quint16> vendors;
    ConfigController catalogue;
    if (catalogue.loadConfig(config)) {
        for (const DeviceDetail &entry : catalogue.devices())
            vendors.append(static_cast<quint16>(entry.vid));
    }
    QSaveFile saved(file);
    if (!saved.open(QIODevice::WriteOnly)
        || saved.write(QJsonDocument(recorder->scene(vendors)).toJson(QJsonDocument::Indented)) < 0
        || !saved.commit())
        return fail(ExitBadInput, QStringLiteral("record: cannot write %1: %2").arg(file, saved.errorString()));
    std::fprintf(stderr, "bondara-cli: recorded %d exchanges in %s\n", recorder->exchangeCount(), qPrintable(file));
    return code;
}

// Printable text is taken as hex bytes; anything else as the raw descriptor.
bool readDescriptorFile(const QString &path, std::vector<uint8_t> &bytes, QString &error)
{
    QByteArray content;
    QString reason;
    if (!KHID::readFileCapped(path, KHID::kDescriptorFileLimit, content, &reason, true)) {
        error = QStringLiteral("%1: %2").arg(path, reason);
        return false;
    }
    bool text = !content.isEmpty();
    for (const char c : content) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!(u == '\n' || u == '\r' || u == '\t' || (u >= 0x20 && u < 0x7F))) {
            text = false;
            break;
        }
    }
    if (text) {
        if (!KHID::parseHexBytes(content.toStdString(), bytes)) {
            error = QStringLiteral("%1: not a list of hexadecimal bytes").arg(path);
            return false;
        }
        return true;
    }
    bytes.assign(content.begin(), content.end());
    return true;
}

int descriptorCommand(const QStringList &args)
{
    bool json = false;
    QString path;
    for (const QString &arg : args) {
        if (arg == QLatin1String("--json"))
            json = true;
        else if (path.isEmpty())
            path = arg;
        else
            return fail(ExitBadInput, QStringLiteral("descriptor: unexpected argument \"%1\"").arg(arg));
    }
    if (path.isEmpty())
        return fail(ExitBadInput, QStringLiteral("descriptor: no file given"));

    std::vector<uint8_t> bytes;
    QString error;
    if (!readDescriptorFile(path, bytes, error))
        return fail(ExitBadInput, error);
    const KHID::KReportDescriptor descriptor = KHID::parseReportDescriptor(bytes.data(), bytes.size());
    if (!descriptor.ok)
        return fail(ExitBadInput, QStringLiteral("%1: bad descriptor: %2")
                                      .arg(path, QString::fromStdString(descriptor.error)));
    if (descriptor.collections.empty())
        return fail(ExitBadInput, QStringLiteral("%1: the descriptor has no top-level collection").arg(path));

    QJsonArray collections;
    int number = 0;
    for (const KHID::KTopCollection &collection : descriptor.collections) {
        QJsonArray ids;
        for (const KHID::KHidValueCaps &value : collection.featureValueCaps)
            ids.append(value.ReportID);
        collections.append(capsObject(collection.caps, ids));
        if (!json)
            out() << "collection " << ++number << ": " << capsText(collection.caps, ids) << '\n';
    }
    if (json)
        out() << QJsonDocument(QJsonObject{{"usesReportIds", descriptor.usesReportIds},
                                           {"collections", collections}})
                     .toJson(QJsonDocument::Indented);
    out().flush();
    return ExitOk;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bondara-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BONDARA_VERSION));
    qInstallMessageHandler(messageHandler);
    readStdinAsBytes();

    QStringList args = app.arguments().mid(1);
    while (!args.isEmpty() && (args.first() == QLatin1String("-v") || args.first() == QLatin1String("--verbose"))) {
        gVerbose = true;
        args.removeFirst();
    }
    if (args.isEmpty())
        return fail(ExitBadInput, QStringLiteral("no command given\n") + usageText());
    const QString command = args.takeFirst();
    if (command == QLatin1String("-h") || command == QLatin1String("--help") || command == QLatin1String("help")) {
        out() << usageText();
        return ExitOk;
    }
    if (command == QLatin1String("--version")) {
        out() << "bondara-cli " << BONDARA_VERSION << '\n';
        return ExitOk;
    }
    if (command == QLatin1String("descriptor"))
        return descriptorCommand(args);

    std::string error;
    if (!KHID::installPlatformFromEnvironment(&error))
        return fail(ExitBadInput, plain(QString::fromStdString(error)));
    // Standard output carries our own listing; the walk's complaints go with the log.
    std::cout.rdbuf(std::cerr.rdbuf());

    if (command == QLatin1String("list"))
        return listCommand(args);
    if (command == QLatin1String("pair"))
        return pairCommand(args);
    if (command == QLatin1String("watch"))
        return watchCommand(args);
    if (command == QLatin1String("doctor"))
        return doctorCommand(args);
    if (command == QLatin1String("record"))
        return recordCommand(args);
    return fail(ExitBadInput, QStringLiteral("unknown command \"%1\"\n").arg(command) + usageText());
}
