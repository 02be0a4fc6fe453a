// SPDX-License-Identifier: MIT
#include "sim/ksimscene.h"

#include "base/kfileread.h"
#include "khid/kreportdescriptor.h"
#include "sim/ksimplatform.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace KHID {

namespace {

// The keys each object of a scene may have; anything else is a typo to point at.
const QStringList kRootKeys{"interfaces", "events"};
const QStringList kInterfaceKeys{"path", "name", "vendorId", "productId", "version", "queryFails",
                                 "openFails", "rootOnly", "receiver", "reportDescriptor", "port", "serial"};
// An interface's capabilities: from its descriptor, or given one by one.
const QStringList kDescriptorKeys{"collection"};
const QStringList kExplicitCapsKeys{"usagePage", "usage", "inputReportLength", "outputReportLength",
                                    "featureReportLength", "featureReportIds"};
const QStringList kReceiverKeys{"pairAfterPolls", "pairStatus", "replyMarker", "queryState", "failWrites",
                                "failReads", "fetchMs", "replay"};
// One recorded exchange: the request, then its reply or the words of its failure.
const QStringList kReplayKeys{"atMs", "write", "reply", "writeFails", "readFails"};
constexpr int kReplayLimit = 10000;
const QStringList kUnplugKeys{"afterMs", "action", "path"};
const QStringList kPlugKeys{"afterMs", "action", "interface"};

class SceneReader
{
public:
    explicit SceneReader(const QString &origin)
        : mOrigin(origin)
    {
    }

    QString error() const { return mError; }

    bool fail(const QString &where, const QString &why)
    {
        mError = QStringLiteral("scene %1: %2%3").arg(mOrigin, where.isEmpty() ? QString() : where + ": ", why);
        return false;
    }

    // Every key of `object` is in one of the lists.
    bool checkKeys(const QJsonObject &object, const QString &where, std::initializer_list<const QStringList *> lists)
    {
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            const bool known = std::any_of(lists.begin(), lists.end(),
                                           [&](const QStringList *keys) { return keys->contains(it.key()); });
            if (!known)
                return fail(where.isEmpty() ? it.key() : where + '.' + it.key(), QStringLiteral("unknown key"));
        }
        return true;
    }

