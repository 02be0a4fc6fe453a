// SPDX-License-Identifier: MIT
// Live HID changes without widgets: the simulated machine's and the Linux hidraw monitor.

#include "khid/kdevicemonitor.h"
#include "khid/kdevicemonitor_linux.h"
#include "khid/khid.h"
#include "tests/testsupport.h"

#include <QtTest>

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

using namespace KHID;
using testsupport::simInterface;

namespace {

struct Change {
    bool arrival;
    QString path;
    bool inWalk; // whether the walk saw the path when the signal came
    qint64 atMs;
};

bool walkSees(const QString &path)
{
    bool seen = false;
    enumHidDevices([&](KHidDetail detail, bool &keepGoing) {
        seen = detail.DevicePath == path;
        keepGoing = !seen;
    });
    return seen;
}

// Lines "ACTION SYSNAME [DEVNODE]" written to one end of a socket pair, read as udev events.
class LineSource : public KHidrawEventSource
{
public:
    explicit LineSource(int fd) : mFd(fd) {}
    ~LineSource() override { ::close(mFd); }
    int fd() const override { return mFd; }
    bool next(KHidrawEvent &event) override
    {
        char buffer[256];
        const ssize_t got = ::recv(mFd, buffer, sizeof buffer - 1, MSG_DONTWAIT);
        if (got <= 0)
            return false;
        const QStringList fields = QString::fromLatin1(buffer, int(got)).trimmed().split(' ');
        event.action = fields.value(0).toStdString();
        event.sysname = fields.value(1).toStdString();
        event.devnode = fields.value(2).toStdString();
        return true;
    }

private:
    int mFd;
};

} // namespace

class TestDeviceMonitor : public QObject
{
    Q_OBJECT

private:
    KSimPlatform *sim = nullptr;
    QVector<Change> changes;
    QElapsedTimer clock;

    void record(KDeviceMonitor *monitor, bool checkWalk = true)
    {
        connect(monitor, &KDeviceMonitor::sigDeviceChange, this, [this, checkWalk](bool arrival, QString path) {
            changes.append({arrival, path, checkWalk && walkSees(path), clock.elapsed()});
        });
    }

    QStringList described() const
    {
        QStringList out;
        for (const Change &change : changes)
            out << (change.arrival ? "+" : "-") + change.path;
        return out;
    }

    // The Linux monitor over a socket pair, with sysfs played by `collections`.
    struct FakeHidraw {
        int writer = -1;
        std::map<unsigned, std::size_t> collections;
        std::vector<std::pair<unsigned, std::size_t>> present;
        long openError = 0;

        KHidrawMonitor::Hooks hooks()
        {
            KHidrawMonitor::Hooks h;
            h.openSource = [this](long *code) -> std::unique_ptr<KHidrawEventSource> {
                if (openError) {
                    *code = openError;
                    return nullptr;
                }
                int fds[2];
                if (::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0)
                    return nullptr;
                writer = fds[0];
                return std::make_unique<LineSource>(fds[1]);
            };
            h.collectionsOf = [this](unsigned node, std::size_t &count) {
                const auto it = collections.find(node);
                if (it != collections.end())
                    count = it->second;
                return it != collections.end();
            };
            h.presentNodes = [this] { return present; };
            return h;
        }
        void send(const char *line) const { QVERIFY(::send(writer, line, std::strlen(line), 0) > 0); }
        ~FakeHidraw()
        {
            if (writer >= 0)
                ::close(writer);
        }
    };

private slots:
    void init()
    {
        sim = testsupport::installSimulation();
        changes.clear();
        clock.start();
    }

    void pluggedReceiverArrivesInterfaceByInterface()
    {
        auto monitor = makeDeviceMonitor();
        QVERIFY(monitor->start(0, nullptr));
        record(monitor.get());
        for (const char *path : {"sim:rx#col01", "sim:rx#col02", "sim:rx#col03"})
            QVERIFY(sim->plug(simInterface(path, 0x1209, 1, 0xFF00, 1)));
        QVERIFY(sim->unplug("sim:rx#col02"));
        // Unknown paths and double plugs say nothing.
        QVERIFY(!sim->unplug("sim:absent"));
        QVERIFY(!sim->plug(simInterface("sim:rx#col01", 0x1209, 1, 0xFF00, 1)));
        QCOMPARE(described(), QStringList({"+sim:rx#col01", "+sim:rx#col02", "+sim:rx#col03", "-sim:rx#col02"}));
        // Arrivals are in the walk when announced; a removal is already gone from it.
        QVERIFY(changes.at(0).inWalk && changes.at(2).inWalk);
        QVERIFY(!changes.at(3).inWalk);
    }

