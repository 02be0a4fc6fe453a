// SPDX-License-Identifier: MIT
// The whole program under a storm of plugging and unplugging while pairings run back to back.
// Run in the sanitizer builds too, where a race or a use after free shows.

#include "app/maincontrol.h"
#include "ui/mainwindow.h"
#include "tests/testsupport.h"

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
        // A run taken on shows the working state; it ends with a result, or at
        // once when its receiver goes away.
        auto runs = [&log] { return log.lines().count("status: 2"); };
        auto outcomes = [&log] {
            return log.lines().count("status: 3") + log.lines().count("status: 4")
                + log.lines().count("the receiver went away during pairing");
        };

        // Pairings back to back: a request whenever none runs (and, while the
        // receiver is out, requests that must be turned away).
        int asked = 0;
        bool storming = true;
        QTimer pairer;
        connect(&pairer, &QTimer::timeout, this, [&] {
            if (storming && !control.isPairing()) {
                ++asked;
                emit window->sigStartPair(PairKind(asked % 2 + 1));
            }
        });
        pairer.start(1);

        // Hundreds of changes, some a millisecond apart: the receiver, and another device.
        const KSimInterface other = testsupport::simInterface("sim:mouse", 0x046D, 0xC077, 1, 2);
        bool receiverIn = true;
        bool otherIn = false;
        QRandomGenerator random(20261207);
        // At least 400 changes, and on until 20 pairings have run through them.
        for (int i = 0; (i < 400 || runs() < 20) && i < 4000; ++i) {
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

        pairer.stop();
        // Every run taken on ends with exactly one outcome, one at a time, and nothing hangs.
        QTRY_VERIFY_WITH_TIMEOUT(!control.isPairing(), 30000);
        QVERIFY2(runs() >= 20, qPrintable(QString::number(runs())));
        // The last outcome may still be on its way from the worker.
        QTRY_COMPARE(outcomes(), runs());
        QVERIFY(requests.size() <= runs());
        QVERIFY(asked > runs()); // some were turned away

        // The window shows the machine as it ended up.
        QCOMPARE(window->findChild<QLabel *>("mouseStatus")->text(), QString("Status:Connected"));
        QTest::mouseClick(window->findChild<QPushButton *>("keyboardCode"), Qt::LeftButton);
        QCOMPARE(window->findChild<QLabel *>("connectStatus")->text(), QString("Status:Connected"));
        QTRY_VERIFY(window->findChild<QPushButton *>("btnPair")->isEnabled());

        control.shutdown();
    }
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
