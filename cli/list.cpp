// SPDX-License-Identifier: MIT
// list: every HID interface, then the supported receivers among them.

#include "cli/commands.h"
#include "cli/output.h"
#include "config/configcontroller.h"
#include "khid/khid.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli {

int readJsonAndConfig(const QString &command, const QStringList &args, bool &json, QString &config)
{
    config = ConfigController::configFilePath();
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--json"))
            json = true;
        else if (args.at(i) == QLatin1String("--config") && i + 1 < args.size())
            config = args.at(++i);
        else
            return fail(ExitBadInput, QStringLiteral("%1: unexpected argument \"%2\"").arg(command, args.at(i)));
    }
    return ExitOk;
}

int listCommand(const QStringList &args)
{
    bool json = false;
    QString config;
    if (const int code = readJsonAndConfig(QStringLiteral("list"), args, json, config))
        return code;

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
    printCatalogueWarnings(config, catalogue);
    const QVector<Receiver> receivers = catalogue.scanReceivers();
    const bool found = !receivers.isEmpty();

    if (json) {
        const QJsonObject document{{"interfaces", interfaces},
                                   {"match", found ? QJsonValue(entryObject(receivers.first().entry)) : QJsonValue()},
                                   {"receivers", receiversArray(receivers)}};
        out() << QJsonDocument(document).toJson(QJsonDocument::Indented);
    } else if (found) {
        for (const Receiver &receiver : receivers) {
            const DeviceDetail &match = receiver.entry;
            out() << "match: " << plain(receiver.label()) << " (vid " << hex(match.vid) << ", pid " << hex(match.pid)
                  << ", usage " << hex(match.usagePage) << ':' << hex(match.usage) << ") at "
                  << plain(receiver.path()) << "\n";
        }
    } else {
        out() << "not found device\n";
    }
    out().flush();
    return found ? ExitOk : ExitNotFound;
}

} // namespace cli
