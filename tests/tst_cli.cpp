// bondara-cli as a user runs it: exit codes, listings and their JSON.

#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runCli(const QStringList &args, const QString &scene = QString(), const QString &trace = QString())
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("BONDARA_SIMULATE_TRACE");
    if (scene.isEmpty())
        env.remove("BONDARA_SIMULATE");
    else
        env.insert("BONDARA_SIMULATE", scene);
    if (!trace.isEmpty())
        env.insert("BONDARA_SIMULATE_TRACE", trace);
    process.setProcessEnvironment(env);
    process.start(BONDARA_CLI, args);
    Run run;
    if (!process.waitForFinished(30000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QString source(const QString &relative)
{
    return QStringLiteral(BONDARA_SOURCE_DIR "/") + relative;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void listFindsTheSimulatedReceiver()
    {
        const Run run = runCli({"list", "--json"}, source("tools/scenes/receiver.json"));
        QCOMPARE(run.exitCode, 0);
        QJsonParseError error;
        const QJsonObject document = QJsonDocument::fromJson(run.out, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);

        const QJsonArray interfaces = document.value("interfaces").toArray();
        QCOMPARE(interfaces.size(), 5);
        const QJsonObject vendor = interfaces.at(4).toObject();
        QCOMPARE(vendor.value("path").toString(), QString("sim:receiver#col04"));
        QCOMPARE(vendor.value("vendorId").toString(), QString("1209"));
        QCOMPARE(vendor.value("usagePage").toString(), QString("ff00"));
        QCOMPARE(vendor.value("inputReportLength").toInt(), 32);
        QCOMPARE(vendor.value("outputReportLength").toInt(), 32);

        const QJsonObject match = document.value("match").toObject();
        QCOMPARE(match.value("pid").toString(), QString("0001"));
        QCOMPARE(match.value("usagePage").toString(), QString("ff00"));
        QVERIFY(match.value("mouse").toBool());
    }

    void plainListEndsWithTheVerdict()
    {
        const Run found = runCli({"list"}, source("tools/scenes/receiver.json"));
        QCOMPARE(found.exitCode, 0);
        QCOMPARE(found.out.count('\n'), 6);
        QVERIFY(found.out.contains("sim:receiver#col04  1209:0001"));
        QVERIFY(found.out.trimmed().split('\n').last().startsWith("match: 2.4G Receiver"));

        const Run missing = runCli({"list"}, source("tests/scenes/no-receiver.json"));
        QCOMPARE(missing.exitCode, 1);
        QCOMPARE(missing.out.trimmed().split('\n').last(), QByteArray("not found device"));
        const Run json = runCli({"list", "--json"}, source("tests/scenes/no-receiver.json"));
        QCOMPARE(json.exitCode, 1);
        QVERIFY(QJsonDocument::fromJson(json.out).object().value("match").isNull());
    }

    // A product string is whatever the device says: it must not forge a line nor reach the terminal.
    void deviceTextIsListedPlainly()
    {
        QTemporaryDir dir;
        QFile scene(dir.filePath("hostile.json"));
        QVERIFY(scene.open(QIODevice::WriteOnly));
        const QString name = QStringLiteral("Mouse\nmatch: Forged (vid 1209, pid 0001)\x1b[31m\\") + QChar(0x202E)
            + QString::fromUtf8("\xf0\x9f\x96\xb1"); // an emoji (two UTF-16 units) stays as it is

        const QJsonObject device{{"path", "sim:evil\x1b]0;title\x07"}, {"vendorId", "1209"}, {"productId", "0001"},
                                 {"usagePage", "ff00"}, {"usage", "0001"}, {"inputReportLength", 32},
                                 {"outputReportLength", 32}, {"name", name}};
        scene.write(QJsonDocument(QJsonObject{{"interfaces", QJsonArray{device}}}).toJson());
        scene.close();
        const Run run = runCli({"list"}, scene.fileName());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(!run.out.contains('\x1b') && !run.out.contains('\x07'), run.out);
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 2); // the one interface, then the verdict
        QVERIFY2(lines.at(0).startsWith("sim:evil\\x1b]0;title\\x07  1209:0001"), lines.at(0));
        QVERIFY2(lines.at(0).endsWith("\"Mouse\\nmatch: Forged (vid 1209, pid 0001)\\x1b[31m\\\\\\u202e\xf0\x9f\x96\xb1\""),
                 lines.at(0));
        QVERIFY(lines.at(1).startsWith("match: 2.4G Receiver"));

        // JSON has its own escaping and carries the text unchanged.
        const Run json = runCli({"list", "--json"}, scene.fileName());
        const QJsonObject listed =
            QJsonDocument::fromJson(json.out).object().value("interfaces").toArray().at(0).toObject();
        QCOMPARE(listed.value("name").toString(), name);
    }

    void badInputExitsTwoWithOneLineReason_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("scene");
        QTest::addColumn<QString>("reason");
        QTest::newRow("scene not JSON") << QStringList{"list"} << source("tests/scenes/not-json.json")
                                        << "not-json.json: invalid JSON";
        QTest::newRow("scene id not a string") << QStringList{"list"} << source("tests/scenes/bad-id.json")
                                               << "interfaces[0].vendorId";
        QTest::newRow("scene missing") << QStringList{"list"} << source("tests/scenes/absent.json")
                                       << "absent.json";
        QTest::newRow("catalogue missing")
            << QStringList{"list", "--config", source("tests/scenes/absent.json")}
            << source("tools/scenes/receiver.json") << "cannot use the catalogue";
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << QString() << "unknown command";
        QTest::newRow("descriptor unreadable")
            << QStringList{"descriptor", source("tests/descriptors/absent.hex")} << QString() << "absent.hex";
        QTest::newRow("catalogue of the wrong shape")
            << QStringList{"list", "--config", source("tests/scenes/no-receiver.json")}
            << source("tools/scenes/receiver.json") << "no-receiver.json: DeviceList: missing";
        QTest::newRow("watch for nan") << QStringList{"watch", "--for", "nan"} << source("tools/scenes/receiver.json")
                                       << "watch: --for takes 0 to 86400 seconds";
        QTest::newRow("watch for ever") << QStringList{"watch", "--for", "inf"} << source("tools/scenes/receiver.json")
                                        << "watch: --for takes 0 to 86400 seconds";
        QTest::newRow("watch for no value") << QStringList{"watch", "--for"} << source("tools/scenes/receiver.json")
                                            << "watch: --for needs a number of seconds";
        QTest::newRow("descriptor not hex") << QStringList{"descriptor", source("tests/scenes/bad-id.json")}
                                            << QString() << "not a list of hexadecimal bytes";
    }

    void badInputExitsTwoWithOneLineReason()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, scene);
        QFETCH(QString, reason);
        const Run run = runCli(args, scene);
        QCOMPARE(run.exitCode, 2);
        const QString err = QString::fromUtf8(run.err);
        QVERIFY2(err.contains(reason), qPrintable(err));
    }

    // The real binary, in real time, against the simulated receiver.
    void pairRunsTheProtocolInRealTime()
    {
        QTemporaryDir dir;
        const QString trace = dir.filePath("trace.txt");
        QElapsedTimer clock;
        clock.start();
        const Run run = runCli({"pair", "keyboard"}, source("tests/scenes/pair-after-two-polls.json"), trace);
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.trimmed().endsWith("Matched successfully"), run.out);
        // begin 50+50, three polls of 300+50, end 50+50: the pauses are real.
        QVERIFY2(elapsed >= 1250, qPrintable(QString::number(elapsed)));

        QFile file(trace);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
        const QByteArray zeros27 = QByteArray(27, '\0').toHex(' ');
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.at(0), "ba a0 81 02 01 " + zeros27);
        for (int i = 1; i <= 3; ++i)
            QVERIFY(lines.at(i).startsWith("ba a1 01 00"));
        QVERIFY(lines.at(4).startsWith("ba a1 84 00"));
        QCOMPARE(lines.at(4).size(), 32 * 3 - 1);
    }

    void pairFailuresAndRefusals()
    {
        QTemporaryDir dir;
        const QString trace = dir.filePath("trace.txt");
        const Run unplugged = runCli({"pair", "mouse"}, source("tests/scenes/unplugged-receiver.json"), trace);
        QCOMPARE(unplugged.exitCode, 1);
        QVERIFY2(unplugged.out.trimmed().endsWith("Matched failed"), unplugged.out);
        QFile written(trace);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.size(), 0); // nothing went out

        // Found but closed to us: the machine's fault, in the system's words, not a failed pairing.
        const QString lockedTrace = dir.filePath("locked-trace.txt");
        const Run locked = runCli({"pair", "mouse"}, source("tests/scenes/locked-receiver.json"), lockedTrace);
        QCOMPARE(locked.exitCode, 2);
        QVERIFY2(locked.err.contains("cannot open the receiver 2.4G Receiver: Permission denied"), locked.err);
        QVERIFY(!locked.out.contains("Matched failed"));
        QCOMPARE(QFileInfo(lockedTrace).size(), 0); // nothing went out

        const Run noReceiver = runCli({"pair", "mouse"}, source("tests/scenes/no-receiver.json"));
        QCOMPARE(noReceiver.exitCode, 2);
        QVERIFY(noReceiver.err.contains("no supported receiver"));

        const Run wrongKind = runCli({"pair", "mouse"}, source("tests/scenes/keyboard-only-receiver.json"));
        QCOMPARE(wrongKind.exitCode, 2);
        QVERIFY(wrongKind.err.contains("does not pair a mouse"));

        QCOMPARE(runCli({"pair"}, source("tests/scenes/pair-after-two-polls.json")).exitCode, 2);
        QCOMPARE(runCli({"pair", "trackball"}, source("tests/scenes/pair-after-two-polls.json")).exitCode, 2);
    }

    void watchReportsChangesWithAFreshVerdict()
    {
        const Run run = runCli({"watch", "--for", "0.6"}, source("tests/scenes/timed-events.json"));
        QCOMPARE(run.exitCode, 0);
        QStringList lines = QString::fromUtf8(run.out).trimmed().split('\n');
        QCOMPARE(lines.size(), 5);
        lines.removeFirst(); // the banner
        QVERIFY(lines.at(0).endsWith(" arrival sim:rx#col01"));
        QCOMPARE(lines.at(1), QString("  receiver: 2.4G Receiver (vid 1209, pid 0001)"));
        QVERIFY(lines.at(2).endsWith(" removal sim:mouse"));
        QCOMPARE(lines.at(3), QString("  receiver: 2.4G Receiver (vid 1209, pid 0001)"));

        QCOMPARE(runCli({"watch", "--for", "soon"}, source("tests/scenes/timed-events.json")).exitCode, 2);
    }

    void descriptorListsEveryTopLevelCollection()
    {
        const Run run = runCli({"descriptor", source("tests/descriptors/receiver.hex"), "--json"});
        QCOMPARE(run.exitCode, 0);
        const QJsonObject document = QJsonDocument::fromJson(run.out).object();
        QVERIFY(document.value("usesReportIds").toBool());
        const QJsonArray collections = document.value("collections").toArray();
        QCOMPARE(collections.size(), 4);
        QCOMPARE(collections.at(3).toObject().value("usagePage").toString(), QString("ff00"));
        QCOMPARE(collections.at(3).toObject().value("outputReportLength").toInt(), 32);
    }

    void descriptorReadsRawBytesToo()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        // Boot mouse, as a device sends it.
        file.write(QByteArray::fromHex("05010902a1010901a10005091901290315002501950375018102950175058103"
                                       "0501093009311581257f750895028106c0c0"));
        file.close();
        const Run run = runCli({"descriptor", file.fileName()});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith("collection 1: usage 0001:0002  input 4  output 0  feature 0"), run.out);

        QVERIFY(file.open());
        file.write(QByteArray::fromHex("05010902a101")); // cut short inside the collection
        file.resize(6);
        file.close();
        QCOMPARE(runCli({"descriptor", file.fileName()}).exitCode, 2);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
