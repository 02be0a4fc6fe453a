// SPDX-License-Identifier: MIT
// The HID walk, the interface query and the opened receiver, on the simulated backend.

#include "khid/khid.h"
#include "khid/kusbdevice.h"
#include "tests/testsupport.h"

#include <QtTest>

#include <cstring>

using namespace KHID;
using testsupport::simInterface;

namespace {

const quint8 kPayload[2] = {0xA1, 0x01};

// The receiver's vendor interface, as the catalogue names it.
bool openReceiver(KUSBDevice &device, quint16 pid = 1, int featureLength = 0)
{
    return device.initDevice(0x1209, pid, 1, 0xFF00, featureLength);
}

} // namespace

class TestHidAccess : public QObject
{
    Q_OBJECT

private:
    KSimPlatform *sim = nullptr;

    QStringList walkedPaths(bool stopAtFirst = false)
    {
        QStringList paths;
        enumHidDevices([&](KHidDetail detail, bool &keepGoing) {
            // Every call comes with a fresh flag and a record of its own.
            paths << (keepGoing ? detail.DevicePath : QStringLiteral("stale flag"));
            detail.DevicePath.clear();
            if (stopAtFirst)
                keepGoing = false;
        });
        return paths;
    }

    QStringList queryOpens() const
    {
        QStringList paths;
        for (const KSimPlatform::OpenRecord &record : sim->opens())
            if (record.mode == KOpenMode::Query)
                paths << record.path;
        return paths;
    }

    // A receiver whose vendor interface is the third of three.
    void plugReceiver()
    {
        sim->addInterface(simInterface("sim:rx/col01", 0x1209, 1, 0x0001, 0x0006, 9, 2, 0));
        sim->addInterface(simInterface("sim:rx/col02", 0x1209, 1, 0x0001, 0x0002, 8, 0, 0));
        sim->addInterface(simInterface("sim:rx/col03", 0x1209, 1, 0xFF00, 0x0001, 32, 32, 0));
    }

    void addVendorInterface(const QString &path, quint16 pid, quint16 input, quint16 output, quint16 feature = 0)
    {
        sim->addInterface(simInterface(path, 0x1209, pid, 0xFF00, 1, input, output, feature));
    }

private slots:
    void init() { sim = testsupport::installSimulation(); }

    void walkVisitsInOrder()
    {
        QCOMPARE(walkedPaths(), QStringList());
        QCOMPARE(sim->openInterfaceSetCount(), 0);
        plugReceiver();
        enumHidDevices(KHidFilter()); // an empty filter opens nothing
        QVERIFY(sim->opens().isEmpty());
        QCOMPARE(walkedPaths(), QStringList({"sim:rx/col01", "sim:rx/col02", "sim:rx/col03"}));
        QCOMPARE(sim->openHandleCount(), 0);
        QCOMPARE(sim->openInterfaceSetCount(), 0);
        // A stopped walk opens nothing afterwards.
        QCOMPARE(walkedPaths(true), QStringList({"sim:rx/col01"}));
        QCOMPARE(queryOpens().mid(3), QStringList({"sim:rx/col01"}));
        QCOMPARE(sim->openInterfaceSetCount(), 0);
    }

    void walkSkipsWhatCannotBeQueried()
    {
        plugReceiver();
        KSimInterface locked = simInterface("sim:locked", 0x1234, 0x5678, 1, 2);
        locked.queryFails = true;
        KSimInterface broken = simInterface("sim:broken", 0x1234, 0x5679, 1, 2);
        broken.hasPreparsedData = false;
        sim->addInterface(locked);
        sim->addInterface(broken);
        sim->addInterface(simInterface("sim:after", 0x1234, 0x567a, 1, 2));
        QCOMPARE(walkedPaths(), QStringList({"sim:rx/col01", "sim:rx/col02", "sim:rx/col03", "sim:after"}));
        QCOMPARE(sim->openHandleCount(), 0);
        // A failed query leaves the record as it was.
        KHidDetail detail;
        detail.DeviceName = QStringLiteral("kept");
        QVERIFY(!getHidDetail("sim:broken", detail));
        QVERIFY(!getHidDetail("sim:absent", detail));
        QCOMPARE(detail.DeviceName, QString("kept"));
        QVERIFY(detail.DevicePath.isEmpty());
        sim->setPathFetchFails(0);
        QCOMPARE(walkedPaths(), QStringList({"sim:rx/col02", "sim:rx/col03", "sim:after"}));
        // A path block too large to allocate ends the walk, and the set is still released.
        sim->setPathLengthOverride(1, std::size_t(-1) / 2);
        QCOMPARE(walkedPaths(), QStringList());
        QCOMPARE(sim->openInterfaceSetCount(), 0);
    }

