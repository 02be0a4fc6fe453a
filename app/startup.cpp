#include "startup.h"

#include "maincontrol.h"
#include "mainwindow.h"
#include "singleapplication.h"

#include "kplatform.h"

#include <QStringList>

#include <cstdio>

int runBondara(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString(argv[i]);

    // A scene that cannot be used stops here rather than fall back to real devices.
    std::string error;
    if (!KHID::installPlatformFromEnvironment(&error)) {
        std::fprintf(stderr, "bondara: %s\n", error.c_str());
        return 2;
    }

    const QString id = QStringLiteral("Bondara_2.0.0");
    SingleApplication app(id, argc, argv);
    if (app.isRunning()) {
        app.sendMessage(id, 2000);
        return 0;
    }
    // Widgets must not outlive the application object.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { MainControl::instance().shutdown(); });

    const QString lang = languageFromArguments(arguments);
    if (!lang.isEmpty()) {
        MainControl::instance().setLanguage(lang);
        MainControl::instance().window()->updateLanguageButtons(lang);
        MainControl::instance().window()->retranslate();
    }

    QObject::connect(&app, &SingleApplication::messageReceived, &MainControl::instance(),
                     &MainControl::slotMessageReceived);
    MainControl::instance().showMainWindow();
    return app.exec();
}
