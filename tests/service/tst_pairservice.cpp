// SPDX-License-Identifier: MIT
// The window's controller pairing through the pairing service, on the private
// system bus of tests/service/run-service-tests.sh, which runs each case as the
// user it is for (BONDARA_SIMULATE names the scene, BONDARA_SERVICE_TRACE the
// service's trace). Outside that bus it fails: there is nothing to pair with.

#include "app/maincontrol.h"
#include "sim/ksimplatform.h"
#include "ui/mainwindow.h"
#include "ui/pairprogress.h"

#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace {

const char *const kFast = "sim:rx#col02";
const char *const kSlow = "sim:slow#col02";

QStringList traceLines()
{
    QFile file(qEnvironmentVariable("BONDARA_SERVICE_TRACE"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // A line each: the interface, a tab, the report's bytes.
    QStringList frames;
    for (const QString &line : QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        frames << line.section(QLatin1Char('\t'), 1);
    return frames;
}

} // namespace

class TestPairService : public QObject
{
    Q_OBJECT

private:
    MainControl &control() { return MainControl::instance(); }
    template <typename T = QWidget>
    T *child(const char *name)
    {
        return control().window()->findChild<T *>(QLatin1String(name));
    }
    QString text(const char *name) { return child<QLabel>(name)->text(); }
    bool shown(const char *name) { return child(name)->isVisibleTo(control().window()); }
    void click(const char *name) { QTest::mouseClick(child(name), Qt::LeftButton); }
    // Picks the mouse page's receiver by its path.
    void choose(const char *path)
    {
        int index = 0;
        for (const MainControl::PresentReceiver &present : control().receivers()) {
            if (present.receiver.path() == QLatin1String(path))
                break;
            if (present.access && present.receiver.entry.pairs(PairKind::Mouse))
                ++index;
        }
        control().chooseReceiver(PairKind::Mouse, index);
        QCOMPARE(control().chosenReceiver(PairKind::Mouse)->path(), QString(path));
    }

    // Starts a mouse pairing on the receiver at `path`; the trace's length before it.
    int startRun(const char *path)
    {
        choose(path);
        const int before = traceLines().size();
        click("mouseCode");
        if (!QTest::qWaitFor([this] { return child("btnPair")->isEnabled(); }))
            return -1;
        click("btnPair");
        return before;
    }

private slots:
    void initTestCase()
    {
        std::string error;
        QVERIFY2(KHID::installPlatformFromEnvironment(&error), error.c_str());
        QVERIFY2(!qEnvironmentVariableIsEmpty("BONDARA_SERVICE_TRACE"), "run by tests/service/run-service-tests.sh");
        QLocale::setDefault(QLocale(QLocale::English));
        control();
    }

    void cleanupTestCase() { control().shutdown(); }

    // Closed to this user, the receivers are still connected: the service pairs them.
    void receiversClosedToTheUserShowConnected()
    {
        QCOMPARE(PairService::reach(), PairService::Reach::Offered);
        int viaService = 0;
        for (const MainControl::PresentReceiver &present : control().receivers())
            viaService += present.access && present.viaService ? 1 : 0;
        QCOMPARE(viaService, 3);
        QCOMPARE(control().receiverState(), MainControl::ReceiverReady);
        QCOMPARE(text("mouseStatus"), QString("Status:Connected"));
        QVERIFY(!shown("labelHint"));
    }

    void pairsThroughTheService()
    {
        const int before = startRun(kFast);
        QVERIFY(before >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(text("pairStatus"), QString("Matched successfully"), 20000);
        QTRY_VERIFY(!control().isPairing());
        const QStringList frames = traceLines().mid(before);
        QCOMPARE(frames.size(), 5); // begin, three polls, end
        QVERIFY(frames.first().startsWith("ba a0 81 01"));
        QVERIFY(frames.last().startsWith("ba a1 84"));
        click("btnReturn");
    }

    // The service's polls move the bar; Stop ends the service's run with the end command.
    void stopEndsTheServiceRun()
    {
        const int before = startRun(kSlow);
        QVERIFY(before >= 0);
        auto *bar = child<PairProgress>("pairProgress");
        QTRY_VERIFY_WITH_TIMEOUT(bar->left() < 1, 10000);
        QVERIFY(shown("btnStop"));
        click("btnStop");
        QTRY_COMPARE_WITH_TIMEOUT(text("pairStatus"), QString("Pairing stopped"), 10000);
        QTRY_VERIFY(!control().isPairing());
        const QStringList frames = traceLines().mid(before);
        QVERIFY2(frames.size() >= 3, qPrintable(frames.join('|')));
        QVERIFY(frames.last().startsWith("ba a1 84"));
        click("btnReturn");
    }

    // For a user polkit does not allow: the outcome is its own, with a hint, and nothing is sent.
    void refusedUserSeesTheHint()
    {
        const int before = startRun(kFast);
        QVERIFY(before >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(text("pairStatus"),
                                  QString("Matched failed: pairing was not authorised for this user"), 20000);
        QVERIFY(shown("labelHint"));
        QVERIFY2(text("labelHint").contains("administrator"), qPrintable(text("labelHint")));
        QCOMPARE(traceLines().size(), before);
        click("btnReturn");
    }
};

QTEST_MAIN(TestPairService)
#include "tst_pairservice.moc"