    bool readHex16(const QJsonObject &object, const QString &where, const char *key, quint16 &out,
                   bool required)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined()) {
            if (required)
                return fail(where, QStringLiteral("\"%1\" is missing").arg(key));
            return true;
        }
        bool ok = false;
        const QString text = value.toString();
        const uint number = text.toUInt(&ok, 16);
        if (!value.isString() || !ok || number > 0xFFFF)
            return fail(where + '.' + key, QStringLiteral("expected a hexadecimal string of 0 to ffff"));
        out = static_cast<quint16>(number);
        return true;
    }

    bool readNumber(const QJsonObject &object, const QString &where, const char *key, int maximum, int &out)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined())
            return true;
        const double number = value.toDouble(-1);
        if (!value.isDouble() || number < 0 || number > maximum || number != static_cast<int>(number))
            return fail(where + '.' + key, QStringLiteral("expected a whole number from 0 to %1").arg(maximum));
        out = static_cast<int>(number);
        return true;
    }

    bool readBool(const QJsonObject &object, const QString &where, const char *key, bool &out)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined())
            return true;
        if (!value.isBool())
            return fail(where + '.' + key, QStringLiteral("expected true or false"));
        out = value.toBool();
        return true;
    }

    bool readDescriptor(const QJsonObject &object, const QString &where, KSimInterface &interface)
    {
        const QJsonValue text = object.value(QLatin1String("reportDescriptor"));
        std::vector<uint8_t> bytes;
        if (!text.isString() || !parseHexBytes(text.toString().toStdString(), bytes))
            return fail(where + ".reportDescriptor", QStringLiteral("expected a string of hexadecimal bytes"));
        int collection = 1;
        if (!readNumber(object, where, "collection", 0xFFFF, collection))
            return false;
        const KReportDescriptor parsed = parseReportDescriptor(bytes.data(), bytes.size());
        if (!parsed.ok) {
            // A device may well send a broken descriptor: the interface stays,
            // and its query fails as it would on hardware.
            interface.hasPreparsedData = false;
            return true;
        }
        if (collection < 1 || static_cast<std::size_t>(collection) > parsed.collections.size())
            return fail(where + ".collection",
                        QStringLiteral("the descriptor has %1 top-level collection(s)").arg(parsed.collections.size()));
        const KTopCollection &top = parsed.collections[collection - 1];
        interface.caps = top.caps;
        interface.featureValueCaps = QVector<KHidValueCaps>(top.featureValueCaps.begin(), top.featureValueCaps.end());
        return true;
    }

    bool readExplicitCaps(const QJsonObject &object, const QString &where, KSimInterface &interface)
    {
        KHidCaps &caps = interface.caps;
        int input = 0, output = 0, feature = 0;
        if (!readHex16(object, where, "usagePage", caps.UsagePage, false)
            || !readHex16(object, where, "usage", caps.Usage, false)
            || !readNumber(object, where, "inputReportLength", 0xFFFF, input)
            || !readNumber(object, where, "outputReportLength", 0xFFFF, output)
            || !readNumber(object, where, "featureReportLength", 0xFFFF, feature))
            return false;
        caps.InputReportByteLength = static_cast<uint16_t>(input);
        caps.OutputReportByteLength = static_cast<uint16_t>(output);
        caps.FeatureReportByteLength = static_cast<uint16_t>(feature);

        const QJsonValue ids = object.value(QLatin1String("featureReportIds"));
        if (ids.isUndefined())
            return true;
        if (!ids.isArray())
            return fail(where + ".featureReportIds", QStringLiteral("expected an array of report ids"));
        const QJsonArray list = ids.toArray();
        for (int i = 0; i < list.size(); ++i) {
            const double id = list.at(i).toDouble(-1);
            if (!list.at(i).isDouble() || id < 0 || id > 255 || id != static_cast<int>(id))
                return fail(QStringLiteral("%1.featureReportIds[%2]").arg(where).arg(i),
                            QStringLiteral("expected a report id from 0 to 255"));
            KHidValueCaps value;
            value.UsagePage = caps.UsagePage;
            value.ReportID = static_cast<uint8_t>(id);
            interface.featureValueCaps.append(value);
        }
        caps.NumberFeatureValueCaps = static_cast<uint16_t>(interface.featureValueCaps.size());
        return true;
    }

    bool readExchangeList(const QJsonObject &object, const QString &where, const char *key, QVector<int> &list,
                          bool &all)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined())
            return true;
        if (value.isString() && value.toString() == QLatin1String("all")) {
            all = true;
            return true;
        }
        const QString field = where + '.' + key;
        if (!value.isArray())
            return fail(field, QStringLiteral("expected \"all\" or an array of exchange numbers"));
        const QJsonArray numbers = value.toArray();
        for (int i = 0; i < numbers.size(); ++i) {
            const double number = numbers.at(i).toDouble(-1);
            if (!numbers.at(i).isDouble() || number < 1 || number > 1e9 || number != static_cast<int>(number))
                return fail(QStringLiteral("%1[%2]").arg(field).arg(i),
                            QStringLiteral("expected an exchange number from 1"));
            list.append(static_cast<int>(number));
        }
        return true;
    }

    bool readReceiver(const QJsonObject &object, const QString &where, KSimInterface &interface)
    {
        const QJsonValue value = object.value(QLatin1String("receiver"));
        if (value.isUndefined())
            return true;
        const QString field = where + ".receiver";
        if (!value.isObject())
            return fail(field, QStringLiteral("expected an object"));
        const QJsonObject receiver = value.toObject();
        if (!checkKeys(receiver, field, {&kReceiverKeys}))
            return false;
        KSimReceiver &r = interface.receiver;
        interface.hasReceiver = true;

        const QJsonValue polls = receiver.value(QLatin1String("pairAfterPolls"));
        if (!polls.isUndefined()) {
            const double number = polls.toDouble(-2);
            if (!polls.isDouble() || number < -1 || number > 1e9 || number != static_cast<int>(number))
                return fail(field + ".pairAfterPolls", QStringLiteral("expected -1 or a whole number from 0"));
            r.pairAfterPolls = static_cast<int>(number);
        }
        int status = r.pairStatus, marker = r.replyMarker, state = r.queryState;
        if (!readNumber(receiver, field, "pairStatus", 0xFF, status)
            || !readNumber(receiver, field, "replyMarker", 0xFF, marker)
            || !readNumber(receiver, field, "queryState", 0xFF, state)
            || !readNumber(receiver, field, "fetchMs", 60000, r.fetchMs)
            || !readExchangeList(receiver, field, "failWrites", r.failWrites, r.failAllWrites)
            || !readExchangeList(receiver, field, "failReads", r.failReads, r.failAllReads))
            return false;
        r.pairStatus = static_cast<quint8>(status);
        r.replyMarker = static_cast<quint8>(marker);
        r.queryState = static_cast<quint8>(state);
        return readReplay(receiver, field, r.replay);
    }

    bool readHexField(const QJsonObject &object, const QString &where, const char *key, QByteArray &bytes)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        std::vector<uint8_t> parsed;
        if (!value.isString() || !parseHexBytes(value.toString().toStdString(), parsed) || parsed.empty()
            || parsed.size() > 2048)
            return fail(where + '.' + key, QStringLiteral("expected 1 to 2048 hexadecimal bytes"));
        bytes = QByteArray(reinterpret_cast<const char *>(parsed.data()), static_cast<int>(parsed.size()));
        return true;
    }

    bool readWords(const QJsonObject &object, const QString &where, const char *key, QString &words)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!value.isString() || value.toString().isEmpty() || value.toString().size() > 200)
            return fail(where + '.' + key, QStringLiteral("expected the system's words (1 to 200 characters)"));
        words = value.toString();
        return true;
    }

    bool readReplay(const QJsonObject &receiver, const QString &where, QVector<KSimReplayStep> &replay)
    {
        const QJsonValue value = receiver.value(QLatin1String("replay"));
        if (value.isUndefined())
            return true;
        const QString field = where + ".replay";
        if (!value.isArray() || value.toArray().isEmpty() || value.toArray().size() > kReplayLimit)
            return fail(field, QStringLiteral("expected an array of 1 to %1 exchanges").arg(kReplayLimit));
        const QJsonArray steps = value.toArray();
        for (int i = 0; i < steps.size(); ++i) {
            const QString at = QStringLiteral("%1[%2]").arg(field).arg(i);
            if (!steps.at(i).isObject())
                return fail(at, QStringLiteral("expected an object"));
            const QJsonObject object = steps.at(i).toObject();
            if (!checkKeys(object, at, {&kReplayKeys}))
                return false;
            KSimReplayStep step;
            int atMs = 0;
            if (!readHexField(object, at, "write", step.write) || !readNumber(object, at, "atMs", 1000000000, atMs))
                return false;
            const int outcomes = int(object.contains(QLatin1String("reply")))
                + int(object.contains(QLatin1String("writeFails"))) + int(object.contains(QLatin1String("readFails")));
            if (outcomes > 1)
                return fail(at, QStringLiteral("expected at most one of reply, writeFails and readFails"));
            if (object.contains(QLatin1String("reply"))) {
                step.hasReply = true;
                if (!readHexField(object, at, "reply", step.reply))
                    return false;
            } else if (object.contains(QLatin1String("writeFails"))) {
                step.writeFails = true;
                if (!readWords(object, at, "writeFails", step.words))
                    return false;
            } else if (object.contains(QLatin1String("readFails"))) {
                step.readFails = true;
                if (!readWords(object, at, "readFails", step.words))
                    return false;
            }
            replay.append(step);
        }
        return true;
    }

    bool readInterface(const QJsonValue &entry, const QString &where, KSimInterface &interface)
    {
        if (!entry.isObject())
            return fail(where, QStringLiteral("expected an object"));
        const QJsonObject object = entry.toObject();
        const bool described = object.contains(QLatin1String("reportDescriptor"));
        if (!checkKeys(object, where, {&kInterfaceKeys, described ? &kDescriptorKeys : &kExplicitCapsKeys}))
            return false;

        const QJsonValue path = object.value(QLatin1String("path"));
        if (!path.isString() || path.toString().isEmpty())
            return fail(where + ".path", QStringLiteral("expected a non-empty string"));
        interface.path = path.toString();

        const QJsonValue name = object.value(QLatin1String("name"));
        if (!name.isUndefined() && !name.isString())
            return fail(where + ".name", QStringLiteral("expected a string"));
        interface.name = name.toString();
        for (const auto &[key, field] : {std::pair<const char *, QString *>{"port", &interface.port},
                                         std::pair<const char *, QString *>{"serial", &interface.serial}}) {
            const QJsonValue value = object.value(QLatin1String(key));
            if (!value.isUndefined() && (!value.isString() || value.toString().size() > 200))
                return fail(where + "." + key, QStringLiteral("expected a string of at most 200 characters"));
            *field = value.toString();
        }

        int version = 0;
        if (!readHex16(object, where, "vendorId", interface.vendorId, true)
            || !readHex16(object, where, "productId", interface.productId, true)
            || !readNumber(object, where, "version", 0xFFFF, version)
            || !readBool(object, where, "queryFails", interface.queryFails)
            || !readBool(object, where, "rootOnly", interface.rootOnly))
            return false;
        // true, or the system's words for the refusal ("Permission denied").
        const QJsonValue openFails = object.value(QLatin1String("openFails"));
        if (openFails.isString()) {
            const QString words = openFails.toString();
            if (words.isEmpty() || words.size() > 200)
                return fail(where + ".openFails", QStringLiteral("expected true, false or 1 to 200 characters"));
            interface.openFails = true;
            interface.openFailsWords = words;
        } else if (!readBool(object, where, "openFails", interface.openFails)) {
            return fail(where + ".openFails", QStringLiteral("expected true, false or the system's words"));
        }
        interface.version = static_cast<quint16>(version);
        if (!readReceiver(object, where, interface))
            return false;

        if (described)
            return readDescriptor(object, where, interface);
        return readExplicitCaps(object, where, interface);
    }

    bool readEvent(const QJsonValue &entry, int index, QVector<KSimChange> &changes)
    {
        const QString where = QStringLiteral("events[%1]").arg(index);
        if (!entry.isObject())
            return fail(where, QStringLiteral("expected an object"));
        const QJsonObject object = entry.toObject();
        const QString action = object.value(QLatin1String("action")).toString();
        const bool plug = action == QLatin1String("plug");
        if (!plug && action != QLatin1String("unplug"))
            return fail(where + ".action", QStringLiteral("expected \"plug\" or \"unplug\""));
        if (!checkKeys(object, where, {plug ? &kPlugKeys : &kUnplugKeys}))
            return false;
        const QJsonValue after = object.value(QLatin1String("afterMs"));
        const double ms = after.toDouble(-1);
        // The range comes first: converting 1e300 to an integer is undefined.
        if (!after.isDouble() || ms < 0 || ms > std::numeric_limits<int>::max() || ms != std::floor(ms))
            return fail(where + ".afterMs", QStringLiteral("expected a whole number of milliseconds from 0"));
        KSimChange change;
        change.afterMs = static_cast<qint64>(ms);

        if (!plug) {
            const QJsonValue path = object.value(QLatin1String("path"));
            if (!path.isString() || path.toString().isEmpty())
                return fail(where + ".path", QStringLiteral("expected the path of the interface to unplug"));
            change.path = path.toString();
        } else {
            change.plug = true;
            if (!readInterface(object.value(QLatin1String("interface")), where + ".interface", change.interface))
                return false;
            change.path = change.interface.path;
        }
        changes.append(change);
        return true;
    }

    // The scene's interfaces, each path once.
    bool readInterfaces(const QJsonValue &list, QVector<KSimInterface> &interfaces)
    {
        if (!list.isArray())
            return fail(QString(), QStringLiteral("\"interfaces\" must be an array"));
        const QJsonArray entries = list.toArray();
        QHash<QString, int> firstOfPath;
        for (int i = 0; i < entries.size(); ++i) {
            KSimInterface interface;
            const QString where = QStringLiteral("interfaces[%1]").arg(i);
            if (!readInterface(entries.at(i), where, interface))
                return false;
            const auto earlier = firstOfPath.constFind(interface.path);
            if (earlier != firstOfPath.constEnd())
                return fail(where + ".path", QStringLiteral("\"%1\" is also the path of interfaces[%2]")
                                                 .arg(interface.path)
                                                 .arg(earlier.value()));
            firstOfPath.insert(interface.path, i);
            interfaces.append(interface);
        }
        return true;
    }

    // The timed changes, in the order they play.
    bool readEvents(const QJsonValue &events, QVector<KSimChange> &timeline)
    {
        if (!events.isUndefined() && !events.isArray())
            return fail(QString(), QStringLiteral("\"events\" must be an array"));
        const QJsonArray changes = events.toArray();
        for (int i = 0; i < changes.size(); ++i) {
            if (!readEvent(changes.at(i), i, timeline))
                return false;
        }
        std::stable_sort(timeline.begin(), timeline.end(),
                         [](const KSimChange &a, const KSimChange &b) { return a.afterMs < b.afterMs; });
        return true;
    }

