// SPDX-License-Identifier: MIT
// The hidden watcher widget, on the simulated machine.

#include "app/khidwatcher.h"
#include "tests/testsupport.h"

#include <QtTest>

using namespace KHID;

class TestHidWatcher : public QObject
{
    Q_OBJECT

private:
    KSimPlatform *sim = nullptr;

private slots:
    void init() { sim = testsupport::installSimulation(); }

    void forwardsEveryChange()
    {
        KHIDWatcher watcher;
        QSignalSpy spy(&watcher, &KHIDWatcher::sigHIDDeviceChange);
        QVERIFY(watcher.registerNotification());
        QVERIFY(!watcher.isVisible());
        // A backend that is not told through a window gets none: the first native
        // window would set up the display's OpenGL side for nothing.
        QVERIFY(!watcher.testAttribute(Qt::WA_WState_Created));
        QCOMPARE(watcher.internalWinId(), WId(0));
        sim->plug(testsupport::simInterface("sim:rx#col01", 0x1209, 1, 0x0001, 0x0006));
        sim->plug(testsupport::simInterface("sim:kbd", 0x046D, 0xC31C, 0x0001, 0x0006));
        sim->unplug("sim:rx#col01");
        QCOMPARE(spy.size(), 3);
        QCOMPARE(spy.at(1), QList<QVariant>({true, "sim:kbd"}));
        QCOMPARE(spy.at(2), QList<QVariant>({false, "sim:rx#col01"}));
    }

    void failedRegistrationReportsNothing()
    {
        sim->setNotificationFailure(1062);
        KHIDWatcher watcher;
        QSignalSpy spy(&watcher, &KHIDWatcher::sigHIDDeviceChange);
        QVERIFY(!watcher.registerNotification());
        sim->plug(testsupport::simInterface("sim:x", 1, 2, 3, 4));
        QCOMPARE(spy.size(), 0);
    }
};

QTEST_MAIN(TestHidWatcher)
#include "tst_hidwatcher.moc"
