// bondara-cli: the receiver tool without a window.

#include "configcontroller.h"
#include "kfileread.h"
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
        "                                  (raw bytes, or text of hex bytes; - for standard input)\n"
        "\n"
        "Options:\n"
        "  -v, --verbose   show the diagnostic log on standard error\n"
        "  -h, --help      show this help\n"
        "  --version       show the version\n"
        "\n"
        "With BONDARA_SIMULATE=SCENE.json the simulated receiver stands in for the machine's HID devices.\n"
        "Exit status: 0 success, 1 not found or pairing failed, 2 bad input (an unusable file, catalogue\n"
        "or scene), no receiver or no access to it.\n");
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

QString catalogueProblem(const QString &path, const ConfigController &catalogue)
{
    return QStringLiteral("cannot use the catalogue %1: %2").arg(path, plain(catalogue.errorString()));
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
        out() << "match: " << plain(match.name) << " (vid " << hex(match.vid) << ", pid " << hex(match.pid)
              << ", usage " << hex(match.usagePage) << ':' << hex(match.usage) << ")\n";
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
        return fail(ExitBadInput, catalogueProblem(config, catalogue));
    bool found = false;
    DeviceDetail receiver;
    QObject::connect(&catalogue, &ConfigController::sigDeviceConfigChange, [&](bool status, DeviceDetail detail) {
        found = status;
        receiver = detail;
    });
    catalogue.findDevice();
    if (!found)
        return fail(ExitBadInput, QStringLiteral("no supported receiver is plugged in"));
    if (!receiver.pairs(type))
        return fail(ExitBadInput, QStringLiteral("%1 does not pair a %2")
                                      .arg(plain(receiver.name), type == 1 ? QStringLiteral("mouse") : QStringLiteral("keyboard")));

    auto *worker = new MouseCommunityBT;
    // A receiver found but closed to us is a matter of the machine, not a failed pairing.
    QString reason;
    if (!worker->handOverReceiver(receiver, &reason)) {
        delete worker;
        return fail(ExitBadInput, QStringLiteral("cannot open the receiver %1: %2").arg(plain(receiver.name), plain(reason)));
    }
    auto *thread = new QThread;
    worker->moveToThread(thread);
    QObject::connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    // The request crosses to the worker's thread as a queued call, wired before the thread runs.
    QTimer request;
    request.setSingleShot(true);
    QObject::connect(&request, &QTimer::timeout, worker, [worker, type] { worker->startPairing(type); });

    out() << "Receiver: " << plain(receiver.name) << " (pid 0x" << QString::number(receiver.pid, 16) << ")\n"
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
        if (args.at(i) == QLatin1String("--for")) {
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
    QObject::connect(&catalogue, &ConfigController::sigDeviceConfigChange, [](bool status, DeviceDetail detail) {
        if (status)
            out() << "  receiver: " << plain(detail.name) << " (vid " << hex(detail.vid) << ", pid " << hex(detail.pid) << ")\n";
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
              << (arrival ? "arrival" : "removal") << ' ' << plain(path) << '\n';
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
    return fail(ExitBadInput, QStringLiteral("unknown command \"%1\"\n").arg(command) + usageText());
}
