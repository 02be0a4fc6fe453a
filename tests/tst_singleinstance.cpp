// SPDX-License-Identifier: MIT
// The single-instance guard: where its lock lives (only ever in a directory no
// other user can write to, or nowhere), and real copies of the program that
// hand over, outlive a killed holder and shrug off clients that misbehave.

#include "app/singleapplication.h"

#include <QtTest>

#include <QSysInfo>
#include <QLocalSocket>
#include <QProcess>

#include <memory>
#include <sys/stat.h>

namespace {

// Type and permissions, without following a link.
mode_t modeOf(const QString &path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode : 0;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::unique_ptr<QTemporaryDir> runtime;
    std::vector<std::unique_ptr<QProcess>> started;
    std::map<QProcess *, QByteArray> output;

    // All a copy has written so far: a line may come in pieces.
    const QByteArray &said(QProcess *process) { return output[process] += process->readAll(); }

    QString socketName() const { return SingleApplication::serverName(QStringLiteral("Bondara_2.0.0")); }

    // A copy as a user starts it, on a simulated machine, logging (-v) to its output if asked.
    QProcess *start(bool verbose = true, const QStringList &more = {})
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("BONDARA_SIMULATE", BONDARA_SOURCE_DIR "/tests/e2e/pairs.json");
        env.remove("QT_LOGGING_RULES");
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(BONDARA_PROGRAM, (verbose ? QStringList{"-v", "-en"} : QStringList{"-en"}) + more);
        started.push_back(std::move(process));
        return started.back().get();
    }

    // A message is taken (the holder hangs up once it has it): the holder's
    // event loop runs. Its socket accepts connections well before that.
    bool answers() const
    {
        QLocalSocket probe;
        probe.connectToServer(socketName());
        if (!probe.waitForConnected(200))
            return false;
        probe.write(QByteArray::fromHex("00000005") + "probe");
        return probe.waitForDisconnected(500);
    }

    // A copy that holds the lock and listens, its window open.
    QProcess *startHolder(bool verbose = true)
    {
        QProcess *holder = start(verbose);
        if (!holder->waitForStarted())
            return nullptr;
        for (QDeadlineTimer deadline(20000); !deadline.hasExpired(); QTest::qWait(50)) {
            if (holder->state() != QProcess::Running)
                return nullptr;
            if (answers())
                return holder;
        }
        return nullptr;
    }

