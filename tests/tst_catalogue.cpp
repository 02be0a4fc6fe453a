// SPDX-License-Identifier: MIT
// The device catalogue: its file, its look-ups and the scan for a supported receiver.

#include "configcontroller.h"
#include "testsupport.h"

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

struct Result {
    int emitted = 0;
    bool status = false;
    DeviceDetail detail;
};

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private:
    KSimPlatform *sim = nullptr;
    QTemporaryDir dir;

    QString writeCatalogue(const QByteArray &content)
    {
        const QString path = dir.filePath("DeviceConfig.json");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QString();
        file.write(content);
        return path;
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

    // A receiver: keyboard, mouse, then the vendor collection the catalogue names.
    void plugReceiver(const QString &name, quint16 vid, quint16 pid)
    {
        sim->addInterface(simInterface(name + "/col01", vid, pid, 0x0001, 0x0006, 9, 2));
        sim->addInterface(simInterface(name + "/col02", vid, pid, 0x0001, 0x0002, 8, 0));
        sim->addInterface(simInterface(name + "/col03", vid, pid, 0xFF00, 0x0001, 32, 32));
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
    }

    void wrongShapesAndTypesAreRefusedAtTheirField_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("problem");
        const QByteArray ok = R"("vid": "1209", "pid": "0001", "usage": "1", "usagePage": "ff00")";
        QTest::newRow("array root") << QByteArray(R"([{"pid": "1"}])")
                                    << R"(the root must be an object with a "DeviceList" array)";
        QTest::newRow("no DeviceList") << QByteArray(R"({"Devices": []})") << "DeviceList: missing";
        QTest::newRow("DeviceList a string") << QByteArray(R"({"DeviceList": "nope"})")
                                             << "DeviceList: expected an array of receivers";
        QTest::newRow("entry not an object") << "{\"DeviceList\": [{" + ok + "}, 42]}"
                                             << "DeviceList[1]: expected an object";
        QTest::newRow("usage not hexadecimal") << QByteArray(R"({"DeviceList": [{"vid": "1209", "pid": "1", "usage": "zz", "usagePage": "ff00"}]})")
                                               << "DeviceList[0].usage: expected a hexadecimal string";
        QTest::newRow("vid beyond 16 bits") << QByteArray(R"({"DeviceList": [{"vid": "11209", "pid": "1", "usage": "1", "usagePage": "ff00"}]})")
                                            << "DeviceList[0].vid: expected a hexadecimal string of 0 to ffff";
        QTest::newRow("pid missing") << QByteArray(R"({"DeviceList": [{"vid": "1209", "usage": "1", "usagePage": "ff00"}]})")
                                     << "DeviceList[0].pid: missing";
        QTest::newRow("report id beyond a byte") << "{\"DeviceList\": [{" + ok + R"(, "reportId": "1ba"}]})"
                                                 << "DeviceList[0].reportId: expected a hexadecimal string of 0 to ff";
        QTest::newRow("communication id a string") << "{\"DeviceList\": [{" + ok + R"(, "communicationId": "1"}]})"
                                                   << "DeviceList[0].communicationId: expected a whole number from 0";
        QTest::newRow("flag a string") << "{\"DeviceList\": [{" + ok + R"(, "mouse": "true"}]})"
                                       << "DeviceList[0].mouse: expected true or false";
        QTest::newRow("name a number") << "{\"DeviceList\": [{" + ok + R"(, "name": 5}]})"
                                       << "DeviceList[0].name: expected a string";
    }

    void wrongShapesAndTypesAreRefusedAtTheirField()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);
        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(kTwoReceivers)));
        QVERIFY(catalogue.errorString().isEmpty());
        QVERIFY(!catalogue.loadConfig(writeCatalogue(content)));
        QCOMPARE(catalogue.errorString(), problem);
        // Nothing of the refused file is taken.
        QCOMPARE(catalogue.devices().keys(), QList<int>({1, 2}));
    }

    void unknownKeysAreWarnedAboutAndIgnored()
    {
        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(R"({"DeviceList": [
            {"vid": "1209", "pid": "0001", "usage": "1", "usagePage": "ff00", "Mouse": true}], "Comment": "x"})")));
        QCOMPARE(catalogue.warnings(), QStringList({"Comment: unknown key", "DeviceList[0].Mouse: unknown key"}));
        QVERIFY(!catalogue.isMouse(1)); // the misspelt flag is not taken for the real one
    }

    void laterEntryWithSamePidReplacesEarlier()
    {
        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(R"({"DeviceList": [
            {"name": "old", "vid": "1111", "pid": "0001", "usage": "1", "usagePage": "ff00", "mouse": true},
            {"name": "new", "vid": "2222", "pid": "0001", "usage": "1", "usagePage": "ff00", "keyboard": true}
        ]})")));
        QCOMPARE(catalogue.devices().size(), 1);
        QCOMPARE(catalogue.devices().value(1).name, QString("new"));
        QVERIFY(!catalogue.isMouse(1));
        QVERIFY(catalogue.isKeyboard(1));

        // The earlier vendor id no longer matches anything.
        plugReceiver("sim:old", 0x1111, 0x0001);
        Result result;
        watch(catalogue, result);
        QVERIFY(!catalogue.findDevice());
        QCOMPARE(result.emitted, 1);
        QVERIFY(!result.status);
    }

    void unusableFilesLeaveTheCatalogueEmpty()
    {
        ConfigController catalogue;
        QVERIFY(!catalogue.loadConfig(writeCatalogue("{\"DeviceList\": [")));
        QVERIFY(catalogue.devices().isEmpty());
        QVERIFY2(catalogue.errorString().startsWith("not JSON: "), qPrintable(catalogue.errorString()));
        // An empty list is a catalogue, if a useless one.
        QVERIFY(catalogue.loadConfig(writeCatalogue(R"({"DeviceList": []})")));
    }

    void missingFileIsReportedAndScansFindNothing()
    {
        ConfigController catalogue;
        QVERIFY(!catalogue.loadConfig(dir.filePath("absent.json")));
        QVERIFY(!catalogue.errorString().isEmpty());
        plugReceiver("sim:rx", 0x1209, 0x0001);
        QVERIFY(!catalogue.findDevice());
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

    void flagLookups()
    {
        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(kTwoReceivers)));
        QVERIFY(catalogue.isMouse(1) && catalogue.isKeyboard(1) && catalogue.isSuit(1) && !catalogue.isTovrik(1));
        QVERIFY(!catalogue.isMouse(2) && catalogue.isKeyboard(2) && !catalogue.isSuit(2) && catalogue.isTovrik(2));
        QVERIFY(!catalogue.isMouse(3) && !catalogue.isKeyboard(3) && !catalogue.isSuit(3) && !catalogue.isTovrik(3));
        QVERIFY(!catalogue.devices().contains(3)); // a look-up adds nothing
    }

    void scanFindsTheVendorCollectionAndStops()
    {
        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(kTwoReceivers)));
        plugReceiver("sim:rx", 0x1209, 0x0001);
        sim->addInterface(simInterface("sim:rx/col04", 0x1209, 0x0001, 0xFF00, 0x0001, 64, 64));
        Result result;
        watch(catalogue, result);
        QVERIFY(catalogue.findDevice());
        QCOMPARE(result.emitted, 1);
        QVERIFY(result.status);
        QCOMPARE(result.detail.name, QString("Receiver A"));
        QCOMPARE(result.detail.communicationId, 3);
        // Later interfaces are not examined.
        for (const KSimPlatform::OpenRecord &record : sim->opens())
            QVERIFY(record.path != "sim:rx/col04");
    }

    void scanNeedsUsageAndPageOnSomeInterface()
    {
        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(kTwoReceivers)));
        sim->addInterface(simInterface("sim:rx/col01", 0x1209, 0x0001, 0x0001, 0x0006));
        sim->addInterface(simInterface("sim:rx/col02", 0x1209, 0x0001, 0xFF00, 0x0002)); // usage differs
        sim->addInterface(simInterface("sim:rx/col03", 0x1209, 0x0001, 0xFF01, 0x0001)); // page differs
        Result result;
        watch(catalogue, result);
        QVERIFY(!catalogue.findDevice());
        QCOMPARE(result.emitted, 1);
        QVERIFY(!result.status);
    }

    void firstOfTwoReceiversWins()
    {
        ConfigController catalogue;
        QVERIFY(catalogue.loadConfig(writeCatalogue(kTwoReceivers)));
        plugReceiver("sim:b", 0x1209, 0x0002);
        plugReceiver("sim:a", 0x1209, 0x0001);
        Result result;
        watch(catalogue, result);
        QVERIFY(catalogue.findDevice());
        QCOMPARE(result.detail.name, QString("Receiver B"));
        QVERIFY(catalogue.isTovrik(result.detail.pid));
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

        plugReceiver("sim:rx", 0x1209, 0x0001);
        sim->addInterface(simInterface("sim:mouse", 0x046D, 0xC077, 0x0001, 0x0002));
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
