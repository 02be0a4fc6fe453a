// SPDX-License-Identifier: MIT
#include "cli/output.h"

#include "config/configcontroller.h"

#include <QJsonDocument>
#include <QStringList>

#include <cstdio>

namespace cli {

namespace {

QString reportIdsText(const QJsonArray &ids)
{
    QStringList parts;
    for (const QJsonValue &id : ids)
        parts << QString::number(id.toInt());
    return parts.isEmpty() ? QStringLiteral("-") : parts.join(QLatin1Char(','));
}

} // namespace

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

QString hex(int value, int width)
{
    return QStringLiteral("%1").arg(value, width, 16, QLatin1Char('0'));
}

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

QJsonArray reportIds(const QVector<KHID::KHidValueCaps> &values)
{
    QJsonArray ids;
    for (const KHID::KHidValueCaps &value : values)
        ids.append(value.ReportID);
    return ids;
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

QString catalogueProblem(const QString &path, const ConfigController &catalogue)
{
    return QStringLiteral("cannot use the catalogue %1: %2").arg(path, plain(catalogue.errorString()));
}

void printCatalogueWarnings(const QString &path, const ConfigController &catalogue)
{
    out().flush();
    for (const QString &warning : catalogue.warnings())
        std::fprintf(stderr, "bondara-cli: catalogue %s: %s\n", qPrintable(path), qPrintable(plain(warning)));
}

} // namespace cli
