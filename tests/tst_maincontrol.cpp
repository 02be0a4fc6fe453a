// SPDX-License-Identifier: MIT
// The controller with its window, watcher and worker, on the simulated machine in virtual time.

#include "app/maincontrol.h"
#include "app/startup.h"
#include "ui/mainwindow.h"
#include "ui/pairprogress.h"
#include "tests/testsupport.h"

#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

using namespace KHID;

namespace {

// pid 0001: set; 0a1b: mouse only; 0002: keyboard only, Tovrik; 0003: no flags; 0004: mouse and
// keyboard without being a set.
const char *const kCatalogue = R"({"DeviceList": [
  {"name": "Set", "vid": "1209", "pid": "0001", "usage": "1", "usagePage": "ff00", "mouse": true, "keyboard": true, "suit": true},
  {"name": "Mouse", "vid": "1209", "pid": "0a1b", "usage": "1", "usagePage": "ff00", "mouse": true},
  {"name": "Keyboard", "vid": "1209", "pid": "0002", "usage": "1", "usagePage": "ff00", "keyboard": true, "Tovrik": true},
  {"name": "Nothing", "vid": "1209", "pid": "0003", "usage": "1", "usagePage": "ff00"},
  {"name": "Both", "vid": "1209", "pid": "0004", "usage": "1", "usagePage": "ff00", "mouse": true, "keyboard": true}
]})";

const char *const kConnected = "Status:Connected";

using testsupport::beginFrame;
const QByteArray kEnd = testsupport::kEndFrame;
const char *const kNotConnected = "Status:Not connected";

KSimInterface receiver(quint16 pid, int pairAfterPolls = 0)
{
    KSimInterface interface = testsupport::simInterface(QStringLiteral("sim:rx%1#col02").arg(pid), 0x1209, pid, 0xFF00,
                                                        0x0001, 32, 32);
    interface.hasReceiver = true;
    interface.receiver.pairAfterPolls = pairAfterPolls;
    return interface;
}

} // namespace

class TestMainControl : public QObject
{
    Q_OBJECT

private:
    KSimPlatform *sim = nullptr;

    MainControl &control() { return MainControl::instance(); }
    template <typename T = QWidget>
    T *child(const char *name)
    {
        return control().window()->findChild<T *>(QLatin1String(name));
    }
    QString text(const char *name) { return child<QLabel>(name)->text(); }
    QVector<QByteArray> framesTo(const QString &path) const { return testsupport::framesTo(*sim, path); }
    bool shown(const char *name) { return child(name)->isVisibleTo(control().window()); }
    void click(const char *name) { QTest::mouseClick(child(name), Qt::LeftButton); }
    // Device changes reach the controller through the event loop, and make one scan.
    void settle()
    {
        QCoreApplication::processEvents();
        QTRY_VERIFY(!control().scanPending());
    }
    void plug(const KSimInterface &interface)
    {
        sim->plug(interface);
        settle();
    }
    void unplug(const QString &path)
    {
        sim->unplug(path);
        settle();
    }
    void unplugAll()
    {
        for (const KSimInterface &interface : sim->interfaces())
            sim->unplug(interface.path);
        settle();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(testsupport::writeCatalogueBesideExecutable(kCatalogue));

        sim = testsupport::installSimulation();
        sim->addInterface(receiver(0x0001));
        QLocale::setDefault(QLocale(QLocale::English));
    }

    void cleanupTestCase()
    {
        control().shutdown();
        QFile::remove(QCoreApplication::applicationDirPath() + "/Config/DeviceConfig.json");
    }

    void init() { QCoreApplication::processEvents(); }

    void startsConnectedWhenTheReceiverIsThere()
    {
        // The first scan ran in the constructor: connected before anything is shown.
        QVERIFY(!control().window()->isVisible());
        QCOMPARE(text("mouseStatus"), QString("Status:Connected"));
        click("mouseCode");
        QVERIFY(child("btnPair")->isEnabled());
        click("btnReturn");
    }

    void cardsFollowTheReceiverKind_data()
    {
        QTest::addColumn<int>("pid");
        QTest::addColumn<bool>("mouse");
        QTest::addColumn<bool>("keyboard");
        QTest::addColumn<bool>("tovrikGuide");
        QTest::newRow("set") << 0x0001 << true << true << false;
        QTest::newRow("mouse only") << 0x0A1B << true << false << false;
        QTest::newRow("keyboard only") << 0x0002 << false << true << true;
        QTest::newRow("mouse and keyboard, no set") << 0x0004 << true << true << false;
        QTest::newRow("nothing it can pair") << 0x0003 << false << false << false;
    }

