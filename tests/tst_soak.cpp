// The whole program under a storm of plugging and unplugging while pairings run back to back.
// Run in the sanitizer builds too, where a race or a use after free shows.

#include "maincontrol.h"
#include "mainwindow.h"
#include "testsupport.h"

#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>

#include <chrono>
#include <thread>

using namespace KHID;

namespace {

const char *const kCatalogue = R"({"DeviceList": [
  {"name": "Set", "vid": "1209", "pid": "0001", "usage": "1", "usagePage": "ff00", "mouse": true, "keyboard": true, "suit": true}
]})";

QVector<KSimInterface> receiverInterfaces()
{
    KSimInterface keyboard = testsupport::simInterface("sim:rx#col01", 0x1209, 1, 0x0001, 0x0006, 9, 2);
    KSimInterface vendor = testsupport::simInterface("sim:rx#col02", 0x1209, 1, 0xFF00, 0x0001, 32, 32);
    vendor.hasReceiver = true;
    vendor.receiver.pairAfterPolls = 2;
    return {keyboard, vendor};
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(testsupport::writeCatalogueBesideExecutable(kCatalogue));
    }

    void plugStormDuringPairings()
    {
        KSimPlatform *sim = testsupport::installSimulation();
        // A pause costs a little real time, so runs overlap the storm.
        sim->setSleepHook([](quint64) { std::this_thread::sleep_for(std::chrono::microseconds(300)); });
        for (const KSimInterface &interface : receiverInterfaces())
            sim->addInterface(interface);

        testsupport::LogCapture log;
        MainControl &control = MainControl::instance();
        MainWindow *window = control.window();
        window->show();
        QSignalSpy requests(&control, &MainControl::startPair);
        auto results = [&log] {
            return log.lines().count("status: 3") + log.lines().count("status: 4");
        };

        // Pairings back to back: each result asks for the next one.
        int asked = 0;
        bool storming = true;
        QTimer pairer;
        connect(&pairer, &QTimer::timeout, this, [&] {
            if (storming && requests.size() == results() && asked == requests.size()) {
                ++asked;
                emit window->sigStartPair(asked % 2 + 1);
            }
        });
        pairer.start(1);

        // Hundreds of changes, some a millisecond apart: the receiver, and another device.
        const KSimInterface other = testsupport::simInterface("sim:mouse", 0x046D, 0xC077, 1, 2);
        bool receiverIn = true;
        bool otherIn = false;
        QRandomGenerator random(20261207);
        // At least 400 changes, and on until 20 pairings have run through them.
        for (int i = 0; (i < 400 || requests.size() < 20) && i < 4000; ++i) {
            if (random.bounded(3) == 0) {
                if (otherIn)
                    sim->unplug(other.path);
                else
                    sim->plug(other);
                otherIn = !otherIn;
            } else {
                for (const KSimInterface &interface : receiverInterfaces()) {
                    if (receiverIn)
                        sim->unplug(interface.path);
                    else
                        sim->plug(interface);
                }
                receiverIn = !receiverIn;
            }
            QTest::qWait(int(random.bounded(1, 8)));
        }
        // End with the receiver in.
        if (!receiverIn) {
            for (const KSimInterface &interface : receiverInterfaces())
                sim->plug(interface);
        }
        storming = false;

        // Every run ends with exactly one result, and nothing hangs. A request reaches the
        // worker 100 ms after the window asks, so first wait for the last one to get there.
        QTRY_COMPARE_WITH_TIMEOUT(requests.size(), asked, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(results(), requests.size(), 30000);
        QVERIFY2(requests.size() >= 20, qPrintable(QString::number(requests.size())));
        QTest::qWait(50);
        QCOMPARE(results(), requests.size());

        // The window shows the machine as it ended up.
        QCOMPARE(window->findChild<QLabel *>("mouseStatus")->text(), QString("Status:Connected"));
        QVERIFY(window->findChild<QPushButton *>("btnPair")->isEnabled());
        QTest::mouseClick(window->findChild<QPushButton *>("keyboardCode"), Qt::LeftButton);
        QCOMPARE(window->findChild<QLabel *>("connectStatus")->text(), QString("Status:Connected"));

        control.shutdown();
    }
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
