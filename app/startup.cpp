// SPDX-License-Identifier: MIT
#include "app/startup.h"

#include "app/highdpi.h"
#include "app/maincontrol.h"
#include "ui/mainwindow.h"
#include "app/singleapplication.h"
#include "base/stopsignals.h"

#include "sim/ksimplatform.h"

#include <QDebug>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QStringList>

#include <cstdio>
#include <iostream>
#include <vector>

namespace {

int gStopSignal = 0;

// A start from the menu writes nothing into the user's journal. Rules given
// through Qt's own settings (QT_LOGGING_RULES, QT_LOGGING_CONF) still win.
void keepQuiet()
{
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
    // The HID walk's own complaints go to standard output.
    std::cout.setstate(std::ios::badbit);
}

const char *const kId = "Bondara_2.0.0";

// A start with an option it does not know opens no window: a running copy is
// still brought to the front, and only without one is the option named.
int handOverOrRefuse(const QString &unknown, int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString id = QLatin1String(kId);
    switch (SingleApplication::handOver(id, id, 2000)) {
    case SingleApplication::HandOver::Delivered:
        return 0;
    case SingleApplication::HandOver::NoAnswer:
        std::fprintf(stderr, "bondara: another copy is running but does not answer\n");
        return 1;
    case SingleApplication::HandOver::NoCopy:
        break;
    }
    std::fprintf(stderr, "bondara: unknown option \"%s\"\n%s", qPrintable(unknown), qPrintable(startUsageText()));
    return 2;
}

} // namespace

int runBondara(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString(argv[i]);

    const StartOptions options = parseStartOptions(arguments);
    if (options.help) {
        std::fputs(qPrintable(startUsageText()), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("bondara %s\n", BONDARA_VERSION);
        return 0;
    }
    if (options.verbose)
        std::cout.rdbuf(std::cerr.rdbuf()); // the HID walk's lines go with the log
    else
        keepQuiet();
    if (!options.unknown.isEmpty())
        return handOverOrRefuse(options.unknown, argc, argv);

    // A scene that cannot be used stops here rather than fall back to real devices.
    std::string error;
    if (!KHID::installPlatformFromEnvironment(&error)) {
        std::fprintf(stderr, "bondara: %s\n", error.c_str());
        return 2;
    }

    // The window is drawn by the raster engine alone; on X, Qt would otherwise
    // load the OpenGL libraries with the first window, which costs more than
    // the rest of the start and doubles the resident memory. A user's own
    // choice still wins.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");

    setUpHighDpi();

    // Qt takes its options' values only apart from their names; the command
    // line is handed over as it came unless one had to be parted.
    std::vector<QByteArray> qtStore;
    std::vector<char *> qtArgv(argv, argv + argc);
    if (options.qtArguments != arguments) {
        for (const QString &argument : options.qtArguments)
            qtStore.push_back(argument.toUtf8()); // as they were read
        qtArgv.clear();
        for (QByteArray &argument : qtStore)
            qtArgv.push_back(argument.data());
    }
    int qtArgc = int(qtArgv.size());
    qtArgv.push_back(nullptr);

    const QString id = QLatin1String(kId);
    SingleApplication app(id, qtArgc, qtArgv.data());
    if (app.isRunning()) {
        if (app.sendMessage(id, 2000))
            return 0;
        if (!app.takeOverFromGoneHolder()) {
            std::fprintf(stderr, "bondara: another copy is running but does not answer\n");
            return 1;
        }
    }
    qDebug() << "platform:" << QGuiApplication::platformName();
    // Widgets must not outlive the application object.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { MainControl::instance().shutdown(); });

    const QString lang = options.language;
    if (!lang.isEmpty()) {
        MainControl::instance().switchLanguage(lang);
    }

    QObject::connect(&app, &SingleApplication::messageReceived, &MainControl::instance(),
                     &MainControl::slotMessageReceived);
    MainControl::instance().showMainWindow();

    // Asked to stop from outside: closed as the close button does, so that a
    // pairing in progress sends its end command before the program goes.
    QObject::connect(StopSignals::install(), &StopSignals::sigStop, &app, [](int number) {
        qDebug() << "asked to stop by signal" << number;
        gStopSignal = number;
        QCoreApplication::exit(0);
    });
    return app.exec();
}

int stopSignalReceived()
{
    return gStopSignal;
}
