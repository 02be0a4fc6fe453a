// SPDX-License-Identifier: MIT
#include "config/cataloguecheck.h"

#include <QJsonObject>

#include <algorithm>
#include <iterator>

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

// The entry kept with its bad optional fields taken out, or left out for a bad required one.
void checkEntry(const QJsonValue &item, const QString &where, CatalogueCheck &check)
{
    if (!item.isObject()) {
        check.warnings << where + QStringLiteral(": expected an object, the entry is left out");
        return;
    }
    const QJsonObject entry = item.toObject();
    QJsonObject kept = entry;
    QStringList leftOut, defaulted;
    for (const Field &field : kEntryFields) {
        const QJsonValue value = entry.value(QLatin1String(field.key));
        const QString problem = value.isUndefined()
            ? (field.required ? QStringLiteral("missing") : QString())
            : checkField(field, value);
        if (problem.isEmpty())
            continue;
        if (field.required) {
            leftOut << QStringLiteral("%1.%2: %3, the entry is left out").arg(where, field.key, problem);
        } else {
            defaulted << QStringLiteral("%1.%2: %3, the default is used").arg(where, field.key, problem);
            kept.remove(QLatin1String(field.key));
        }
    }
    // A misspelt key ("vdi") is often what left out the entry it belongs to.
    QStringList unknown;
    for (auto it = entry.constBegin(); it != entry.constEnd(); ++it) {
        const auto known = std::find_if(std::begin(kEntryFields), std::end(kEntryFields),
                                        [&](const Field &field) { return it.key() == QLatin1String(field.key); });
        if (known == std::end(kEntryFields))
            unknown << QStringLiteral("%1.%2: unknown key").arg(where, it.key());
    }
    if (!leftOut.isEmpty()) {
        check.warnings << leftOut << unknown;
        return;
    }
    check.warnings << defaulted << unknown;
    check.entries.append(kept);
}

} // namespace

CatalogueCheck checkCatalogue(const QJsonDocument &document)
{
    CatalogueCheck check;
    if (!document.isObject()) {
        check.error = QStringLiteral("the root must be an object with a \"DeviceList\" array");
        return check;
    }
    const QJsonObject root = document.object();
    for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
        if (it.key() != QLatin1String("DeviceList"))
            check.warnings << QStringLiteral("%1: unknown key").arg(it.key());
    }
    const QJsonValue list = root.value(QLatin1String("DeviceList"));
    if (list.isUndefined()) {
        check.error = QStringLiteral("DeviceList: missing");
        return check;
    }
    if (!list.isArray()) {
        check.error = QStringLiteral("DeviceList: expected an array of receivers");
        return check;
    }
    // One bad entry costs that entry, not the receivers beside it.
    const QJsonArray entries = list.toArray();
    for (int i = 0; i < entries.size(); ++i)
        checkEntry(entries.at(i), QStringLiteral("DeviceList[%1]").arg(i), check);
    return check;
}
