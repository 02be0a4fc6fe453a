// bondara-cli: the receiver tool without a window.

#include "configcontroller.h"
#include "kdevicemonitor.h"
#include "khid.h"
#include "kplatform.h"
#include "kreportdescriptor.h"
#include "mousecommunitybt.h"
#include "terminal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <iostream>

namespace {

enum ExitCode { ExitOk = 0, ExitNotFound = 1, ExitBadInput = 2 };

bool gVerbose = false;

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg && !gVerbose)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
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

QString usageText()
{
    return QStringLiteral(
        "Usage: bondara-cli [-v] COMMAND\n"
        "\n"
        "Commands:\n"
        "  list [--json] [--config FILE]  every HID interface, then the supported receiver found\n"
        "  pair mouse|keyboard [--config FILE]\n"
        "                                  pair a device with the receiver found (about 30 s)\n"
        "  watch [--for SECONDS] [--config FILE]\n"
        "                                  print HID arrivals and removals, each with a fresh scan\n"
        "  descriptor FILE [--json]        the top-level collections of a report descriptor\n"
        "                                  (raw bytes, or text of hex bytes)\n"
        "\n"
        "Options:\n"
        "  -v, --verbose   show the diagnostic log on standard error\n"
        "  -h, --help      show this help\n"
        "  --version       show the version\n"
        "\n"
        "With BONDARA_SIMULATE=SCENE.json the simulated receiver stands in for the machine's HID devices.\n"
        "Exit status: 0 success, 1 not found or pairing failed, 2 bad input or no receiver.\n");
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

int listCommand(const QStringList &args)
{
    bool json = false;
    QString config = ConfigController::configFilePath();
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--json"))
            json = true;
        else if (args.at(i) == QLatin1String("--config") && i + 1 < args.size())
            config = args.at(++i);
        else
            return fail(ExitBadInput, QStringLiteral("list: unexpected argument \"%1\"").arg(args.at(i)));
    }

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
            out() << detail.DevicePath << "  " << hex(detail.VendorID) << ':' << hex(detail.ProductID)
                  << "  version " << detail.VersionNumber << "  " << capsText(detail.capAbilities, ids)
                  << "  \"" << detail.DeviceName << "\"\n";
    });

    ConfigController catalogue;
    const bool loaded = catalogue.loadConfig(config);
    bool found = false;
    DeviceDetail match;
    QObject::connect(&catalogue, &ConfigController::sigDeviceConfigChange,
                     [&](bool status, DeviceDetail detail) {
                         found = status;
                         match = detail;
                     });
    catalogue.findDevice();

    if (json) {
        const QJsonObject document{{"interfaces", interfaces},
                                   {"match", found ? QJsonValue(entryObject(match)) : QJsonValue()}};
        out() << QJsonDocument(document).toJson(QJsonDocument::Indented);
    } else if (found) {
        out() << "match: " << match.name << " (vid " << hex(match.vid) << ", pid " << hex(match.pid)
              << ", usage " << hex(match.usagePage) << ':' << hex(match.usage) << ")\n";
    } else {
        out() << "not found device\n";
    }
    out().flush();

    if (!loaded)
        return fail(ExitBadInput, QStringLiteral("cannot use the catalogue %1 (missing or not JSON)").arg(config));
    return found ? ExitOk : ExitNotFound;
}

