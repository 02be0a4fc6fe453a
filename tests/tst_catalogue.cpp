// SPDX-License-Identifier: MIT
// The device catalogue: its file, its look-ups and the scan for a supported receiver.

#include "config/configcontroller.h"
#include "tests/testsupport.h"

#include <QtTest>

using namespace KHID;
using testsupport::simInterface;

namespace {

const char *kTwoReceivers = R"({"DeviceList": [
  {"name": "Receiver A", "vid": "1209", "pid": "0001", "usage": "0001", "usagePage": "ff00",
   "reportId": "ba", "communicationId": 3, "mouse": true, "keyboard": true, "suit": true, "Tovrik": false},
  {"name": "Receiver B", "vid": "1209", "pid": "0002", "usage": "0001", "usagePage": "ff00",
   "mouse": false, "keyboard": true, "Tovrik": true}
]})";

const char *kReplaced = R"({"DeviceList": [
  {"name": "old", "vid": "1111", "pid": "0001", "usage": "1", "usagePage": "ff00", "mouse": true},
  {"name": "new", "vid": "2222", "pid": "0001", "usage": "1", "usagePage": "ff00", "keyboard": true}
]})";

struct Result {
    int emitted = 0;
    bool status = false;
    DeviceDetail detail;
};

// A receiver: keyboard, mouse, then the vendor collection the catalogue names.
const QStringList kReceiver{"sim:rx/col01 1209:0001 0001:0006", "sim:rx/col02 1209:0001 0001:0002",
                            "sim:rx/col03 1209:0001 ff00:0001"};

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private:
    KSimPlatform *sim = nullptr;
    QTemporaryDir dir;

    // A null content: a path where no file is.
    QString writeCatalogue(const QByteArray &content)
    {
        if (content.isNull())
            return dir.filePath("absent.json");
        QFile file(dir.filePath("DeviceConfig.json"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
            return QString();
        return file.fileName();
    }

    // Each interface as "path vid:pid page:usage", all hexadecimal.
    void plug(const QStringList &interfaces)
    {
        for (const QString &described : interfaces) {
            const QStringList fields = described.split(' ');
            const auto number = [&](int field, int half) {
                return quint16(fields.at(field).section(':', half, half).toUInt(nullptr, 16));
            };
            sim->addInterface(simInterface(fields.at(0), number(1, 0), number(1, 1), number(2, 0), number(2, 1)));
        }
    }

    void watch(ConfigController &catalogue, Result &result)
    {
        connect(&catalogue, &ConfigController::sigDeviceConfigChange, this,
                [&result](bool status, DeviceDetail detail) {
                    ++result.emitted;
                    result.status = status;
                    result.detail = detail;
                });
    }

private slots:
    void init()
    {
        sim = testsupport::installSimulation();
        QVERIFY(dir.isValid());
    }

    void entryFieldsFollowTheirTypes()
    {
        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(R"({"DeviceList": [
            {"name": "typed", "vid": "abcd", "pid": "12", "usage": "2", "usagePage": "ff01",
             "reportId": "ba", "communicationId": 7, "mouse": true, "suit": true},
            {"vid": "1209", "pid": "13", "usage": "1", "usagePage": "ff00"}
        ]})")));
        QVERIFY(catalogue.warnings().isEmpty());
        const QMap<int, DeviceDetail> devices = catalogue.devices();
        QCOMPARE(devices.keys(), QList<int>({0x12, 0x13}));

        const DeviceDetail typed = devices.value(0x12);
        QCOMPARE(typed.name, QString("typed"));
        QCOMPARE(typed.vid, 0xABCD);
        QCOMPARE(typed.usage, 2);
        QCOMPARE(typed.usagePage, 0xFF01);
        QCOMPARE(typed.reportId, 0xBA);
        QCOMPARE(typed.communicationId, 7);
        QVERIFY(typed.mouse && typed.suit && !typed.keyboard && !typed.Tovrik);

        // Fields left out take their defaults.
        const DeviceDetail minimal = devices.value(0x13);
        QVERIFY(minimal.name.isEmpty());
        QCOMPARE(minimal.reportId, 0);
        QCOMPARE(minimal.communicationId, 0);
        QVERIFY(!minimal.mouse && !minimal.keyboard && !minimal.suit && !minimal.Tovrik);

        // An empty list is a catalogue, if a useless one; so is one whose every entry is left out.
        QVERIFY(ConfigController().loadConfig(writeCatalogue(R"({"DeviceList": []})")));
        ConfigController emptied;
        QVERIFY(emptied.loadConfig(writeCatalogue(R"({"DeviceList": [42, {"pid": "1"}]})")));
        QVERIFY(emptied.devices().isEmpty());
    }

    void flagLookups()
    {
        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(kTwoReceivers)));
        QVERIFY(catalogue.isMouse(1) && catalogue.isKeyboard(1) && catalogue.isSuit(1) && !catalogue.isTovrik(1));
        QVERIFY(!catalogue.isMouse(2) && catalogue.isKeyboard(2) && !catalogue.isSuit(2) && catalogue.isTovrik(2));
        QVERIFY(!catalogue.isMouse(3) && !catalogue.isKeyboard(3) && !catalogue.isSuit(3) && !catalogue.isTovrik(3));
        QVERIFY(!catalogue.devices().contains(3)); // a look-up adds nothing

        // A later entry with the same pid replaces the earlier.
        ConfigController replaced;
        QVERIFY(replaced.loadConfig(writeCatalogue(kReplaced)));
        QCOMPARE(replaced.devices().size(), 1);
        QCOMPARE(replaced.devices().value(1).name, QString("new"));
        QVERIFY(!replaced.isMouse(1) && replaced.isKeyboard(1));
    }

    void unusableFilesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("problem");
        QTest::newRow("no file") << QByteArray() << "No such file or directory";
        QTest::newRow("not JSON") << QByteArray(R"({"DeviceList": [)") << "not JSON: ";
        QTest::newRow("array root") << QByteArray(R"([{"pid": "1"}])")
                                    << R"(the root must be an object with a "DeviceList" array)";
        QTest::newRow("no DeviceList") << QByteArray(R"({"Devices": []})") << "DeviceList: missing";
        QTest::newRow("DeviceList a string") << QByteArray(R"({"DeviceList": "nope"})")
                                             << "DeviceList: expected an array of receivers";
    }

    void unusableFilesAreRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);
        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(kTwoReceivers)));
        QVERIFY(catalogue.errorString().isEmpty());
        QVERIFY(!catalogue.loadConfig(writeCatalogue(content)));
        const QString error = catalogue.errorString();
        QVERIFY2(content.isNull() ? error.contains(problem) : error.startsWith(problem), qPrintable(error));
        // Nothing of the refused file is taken.
        QCOMPARE(catalogue.devices().keys(), QList<int>({1, 2}));
    }

    // A bad field costs its entry or its value, never the receivers beside it. Each row puts one bad
    // value (undefined: the key left out) into an entry between Receiver A and Receiver B, with A's
    // product id: kept, it replaces A; left out, it replaces nothing.
    void badFieldsCostTheirEntryOrTheirValue_data()
    {
        QTest::addColumn<QString>("key"); // empty: the whole entry
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QString>("warning");
        const QString defaulted = ", the default is used", leftOut = ", the entry is left out";
        QTest::newRow("name a number") << "name" << QJsonValue(5) << true
                                       << "DeviceList[1].name: expected a string" + defaulted;
        QTest::newRow("report id beyond a byte") << "reportId" << QJsonValue("1ba") << true
                                                 << "DeviceList[1].reportId: expected a hexadecimal string of 0 to ff" + defaulted;
        QTest::newRow("communication id a string") << "communicationId" << QJsonValue("1") << true
                                                   << "DeviceList[1].communicationId: expected a whole number from 0" + defaulted;
        QTest::newRow("flag written 0") << "mouse" << QJsonValue(0) << true
                                        << "DeviceList[1].mouse: expected true or false" + defaulted;
        QTest::newRow("vid a number") << "vid" << QJsonValue(4617) << false
                                      << "DeviceList[1].vid: expected a hexadecimal string" + leftOut;
        QTest::newRow("vid beyond 16 bits") << "vid" << QJsonValue("11209") << false
                                            << "DeviceList[1].vid: expected a hexadecimal string of 0 to ffff" + leftOut;
        QTest::newRow("pid missing") << "pid" << QJsonValue(QJsonValue::Undefined) << false
                                     << "DeviceList[1].pid: missing" + leftOut;
        QTest::newRow("usage not hexadecimal") << "usage" << QJsonValue("zz") << false
                                               << "DeviceList[1].usage: expected a hexadecimal string" + leftOut;
        QTest::newRow("entry not an object") << QString() << QJsonValue(42) << false
                                             << "DeviceList[1]: expected an object" + leftOut;
    }

    void badFieldsCostTheirEntryOrTheirValue()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QFETCH(bool, kept);
        QFETCH(QString, warning);
        // Every field away from its default, so that a default shows.
        const QJsonObject good{{"name", "Receiver E"}, {"vid", "abcd"}, {"pid", "0001"}, {"usage", "1"},
                               {"usagePage", "ff00"}, {"reportId", "ba"}, {"communicationId", 3},
                               {"mouse", true}, {"keyboard", true}, {"suit", true}, {"Tovrik", true}};
        QJsonObject bad = good, without = good;
        bad.remove(key);
        without.remove(key);
        if (!value.isUndefined())
            bad.insert(key, value);
        QJsonArray list = QJsonDocument::fromJson(kTwoReceivers).object().value("DeviceList").toArray();
        const QJsonObject receiverA = list.at(0).toObject();
        list.insert(1, key.isEmpty() ? value : QJsonValue(bad));

        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(QJsonDocument(QJsonObject{{"DeviceList", list}}).toJson())));
        QCOMPARE(catalogue.warnings(), QStringList{warning});
        QCOMPARE(catalogue.devices().keys(), QList<int>({1, 2}));
        const auto fields = [](const DeviceDetail &d) {
            return QVariantList{d.name, d.vid, d.pid, d.usage, d.usagePage, d.reportId, d.communicationId,
                                d.mouse, d.keyboard, d.suit, d.Tovrik};
        };
        // Kept: as if the bad field had been left out.
        QCOMPARE(fields(catalogue.devices().value(1)), fields(DeviceDetail(kept ? without : receiverA)));
    }

    // Of an entry kept and of one left out alike: a misspelt key explains a missing one.
    void unknownKeysAreWarnedAboutAndIgnored_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QStringList>("warnings");
        QTest::addColumn<int>("entries");
        QTest::newRow("a misspelt flag") << QByteArray(R"({"DeviceList": [
            {"vid": "1209", "pid": "0001", "usage": "1", "usagePage": "ff00", "Mouse": true}], "Comment": "x"})")
                                         << QStringList{"Comment: unknown key", "DeviceList[0].Mouse: unknown key"} << 1;
        QTest::newRow("a misspelt required key") << QByteArray(R"({"DeviceList": [
            {"vdi": "1209", "pid": "0001", "usage": "1", "usagePage": "ff00"}]})")
                                                 << QStringList{"DeviceList[0].vid: missing, the entry is left out",
                                                                "DeviceList[0].vdi: unknown key"}
                                                 << 0;
    }

    void unknownKeysAreWarnedAboutAndIgnored()
    {
        QFETCH(QByteArray, json);
        QFETCH(QStringList, warnings);
        QFETCH(int, entries);
        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(json)));
        QCOMPARE(catalogue.warnings(), warnings);
        QCOMPARE(catalogue.devices().size(), entries);
        QVERIFY(!catalogue.isMouse(1)); // the misspelt flag is not taken for the real one
    }

    void defaultFileIsBesideTheExecutable()
    {
        QCOMPARE(ConfigController::configFilePath(),
                 QCoreApplication::applicationDirPath() + "/Config/DeviceConfig.json");
        QDir(QCoreApplication::applicationDirPath()).mkpath("Config");
        QFile file(ConfigController::configFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(kTwoReceivers);
        file.close();
        ConfigController catalogue;
        const bool loaded = catalogue.loadConfig();
        file.remove();
        QVERIFY(loaded);
        QCOMPARE(catalogue.devices().size(), 2);
    }

    // The interfaces plugged, in order; every receiver the scan finds, as "name at path", in order.
    void scan_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no catalogue
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<QStringList>("found");
        const QByteArray two = kTwoReceivers;
        QTest::newRow("the vendor collection") << two << kReceiver << QStringList{"Receiver A at sim:rx/col03"};
        QTest::newRow("usage and page on one interface")
            << two << QStringList{"sim:rx/col01 1209:0001 0001:0006", "sim:rx/col02 1209:0001 ff00:0002",
                                  "sim:rx/col03 1209:0001 ff01:0001"} << QStringList();
        QTest::newRow("two receivers, each found")
            << two << QStringList{"sim:b/col03 1209:0002 ff00:0001", "sim:a/col03 1209:0001 ff00:0001"}
            << QStringList{"Receiver B at sim:b/col03", "Receiver A at sim:a/col03"};
        QTest::newRow("twins, both found")
            << two << QStringList{"sim:a/col03 1209:0001 ff00:0001", "sim:c/col03 1209:0001 ff00:0001"}
            << QStringList{"Receiver A at sim:a/col03", "Receiver A at sim:c/col03"};
        QTest::newRow("no catalogue") << QByteArray() << kReceiver << QStringList();
        QTest::newRow("a replaced entry's vendor id")
            << QByteArray(kReplaced) << QStringList{"sim:old/col03 1111:0001 ff00:0001"} << QStringList();
    }

    void scan()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, interfaces);
        QFETCH(QStringList, found);
        ConfigController catalogue;
        QCOMPARE(catalogue.loadConfig(writeCatalogue(content)), !content.isNull());
        plug(interfaces);
        Result result;
        watch(catalogue, result);
        QStringList all;
        connect(&catalogue, &ConfigController::sigReceiversFound, this, [&all](const QVector<Receiver> &receivers) {
            for (const Receiver &receiver : receivers)
                all << receiver.entry.name + " at " + receiver.path();
        });
        QCOMPARE(catalogue.findDevice(), !found.isEmpty());
        QCOMPARE(result.emitted, 1);
        QCOMPARE(result.status, !found.isEmpty());
        QCOMPARE(result.detail.name, found.value(0).section(" at ", 0, 0));
        QCOMPARE(all, found);
    }

    // Receivers of one name are told apart by port, else serial, else by their order.
    void twinsAreToldApart_data()
    {
        QTest::addColumn<QStringList>("ports");
        QTest::addColumn<QStringList>("serials");
        QTest::addColumn<QStringList>("labels");
        QTest::newRow("by port") << QStringList{"1-2", "3-1.4"} << QStringList{"S1", "S2"}
                                 << QStringList{"Receiver A (port 1-2)", "Receiver A (port 3-1.4)"};
        QTest::newRow("by serial") << QStringList{"", ""} << QStringList{"S1", "S2"}
                                   << QStringList{"Receiver A (serial S1)", "Receiver A (serial S2)"};
        QTest::newRow("by order") << QStringList{"", ""} << QStringList{"", ""}
                                  << QStringList{"Receiver A #1", "Receiver A #2"};
    }

    void twinsAreToldApart()
    {
        QFETCH(QStringList, ports);
        QFETCH(QStringList, serials);
        QFETCH(QStringList, labels);
        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(kTwoReceivers)));
        for (int i = 0; i < 2; ++i) {
            KSimInterface twin = simInterface(QStringLiteral("sim:twin%1/col03").arg(i), 0x1209, 0x0001, 0xFF00, 0x0001);
            twin.port = ports.at(i);
            twin.serial = serials.at(i);
            sim->addInterface(twin);
        }
        // A receiver of its own name keeps it plain.
        sim->addInterface(simInterface("sim:b/col03", 0x1209, 0x0002, 0xFF00, 0x0001));
        QStringList shown;
        for (const Receiver &receiver : catalogue.scanReceivers())
            shown << receiver.label();
        QCOMPARE(shown, labels + QStringList{"Receiver B"});
    }

    void rescansFollowPlugAndUnplug()
    {
        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(kTwoReceivers)));
        Result result;
        watch(catalogue, result);

        catalogue.slotDeviceChange(true, "sim:unrelated");
        QVERIFY(!result.status);
        QVERIFY(result.detail.name.isEmpty()); // nothing matched yet: a default record

        plug(kReceiver + QStringList{"sim:mouse 046d:c077 0001:0002"});
        catalogue.slotDeviceChange(true, "sim:rx/col03");
        QVERIFY(result.status);

        // Another device goes: the receiver is still there.
        sim->removeInterface("sim:mouse");
        catalogue.slotDeviceChange(false, "sim:mouse");
        QVERIFY(result.status);
        QCOMPARE(result.detail.name, QString("Receiver A"));

        // The receiver goes: not found, and the last match is what comes along.
        for (const char *path : {"sim:rx/col01", "sim:rx/col02", "sim:rx/col03"})
            sim->removeInterface(path);
        catalogue.slotDeviceChange(false, "sim:rx/col03");
        QCOMPARE(result.emitted, 4);
        QVERIFY(!result.status);
        QCOMPARE(result.detail.name, QString("Receiver A"));
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
