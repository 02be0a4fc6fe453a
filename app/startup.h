// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

// The program: one copy per user, the language option, the window, the event loop.
int runBondara(int argc, char *argv[]);
// The signal that asked the program to stop (SIGTERM, SIGINT, SIGHUP), or 0.
int stopSignalReceived();

// The options of the window program: the language, the log, help and version.
struct StartOptions {
    QString language;  // "zh", "en" or empty
    bool verbose = false;
    bool help = false;
    bool version = false;
    QString unknown;   // the first option not understood
    // The command line as handed to Qt, which reads an option's value only
    // as the next argument: "--platform=x" becomes "--platform", "x".
    QStringList qtArguments;
};
StartOptions parseStartOptions(const QStringList &arguments);
QString startUsageText();

// The language a command line asks for: the first "-zh" or "-en", exactly; empty for none.
QString languageFromArguments(const QStringList &arguments);

// Registers a font file and gives a font of its first family.
QFont loadApplicationFont(const QString &path);