// Pairs through the same worker, on its own thread, as the window does.
int pairCommand(const QStringList &args)
{
    int type = 0;
    QString config = ConfigController::configFilePath();
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("mouse") && type == 0)
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
        return fail(ExitBadInput, QStringLiteral("cannot use the catalogue %1 (missing or not JSON)").arg(config));
    bool found = false;
    DeviceDetail receiver;
    QObject::connect(&catalogue, &ConfigController::sigDeviceConfigChange, [&](bool status, DeviceDetail detail) {
        found = status;
        receiver = detail;
    });
    catalogue.findDevice();
    if (!found)
        return fail(ExitBadInput, QStringLiteral("no supported receiver is plugged in"));
    const bool canPair = catalogue.isSuit(receiver.pid)
        || (type == 1 ? catalogue.isMouse(receiver.pid) : catalogue.isKeyboard(receiver.pid));
    if (!canPair)
        return fail(ExitBadInput, QStringLiteral("%1 does not pair a %2")
                                      .arg(receiver.name, type == 1 ? QStringLiteral("mouse") : QStringLiteral("keyboard")));

    auto *thread = new QThread;
    auto *worker = new MouseCommunityBT;
    worker->moveToThread(thread);
    QObject::connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    // The request crosses to the worker's thread as a queued call, wired before the thread runs.
    QTimer request;
    request.setSingleShot(true);
    QObject::connect(&request, &QTimer::timeout, worker, [worker, type] { worker->startPairing(type); });

    out() << "Receiver: " << receiver.name << " (pid 0x" << QString::number(receiver.pid, 16) << ")\n"
          << "Put the " << (type == 1 ? "mouse" : "keyboard")
          << " into pairing mode now; waiting for it for up to 30 seconds.\n";
    out().flush();

    const bool terminal = stdoutIsTerminal();
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
    progress.start(1000);

    int code = ExitNotFound;
    QObject::connect(worker, &MouseCommunity::sigPairResult, &progress, [&](bool status, const QString &message) {
        progress.stop();
        if (terminal && seconds > 0)
            out() << '\n';
        out() << message << '\n';
        out().flush();
        code = status ? ExitOk : ExitNotFound;
        QCoreApplication::quit();
    });
    thread->start();
    worker->handOverReceiver(receiver);
    request.start(0);
    QCoreApplication::exec();

    thread->quit();
    thread->wait();
    return code;
}

int watchCommand(const QStringList &args)
{
    double seconds = -1;
    QString config = ConfigController::configFilePath();
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--for") && i + 1 < args.size()) {
            bool ok = false;
            seconds = args.at(++i).toDouble(&ok);
            if (!ok || seconds < 0 || seconds > 24 * 3600)
                return fail(ExitBadInput, QStringLiteral("watch: --for takes 0 to 86400 seconds"));
        } else if (args.at(i) == QLatin1String("--config") && i + 1 < args.size()) {
            config = args.at(++i);
        } else {
            return fail(ExitBadInput, QStringLiteral("watch: unexpected argument \"%1\"").arg(args.at(i)));
        }
    }

    ConfigController catalogue;
    if (!catalogue.loadConfig(config))
        return fail(ExitBadInput, QStringLiteral("cannot use the catalogue %1 (missing or not JSON)").arg(config));
    QObject::connect(&catalogue, &ConfigController::sigDeviceConfigChange, [](bool status, DeviceDetail detail) {
        if (status)
            out() << "  receiver: " << detail.name << " (vid " << hex(detail.vid) << ", pid " << hex(detail.pid) << ")\n";
        else
            out() << "  not found device\n";
        out().flush();
    });

    std::unique_ptr<KHID::KDeviceMonitor> monitor = KHID::makeDeviceMonitor();
    long code = 0;
    if (!monitor || !monitor->start(0, &code))
        return fail(ExitBadInput, QStringLiteral("cannot watch for HID changes (error code %1)").arg(code));
    QObject::connect(monitor.get(), &KHID::KDeviceMonitor::sigDeviceChange, [&](bool arrival, const QString &path) {
        out() << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) << ' '
              << (arrival ? "arrival" : "removal") << ' ' << path << '\n';
        out().flush();
        catalogue.slotDeviceChange(arrival, path);
    });

    out() << "watching for HID changes" << (seconds >= 0 ? QStringLiteral(" for %1 s").arg(seconds) : QString())
          << "\n";
    out().flush();
    if (seconds >= 0)
        QTimer::singleShot(static_cast<int>(seconds * 1000), qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    return ExitOk;
}

// Printable text is taken as hex bytes; anything else as the raw descriptor.
bool readDescriptorFile(const QString &path, std::vector<uint8_t> &bytes, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray content = file.readAll();
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
        return fail(ExitBadInput, QString::fromStdString(error));
    // Standard output carries our own listing; the walk's complaints go with the log.
    std::cout.rdbuf(std::cerr.rdbuf());

    if (command == QLatin1String("list"))
        return listCommand(args);
    if (command == QLatin1String("pair"))
        return pairCommand(args);
    if (command == QLatin1String("watch"))
        return watchCommand(args);
    return fail(ExitBadInput, QStringLiteral("unknown command \"%1\"\n").arg(command) + usageText());
}