    void queryFillsEveryField_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected"); // the product string is UTF-16, up to 64 units
        const QString sixtyFour = QString(63, 'x') + QStringLiteral("é");
        QTest::newRow("ascii") << "2.4G Receiver" << "2.4G Receiver";
        QTest::newRow("chinese") << QStringLiteral("无线接收器") << QStringLiteral("无线接收器");
        QTest::newRow("exactly 64 units") << sixtyFour << sixtyFour;
        QTest::newRow("longer is cut at 64") << QString(70, 'y') << QString(64, 'y');
        QTest::newRow("no name") << QString() << QString();
    }

    void queryFillsEveryField()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        KSimInterface receiver = simInterface("sim:rx", 0x1209, 0xBEEF, 0xFF00, 0x0001, 32, 33, 7);
        receiver.version = 0x0213;
        receiver.name = name;
        for (int id = 1; id <= 14; ++id) {
            KHidValueCaps value;
            value.ReportID = static_cast<uint8_t>(id);
            receiver.featureValueCaps.append(value);
        }
        sim->addInterface(receiver);
        KHidDetail detail;
        QVERIFY(getHidDetail("sim:rx", detail));
        QCOMPARE(detail.DeviceName, expected);
        QCOMPARE(detail.VendorID, quint16(0x1209));
        QCOMPARE(detail.ProductID, quint16(0xBEEF));
        QCOMPARE(detail.VersionNumber, quint16(0x0213));
        QCOMPARE(detail.capAbilities.UsagePage, quint16(0xFF00));
        QCOMPARE(detail.capAbilities.OutputReportByteLength, quint16(33));
        QCOMPARE(detail.capAbilities.FeatureReportByteLength, quint16(7));
        // At most ten feature values are kept.
        QCOMPARE(detail.capAbilitiesValue.size(), 10);
        QCOMPARE(detail.capAbilitiesValue.at(1).ReportID, quint8(2));
        QCOMPARE(detail.capAbilitiesValue.last().ReportID, quint8(10));
        QCOMPARE(sim->openHandleCount(), 0);
    }

    void initDeviceOpensTheFirstMatch_data()
    {
        QTest::addColumn<int>("featureLength");
        QTest::addColumn<QString>("opened");
        QTest::newRow("0 accepts any") << 0 << "sim:a";
        QTest::newRow("exact match only") << 9 << "sim:b";
        QTest::newRow("no interface has it") << 4 << QString();
    }

    void initDeviceOpensTheFirstMatch()
    {
        QFETCH(int, featureLength);
        QFETCH(QString, opened);
        // Same ids and usage on another page: not the receiver's interface.
        sim->addInterface(simInterface("sim:consumer", 0x1209, 1, 0x000C, 1, 32, 32, 9));
        addVendorInterface("sim:a", 1, 32, 32, 3);
        addVendorInterface("sim:b", 1, 32, 32, 9);
        addVendorInterface("sim:c", 1, 32, 32, 9);
        KUSBDevice device;
        QCOMPARE(openReceiver(device, 1, featureLength), !opened.isEmpty());
        QCOMPARE(device.getDetail().DevicePath, opened);
        QCOMPARE(sim->openHandleCount(), opened.isEmpty() ? 0 : 2);
        if (opened.isEmpty())
            return;
        // The walk stopped at the match, and a second open keeps it.
        QCOMPARE(queryOpens().last(), opened);
        QVERIFY(!openReceiver(device));
        QCOMPARE(device.getDetail().DevicePath, opened);
        QCOMPARE(sim->openHandleCount(), 2);
    }

    void initDeviceOpenFailureLeavesNothingOpen()
    {
        KSimInterface locked = simInterface("sim:locked", 0x1209, 1, 0xFF00, 1);
        locked.openFails = true;
        sim->addInterface(locked);
        KUSBDevice device;
        QVERIFY(!openReceiver(device));
        // The system's reason, so that a permission problem is told apart.
        QCOMPARE(device.errorString(), QString("Permission denied (simulated)"));
        QCOMPARE(sim->openHandleCount(), 0);
        QVERIFY(!device.writeReport(0xBA, kPayload, 2));
    }

    void writeReportFramesThirtyTwoBytes_data()
    {
        QTest::addColumn<int>("outputLength");
        QTest::addColumn<bool>("framed"); // false: the output report does not fit the buffer
        QTest::newRow("short output report") << 8 << true;
        QTest::newRow("long output report") << 64 << true;
        QTest::newRow("huge output report") << 4096 << false;
    }

    void writeReportFramesThirtyTwoBytes()
    {
        QFETCH(int, outputLength);
        QFETCH(bool, framed);
        addVendorInterface("sim:rx", 1, 32, quint16(outputLength));
        KUSBDevice device;
        QVERIFY(!device.writeReport(0xBA, kPayload, 2)); // closed
        QVERIFY(openReceiver(device));
        static quint8 big[2048];
        std::memset(big, 0xEE, sizeof big);
        QCOMPARE(device.writeReport(0xBA, big, 31), framed);
        const quint8 begin[4] = {0xA0, 0x81, 0x02, 0x01};
        QCOMPARE(device.writeReport(0xBA, begin, 4), framed);
        // One byte more than the frame holds after the report id: refused whole, never cut.
        QVERIFY(!device.writeReport(0xBA, big, 32));
        QVERIFY(!device.writeReport(0xBA, big, 2048));
        QVERIFY(!device.writeReport(0xBA, big, -1));
        QCOMPARE(sim->writtenReports().size(), framed ? 2 : 0);
        // Nothing of the longer command before may trail the short one.
        const QByteArray expected = QByteArray::fromHex("baa0810201") + QByteArray(27, '\0');
        if (framed)
            QCOMPARE(sim->writtenReports().last().toHex(' '), expected.toHex(' '));
        // A fetch the device does not answer fails; so does I/O once it is unplugged, the object still open.
        quint8 destination[32];
        QVERIFY(!device.readReport(0xBA, destination));
        sim->removeInterface("sim:rx");
        QVERIFY(!device.writeReport(0xBA, kPayload, 2));
    }

    void readReportCopiesTheInputLength_data()
    {
        QTest::addColumn<int>("inputLength");
        QTest::addColumn<bool>("read");
        QTest::newRow("input report of 20 bytes") << 20 << true;
        QTest::newRow("longer than the buffer") << 2049 << false;
        QTest::newRow("no input report") << 0 << false;
    }

    void readReportCopiesTheInputLength()
    {
        QFETCH(int, inputLength);
        QFETCH(bool, read);
        addVendorInterface("sim:rx", 1, quint16(inputLength), 32);
        quint8 requested = 0;
        sim->setInputReportHandler([&](const QString &, uint8_t *buffer, std::size_t length) {
            requested = buffer[0];
            for (std::size_t i = 0; i < length; ++i)
                buffer[i] = static_cast<uint8_t>(0x10 + i);
            return length == 20;
        });
        KUSBDevice device;
        quint8 destination[4096];
        std::memset(destination, 0xCC, sizeof destination);
        QVERIFY(!device.readReport(0xBA, destination)); // closed
        QVERIFY(openReceiver(device));
        QCOMPARE(device.readReport(0xBA, destination), read);
        // A report that cannot fit is not even asked for.
        QCOMPARE(requested, quint8(read ? 0xBA : 0));
        QCOMPARE(destination[0], quint8(read ? 0x10 : 0xCC)); // byte 0 is whatever the device put there
        QCOMPARE(destination[19], quint8(read ? 0x10 + 19 : 0xCC));
        QCOMPARE(destination[20], quint8(0xCC));
    }
};

QTEST_GUILESS_MAIN(TestHidAccess)
#include "tst_hidaccess.moc"
