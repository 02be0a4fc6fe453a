// SPDX-License-Identifier: MIT
#pragma once

#include "base/plaintext.h"
#include "config/receiver.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QTextStream>
#include <QVector>

class ConfigController;

// What the commands share: the exit statuses, and their words on the terminal and in JSON.
namespace cli {

// 1 is also "no device answered": the pairing ran and nothing paired.
enum ExitCode { ExitOk = 0, ExitNotFound = 1, ExitBadInput = 2, ExitReceiverFailed = 3 };

QTextStream &out();
// The reason on standard error, after what standard output holds; returns `code`.
int fail(int code, const QString &reason);
QString hex(int value, int width = 4);
// One JSON Lines event: every line names its schema version and event.
void emitEvent(const QString &event, QJsonObject fields);
QJsonObject receiverObject(const Receiver &receiver);
QJsonArray reportIds(const QVector<KHID::KHidValueCaps> &values);
QJsonObject capsObject(const KHID::KHidCaps &caps, const QJsonArray &ids);
QString capsText(const KHID::KHidCaps &caps, const QJsonArray &ids);
QJsonObject entryObject(const DeviceDetail &entry);
// Every receiver of a scan: its entry, where it is and the name it is shown by.
QJsonArray receiversArray(const QVector<Receiver> &receivers);
QString catalogueProblem(const QString &path, const ConfigController &catalogue);
// The entries left out and the fields defaulted or ignored of a catalogue in use, one line each.
void printCatalogueWarnings(const QString &path, const ConfigController &catalogue);

} // namespace cli
