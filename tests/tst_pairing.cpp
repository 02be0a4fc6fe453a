// SPDX-License-Identifier: MIT
// The pairing worker on its own thread, against the simulated receiver in virtual time.

#include "khid/khid.h"
#include "pairing/mousecommunitybt.h"
#include "tests/testsupport.h"

#include <QtTest>

#include <atomic>

#include <future>

using namespace KHID;

namespace {

const QString kReceiverPath = QStringLiteral("sim:rx#col04");

KSimInterface receiverInterface(const QString &path, quint16 pid, int pairAfterPolls)
{
    KSimInterface interface = testsupport::simInterface(path, 0x1209, pid, 0xFF00, 0x0001, 32, 32);
    interface.hasReceiver = true;
    interface.receiver.pairAfterPolls = pairAfterPolls;
    return interface;
}

DeviceDetail catalogueEntry(int pid)
{
    DeviceDetail detail;
    detail.vid = 0x1209;
    detail.pid = pid;
    detail.usage = 0x0001;
    detail.usagePage = 0xFF00;
    return detail;
}

// The receiver as a scan reports it: the interface at `path`, with its entry.
Receiver receiverAt(const QString &path, int pid)
{
    Receiver receiver;
    KHID::getHidDetail(path, receiver.interface);
    receiver.entry = catalogueEntry(pid);
    receiver.instance = QString::fromStdString(KHID::platform().deviceInstance(path.toStdU16String()).instance);
    return receiver;
}

using testsupport::beginFrame;
using testsupport::frame;
const QByteArray kPoll = testsupport::kPollFrame;
const QByteArray kEnd = testsupport::kEndFrame;

} // namespace

// Sends requests the way the controller does: a signal queued to the worker's thread.
class Requester : public QObject
{
    Q_OBJECT
signals:
    void startPair(PairKind pairDevType);
    void query();
};

// Takes the results on this (the GUI) thread, as the controller does.
class Results : public QObject
{
    Q_OBJECT
public:
    QList<QList<QVariant>> received;
    QList<PairOutcome> outcomes;
    QList<QPair<int, QString>> polls;
public slots:
    void onResult(bool status, const QString &message) { received.append({status, message}); }
    void onOutcome(const PairOutcome &outcome) { outcomes.append(outcome); }
    void onPoll(int attempt, const QString &status) { polls.append({attempt, status}); }
};

// The simulated machine, with a pairing lock that can be made to fail as a system may fail it
// (a system call filter that refuses flock, a mutex that cannot be made).
class LockFaultSim : public KSimPlatform
{
public:
    std::atomic<bool> lockFails{false}; // set by the test, read on the worker's thread
    KLock lockForPairing(KHandle handle, const std::u16string &path) override
    {
        return lockFails ? KLock::Failed : KSimPlatform::lockForPairing(handle, path);
    }
};

class TestPairing : public QObject
{
    Q_OBJECT

private:
    KSimPlatform *sim = nullptr;
    LockFaultSim *lockFaults = nullptr;
    QThread *thread = nullptr;
    MouseCommunityBT *worker = nullptr;
    Requester requester;
    std::unique_ptr<Results> results;
    std::mutex queryLock;
    std::promise<quint8> *queryAnswer = nullptr;

    QVector<QByteArray> framesTo(const QString &path) const { return testsupport::framesTo(*sim, path); }

    QVector<QByteArray> frames() const { return framesTo(kReceiverPath); }

    void plugAndHandOver(int pairAfterPolls, const std::function<void(KSimInterface &)> &adjust = {})
    {
        KSimInterface interface = receiverInterface(kReceiverPath, 0x0001, pairAfterPolls);
        if (adjust)
            adjust(interface);
        sim->addInterface(interface);
        worker->handOverReceiver(receiverAt(kReceiverPath, 0x0001));
    }

    // The reason the last run gave, beside its result.
    QString lastReason() const
    {
        if (results->outcomes.isEmpty())
            return QStringLiteral("(none)");
        const PairOutcome &o = results->outcomes.last();
        return o.detail.isEmpty() ? PairOutcome::key(o.reason) : PairOutcome::key(o.reason) + ": " + o.detail;
    }

