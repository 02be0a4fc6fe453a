// The controller with its window, watcher and worker, on the simulated machine in virtual time.

#include "maincontrol.h"
#include "mainwindow.h"
#include "testsupport.h"

#include <QtTest>

#include <QLabel>
#include <QPushButton>

using namespace KHID;

namespace {

// pid 0001: set; 0a1b: mouse only; 0002: keyboard only, Tovrik; 0003: no flags.
const char *const kCatalogue = R"({"DeviceList": [
  {"name": "Set", "vid": "1209", "pid": "0001", "usage": "1", "usagePage": "ff00", "mouse": true, "keyboard": true, "suit": true},
  {"name": "Mouse", "vid": "1209", "pid": "0a1b", "usage": "1", "usagePage": "ff00", "mouse": true},
  {"name": "Keyboard", "vid": "1209", "pid": "0002", "usage": "1", "usagePage": "ff00", "keyboard": true, "Tovrik": true},
  {"name": "Nothing", "vid": "1209", "pid": "0003", "usage": "1", "usagePage": "ff00"}
]})";

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
    void unplugAll()
    {
        for (const KSimInterface &interface : sim->interfaces())
            sim->unplug(interface.path);
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
        QVERIFY(child("btnPair")->isEnabled());
        QCOMPARE(MainControl::connectedStatusText(0x0A1B), QString("已连接(pid:0xa1b)"));
    }

    void deviceKindsFollowTheCatalogue()
    {
        unplugAll();
        QCOMPARE(text("mouseStatus"), QString("Status:Not connected"));
        QVERIFY(!child("btnPair")->isEnabled());

        sim->plug(receiver(0x0A1B)); // mouse only
        QCOMPARE(text("mouseStatus"), QString("Status:Connected"));
        QTest::mouseClick(child("keyboardCode"), Qt::LeftButton);
        QVERIFY(!child("btnPair")->isEnabled());
        QTest::mouseClick(child("btnReturn"), Qt::LeftButton);
        unplugAll();

        sim->plug(receiver(0x0002)); // keyboard only, four-picture guide
        QCOMPARE(text("mouseStatus"), QString("Status:Not connected"));
        QTest::mouseClick(child("keyboardCode"), Qt::LeftButton);
        QVERIFY(child("btnPair")->isEnabled());
        QVERIFY(!child("label_6")->isVisibleTo(control().window()));
        QTest::mouseClick(child("btnReturn"), Qt::LeftButton);
        unplugAll();

        // No flags: connected status, but no device kind to show.
        sim->plug(receiver(0x0003));
        QVERIFY(child("btnPair")->isEnabled());
        QCOMPARE(text("mouseStatus"), QString("Status:Not connected"));
        unplugAll();
    }

    void removalOfAnotherDeviceKeepsTheReceiver()
    {
        sim->plug(receiver(0x0001));
        sim->plug(testsupport::simInterface("sim:mouse", 0x046D, 0xC077, 1, 2));
        QTest::mouseClick(child("mouseCode"), Qt::LeftButton);
        sim->unplug("sim:mouse");
        // The rescan found the receiver again: still connected, pairing still possible.
        QCOMPARE(text("mouseStatus"), QString("Status:Connected"));
        QTest::mouseClick(child("mouseCode"), Qt::LeftButton);
        QVERIFY(child("btnPair")->isEnabled());

        unplugAll();
        QVERIFY(!child("pagePair")->isVisibleTo(control().window()));
        QCOMPARE(text("connectStatus"), QString("Status:Not connected"));
    }

    void pairingFromTheWindow()
    {
        sim->plug(receiver(0x0001, 3));
        QTest::mouseClick(child("mouseCode"), Qt::LeftButton);
        QTest::mouseClick(child("btnPair"), Qt::LeftButton);
        QVERIFY(child("widStatus")->isVisibleTo(control().window()));
        QCOMPARE(text("pairStatus"), QString("In the progress of matching code..."));
        QTRY_COMPARE(text("pairStatus"), QString("Matched successfully"));
        QVERIFY(child<QLabel>("pairType")->styleSheet().contains("paired_success.png"));
        unplugAll();
    }

    void twoRequestsWithinTheDelayCarryTheLaterType()
    {
        QSignalSpy requests(&control(), &MainControl::startPair);
        sim->plug(receiver(0x0001, 0));
        emit control().window()->sigStartPair(1);
        emit control().window()->sigStartPair(2);
        QTRY_COMPARE(requests.size(), 2);
        QCOMPARE(requests.at(0).at(0).toInt(), 2);
        QCOMPARE(requests.at(1).at(0).toInt(), 2);
        QTRY_COMPARE(text("pairStatus"), QString("Matched successfully"));
        unplugAll();
    }

    void languageItemsSwitchTheWindow()
    {
        QTest::mouseClick(child("btnLanguage"), Qt::LeftButton);
        QTest::mouseClick(child("btnZH"), Qt::LeftButton);
        QVERIFY(!child("widgetLanguage")->isVisibleTo(control().window()));
        QCOMPARE(child<QPushButton>("mouseCode")->text(), QString("鼠标对码"));
        QVERIFY(!child("btnZH")->isEnabled() && child("btnEN")->isEnabled());
        QVERIFY(child("btnZH")->styleSheet().contains("modifyLan_zh.png"));

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
        testsupport::LogCapture log;
        control().slotMessageReceived("Bondara_2.0.0");
        QCOMPARE(window->windowState(), Qt::WindowMaximized);
        QVERIFY(log.lines().contains("\"Bondara_2.0.0\""));
        window->setWindowState(Qt::WindowNoState);
    }

    void languageOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("lang");
        QTest::newRow("none") << QStringList{"bondara"} << QString();
        QTest::newRow("zh first") << QStringList{"bondara", "-zh", "-en"} << "zh";
        QTest::newRow("en first") << QStringList{"bondara", "file", "-en", "-zh"} << "en";
        QTest::newRow("case and dashes matter") << QStringList{"bondara", "-ZH", "--zh", "zh", "-En"} << QString();
        QTest::newRow("program path scanned too") << QStringList{"-en"} << "en";
    }

    void languageOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, lang);
        QCOMPARE(languageFromArguments(arguments), lang);
    }
};

QTEST_MAIN(TestMainControl)
#include "tst_maincontrol.moc"