    // A later start hands its message over to `holder` and ends with 0.
    void handsOverTo(QProcess *holder)
    {
        const int before = said(holder).count("\"Bondara_2.0.0\"");
        QProcess *second = start();
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(said(holder).count("\"Bondara_2.0.0\"") > before, 10000);
        QCOMPARE(holder->state(), QProcess::Running);
    }

private slots:
    void init()
    {
        runtime = std::make_unique<QTemporaryDir>();
        QVERIFY(runtime->isValid());
        QCOMPARE(::chmod(QFile::encodeName(runtime->path()).constData(), 0700), 0);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime->path()));
    }

    void cleanup()
    {
        for (auto &process : started) {
            process->kill();
            process->waitForFinished(10000);
        }
        started.clear();
        output.clear();
    }

    void secondStartHandsOver()
    {
        QProcess *holder = startHolder();
        QVERIFY(holder);
        handsOverTo(holder);
        handsOverTo(holder);
    }

    // A second start that asks for something it does not know still brings
    // the running copy to the front; only a first start names the option.
    void unknownOptionHandsOverToARunningCopy_data()
    {
        QTest::addColumn<bool>("running");
        QTest::newRow("a copy runs") << true;
        QTest::newRow("no copy runs") << false;
    }

    void unknownOptionHandsOverToARunningCopy()
    {
        QFETCH(bool, running);
        QProcess *holder = running ? startHolder() : nullptr;
        QVERIFY(holder || !running);
        const int before = holder ? said(holder).count("\"Bondara_2.0.0\"") : 0;
        QProcess *second = start(true, {"--bogus"});
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), running ? 0 : 2);
        QCOMPARE(said(second).contains("unknown option \"--bogus\""), !running);
        if (running) {
            QTRY_VERIFY_WITH_TIMEOUT(said(holder).count("\"Bondara_2.0.0\"") > before, 10000);
            QCOMPARE(holder->state(), QProcess::Running);
        } else {
            // Nothing kept: the next start holds the lock and answers.
            QVERIFY(startHolder());
        }
    }

    // Without -v neither the first copy nor a second that hands over to it writes anything.
    void quietUnlessAsked()
    {
        QProcess *holder = startHolder(false);
        QVERIFY(holder);
        QProcess *second = start(false);
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitCode(), 0);
        holder->kill();
        QVERIFY(holder->waitForFinished(10000));
        const QByteArray written = said(holder) + said(second);
        QVERIFY2(written.isEmpty(), written.left(300).constData());
    }

    void goneHolderIsTakenOver_data()
    {
        QTest::addColumn<bool>("impostor");
        QTest::newRow("holder killed") << false;
        QTest::newRow("holder's process id now another program of its name") << true;
    }

    // Nothing listens on a gone holder's socket: the next start takes the lock
    // over, and a start after that hands over to it.
    void goneHolderIsTakenOver()
    {
        QFETCH(bool, impostor);
        QProcess *gone = startHolder();
        QVERIFY(gone);
        gone->kill(); // SIGKILL: the lock and the socket file stay behind
        QVERIFY(gone->waitForFinished(10000));
        const QString lock = socketName() + ".lock";
        QVERIFY(QFile::exists(lock));
        QTemporaryDir impostorDir;
        QProcess other;
        if (impostor) {
            // The lock's own check takes a live process of the program's name for the holder.
            const QString name = impostorDir.filePath(QFileInfo(BONDARA_PROGRAM).fileName());
            QVERIFY(QFile::copy(QStandardPaths::findExecutable("sleep"), name));
            other.start(name, {"60"});
            QVERIFY(other.waitForStarted());
            QFile file(lock);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(QByteArray::number(other.processId()) + '\n' + QByteArray(BONDARA_PROGRAM) + '\n'
                       + QSysInfo::machineHostName().toUtf8() + '\n');
        }
        QProcess *next = startHolder();
        if (impostor) {
            other.kill();
            other.waitForFinished();
        }
        QVERIFY2(next, next ? "" : said(started.back().get()).constData());
        handsOverTo(next);
    }

    void misbehavingClientsAreDropped_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<int>("droppedWithinMs");
        // Said to be longer than any message: dropped at once, nothing waited for.
        QTest::newRow("over-size message") << QByteArray::fromHex("00100000") + QByteArray(64, 'x') << 2000;
        QTest::newRow("length one past the limit") << QByteArray::fromHex("00001001") << 2000;
        // Connects and says nothing: dropped after a while, the holder answering others meanwhile.
        QTest::newRow("silent client") << QByteArray() << 10000;
    }

    void misbehavingClientsAreDropped()
    {
        QFETCH(QByteArray, sent);
        QFETCH(int, droppedWithinMs);
        QProcess *holder = startHolder();
        QVERIFY(holder);
        QLocalSocket client;
        client.connectToServer(socketName());
        QVERIFY(client.waitForConnected(5000));
        if (!sent.isEmpty()) {
            client.write(sent);
            QVERIFY(client.waitForBytesWritten(2000));
        }
        if (sent.isEmpty())
            handsOverTo(holder);
        QElapsedTimer waited;
        waited.start();
        QVERIFY(client.state() == QLocalSocket::UnconnectedState || client.waitForDisconnected(droppedWithinMs));
        QVERIFY(waited.elapsed() < droppedWithinMs);
        handsOverTo(holder);
    }

    void lockDirectory_data()
    {
        QTest::addColumn<QString>("runtime");   // mode of XDG_RUNTIME_DIR, or "none"
        QTest::addColumn<QString>("cache");     // what is at the cache's bondara/ beforehand, "xdg": XDG_CACHE_HOME set
        QTest::addColumn<QString>("expected");  // "runtime", "cache" or "none"
        QTest::newRow("private runtime directory") << "0700" << "absent" << "runtime";
        QTest::newRow("no runtime directory") << "none" << "absent" << "cache";
        QTest::newRow("runtime directory open to all") << "0777" << "absent" << "cache";
        QTest::newRow("runtime directory open to the group") << "0750" << "absent" << "cache";
        QTest::newRow("cache directory of ours left open") << "none" << "0755" << "cache";
        QTest::newRow("XDG_CACHE_HOME given") << "none" << "xdg" << "cache";
        QTest::newRow("cache entry a link elsewhere") << "none" << "link" << "none";
        QTest::newRow("cache entry a file") << "none" << "file" << "none";
    }

    void lockDirectory()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, cache);
        QFETCH(QString, expected);
        const QString base = dir.filePath(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(base + "/home"));
        const QString runtimeDir = base + "/runtime";
        const QString cacheDir = base + (cache == "xdg" ? "/xdg/bondara" : "/home/.cache/bondara");
        if (runtime != "none") {
            QVERIFY(QDir().mkpath(runtimeDir));
            QCOMPARE(::chmod(QFile::encodeName(runtimeDir).constData(), runtime.toUInt(nullptr, 8)), 0);
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir));
        } else {
            qunsetenv("XDG_RUNTIME_DIR");
        }
        QVERIFY(QDir().mkpath(base + "/home/.cache"));
        if (cache == "0755") {
            QVERIFY(QDir().mkpath(cacheDir));
            QCOMPARE(::chmod(QFile::encodeName(cacheDir).constData(), 0755), 0);
        } else if (cache == "link") {
            QVERIFY(QDir().mkpath(base + "/elsewhere"));
            QVERIFY(QFile::link(base + "/elsewhere", cacheDir));
        } else if (cache == "file") {
            QFile file(cacheDir);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        if (cache == "xdg") {
            QVERIFY(QDir().mkpath(base + "/xdg"));
            qputenv("XDG_CACHE_HOME", QFile::encodeName(base + "/xdg"));
        } else {
            qunsetenv("XDG_CACHE_HOME");
        }
        qputenv("HOME", QFile::encodeName(base + "/home"));

        const QString name = SingleApplication::serverName("bondara-test");
        if (expected == "none") {
            QVERIFY2(name.isEmpty(), qPrintable(name));
            return;
        }
        const QString where = expected == "runtime" ? runtimeDir : cacheDir;
        QCOMPARE(QFileInfo(name).absolutePath(), where);
        QVERIFY(QFileInfo(name).fileName().startsWith("bondara-test-"));
        if (expected == "cache")
            QCOMPARE(modeOf(cacheDir), mode_t(S_IFDIR | 0700));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