private:
    QString mOrigin;
    QString mError;
};

} // namespace

std::unique_ptr<KSimPlatform> KSimPlatform::fromJson(const QByteArray &json, const QString &origin,
                                                     QString *error)
{
    SceneReader reader(origin);
    auto refused = [&] {
        if (error)
            *error = reader.error();
        return nullptr;
    };

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        reader.fail(QString(), QStringLiteral("invalid JSON at offset %1: %2")
                                   .arg(parseError.offset)
                                   .arg(parseError.errorString()));
        return refused();
    }
    if (!document.isObject()) {
        reader.fail(QString(), QStringLiteral("the root must be an object"));
        return refused();
    }
    const QJsonObject root = document.object();
    auto scene = std::make_unique<KSimPlatform>();
    if (!reader.checkKeys(root, QString(), {&kRootKeys})
        || !reader.readInterfaces(root.value(QLatin1String("interfaces")), scene->mInterfaces))
        return refused();
    scene->reindexLocked();
    if (!reader.readEvents(root.value(QLatin1String("events")), scene->mTimeline))
        return refused();
    return scene;
}

std::unique_ptr<KSimPlatform> KSimPlatform::fromFile(const QString &file, QString *error, const QString &trace)
{
    QByteArray json;
    QString reason;
    if (!readFileCapped(file, kDocumentFileLimit, json, &reason)) {
        if (error)
            *error = QStringLiteral("scene %1: %2").arg(file, reason);
        return nullptr;
    }
    std::unique_ptr<KSimPlatform> scene = fromJson(json, file, error);
    if (scene && !trace.isEmpty()) {
        // Refused now, with its reason, rather than failing quietly at each report.
        if (!appendToRegularFile(trace, QByteArray(), &reason)) {
            if (error)
                *error = QStringLiteral("trace %1: %2").arg(trace, reason);
            return nullptr;
        }
        scene->setTraceFile(trace);
    }
    return scene;
}

} // namespace KHID