    void cardsFollowTheReceiverKind()
    {
        QFETCH(int, pid);
        QFETCH(bool, mouse);
        QFETCH(bool, keyboard);
        QFETCH(bool, tovrikGuide);
        unplugAll();
        QCOMPARE(text("mouseStatus"), QString(kNotConnected));
        QCOMPARE(text("keyboardStatus"), QString(kNotConnected));

        plug(receiver(quint16(pid)));
        QCOMPARE(text("mouseStatus"), QString(mouse ? kConnected : kNotConnected));
        QCOMPARE(text("keyboardStatus"), QString(keyboard ? kConnected : kNotConnected));
        // A request for a kind the receiver does not pair is turned away, however it comes.
        for (int kind : {1, 2}) {
            if (!(kind == 1 ? mouse : keyboard)) {
                emit control().window()->sigStartPair(PairKind(kind));
                QVERIFY(!control().isPairing());
            }
        }
        click("mouseCode");
        QCOMPARE(text("connectStatus"), QString(mouse ? kConnected : kNotConnected));
        QCOMPARE(child("btnPair")->isEnabled(), mouse);
        click("btnReturn");
        click("keyboardCode");
        QCOMPARE(text("connectStatus"), QString(keyboard ? kConnected : kNotConnected));
        QCOMPARE(child("btnPair")->isEnabled(), keyboard);
        QCOMPARE(!child("label_6")->isVisibleTo(control().window()), tovrikGuide);
        click("btnReturn");
        unplugAll();
    }

    void otherDevicesLeaveTheWindowAlone()
    {
        plug(receiver(0x0001));
        plug(testsupport::simInterface("sim:mouse", 0x046D, 0xC077, 1, 2));
        click("mouseCode");
        unplug("sim:mouse");
        plug(testsupport::simInterface("sim:stick", 0x0781, 0x5567, 1, 6));
        // The receiver is still the same: the page stays, pairing still possible.
        QVERIFY(shown("pagePair"));
        QCOMPARE(text("connectStatus"), QString(kConnected));
        QVERIFY(child("btnPair")->isEnabled());

        unplugAll();
        QVERIFY(!shown("pagePair"));
        QCOMPARE(text("mouseStatus"), QString(kNotConnected));
    }

    void receiverWithoutAccess()
    {
        KSimInterface locked = receiver(0x0001);
        locked.openFails = true;
        plug(locked);
        QCOMPARE(control().receiverState(), MainControl::ReceiverNoAccess);
        QCOMPARE(text("mouseStatus"), QString("Status:No access to the receiver"));
        click("mouseCode");
        QCOMPARE(text("connectStatus"), QString("Status:No access to the receiver"));
        QVERIFY(!child("btnPair")->isEnabled());

        // Another device coming neither clears the state nor leaves the page.
        plug(testsupport::simInterface("sim:mouse", 0x046D, 0xC077, 1, 2));
        QVERIFY(shown("pagePair"));
        QCOMPARE(text("connectStatus"), QString("Status:No access to the receiver"));

        // A request cannot get through either.
        emit control().window()->sigStartPair(PairKind::Mouse);
        QVERIFY(!control().isPairing());

        // Plugged in again with access: clears by itself.
        unplug(locked.path);
        plug(receiver(0x0001));
        QCOMPARE(control().receiverState(), MainControl::ReceiverReady);
        QCOMPARE(text("mouseStatus"), QString(kConnected));
        QVERIFY(!shown("labelHint"));
        click("mouseCode");
        QVERIFY(child("btnPair")->isEnabled());
        click("btnReturn");
        unplugAll();
    }