    // One request; waits for its result.
    QList<QVariant> pair(int type)
    {
        const int before = results->received.size();
        emit requester.startPair(PairKind(type));
        if (!QTest::qWaitFor([&] { return results->received.size() > before; }, 10000))
            return {};
        return results->received.takeLast();
    }

private slots:
    void init()
    {
        sim = lockFaults = testsupport::installSimulation<LockFaultSim>();
        // Set up as the controller does: worker without parent, moved to its own thread.
        thread = new QThread;
        worker = new MouseCommunityBT;
        worker->moveToThread(thread);
        connect(thread, &QThread::finished, worker, &QObject::deleteLater);
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        connect(&requester, &Requester::startPair, worker, &MouseCommunity::startPairing);
        // Connected before the thread starts, like every cross-thread connection here.
        connect(&requester, &Requester::query, worker, [this] {
            const quint8 state = worker->queryState();
            std::lock_guard<std::mutex> lock(queryLock);
            if (queryAnswer)
                queryAnswer->set_value(state);
        });
        results = std::make_unique<Results>();
        connect(worker, &MouseCommunity::sigPairResult, results.get(), &Results::onResult);
        connect(worker, &MouseCommunity::sigPairOutcome, results.get(), &Results::onOutcome);
        connect(worker, &MouseCommunity::sigPollAttempt, results.get(), &Results::onPoll);
        thread->start();
    }

    void cleanup()
    {
        results.reset();
        QPointer<QThread> watched(thread);
        thread->quit();
        QVERIFY(thread->wait(5000));
        QTRY_VERIFY(watched.isNull()); // the finished connections released both
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(sim->openHandleCount(), 0);
    }

    void requestBeforeHandOverWritesNothing()
    {
        const QList<QVariant> result = pair(1);
        QCOMPARE(result.value(0).toBool(), false);
        QCOMPARE(lastReason(), QString("no-receiver"));
        QVERIFY(sim->events().isEmpty());
    }