    void sceneEventsFollowTheirTimes()
    {
        QString error;
        // Counted from the machine's making.
        clock.start();
        auto scene = KSimPlatform::fromFile(qEnvironmentVariable("BONDARA_TEST_DATA") + "/scenes/timed-events.json",
                                            &error);
        QVERIFY2(scene, qPrintable(error));
        sim = scene.get();
        installPlatform(std::move(scene));
        auto monitor = makeDeviceMonitor();
        QVERIFY(monitor->start(0, nullptr));
        record(monitor.get());
        QTRY_COMPARE(changes.size(), 2);
        QTest::qWait(100);
        QCOMPARE(described(), QStringList({"+sim:rx#col01", "-sim:mouse"}));
        QVERIFY(changes.at(0).inWalk);
        QVERIFY(changes.at(0).atMs >= 100 && changes.at(1).atMs >= 300);
    }

    void malformedSceneEventsAreRefused_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not an array") << R"({"afterMs": 1})" << R"("events" must be an array)";
        QTest::newRow("unknown action") << R"([{"afterMs": 1, "action": "shake", "path": "x"}])" << "events[0].action";
        QTest::newRow("time as text") << R"([{"afterMs": "1", "action": "unplug", "path": "x"}])" << "events[0].afterMs";
        QTest::newRow("time in the past") << R"([{"afterMs": -1, "action": "unplug", "path": "x"}])"
                                          << "events[0].afterMs: expected a whole number of milliseconds from 0";
        QTest::newRow("time beyond any integer")
            << R"([{"afterMs": 1e300, "action": "unplug", "path": "x"}])" << "events[0].afterMs";
        QTest::newRow("fractional time") << R"([{"afterMs": 0.5, "action": "unplug", "path": "x"}])" << "events[0].afterMs";
        QTest::newRow("unplug naming an interface")
            << R"([{"afterMs": 1, "action": "unplug", "path": "x", "interface": {}}])" << "events[0].interface: unknown key";
        QTest::newRow("plug without interface") << R"([{"afterMs": 1, "action": "plug"}])" << "events[0].interface";
        QTest::newRow("plugged interface without ids")
            << R"([{"afterMs": 1, "action": "plug", "interface": {"path": "x"}}])" << "events[0].interface";
    }

    void malformedSceneEventsAreRefused()
    {
        QFETCH(QString, events);
        QFETCH(QString, reason);
        QString error;
        QVERIFY(!KSimPlatform::fromJson(R"({"interfaces": [], "events": )" + events.toUtf8() + "}", "bad", &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
    }

    void registrationFailureGivesTheCode()
    {
        sim->setNotificationFailure(5);
        long code = 0;
        QVERIFY(!makeDeviceMonitor()->start(0, &code));
        QCOMPARE(code, 5L);
        FakeHidraw fake;
        fake.openError = 97;
        KHidrawMonitor monitor(fake.hooks());
        QVERIFY(!monitor.start(0, &code));
        QCOMPARE(code, 97L);
    }

    void hidrawMonitorNamesEveryCollection()
    {
        FakeHidraw fake;
        fake.collections = {{3, 3}, {4, 1}, {7, 0}};
        fake.present = {{1, 2}};
        KHidrawMonitor monitor(fake.hooks());
        QVERIFY(monitor.start(0, nullptr));
        record(&monitor, false);

        fake.send("add hidraw3 /dev/hidraw3");
        fake.send("add hidraw4 /dev/hidraw4");
        fake.send("add hidraw7 /dev/hidraw7"); // a descriptor that does not parse: the node itself
        fake.send("change hidraw4 /dev/hidraw4"); // rights changed: looked at again
        fake.send("bind hidraw4 /dev/hidraw4");
        QTRY_COMPARE(changes.size(), 6);
        QCOMPARE(described(), QStringList({"+/dev/hidraw3#col01", "+/dev/hidraw3#col02", "+/dev/hidraw3#col03",
                                           "+/dev/hidraw4", "+/dev/hidraw7", "+/dev/hidraw4"}));

        // Removal: sysfs has forgotten the node, the monitor has not.
        changes.clear();
        fake.collections.erase(3);
        fake.send("remove hidraw3 /dev/hidraw3");
        fake.send("remove hidraw1 /dev/hidraw1"); // present before the monitor started
        fake.send("remove hidraw9 /dev/hidraw9"); // never seen arriving
        QTRY_COMPARE(changes.size(), 6);
        QCOMPARE(described(), QStringList({"-/dev/hidraw3#col01", "-/dev/hidraw3#col02", "-/dev/hidraw3#col03",
                                           "-/dev/hidraw1#col01", "-/dev/hidraw1#col02", "-/dev/hidraw9"}));

        // Nodes whose paths the walk would never report give no signal: the
        // next good one is the first to arrive.
        changes.clear();
        fake.send("add hidraw5 /dev/hidraw5"); // gone before its descriptor was read
        fake.send("add hidraw6");              // no device node
        fake.send("add mouse0 /dev/input/mouse0");
        fake.send("add hidraw4 /dev/hidraw4");
        QTRY_COMPARE(changes.size(), 1);
        QCOMPARE(described(), QStringList({"+/dev/hidraw4"}));
    }
};

QTEST_GUILESS_MAIN(TestDeviceMonitor)
#include "tst_devicemonitor.moc"
