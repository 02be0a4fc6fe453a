// SPDX-License-Identifier: MIT
#include "configcontroller.h"

#include "kfileread.h"
#include "khid.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <iterator>

ConfigController::ConfigController(QObject *parent)
    : QObject(parent)
{
}

QString ConfigController::configFilePath()
{
    return QCoreApplication::applicationDirPath() + "/Config" + "/DeviceConfig.json";
}

bool ConfigController::loadConfig()
{
    return loadConfig(configFilePath());
}

namespace {

enum class FieldType { Text, Hex16, Hex8, Whole, Flag };

struct Field {
    const char *key;
    FieldType type;
    bool required;
};

// The documented entry: the ids that find the receiver are needed, the rest
// have their defaults.
const Field kEntryFields[] = {
    {"name", FieldType::Text, false},       {"vid", FieldType::Hex16, true},
    {"pid", FieldType::Hex16, true},        {"usage", FieldType::Hex16, true},
    {"usagePage", FieldType::Hex16, true},  {"reportId", FieldType::Hex8, false},
    {"communicationId", FieldType::Whole, false}, {"mouse", FieldType::Flag, false},
    {"keyboard", FieldType::Flag, false},   {"suit", FieldType::Flag, false},
    {"Tovrik", FieldType::Flag, false},
};

// Null when the value fits its field, else what was expected.
QString checkField(const Field &field, const QJsonValue &value)
{
    switch (field.type) {
    case FieldType::Text:
        return value.isString() ? QString() : QStringLiteral("expected a string");
    case FieldType::Hex16:
    case FieldType::Hex8: {
        const uint maximum = field.type == FieldType::Hex16 ? 0xFFFF : 0xFF;
        bool ok = false;
        const uint number = value.toString().toUInt(&ok, 16);
        if (!value.isString() || !ok)
            return QStringLiteral("expected a hexadecimal string");
        if (number > maximum)
            return QStringLiteral("expected a hexadecimal string of 0 to %1").arg(maximum, 0, 16);
        return QString();
    }
    case FieldType::Whole: {
        const double number = value.toDouble(-1);
        // Compared as doubles before any conversion: 1e300 is out of range, not undefined.
        if (!value.isDouble() || number < 0 || number > 0x7FFFFFFF || number != static_cast<double>(static_cast<int>(number)))
            return QStringLiteral("expected a whole number from 0");
        return QString();
    }
    case FieldType::Flag:
        return value.isBool() ? QString() : QStringLiteral("expected true or false");
    }
    return QString();
}

// The first problem of a catalogue, or null; unknown keys go to `warnings`.
QString checkCatalogue(const QJsonDocument &document, QStringList &warnings)
{
    if (!document.isObject())
        return QStringLiteral("the root must be an object with a \"DeviceList\" array");
    const QJsonObject root = document.object();
    for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
        if (it.key() != QLatin1String("DeviceList"))
            warnings << QStringLiteral("%1: unknown key").arg(it.key());
    }
    const QJsonValue list = root.value(QLatin1String("DeviceList"));
    if (list.isUndefined())
        return QStringLiteral("DeviceList: missing");
    if (!list.isArray())
        return QStringLiteral("DeviceList: expected an array of receivers");
    const QJsonArray entries = list.toArray();
    for (int i = 0; i < entries.size(); ++i) {
        const QString where = QStringLiteral("DeviceList[%1]").arg(i);
        if (!entries.at(i).isObject())
            return where + QStringLiteral(": expected an object");
        const QJsonObject entry = entries.at(i).toObject();
        for (const Field &field : kEntryFields) {
            const QJsonValue value = entry.value(QLatin1String(field.key));
            if (value.isUndefined()) {
                if (field.required)
                    return QStringLiteral("%1.%2: missing").arg(where, field.key);
                continue;
            }
            const QString problem = checkField(field, value);
            if (!problem.isEmpty())
                return QStringLiteral("%1.%2: %3").arg(where, field.key, problem);
        }
        for (auto it = entry.constBegin(); it != entry.constEnd(); ++it) {
            const auto known = std::find_if(std::begin(kEntryFields), std::end(kEntryFields),
                                            [&](const Field &field) { return it.key() == QLatin1String(field.key); });
            if (known == std::end(kEntryFields))
                warnings << QStringLiteral("%1.%2: unknown key").arg(where, it.key());
        }
    }
    return QString();
}

} // namespace