    // The worker's outcome, and the reason for a failure, reach the bubble in the language chosen.
    void outcomeOnTheBubble_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("expected");
        QTest::newRow("paired, English") << "EN" << "paired" << "Matched successfully";
        QTest::newRow("write, English") << "EN" << "write"
            << "Matched failed: a report could not be sent to the receiver (Input/output error (simulated))";
        QTest::newRow("read, English") << "EN" << "read"
            << "Matched failed: no reply could be read from the receiver (Input/output error (simulated))";
        QTest::newRow("no answer, English") << "EN" << "silent" << "Matched failed: no device answered in time";
        QTest::newRow("refused, English") << "EN" << "refuse" << "Matched failed: the receiver refused (01 03)";
        QTest::newRow("no answer, Chinese") << "ZH" << "silent" << QString::fromUtf8("配对失败：规定时间内没有设备应答");
    }

    void outcomeOnTheBubble()
    {
        QFETCH(QString, language);
        QFETCH(QString, failure);
        QFETCH(QString, expected);
        KSimInterface rx = receiver(0x0001, failure == "silent" ? -1 : failure == "paired" ? 3 : 0);
        rx.receiver.failAllWrites = failure == "write";
        rx.receiver.failAllReads = failure == "read";
        if (failure == "refuse")
            rx.receiver.pairStatus = 3;
        unplugAll();
        plug(rx);
        QTest::mouseClick(child("btnLanguage"), Qt::LeftButton);
        QTest::mouseClick(child(qPrintable("btn" + language)), Qt::LeftButton);
        click("mouseCode");
        QTRY_VERIFY(child("btnPair")->isEnabled());
        click("btnPair");
        QVERIFY(shown("widStatus"));
        if (language == "EN")
            QCOMPARE(text("pairStatus"), QString("In the progress of matching code..."));
        QTRY_COMPARE_WITH_TIMEOUT(text("pairStatus"), expected, 10000);
        QTRY_VERIFY(!control().isPairing());
        if (language != "EN") {
            QTest::mouseClick(child("btnLanguage"), Qt::LeftButton);
            QTest::mouseClick(child("btnEN"), Qt::LeftButton);
        }
        unplugAll();
    }

    // A device change while the worker polls: the worker waits at a pause
    // until the window has been looked at.
    void deviceChangeDuringARun_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("row");
        QTest::newRow("another device plugged in") << "plug" << "Matched successfully" << kConnected;
        QTest::newRow("another device unplugged") << "unplug other" << "Matched successfully" << kConnected;
        QTest::newRow("another receiver plugged in") << "plug receiver" << "Matched successfully" << kConnected;
        QTest::newRow("a twin unplugged") << "unplug twin" << "Matched successfully" << kConnected;
        QTest::newRow("the receiver unplugged")
            << "unplug receiver" << "Matched failed: the receiver was unplugged" << kNotConnected;
    }

    void deviceChangeDuringARun()
    {
        QFETCH(QString, change);
        QFETCH(QString, result);
        QFETCH(QString, row);
        const KSimInterface rx = receiver(0x0001, 10);
        // Another receiver of the same kind, which never answers.
        KSimInterface twin = receiver(0x0001, -1);
        twin.path = "sim:twin#col02";
        const KSimInterface other = change == "plug receiver" || change == "unplug twin"
            ? twin
            : testsupport::simInterface("sim:headset", 0x0D8C, 0x0014, 0x0C, 1);
        unplugAll();
        plug(rx);
        if (change.startsWith("unplug"))
            plug(other);
        click("mouseCode");
        // Past the pause after an earlier result.
        QTRY_VERIFY(child("btnPair")->isEnabled());

        // Pauses: two for entering pairing mode, then two for each poll. Shared, not
        // borrowed: a failed check returns while the worker may still be in here.
        auto looked = std::make_shared<testsupport::Semaphore>();
        auto pauses = std::make_shared<std::atomic<int>>(0);
        sim->setSleepHook([=](quint64) {
            if (++*pauses != 8)
                return;
            if (change.startsWith("plug"))
                sim->plug(other);
            else
                sim->unplug(change == "unplug receiver" ? rx.path : other.path);
            looked->acquire();
        });
        const auto letGo = qScopeGuard([&] {
            sim->setSleepHook(nullptr);
            looked->release();
        });
        QSignalSpy requests(&control(), &MainControl::startPair);
        testsupport::LogCapture log;
        click("btnPair");
        QTRY_VERIFY(!log.lines().filter("Device Change:").isEmpty());
        QCoreApplication::processEvents();

        QVERIFY(shown("pagePair"));
        QVERIFY(shown("widStatus"));
        QVERIFY(!child("btnPair")->isEnabled());
        if (change == "unplug receiver") {
            // Ended at once, the reason in sight, the page following the receiver.
            QCOMPARE(text("pairStatus"), result);
            QVERIFY(!control().isPairing());
        } else {
            QCOMPARE(text("pairStatus"), QString("In the progress of matching code..."));
            QVERIFY(control().isPairing());
        }
        QCOMPARE(text("connectStatus"), row);
        // A click now starts nothing, however long the run then takes (a
        // request is sent 100 ms after it is taken).
        emit control().window()->sigStartPair(PairKind::Mouse);
        QTest::qWait(300);
        QCOMPARE(requests.size(), 1);
        looked->release();

        QTRY_COMPARE(text("pairStatus"), result);
        QVERIFY(shown("pagePair"));
        QVERIFY(shown("widStatus"));
        QCOMPARE(requests.size(), 1);
        // The run stayed with its receiver, which got the end command; the other got nothing.
        if (change != "unplug receiver")
            QCOMPARE(framesTo(rx.path).last(), kEnd);
        QVERIFY(framesTo(twin.path).isEmpty());
        unplugAll();
    }

    // Receivers by their own device: each card, each page's receiver, and where a run goes.
    void severalReceivers()
    {
        unplugAll();
        KSimInterface mouse = receiver(0x0A1B, -1);
        KSimInterface keyboard = receiver(0x0002, 1);
        plug(mouse);
        plug(keyboard);
        QCOMPARE(text("mouseStatus"), QString(kConnected));
        QCOMPARE(text("keyboardStatus"), QString(kConnected));
        click("keyboardCode");
        QCOMPARE(text("receiverName"), QString("Receiver: Keyboard"));
        QVERIFY(!shown("receiverChoice"));
        QTRY_VERIFY(child("btnPair")->isEnabled());
        sim->clearRecords();
        click("btnPair");
        QTRY_COMPARE_WITH_TIMEOUT(text("pairStatus"), QString("Matched successfully"), 10000);
        QCOMPARE(framesTo(keyboard.path).first(), beginFrame(2));
        QVERIFY(framesTo(mouse.path).isEmpty());
        click("btnReturn");

        // Twins: named apart, the page's choice taken, and followed when it goes.
        KSimInterface first = receiver(0x0001, -1), second = receiver(0x0001, 1);
        first.path = "sim:first#col02";
        second.path = "sim:second#col02";
        plug(first);
        plug(second);
        click("mouseCode");
        QVERIFY(shown("receiverChoice"));
        auto *choice = child<QComboBox>("receiverChoice");
        QCOMPARE(choice->count(), 3); // the mouse receiver and the two sets
        QCOMPARE(choice->itemText(1), QString("Set #1"));
        QCOMPARE(choice->currentIndex(), 0);
        // By the keyboard, as with the mouse.
        choice->setFocus();
        QTest::keyClick(choice, Qt::Key_Down);
        QTest::keyClick(choice, Qt::Key_Down);
        QCOMPARE(control().chosenReceiver(PairKind::Mouse)->path(), second.path);
        QCOMPARE(choice->currentIndex(), 2);
        unplug(second.path);
        QVERIFY(shown("pagePair"));
        QCOMPARE(text("connectStatus"), QString(kConnected));
        QCOMPARE(control().chosenReceiver(PairKind::Mouse)->path(), mouse.path);
        QVERIFY(choice->isVisibleTo(control().window()));

        // Gone and back before anything looked: the page follows another, and a run on
        // the one come back opens it anew.
        control().chooseReceiver(PairKind::Mouse, 1);
        QCOMPARE(control().chosenReceiver(PairKind::Mouse)->path(), first.path);
        sim->unplug(first.path);
        first.receiver.pairAfterPolls = 0;
        sim->plug(first);
        settle();
        QCOMPARE(control().chosenReceiver(PairKind::Mouse)->path(), mouse.path);
        control().chooseReceiver(PairKind::Mouse, 1);
        QCOMPARE(control().chosenReceiver(PairKind::Mouse)->path(), first.path);
        sim->clearRecords();
        QTRY_VERIFY(child("btnPair")->isEnabled());
        click("btnPair");
        QTRY_COMPARE_WITH_TIMEOUT(text("pairStatus"), QString("Matched successfully"), 10000);
        QCOMPARE(framesTo(first.path).last(), kEnd);
        click("btnReturn");
        unplugAll();
    }

    // A change of the node's rights is looked at again, without a re-plug.
    void changeEventsCheckAccessAgain()
    {
        unplugAll();
        KSimInterface rx = receiver(0x0001);
        rx.openFails = true;
        plug(rx);
        QCOMPARE(text("mouseStatus"), QString("Status:No access to the receiver"));
        rx.openFails = false;
        QVERIFY(sim->change(rx));
        settle();
        QCOMPARE(text("mouseStatus"), QString(kConnected));
        unplugAll();
    }

    // The worker's polls reach the bar under the bubble; the stop button ends
    // the run at the worker's next exchange rather than after the whole wait.
    void pollsShowAndStopEndsTheRun()
    {
        unplugAll();
        plug(receiver(0x0001, -1));
        click("mouseCode");
        QTRY_VERIFY(child("btnPair")->isEnabled());
        // Held at a pause of the fifth poll (two pauses to enter pairing mode, two a poll).
        auto reached = std::make_shared<std::atomic<bool>>(false);
        auto go = std::make_shared<testsupport::Semaphore>();
        auto pauses = std::make_shared<std::atomic<int>>(0);
        sim->setSleepHook([=](quint64) {
            if (++*pauses == 12) {
                *reached = true;
                go->acquire();
            }
        });
        const auto letGo = qScopeGuard([&] {
            sim->setSleepHook(nullptr);
            go->release();
        });
        click("btnPair");
        QTRY_VERIFY_WITH_TIMEOUT(reached->load(), 10000);
        auto *bar = child<PairProgress>("pairProgress");
        QTRY_VERIFY(bar->left() < 1);
        QVERIFY(shown("pairProgress"));
        QVERIFY(control().isPairing());
        sim->clearRecords();
        click("btnStop");
        go->release();
        QTRY_VERIFY(!control().isPairing());
        QVERIFY(!shown("pairProgress"));
        QVERIFY(!shown("btnStop"));
        QVERIFY2(bar->left() > 0.5, qPrintable(QString::number(bar->left())));
        // The receiver is told to stop waiting, next and last; the page says the run was stopped.
        QCOMPARE(framesTo(sim->interfaces().first().path), QVector<QByteArray>{kEnd});
        QCOMPARE(text("pairStatus"), QString("Pairing stopped"));
        unplugAll();
    }

    // What the options do to the real program (exit codes, help, version) run-e2e.sh checks.
    void startOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("verbose");
        QTest::addColumn<bool>("help");
        QTest::addColumn<QString>("unknown");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QStringList>("forQt"); // empty: the command line as it is
        QTest::newRow("none") << QStringList{"bondara"} << false << false << QString() << QString() << QStringList();
        QTest::newRow("-v, zh first") << QStringList{"bondara", "-zh", "-v", "-en"} << true << false << QString() << "zh"
                                      << QStringList();
        QTest::newRow("--verbose") << QStringList{"bondara", "--verbose"} << true << false << QString() << QString()
                                   << QStringList();
        QTest::newRow("--help") << QStringList{"bondara", "--help"} << false << true << QString() << QString()
                                << QStringList();
        QTest::newRow("-h") << QStringList{"bondara", "-h"} << false << true << QString() << QString() << QStringList();
        QTest::newRow("unknown, en first") << QStringList{"bondara", "file", "-en", "--bogus", "-zh", "-x"} << false
                                           << false << "--bogus" << "en" << QStringList();
        QTest::newRow("case and dashes matter") << QStringList{"bondara", "-ZH", "--zh", "zh", "-En"} << false
                                                << false << "-ZH" << QString() << QStringList();
        QTest::newRow("Qt's options")
            << QStringList{"bondara", "-platform", "offscreen", "-reverse", "-display", ":1"}
            << false << false << QString() << QString() << QStringList();
        QTest::newRow("Qt's options with two dashes")
            << QStringList{"bondara", "--platform", "offscreen", "--reverse", "--display", ":1", "--qwindowtitle", "Pairing"}
            << false << false << QString() << QString() << QStringList();
        QTest::newRow("a Qt option's value after an equals sign")
            << QStringList{"bondara", "--platform=offscreen", "-style=fusion", "-en"} << false << false << QString()
            << "en" << QStringList{"bondara", "--platform", "offscreen", "-style", "fusion", "-en"};
        QTest::newRow("three dashes are no Qt option") << QStringList{"bondara", "---platform", "offscreen"} << false
                                                       << false << "---platform" << QString() << QStringList();
        QTest::newRow("unknown after a Qt option") << QStringList{"bondara", "--platform", "xcb", "--bogus"} << false
                                                   << false << "--bogus" << QString() << QStringList();
        QTest::newRow("not an option") << QStringList{"bondara", "notes.txt", "-"} << false << false << QString()
                                       << QString() << QStringList();
        QTest::newRow("program path scanned too") << QStringList{"-en"} << false << false << QString() << "en"
                                                  << QStringList();
    }

    void startOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, verbose);
        QFETCH(bool, help);
        QFETCH(QString, unknown);
        QFETCH(QString, lang);
        QFETCH(QStringList, forQt);
        const StartOptions options = ::parseStartOptions(arguments);
        QCOMPARE(options.verbose, verbose);
        QCOMPARE(options.help, help);
        QVERIFY(!options.version);
        QCOMPARE(options.unknown, unknown);
        QCOMPARE(languageFromArguments(arguments), lang);
        QCOMPARE(options.qtArguments, forQt.isEmpty() ? arguments : forQt);
    }

    void unusableCatalogue_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("not JSON") << QByteArray("{\"DeviceList\": [");
    }

    void unusableCatalogue()
    {
        QFETCH(QByteArray, content);
        const QString file = QCoreApplication::applicationDirPath() + "/Config/DeviceConfig.json";
        QFile::remove(file);
        if (!content.isEmpty())
            QVERIFY(testsupport::writeCatalogueBesideExecutable(content));
        plug(receiver(0x0001));
        {
            MainControl other;
            QCOMPARE(other.receiverState(), MainControl::CatalogueInvalid);
            auto *window = other.window();
            auto label = [window](const char *name) { return window->findChild<QLabel *>(name)->text(); };
            QCOMPARE(label("mouseStatus"), QString("Status:Device list unusable"));
            // Device changes do not hide the problem.
            plug(testsupport::simInterface("sim:mouse", 0x046D, 0xC077, 1, 2));
            QCOMPARE(label("mouseStatus"), QString("Status:Device list unusable"));
            other.shutdown();
        }
        QVERIFY(testsupport::writeCatalogueBesideExecutable(kCatalogue));
        unplugAll();
    }

    // A bad entry costs that receiver alone: the one beside it connects, and the hint names the entry.
    void catalogueWithABadEntry()
    {
        QVERIFY(testsupport::writeCatalogueBesideExecutable(R"({"DeviceList": [
  {"vid": 4617, "pid": "0002", "usage": "1", "usagePage": "ff00", "keyboard": true},
  {"vid": "1209", "pid": "0001", "usage": "1", "usagePage": "ff00", "mouse": true}]})"));
        unplugAll();
        sim->plug(receiver(0x0001));
        {
            MainControl other;
            QCOMPARE(other.window()->findChild<QLabel *>("mouseStatus")->text(), QString(kConnected));
            QVERIFY(other.window()->findChild<QLabel *>("labelHint")->text().contains("DeviceList[0].vid"));
            other.shutdown();
        }
        QVERIFY(testsupport::writeCatalogueBesideExecutable(kCatalogue));
        unplugAll();
    }

    void languageItemsSwitchTheWindow()
    {
        QTest::mouseClick(child("btnLanguage"), Qt::LeftButton);
        QTest::mouseClick(child("btnZH"), Qt::LeftButton);
        QVERIFY(!child("widgetLanguage")->isVisibleTo(control().window()));
        QCOMPARE(child<QPushButton>("mouseCode")->text(), QString("鼠标对码"));
        QVERIFY(!child("btnZH")->isEnabled() && child("btnEN")->isEnabled());

        QTest::mouseClick(child("btnLanguage"), Qt::LeftButton);
        QTest::mouseClick(child("btnEN"), Qt::LeftButton);
        QCOMPARE(child<QPushButton>("mouseCode")->text(), QString("Mouse connect"));
        QVERIFY(child("btnZH")->isEnabled() && !child("btnEN")->isEnabled());
        QCOMPARE(child<QPushButton>("btnZH")->text(), QString("中文"));
    }

    void messageFromASecondCopyRestoresTheWindow()
    {
        MainWindow *window = control().window();
        window->setWindowState(Qt::WindowMinimized | Qt::WindowMaximized);
        control().slotMessageReceived("Bondara_2.0.0");
        QCOMPARE(window->windowState(), Qt::WindowMaximized);
        window->setWindowState(Qt::WindowNoState);
    }
};

QTEST_MAIN(TestMainControl)
#include "tst_maincontrol.moc"
