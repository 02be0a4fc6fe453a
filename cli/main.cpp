// SPDX-License-Identifier: MIT
// bondara-cli: the receiver tool without a window.

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/terminal.h"
#include "sim/ksimplatform.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <iostream>

using namespace cli;

namespace {

bool gVerbose = false;

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg && !gVerbose)
        return;
    // The log quotes device and file text; one message stays one line.
    std::fprintf(stderr, "%s\n", qPrintable(plain(message)));
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
        "file, catalogue or scene), no receiver, several and none chosen, no access to it, another\n"
        "program pairing with it, or the pairing service not authorised by polkit; 3 the receiver failed\n"
        "during pairing (unplugged, a report not written or read, or it refused); 130 stopped by Ctrl+C\n"
        "(143 SIGTERM), the receiver told to stop waiting.\n"
        "doctor: 0 no problem, 1 a problem, 2 bad input.\n");
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