    // What is asked for, and how the receiver answers the polls.
    void pollRepliesDecideTheOutcome_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("kindByte");
        QTest::addColumn<int>("pairAfterPolls");
        QTest::addColumn<int>("pairStatus");
        QTest::addColumn<int>("replyMarker");
        QTest::addColumn<bool>("paired");
        QTest::addColumn<int>("polls");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("lastPoll");
        QTest::newRow("keyboard") << 2 << 0x02 << 2 << 1 << 1 << true << 3 << "paired" << "paired";
        QTest::newRow("mouse") << 1 << 0x01 << 2 << 1 << 1 << true << 3 << "paired" << "paired";
        QTest::newRow("unknown pairs a mouse") << 7 << 0x01 << 2 << 1 << 1 << true << 3 << "paired" << "paired";
        QTest::newRow("01 01 after 01 00") << 1 << 0x01 << 5 << 1 << 1 << true << 6 << "paired" << "paired";
        QTest::newRow("01 02 counts as paired") << 1 << 0x01 << 0 << 2 << 1 << true << 1 << "paired" << "paired";
        QTest::newRow("01 03 is the receiver refusing")
            << 1 << 0x01 << 0 << 3 << 1 << false << 85 << "refused: 01 03" << "refused";
        QTest::newRow("paired on the last poll") << 1 << 0x01 << 84 << 1 << 1 << true << 85 << "paired" << "paired";
        QTest::newRow("one poll too late") << 1 << 0x01 << 85 << 1 << 1 << false << 85 << "no-answer" << "waiting";
        // The begin step takes any reply; a poll reply needs the marker.
        QTest::newRow("wrong marker ignored")
            << 1 << 0x01 << 0 << 1 << 2 << false << 85 << "refused: 02 01" << "ignored";
        QTest::newRow("all-zero replies") << 1 << 0x01 << 0 << 0 << 0 << false << 85 << "refused: 00 00" << "ignored";
    }

    void pollRepliesDecideTheOutcome()
    {
        QFETCH(int, type);
        QFETCH(int, kindByte);
        QFETCH(int, pairAfterPolls);
        QFETCH(int, pairStatus);
        QFETCH(int, replyMarker);
        QFETCH(bool, paired);
        QFETCH(int, polls);
        QFETCH(QString, reason);
        QFETCH(QString, lastPoll);
        plugAndHandOver(pairAfterPolls, [&](KSimInterface &interface) {
            interface.receiver.pairStatus = quint8(pairStatus);
            interface.receiver.replyMarker = quint8(replyMarker);
        });
        const QList<QVariant> result = pair(type);
        QCOMPARE(result.value(0).toBool(), paired);
        QCOMPARE(result.value(1).toString(), QString(paired ? "Matched successfully" : "Matched failed"));
        QCOMPARE(lastReason(), reason);
        // One poll event per poll sent, numbered from 1.
        QCOMPARE(results->polls.size(), polls);
        QCOMPARE(results->polls.last(), qMakePair(polls, lastPoll));

        // The end command goes out whatever the poll gave.
        QCOMPARE(frames(), QVector<QByteArray>{beginFrame(kindByte)} + QVector<QByteArray>(polls, kPoll)
                               + QVector<QByteArray>{kEnd});
        // Every write and fetch comes after its pause: 300 ms before a poll, 50 ms before anything else.
        const QVector<KSimPlatform::Event> events = sim->events();
        for (int i = 0; i < events.size(); ++i) {
            const KSimPlatform::Event &event = events.at(i);
            if (event.kind == KSimPlatform::Event::Sleep)
                continue;
            QVERIFY(i > 0);
            QCOMPARE(events.at(i - 1).kind, KSimPlatform::Event::Sleep);
            const bool polling = event.kind == KSimPlatform::Event::Write && event.bytes == kPoll;
            QCOMPARE(events.at(i - 1).sleepMs, polling ? 300u : 50u);
        }
        // begin 50+50, each poll 300+50, end 50+50
        QCOMPARE(sim->virtualTimeMs(), quint64(100 + polls * 350 + 100));
    }

    // Failures of the receiver and of the exchanges: retried within their attempts, then given up
    // with the system's words. Exchanges are numbered from 1 and the receiver pairs on the first poll.
    void failedExchanges_data()
    {
        QTest::addColumn<bool>("allWrites");
        QTest::addColumn<bool>("allReads");
        QTest::addColumn<QVector<int>>("failWrites");
        QTest::addColumn<QVector<int>>("failReads");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("sent");
        QVector<int> polls; // every poll's fetch, after the begin's
        for (int exchange = 2; exchange <= 86; ++exchange)
            polls << exchange;
        const QString io = QStringLiteral(": Input/output error (simulated)");
        // No poll; a failed write may have reached the receiver all the same, so the end is tried too.
        QTest::newRow("no report can be written") << true << false << QVector<int>() << QVector<int>()
                                                  << "write-failed" + io << 0;
        QTest::newRow("the begins fail, the end gets through") << false << false << QVector<int>{1, 2, 3}
                                                                << QVector<int>() << "write-failed" + io << 1;
        // The begin may have reached the receiver: the end follows, three times unanswered.
        QTest::newRow("no reply can be read") << false << true << QVector<int>() << QVector<int>()
                                              << "read-failed" + io << 3 + 3;
        QTest::newRow("the poll's replies cannot be read") << false << false << QVector<int>() << polls
                                                           << "read-failed" + io << 1 + 85 + 1;
        QTest::newRow("the receiver cannot be opened") << false << false << QVector<int>() << QVector<int>()
                                                       << "open-failed: Permission denied (simulated)" << 0;
        QTest::newRow("two begins and a poll fail") << false << false << QVector<int>{4} << QVector<int>{1, 2}
                                                    << "paired" << 5;
    }

    void failedExchanges()
    {
        QFETCH(bool, allWrites);
        QFETCH(bool, allReads);
        QFETCH(QVector<int>, failWrites);
        QFETCH(QVector<int>, failReads);
        QFETCH(QString, reason);
        QFETCH(int, sent);
        plugAndHandOver(0, [&](KSimInterface &interface) {
            interface.openFails = reason.startsWith("open-failed");
            interface.receiver.failAllWrites = allWrites;
            interface.receiver.failAllReads = allReads;
            interface.receiver.failWrites = failWrites;
            interface.receiver.failReads = failReads;
        });
        QCOMPARE(pair(2).value(0).toBool(), reason == "paired");
        QCOMPARE(lastReason(), reason);
        QCOMPARE(frames().size(), sent);
        if (allWrites) // three begins and three ends, each after its pause
            QCOMPARE(sim->virtualTimeMs(), quint64(2 * 3 * 50));
        if (failWrites == QVector<int>{1, 2, 3})
            QCOMPARE(frames(), QVector<QByteArray>{kEnd});
    }

    // However a run stops early, the end command is the next report the receiver gets, unless it is gone.
    void aRunIsCutShort_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("ended");
        QTest::newRow("the program closes") << "interrupt" << "stopped" << true;
        QTest::newRow("the user stops it") << "stop" << "stopped" << true;
        QTest::newRow("its removal was noticed") << "abort" << "unplugged" << true;
        QTest::newRow("the system says it is gone") << "unplug" << "unplugged" << false;
        QTest::newRow("gone and back on the same path") << "replug" << "unplugged" << false;
    }

    void aRunIsCutShort()
    {
        QFETCH(QString, how);
        QFETCH(QString, reason);
        QFETCH(bool, ended);
        plugAndHandOver(-1);
        const KSimInterface plugged = sim->interfaces().first();
        // Asked to stop in the pause before the third poll.
        sim->setSleepHook([&](quint64 now) {
            if (now != 100 + 3 * 300 + 2 * 50)
                return;
            if (how == "interrupt")
                thread->requestInterruption();
            else if (how == "stop")
                worker->abortRun(PairOutcome::Stopped);
            else if (how == "abort")
                worker->abortRun();
            else
                sim->removeInterface(kReceiverPath);
            if (how == "replug")
                sim->addInterface(plugged);
        });
        const QList<QVariant> result = pair(1);
        sim->setSleepHook(nullptr);
        QCOMPARE(result.value(0).toBool(), false);
        QCOMPARE(result.value(1).toString(), QString("Matched failed"));
        QCOMPARE(lastReason(), reason);
        // Asked during the pause before the third poll: the end command is the next report, and
        // the last. A receiver gone is sent nothing more.
        QVector<QByteArray> expected{beginFrame(1), kPoll, kPoll};
        if (ended)
            expected << kEnd;
        QCOMPARE(frames(), expected);
        QVERIFY(sim->virtualTimeMs() < 2000);
        if (how == "interrupt")
            return;

        // Cleared for the next run, which goes the whole way.
        if (how == "unplug")
            sim->addInterface(plugged);
        worker->handOverReceiver(receiverAt(kReceiverPath, 0x0001));
        sim->clearRecords();
        worker->clearAbort();
        QCOMPARE(pair(1).value(0).toBool(), false);
        QCOMPARE(frames().count(kPoll), 85);
    }

    // Another program pairing with the same receiver: refused at once, nothing sent; then free again.
    void oneRunPerReceiverAcrossPrograms()
    {
        plugAndHandOver(0, [](KSimInterface &interface) { interface.receiver.queryState = 0x5A; });
        {
            // The lock goes with the other program's handle, not with a file of its own.
            KUSBDevice other;
            QVERIFY(other.openInterface(worker->receiver().interface));
            QCOMPARE(other.lockForPairing(), KLock::Taken);
            QCOMPARE(pair(1).value(0).toBool(), false);
            QCOMPARE(lastReason(), QString("busy"));
            QCOMPARE(queryOnWorkerThread(), quint8(0));
            QVERIFY(sim->events().isEmpty());
        }
        QCOMPARE(queryOnWorkerThread(), quint8(0x5A));
        QCOMPARE(pair(1).value(0).toBool(), true);
    }

    // A lock the system will not give is no lock at all: the run does not start unguarded.
    void aLockThatCannotBeTakenStopsTheRun()
    {
        plugAndHandOver(0);
        lockFaults->lockFails = true;
        QCOMPARE(pair(1).value(0).toBool(), false);
        QCOMPARE(lastReason(), QString("open-failed: its pairing lock could not be taken"));
        QVERIFY(sim->events().isEmpty());
        lockFaults->lockFails = false;
        QCOMPARE(pair(1).value(0).toBool(), true);
    }

    // A receiver whose fetches hang (the kernel gives a USB transfer 5 s) or crawl decides
    // nothing about how long a run lasts: no exchange starts after the run's deadline, a stop
    // is honoured within one exchange, and the end command gets two exchanges' time at most.
    void aRunIsBounded_data()
    {
        QTest::addColumn<int>("fetchMs");
        QTest::addColumn<bool>("fetchesFail");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<QString>("reason");
        QTest::newRow("every fetch hangs until the kernel gives up") << 5000 << true << false
                                                                      << "read-failed: Input/output error (simulated)";
        QTest::newRow("slow answers run into the deadline") << 400 << false << false << "no-answer";
        // Its write and its fetch each the 5 s the kernel allows: the longest an exchange can be.
        QTest::newRow("a stop while every exchange hangs its longest") << 10000 << true << true << "stopped";
    }

    void aRunIsBounded()
    {
        QFETCH(int, fetchMs);
        QFETCH(bool, fetchesFail);
        QFETCH(bool, stop);
        QFETCH(QString, reason);
        plugAndHandOver(-1, [&](KSimInterface &interface) {
            interface.receiver.fetchMs = fetchMs;
            interface.receiver.failAllReads = fetchesFail;
        });
        quint64 stoppedAt = 0;
        if (stop) {
            // In the pause before the begin's second attempt, right after its first hung.
            sim->setSleepHook([&](quint64 now) {
                if (stoppedAt == 0 && now > quint64(fetchMs)) {
                    stoppedAt = now;
                    worker->abortRun(PairOutcome::Stopped);
                }
            });
        }
        QCOMPARE(pair(1).value(0).toBool(), false);
        sim->setSleepHook(nullptr);
        QCOMPARE(lastReason(), reason);
        const QVector<QByteArray> sent = frames();
        QVERIFY(!sent.isEmpty());
        QCOMPARE(sent.last(), kEnd);
        QVERIFY2(sent.count(kPoll) < MouseCommunityBT::kPollAttempts, qPrintable(QString::number(sent.count(kPoll))));
        const quint64 whole = sim->virtualTimeMs();
        QVERIFY2(whole <= MouseCommunityBT::kRunLimitMs + 3 * MouseCommunityBT::kExchangeLimitMs,
                 qPrintable(QString::number(whole)));
        if (stop) {
            // Nothing but the end command after the stop, and all of it within two exchanges.
            QCOMPARE(sent, QVector<QByteArray>({beginFrame(1), kEnd, kEnd, kEnd}).mid(0, sent.size()));
            QVERIFY(whole - stoppedAt <= 2 * MouseCommunityBT::kExchangeLimitMs);
        }
    }

    // The node opened must be the device the scan found: a receiver plugged in again (or another
    // device on its number) since the scan ends the run as unplugged, with nothing written.
    void theOpenedNodeIsTheScannedDevice_data()
    {
        QTest::addColumn<bool>("replugged");
        QTest::addColumn<QString>("reason");
        QTest::newRow("the device the scan found") << false << "paired";
        QTest::newRow("plugged in again since the scan") << true << "unplugged";
    }

    void theOpenedNodeIsTheScannedDevice()
    {
        QFETCH(bool, replugged);
        QFETCH(QString, reason);
        plugAndHandOver(0);
        if (replugged) {
            const KSimInterface plugged = sim->interfaces().first();
            QVERIFY(sim->removeInterface(kReceiverPath));
            sim->addInterface(plugged);
        }
        pair(1);
        QCOMPARE(lastReason(), reason);
        QCOMPARE(frames().isEmpty(), replugged);
    }

    void queuedRequestsRunOneAfterAnother()
    {
        plugAndHandOver(1);
        emit requester.startPair(PairKind::Mouse);
        emit requester.startPair(PairKind::Keyboard);
        QTRY_COMPARE_WITH_TIMEOUT(results->received.size(), 2, 10000);
        QVERIFY(results->received.at(0).at(0).toBool() && results->received.at(1).at(0).toBool());
        QCOMPARE(frames(), QVector<QByteArray>({beginFrame(1), kPoll, kPoll, kEnd, beginFrame(2), kPoll, kPoll, kEnd}));
    }

    void handOverDuringARunTakesEffectAtTheNext()
    {
        const QString second = QStringLiteral("sim:rx2#col04");
        sim->addInterface(receiverInterface(kReceiverPath, 0x0001, 10));
        sim->addInterface(receiverInterface(second, 0x0002, 0));
        worker->handOverReceiver(receiverAt(kReceiverPath, 0x0001));

        // Hold the worker in the middle of its poll.
        testsupport::Semaphore reached, resume;
        sim->setSleepHook([&](quint64 now) {
            if (now == 100 + 3 * 300 + 2 * 50) {
                reached.release();
                resume.acquire();
            }
        });
        emit requester.startPair(PairKind::Mouse);
        QVERIFY(reached.tryAcquire(10000));

        worker->handOverReceiver(receiverAt(second, 0x0002));
        QCOMPARE(worker->receiver().entry.pid, 0x0002);
        // The run holds its own receiver, opened for it alone.
        QCOMPARE(sim->openHandleCount(), 2);
        resume.release();

        QTRY_COMPARE_WITH_TIMEOUT(results->received.size(), 1, 10000);
        QVERIFY(results->received.takeFirst().at(0).toBool());
        QCOMPARE(sim->openHandleCount(), 0);

        QCOMPARE(pair(2).value(0).toBool(), true);
        const QVector<QByteArray> toFirst = framesTo(kReceiverPath);
        const QVector<QByteArray> toSecond = framesTo(second);
        QCOMPARE(toFirst.size(), 1 + 11 + 1); // the whole first run, on the first receiver
        QCOMPARE(toFirst.first(), beginFrame(1));
        QCOMPARE(toSecond.size(), 1 + 1 + 1);
        QCOMPARE(toSecond.first(), beginFrame(2));
    }

    quint8 queryOnWorkerThread()
    {
        std::promise<quint8> state;
        std::future<quint8> answer = state.get_future();
        {
            std::lock_guard<std::mutex> lock(queryLock);
            queryAnswer = &state;
        }
        emit requester.query();
        const bool ready = answer.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        std::lock_guard<std::mutex> lock(queryLock);
        queryAnswer = nullptr;
        return ready ? answer.get() : 0xEE;
    }

    // While a run holds the receiver a query from another thread answers 0 at once and sends
    // nothing; once the run is over the query asks the receiver for its status byte.
    void queryStateReadsTheStatusByte()
    {
        plugAndHandOver(-1, [](KSimInterface &interface) { interface.receiver.queryState = 0x5A; });
        testsupport::Semaphore reached, resume;
        sim->setSleepHook([&](quint64 now) {
            if (now == 100 + 300 + 50) {
                reached.release();
                resume.acquire();
            }
        });
        emit requester.startPair(PairKind::Mouse);
        QVERIFY(reached.tryAcquire(10000));
        const int sent = frames().size();
        QCOMPARE(worker->queryState(), quint8(0));
        QCOMPARE(frames().size(), sent);
        sim->setSleepHook({});
        resume.release();
        QTRY_COMPARE_WITH_TIMEOUT(results->received.size(), 1, 30000);

        QCOMPARE(queryOnWorkerThread(), quint8(0x5A));
        QCOMPARE(frames().last(), frame({0xBA, 0xA7}));

        sim->removeInterface(kReceiverPath);
        KSimInterface silent = receiverInterface(kReceiverPath, 0x0001, 0);
        silent.receiver.queryState = 0x5A;
        silent.receiver.replyMarker = 0;
        sim->addInterface(silent);
        QCOMPARE(queryOnWorkerThread(), quint8(0)); // no valid reply in three attempts
    }
};

QTEST_GUILESS_MAIN(TestPairing)
#include "tst_pairing.moc"
