// SPDX-License-Identifier: MIT
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

// Checks every line against the events schema with Debian's validator; the reasons, or empty.
QString schemaErrors(const QByteArray &lines, const QString &schema = QStringLiteral("tools/cli/events.schema.json"))
{
    QTemporaryDir dir;
    QFile file(dir.filePath("events.jsonl"));
    if (!file.open(QIODevice::WriteOnly) || file.write(lines) != lines.size())
        return QStringLiteral("cannot write the events");
    file.close();
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {source("tools/cli/validate-jsonl.py"), source(schema), file.fileName()});
    if (!python.waitForFinished(30000) || python.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("the validator did not run: ") + python.errorString();
    if (python.exitCode() != 0)
        return QString::fromUtf8(python.readAllStandardError());
    return QString();
}

QList<QJsonObject> events(const QByteArray &out)
{
    QList<QJsonObject> list;
    for (const QByteArray &line : out.trimmed().split('\n'))
        list << QJsonDocument::fromJson(line).object();
    return list;
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
        // U+009B is the one-character CSI of terminals that take C1 controls.
        const QString name = QStringLiteral("Mouse\nmatch: Forged (vid 1209, pid 0001)\x1b[31m\\") + QChar(0x9B)
            + QStringLiteral("2J") + QChar(0x202E)
            + QString::fromUtf8("\xf0\x9f\x96\xb1"); // an emoji (two UTF-16 units) stays as it is

        const QJsonObject device{{"path", "sim:evil\x1b]0;title\x07"}, {"vendorId", "1209"}, {"productId", "0001"},
                                 {"usagePage", "ff00"}, {"usage", "0001"}, {"inputReportLength", 32},
                                 {"outputReportLength", 32}, {"name", name}};
        scene.write(QJsonDocument(QJsonObject{{"interfaces", QJsonArray{device}}}).toJson());
        scene.close();
        const Run run = runCli({"list"}, scene.fileName());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(!run.out.contains('\x1b') && !run.out.contains('\x07') && !run.out.contains("\xc2\x9b"), run.out);
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 2); // the one interface, then the verdict
        QVERIFY2(lines.at(0).startsWith("sim:evil\\x1b]0;title\\x07  1209:0001"), lines.at(0));
        QVERIFY2(lines.at(0).endsWith("\"Mouse\\nmatch: Forged (vid 1209, pid 0001)\\x1b[31m\\\\\\x9b2J\\u202e\xf0\x9f\x96\xb1\""),
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
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << QString() << "unknown command";
        QTest::newRow("watch for nan") << QStringList{"watch", "--for", "nan"} << source("tools/scenes/receiver.json")
                                       << "watch: --for takes 0 to 86400 seconds";
        QTest::newRow("watch for no value") << QStringList{"watch", "--for"} << source("tools/scenes/receiver.json")
                                            << "watch: --for needs a number of seconds";
        QTest::newRow("doctor with an unknown option") << QStringList{"doctor", "--bogus"}
                                                       << source("tools/scenes/receiver.json") << "\"--bogus\"";
        QTest::newRow("watch for soon") << QStringList{"watch", "--for", "soon"}
                                        << source("tests/scenes/timed-events.json") << "watch: --for";
        QTest::newRow("pair without a kind") << QStringList{"pair"} << source("tests/scenes/pair-after-two-polls.json")
                                             << "pair: say what to pair";
        QTest::newRow("pair a trackball") << QStringList{"pair", "trackball"}
                                          << source("tests/scenes/pair-after-two-polls.json") << "trackball";
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
        QCOMPARE(unplugged.exitCode, 3); // the receiver failed, unlike "no device answered"
        QVERIFY2(unplugged.out.trimmed().endsWith(
                     "Matched failed: a report could not be written to the receiver: Input/output error (simulated)"),
                 unplugged.out);
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
    }

    void pairJsonEventsFollowTheSchema_data()
    {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("polls");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("detail");
        QTest::newRow("paired on the third poll")
            << "tests/scenes/pair-after-two-polls.json" << 0 << QStringList{"waiting", "waiting", "paired"}
            << "paired" << QString();
        QTest::newRow("no report can be written")
            << "tests/scenes/unplugged-receiver.json" << 3 << QStringList() << "write-failed"
            << "Input/output error (simulated)";
        QTest::newRow("no reply can be read")
            << "tests/scenes/unreadable-receiver.json" << 3 << QStringList() << "read-failed"
            << "Input/output error (simulated)";
    }

    void pairJsonEventsFollowTheSchema()
    {
        QFETCH(QString, scene);
        QFETCH(int, exitCode);
        QFETCH(QStringList, polls);
        QFETCH(QString, reason);
        QFETCH(QString, detail);
        const Run run = runCli({"pair", "keyboard", "--json"}, source(scene));
        QCOMPARE(run.exitCode, exitCode);
        const QString errors = schemaErrors(run.out);
        QVERIFY2(errors.isEmpty(), qPrintable(errors + QString::fromUtf8(run.out)));

        const QList<QJsonObject> lines = events(run.out);
        QCOMPARE(lines.size(), 1 + polls.size() + 1);
        QCOMPARE(lines.first().value("event").toString(), QString("begin"));
        QCOMPARE(lines.first().value("kind").toString(), QString("keyboard"));
        QCOMPARE(lines.first().value("receiver").toObject().value("pid").toString(), QString("0001"));
        for (int i = 0; i < polls.size(); ++i) {
            QCOMPARE(lines.at(1 + i).value("attempt").toInt(), i + 1);
            QCOMPARE(lines.at(1 + i).value("status").toString(), polls.at(i));
        }
        const QJsonObject result = lines.last();
        QCOMPARE(result.value("event").toString(), QString("result"));
        QCOMPARE(result.value("ok").toBool(), exitCode == 0);
        QCOMPARE(result.value("reason").toString(), reason);
        QCOMPARE(result.value("detail").toString(), detail);
    }

    void watchJsonEventsFollowTheSchema()
    {
        const Run run = runCli({"watch", "--for", "0.6", "--json"}, source("tests/scenes/timed-events.json"));
        QCOMPARE(run.exitCode, 0);
        const QString errors = schemaErrors(run.out);
        QVERIFY2(errors.isEmpty(), qPrintable(errors + QString::fromUtf8(run.out)));
        // The events themselves are checked in their plain form below.
        const QList<QJsonObject> lines = events(run.out);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(1).value("receiver").toObject().value("name").toString(), QString("2.4G Receiver"));
        QCOMPARE(lines.at(3).value("found").toBool(), true);

        const Run none = runCli({"watch", "--for", "0.6", "--json", "--config", source("tests/scenes/no-match-catalogue.json")},
                                source("tests/scenes/timed-events.json"));
        QCOMPARE(none.exitCode, 0);
        const QString noneErrors = schemaErrors(none.out);
        QVERIFY2(noneErrors.isEmpty(), qPrintable(noneErrors + QString::fromUtf8(none.out)));
        QCOMPARE(events(none.out).at(1).value("found").toBool(), false);
        QVERIFY(events(none.out).at(1).value("receiver").isNull());
    }

    // Each row: the situation, and the findings expected as "level check: words" (in order, others between).
    void doctorOnSimulatedSituations_data()
    {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<QString>("config");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("receiver with access")
            << "tools/scenes/receiver.json" << QString() << 0
            << QStringList{"ok catalogue: lists 2 receivers", "ok interfaces: 5 HID interfaces",
                           "ok receiver: 2.4G Receiver at sim:receiver#col04",
                           "ok access: this user can open sim:receiver#col04 for reading and writing"};
        QTest::newRow("receiver without access")
            << "tests/scenes/locked-receiver.json" << QString() << 1
            << QStringList{"ok receiver: 2.4G Receiver at sim:rx#col02",
                           "problem access: this user cannot open sim:rx#col02: Permission denied"};
        QTest::newRow("no catalogue")
            << "tools/scenes/receiver.json" << "tests/scenes/absent.json" << 1
            << QStringList{"problem catalogue: no catalogue at", "ok interfaces: 5 HID interfaces"};
        QTest::newRow("an invalid catalogue")
            << "tools/scenes/receiver.json" << "tests/scenes/no-receiver.json" << 1
            << QStringList{"problem catalogue: cannot be used: DeviceList: missing"};
        QTest::newRow("near miss: another product id")
            << "tests/scenes/near-miss-product.json" << QString() << 1
            << QStringList{"warning near-miss: sim:rx#col02 (1209:0005, usage ff00:0001) has the vendor id of",
                           "problem receiver: no supported receiver is plugged in"};
        QTest::newRow("near miss: another usage")
            << "tests/scenes/near-miss-usage.json" << QString() << 1
            << QStringList{"warning near-miss: sim:rx#col02 (1209:0001, usage ff00:0002) has the vendor id of "
                           "2.4G Receiver but not its usage",
                           "problem receiver: no supported receiver is plugged in"};
    }

    void doctorOnSimulatedSituations()
    {
        QFETCH(QString, scene);
        QFETCH(QString, config);
        QFETCH(int, exitCode);
        QFETCH(QStringList, expected);
        QStringList args{"doctor", "--json"};
        if (!config.isEmpty())
            args << "--config" << source(config);
        const Run run = runCli(args, source(scene));
        QCOMPARE(run.exitCode, exitCode);
        const QJsonObject document = QJsonDocument::fromJson(run.out).object();
        const QString errors = schemaErrors(QJsonDocument(document).toJson(QJsonDocument::Compact) + '\n',
                                            QStringLiteral("tools/cli/doctor.schema.json"));
        QVERIFY2(errors.isEmpty(), qPrintable(errors + QString::fromUtf8(run.out)));
        QCOMPARE(document.value("result").toString(), QString(exitCode == 0 ? "ok" : "problem"));

        QStringList found;
        for (const QJsonValue &value : document.value("checks").toArray()) {
            const QJsonObject check = value.toObject();
            found << check.value("level").toString() + ' ' + check.value("check").toString() + ": "
                    + check.value("text").toString();
            // Every finding short of ok says what to do.
            QCOMPARE(check.contains("fix"), check.value("level").toString() != "ok");
        }
        int at = 0;
        for (const QString &want : expected) {
            const QString level = want.section(' ', 0, 0), rest = want.section(' ', 1);
            const QString head = level + ' ' + rest.section(": ", 0, 0) + ": ";
            const QString words = rest.section(": ", 1, -1);
            while (at < found.size() && !(found.at(at).startsWith(head) && found.at(at).contains(words)))
                ++at;
            QVERIFY2(at < found.size(), qPrintable(want + "\nin\n" + found.join('\n')));
        }

        // The plain form: one line per finding, the fix on the line of every non-ok one.
        const Run plainRun = runCli(args.mid(0, 1) + args.mid(2), source(scene));
        QCOMPARE(plainRun.exitCode, exitCode);
        const QList<QByteArray> lines = plainRun.out.trimmed().split('\n');
        QCOMPARE(lines.size(), found.size());
        for (const QByteArray &line : lines)
            QCOMPARE(line.contains(" -- fix: "), !line.startsWith("ok "));
    }

    // A session recorded against one receiver replays to the same end with the same frames.
    void recordedSessionReplays_data()
    {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("paired") << "tests/scenes/pair-after-two-polls.json" << 0;
        QTest::newRow("no report can be written") << "tests/scenes/unplugged-receiver.json" << 3;
        QTest::newRow("no reply can be read") << "tests/scenes/unreadable-receiver.json" << 3;
        QTest::newRow("no access") << "tests/scenes/locked-receiver.json" << 2;
    }

    void recordedSessionReplays()
    {
        QFETCH(QString, scene);
        QFETCH(int, exitCode);
        QTemporaryDir dir;
        const QString recording = dir.filePath("session.json");
        const QString liveTrace = dir.filePath("live.txt"), replayTrace = dir.filePath("replay.txt");
        const Run live = runCli({"record", recording, "pair", "keyboard"}, source(scene), liveTrace);
        QCOMPARE(live.exitCode, exitCode);
        QVERIFY2(live.err.contains("recorded"), live.err);

        QFile file(recording);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QVERIFY2(!content.contains("2.4G Receiver"), content); // no product strings

        const Run replay = runCli({"pair", "keyboard"}, recording, replayTrace);
        QCOMPARE(replay.exitCode, exitCode);
        QVERIFY2(!replay.err.contains("replay:"), replay.err);
        QCOMPARE(replay.out.trimmed().split('\n').last(), live.out.trimmed().split('\n').last());
        QCOMPARE(replay.err.contains("cannot open the receiver"), live.err.contains("cannot open the receiver"));
        QFile liveFrames(liveTrace), replayFrames(replayTrace);
        QVERIFY(liveFrames.open(QIODevice::ReadOnly) && replayFrames.open(QIODevice::ReadOnly));
        QCOMPARE(replayFrames.readAll(), liveFrames.readAll());
    }

    void replayReportsARequestThatDeparts()
    {
        QTemporaryDir dir;
        const QString recording = dir.filePath("session.json");
        QCOMPARE(runCli({"record", recording, "pair", "keyboard"}, source("tests/scenes/pair-after-two-polls.json"))
                     .exitCode,
                 0);
        // A mouse asks for another kind in the first request than the keyboard recorded.
        const Run replay = runCli({"pair", "mouse"}, recording);
        QVERIFY2(replay.err.contains("replay: request 1 departs from the recording: sent ba a0 81 01 01"), replay.err);
        QVERIFY2(replay.err.contains("recorded ba a0 81 02 01"), replay.err);
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
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
