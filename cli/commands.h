// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

// One function per command, given the arguments after its name; each returns the exit status.
namespace cli {

int listCommand(const QStringList &args);
int pairCommand(const QStringList &args);
int watchCommand(const QStringList &args);
int doctorCommand(const QStringList &args);
int recordCommand(const QStringList &args);
int descriptorCommand(const QStringList &args);

// The options of list and doctor: --json and --config FILE. Anything else ends
// the command with the exit status returned; 0 when all were read.
int readJsonAndConfig(const QString &command, const QStringList &args, bool &json, QString &config);

} // namespace cli
