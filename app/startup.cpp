// SPDX-License-Identifier: MIT
#include "app/startup.h"

#include "app/highdpi.h"
#include "app/maincontrol.h"
#include "ui/mainwindow.h"
#include "app/singleapplication.h"
#include "base/stopsignals.h"

#include "sim/ksimplatform.h"

#include <QDebug>
#include <QFontDatabase>
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

QString languageFromArguments(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("-zh"))
            return QStringLiteral("zh");
        if (argument == QLatin1String("-en"))
            return QStringLiteral("en");
    }
    return QString();
}

namespace {

// Qt's own options, which QApplication takes out of the command line itself,
// each with one dash or two.
const char *const kQtFlags[] = {"-reverse", "-widgetcount", "-sync", "-nograb", "-dograb", "-visual", "-cmap"};
const char *const kQtValueOptions[] = {"-platform", "-platformpluginpath", "-platformtheme", "-plugin",
                                       "-qwindowgeometry", "-qwindowicon", "-qwindowtitle", "-session",
                                       "-display", "-geometry", "-name", "-title", "-style", "-stylesheet",
                                       "-qmljsdebugger"};

bool isQtOption(QString argument, bool *takesValue)
{
    *takesValue = false;
    if (argument.startsWith(QLatin1String("--")))
        argument.remove(0, 1);
    for (const char *flag : kQtFlags) {
        if (argument == QLatin1String(flag))
            return true;
    }
    for (const char *option : kQtValueOptions) {
        const QLatin1String name(option);
        if (argument == name) {
            *takesValue = true;
            return true;
        }
        if (argument.startsWith(name + QLatin1Char('=')))
            return true;
    }
    return false;
}

} // namespace

StartOptions parseStartOptions(const QStringList &arguments)
{
    StartOptions options;
    options.language = languageFromArguments(arguments);
    options.qtArguments = arguments.mid(0, 1);
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        options.qtArguments << argument;
        bool takesValue = false;
        if (argument == QLatin1String("-v") || argument == QLatin1String("--verbose"))
            options.verbose = true;
        else if (argument == QLatin1String("-h") || argument == QLatin1String("--help"))
            options.help = true;
        else if (argument == QLatin1String("--version"))
            options.version = true;
        else if (argument == QLatin1String("-zh") || argument == QLatin1String("-en"))
            continue;
        else if (isQtOption(argument, &takesValue)) {
            const int equals = argument.indexOf(QLatin1Char('='));
            if (takesValue && i + 1 < arguments.size()) {
                options.qtArguments << arguments.at(++i);
            } else if (equals > 0) {
                options.qtArguments.last().truncate(equals);
                options.qtArguments << argument.mid(equals + 1);
            }
        }
        // Anything not an option (a file name, say) is left alone, as it always was.
        else if (argument.startsWith(QLatin1Char('-')) && argument.size() > 1 && options.unknown.isEmpty())
            options.unknown = argument;
    }
    return options;
}

QString startUsageText()
{
    return QStringLiteral("Usage: bondara [-zh | -en] [-v]\n"
                          "Pairs a wireless mouse or keyboard with its USB receiver.\n"
                          "\n"
                          "Options:\n"
                          "  -zh, -en        the language of the window (the system's by default)\n"
                          "  -v, --verbose   write the diagnostic log to standard error\n"
                          "  -h, --help      show this help\n"
                          "  --version       show the version\n");
}

QFont loadApplicationFont(const QString &path)
{
    const int id = QFontDatabase::addApplicationFont(path);
    if (id == -1) {
        qDebug() << "error : addApplicationFont" << path;
        return QFont();
    }
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        qDebug() << "error : QFontDatabase::applicationFontFamilies" << path;
        qDebug() << "error : addApplicationFont" << path;
        return QFont();
    }
    QFont font(families.first());
    font.setWeight(QFont::Normal);
    qDebug() << "[INFO] Add Font:" << font.toString();
    return font;
}

namespace {

// Qt takes its options' values only apart from their names; the command
// line is handed over as it came unless one had to be parted.
class QtCommandLine
{
public:
    QtCommandLine(const StartOptions &options, const QStringList &arguments, int argc, char *argv[])
        : mArgv(argv, argv + argc)
    {
        if (options.qtArguments != arguments) {
            for (const QString &argument : options.qtArguments)
                mStore.push_back(argument.toUtf8()); // as they were read
            mArgv.clear();
            for (QByteArray &argument : mStore)
                mArgv.push_back(argument.data());
        }
        mArgc = int(mArgv.size());
        mArgv.push_back(nullptr);
    }
    // The application keeps both for its lifetime.
    int &argc() { return mArgc; }
    char **argv() { return mArgv.data(); }

private:
    std::vector<QByteArray> mStore;
    std::vector<char *> mArgv;
    int mArgc = 0;
};

int runWindow(int &argc, char *argv[], const QString &lang)
{
    const QString id = QLatin1String(kId);
    SingleApplication app(id, argc, argv);
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

    QtCommandLine qt(options, arguments, argc, argv);
    return runWindow(qt.argc(), qt.argv(), options.language);
}

int stopSignalReceived()
{
    return gStopSignal;
}