bool ConfigController::loadConfig(const QString &path)
{
    qDebug() << "load file: " << path;
    mError.clear();
    mWarnings.clear();
    QByteArray bytes;
    QString reason;
    if (!KHID::readFileCapped(path, KHID::kDocumentFileLimit, bytes, &reason)) {
        qDebug() << "open cofig file error !";
        mError = reason;
        return false;
    }
    return loadConfigData(bytes, path);
}

bool ConfigController::loadConfigData(const QByteArray &bytes, const QString &path)
{
    mError.clear();
    mWarnings.clear();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        qDebug() << "parse json error!";
        mError = QStringLiteral("not JSON: %1 at offset %2").arg(error.errorString()).arg(error.offset);
        return false;
    }

    mError = checkCatalogue(document, mWarnings);
    for (const QString &warning : qAsConst(mWarnings))
        qWarning().noquote() << QStringLiteral("catalogue %1: %2, ignored").arg(path, warning);
    if (!mError.isEmpty()) {
        qDebug().noquote() << QStringLiteral("catalogue %1: %2").arg(path, mError);
        return false;
    }

    const QJsonArray list = document.object().value(QLatin1String("DeviceList")).toArray();
    for (const QJsonValue &element : list) {
        const DeviceDetail entry(element.toObject());
        entry.print();
        mDevices.insert(entry.pid, entry);
    }
    return true;
}

bool ConfigController::findDevice()
{
    return scan();
}

void ConfigController::slotDeviceChange(bool status, QString devicePath)
{
    Q_UNUSED(status)
    Q_UNUSED(devicePath)
    scan();
}

const DeviceDetail *ConfigController::entryFor(const KHID::KHidDetail &interface) const
{
    const auto entry = mDevices.constFind(interface.ProductID);
    if (entry == mDevices.constEnd() || entry->vid != int(interface.VendorID)
        || entry->usage != int(interface.capAbilities.Usage) || entry->usagePage != int(interface.capAbilities.UsagePage))
        return nullptr;
    return &*entry;
}

QVector<Receiver> ConfigController::scanReceivers()
{
    QVector<Receiver> receivers;
    KHID::enumHidDevices([&](KHID::KHidDetail detail, bool &) {
        if (const DeviceDetail *entry = entryFor(detail))
            receivers.append(Receiver{detail, *entry, {}, {}, {}, 0});
    });
    identifyReceivers(receivers);
    return receivers;
}

bool ConfigController::scan()
{
    const QVector<Receiver> receivers = scanReceivers();
    if (!receivers.isEmpty()) {
        mCurrent = receivers.first().entry;
        qDebug() << "-- found device --";
        KHID::printDetail(receivers.first().interface);
        mCurrent.print();
        emit sigDeviceConfigChange(true, mCurrent);
    } else {
        qDebug() << "not found device";
        emit sigDeviceConfigChange(false, mCurrent);
    }
    emit sigReceiversFound(receivers);
    return !receivers.isEmpty();
}

bool ConfigController::isMouse(int pid)
{
    return mDevices.value(pid).mouse;
}

bool ConfigController::isKeyboard(int pid)
{
    return mDevices.value(pid).keyboard;
}

bool ConfigController::isSuit(int pid)
{
    return mDevices.value(pid).suit;
}

bool ConfigController::isTovrik(int pid)
{
    return mDevices.value(pid).Tovrik;
}
