// SPDX-License-Identifier: MIT
// bondara-cli as a user runs it: exit codes, listings and their JSON.

#include <QtTest>

#include <csignal>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QList<QByteArray> lines() const { return out.trimmed().split('\n'); }
};

QString source(const QString &relative)
{
    return QStringLiteral(BONDARA_SOURCE_DIR "/") + relative;
}

// A scene relative to the source tree, or an absolute path. No system bus, whatever the
// machine has: the pairing service is out of reach.
Run runCli(const QStringList &args, const QString &scene = QString(), const QString &trace = QString())
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("BONDARA_SIMULATE_TRACE");
    env.remove("BONDARA_SIMULATE");
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bondara-test-bus");
    env.remove("BONDARA_UDEV_RULES_DIRS");
    if (!scene.isEmpty())
        env.insert("BONDARA_SIMULATE", QDir::isAbsolutePath(scene) ? scene : source(scene));
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

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// The reports of a simulated trace, a line each: the interface, a tab, the bytes.
QList<QByteArray> traceFrames(const QString &path)
{
    QList<QByteArray> frames;
    for (const QByteArray &line : readAll(path).trimmed().split('\n')) {
        if (!line.isEmpty())
            frames << line.mid(line.indexOf('\t') + 1);
    }
    return frames;
}

// Checks every line against a schema with Debian's validator; the reasons and the lines, or empty.
QByteArray schemaErrors(const QByteArray &lines, const QString &schema = QStringLiteral("cli/events.schema.json"))
{
    QTemporaryDir dir;
    QFile file(dir.filePath("events.jsonl"));
    if (!file.open(QIODevice::WriteOnly) || file.write(lines) != lines.size())
        return "cannot write the events";
    file.close();
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {source("cli/validate-jsonl.py"), source(schema), file.fileName()});
    if (!python.waitForFinished(30000) || python.exitStatus() != QProcess::NormalExit)
        return "the validator did not run: " + python.errorString().toUtf8();
    return python.exitCode() == 0 ? QByteArray() : python.readAllStandardError() + '\n' + lines;
}

// Every field of want is in object, with its value.
bool hasFields(const QJsonObject &object, const QJsonObject &want)
{
    for (auto it = want.begin(); it != want.end(); ++it)
        if (object.value(it.key()) != it.value())
            return false;
    return true;
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
    void listShowsEveryInterfaceThenTheVerdict()
    {
        const Run plain = runCli({"list"}, "tools/scenes/receiver.json");
        QCOMPARE(plain.exitCode, 0);
        QCOMPARE(plain.lines().size(), 5 + 1);
        QVERIFY(plain.out.contains("sim:receiver#col04  1209:0001"));
        QVERIFY(plain.lines().last().startsWith("match: 2.4G Receiver"));
        const Run json = runCli({"list", "--json"}, "tools/scenes/receiver.json");
        QCOMPARE(json.exitCode, 0);
        const QJsonObject document = QJsonDocument::fromJson(json.out).object();
        const QJsonArray interfaces = document.value("interfaces").toArray();
        QCOMPARE(interfaces.size(), 5);
        QVERIFY2(hasFields(interfaces.at(4).toObject(), {{"path", "sim:receiver#col04"}, {"vendorId", "1209"},
                                                         {"usagePage", "ff00"}, {"inputReportLength", 32},
                                                         {"outputReportLength", 32}}), json.out);
        QVERIFY2(hasFields(document.value("match").toObject(), {{"pid", "0001"}, {"usagePage", "ff00"}, {"mouse", true}}),
                 json.out);

        // Not found: exit 1 in either form.
        const Run missing = runCli({"list"}, "tests/scenes/no-receiver.json");
        QCOMPARE(missing.exitCode, 1);
        QCOMPARE(missing.lines().last(), QByteArray("not found device"));
        const Run missingJson = runCli({"list", "--json"}, "tests/scenes/no-receiver.json");
        QCOMPARE(missingJson.exitCode, 1);
        QVERIFY(QJsonDocument::fromJson(missingJson.out).object().value("match").isNull());
    }

    // Every receiver listed; a pairing goes to the one asked for, or to the only one that can.
    // The set receiver cannot be written to, the keyboard receiver pairs: the exit tells which got the run.
    void severalReceivers_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("said"); // on standard output, or for exit 2 on standard error
        QTest::newRow("list") << QStringList{"list"} << 0
                              << QStringList{"match: 2.4G Receiver (vid 1209, pid 0001, usage ff00:0001) at sim:set#col02",
                                             "match: 2.4G Receiver Tovrik (vid 1209, pid 0002, usage ff00:0001) at sim:keyboard#col02"};
        QTest::newRow("only one pairs a mouse") << QStringList{"pair", "mouse"} << 3 << QStringList{"at sim:set#col02"};
        QTest::newRow("two pair a keyboard") << QStringList{"pair", "keyboard"} << 2
                                             << QStringList{"2 receivers can pair a keyboard", "sim:set#col02",
                                                            "sim:keyboard#col02"};
        QTest::newRow("the one named") << QStringList{"pair", "keyboard", "--receiver", "sim:keyboard#col02"} << 0
                                       << QStringList{"at sim:keyboard#col02", "Matched successfully"};
        QTest::newRow("named, and cannot pair it")
            << QStringList{"pair", "mouse", "--receiver", "sim:keyboard#col02"} << 2
            << QStringList{"does not pair a mouse"};
        QTest::newRow("named, and not there") << QStringList{"pair", "mouse", "--receiver", "sim:gone"} << 2
                                              << QStringList{"no supported receiver is plugged in at sim:gone"};
    }

    void severalReceivers()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QStringList, said);
        const Run run = runCli(args, "tests/scenes/set-and-keyboard.json");
        QCOMPARE(run.exitCode, exitCode);
        for (const QString &words : said)
            QVERIFY2((exitCode == 2 ? run.err : run.out).contains(words.toUtf8()), run.out + run.err);
        if (args.first() == "list") {
            const QJsonArray all = QJsonDocument::fromJson(runCli({"list", "--json"}, "tests/scenes/set-and-keyboard.json").out)
                                       .object().value("receivers").toArray();
            QCOMPARE(all.size(), 2);
            QVERIFY(hasFields(all.at(0).toObject(), {{"path", "sim:set#col02"}, {"port", "1-1"}, {"pid", "0001"}}));
        }
    }

    // Stopped from outside, or its receiver gone, a run ends at once; the receiver gets the end command if it is there.
    void aRunStoppedEarly_data()
    {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("lastFrame");
        QTest::newRow("Ctrl+C") << "tests/e2e/never-pairs.json" << SIGINT << 130 << "ba a1 84";
        QTest::newRow("asked to stop") << "tests/e2e/never-pairs.json" << SIGTERM << 143 << "ba a1 84";
        QTest::newRow("unplugged, nothing watching") << "tests/scenes/unplugged-mid-run.json" << 0 << 3 << "ba a1 01";
    }

    void aRunStoppedEarly()
    {
        QFETCH(QString, scene);
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        QFETCH(QString, lastFrame);
        QTemporaryDir dir;
        const QString trace = dir.filePath("trace.txt");
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("BONDARA_SIMULATE", source(scene));
        env.insert("BONDARA_SIMULATE_TRACE", trace);
        process.setProcessEnvironment(env);
        process.start(BONDARA_CLI, {"pair", "mouse"});
        QVERIFY(process.waitForStarted());
        // Two polls out: the receiver is open for pairing.
        QTRY_VERIFY_WITH_TIMEOUT(readAll(trace).count('\n') >= 3, 10000);
        if (signal)
            ::kill(process.processId(), signal);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        const QList<QByteArray> frames = traceFrames(trace);
        QVERIFY2(frames.last().startsWith(lastFrame.toUtf8()), frames.last());
        QCOMPARE(frames.count(frames.last()), lastFrame == "ba a1 84" ? 1 : frames.size() - 1);
        if (!signal)
            QVERIFY2(process.readAllStandardOutput().contains("the receiver was unplugged"), "");
    }

    // A bad entry costs that entry alone; each command that loads the catalogue says so on standard error.
    void catalogueWarningsGoToStandardError_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("lastLine");
        QTest::newRow("list") << QStringList{"list"} << "match: 2.4G Receiver (vid 1209, pid 0001, usage ff00:0001) at sim:receiver#col04";
        QTest::newRow("watch") << QStringList{"watch", "--for", "0"} << "watching for HID changes for 0 s";
    }

    void catalogueWarningsGoToStandardError()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, lastLine);
        const QString config = source("tests/scenes/one-bad-entry-catalogue.json");
        const Run run = runCli(args << "--config" << config, "tools/scenes/receiver.json");
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.lines().last(), lastLine.toUtf8());
        const QString prefix = "bondara-cli: catalogue " + config + ": ";
        QCOMPARE(QString::fromUtf8(run.err).split('\n', Qt::SkipEmptyParts),
                 QStringList({prefix + "DeviceList[0].vid: expected a hexadecimal string, the entry is left out",
                              prefix + "DeviceList[1].mouse: expected true or false, the default is used"}));
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
        const QList<QByteArray> lines = run.lines();
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
        const QString receiver = "tools/scenes/receiver.json", pairing = "tests/scenes/pair-after-two-polls.json";
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("scene");
        QTest::addColumn<QString>("reason");
        QTest::newRow("scene not JSON") << QStringList{"list"} << "tests/scenes/not-json.json"
                                        << "not-json.json: invalid JSON";
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << QString() << "unknown command";
        QTest::newRow("watch for nan") << QStringList{"watch", "--for", "nan"} << receiver
                                       << "watch: --for takes 0 to 86400 seconds";
        QTest::newRow("watch for no value") << QStringList{"watch", "--for"} << receiver
                                            << "watch: --for needs a number of seconds";
        QTest::newRow("watch for soon") << QStringList{"watch", "--for", "soon"} << receiver << "watch: --for";
        QTest::newRow("doctor with an unknown option") << QStringList{"doctor", "--bogus"} << receiver << "\"--bogus\"";
        QTest::newRow("pair without a kind") << QStringList{"pair"} << pairing << "pair: say what to pair";
        QTest::newRow("pair a trackball") << QStringList{"pair", "trackball"} << pairing << "trackball";
        QTest::newRow("pair without a receiver") << QStringList{"pair", "mouse"} << "tests/scenes/no-receiver.json"
                                                 << "no supported receiver";
        QTest::newRow("pair what the receiver does not") << QStringList{"pair", "mouse"}
                                                         << "tests/scenes/keyboard-only-receiver.json"
                                                         << "does not pair a mouse";
    }

    void badInputExitsTwoWithOneLineReason()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, scene);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const Run run = runCli(args, scene, dir.filePath("trace.txt"));
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(reason.toUtf8()), run.err);
        QCOMPARE(QFileInfo(dir.filePath("trace.txt")).size(), 0); // nothing went out
    }

    // The real binary, in real time, against the simulated receiver; live, as JSON events, and
    // recorded then replayed to the same end with the same frames.
    void pair_data()
    {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("words"); // the end of the last line out, or for exit 2 the reason
        QTest::addColumn<QByteArrayList>("frames"); // the start of every frame written
        QTest::addColumn<QStringList>("polls");
        QTest::addColumn<QString>("reason");
        const QByteArray poll = "ba a1 01 00", begin = "ba a0 81 02 01 00";
        QTest::newRow("paired on the third poll")
            << "tests/scenes/pair-after-two-polls.json" << "keyboard" << 0 << "Matched successfully"
            << QByteArrayList{begin, poll, poll, poll, "ba a1 84 00"} << QStringList{"waiting", "waiting", "paired"}
            << "paired";
        QTest::newRow("no report can be written")
            << "tests/scenes/unplugged-receiver.json" << "keyboard" << 3
            << "Matched failed: a report could not be sent to the receiver (Input/output error (simulated))"
            << QByteArrayList() << QStringList() << "write-failed";
        QTest::newRow("no reply can be read")
            << "tests/scenes/unreadable-receiver.json" << "keyboard" << 3 << "(Input/output error (simulated))"
            << QByteArrayList{begin, begin, begin, "ba a1 84 00", "ba a1 84 00", "ba a1 84 00"} << QStringList()
            << "read-failed";
        // Found but closed to us: the machine's fault, in the system's words, not a failed pairing.
        QTest::newRow("no access") << "tests/scenes/locked-receiver.json" << "mouse" << 2
                                   << "cannot open the receiver 2.4G Receiver: Permission denied" << QByteArrayList()
                                   << QStringList() << QString();
    }

    void pair()
    {
        QFETCH(QString, scene);
        QFETCH(QString, kind);
        QFETCH(int, exitCode);
        QFETCH(QString, words);
        QFETCH(QByteArrayList, frames);
        QFETCH(QStringList, polls);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString trace = dir.filePath("trace.txt");
        QElapsedTimer clock;
        clock.start();
        const Run run = runCli({"pair", kind}, scene, trace);
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 2) {
            QVERIFY2(run.err.contains(words.toUtf8()), run.err);
            QVERIFY(!run.out.contains("Matched"));
        } else {
            QVERIFY2(run.lines().last().endsWith(words.toUtf8()), run.out);
        }
        const QList<QByteArray> sent = traceFrames(trace);
        QCOMPARE(sent.size(), frames.size());
        for (int i = 0; i < sent.size(); ++i) {
            QVERIFY2(sent.at(i).startsWith(frames.at(i)), sent.at(i));
            QCOMPARE(sent.at(i).size(), 32 * 3 - 1); // 32 bytes, zero-padded
        }
        // begin 50+50, three polls of 300+50, end 50+50: the pauses are real.
        if (exitCode == 0)
            QVERIFY2(elapsed >= 1250, qPrintable(QString::number(elapsed)));

        if (exitCode != 2) {
            const Run json = runCli({"pair", kind, "--json"}, scene);
            QCOMPARE(json.exitCode, exitCode);
            const QByteArray errors = schemaErrors(json.out);
            QVERIFY2(errors.isEmpty(), errors);
            QList<QJsonObject> expected{{{"event", "begin"}, {"kind", kind}}};
            for (int i = 0; i < polls.size(); ++i)
                expected << QJsonObject{{"event", "poll"}, {"attempt", i + 1}, {"status", polls.at(i)}};
            expected << QJsonObject{{"event", "result"}, {"ok", exitCode == 0}, {"reason", reason}};
            if (exitCode != 0)
                expected.last().insert("detail", "Input/output error (simulated)");
            const QList<QJsonObject> lines = events(json.out);
            QCOMPARE(lines.size(), expected.size());
            for (int i = 0; i < lines.size(); ++i)
                QVERIFY2(hasFields(lines.at(i), expected.at(i)), json.out);
        }

        const QString recording = dir.filePath("session.json"), replayTrace = dir.filePath("replay.txt");
        const Run live = runCli({"record", recording, "pair", kind}, scene);
        QCOMPARE(live.exitCode, exitCode);
        QVERIFY2(live.err.contains("recorded"), live.err);
        QVERIFY2(!readAll(recording).contains("2.4G Receiver"), readAll(recording)); // no product strings
        const Run replay = runCli({"pair", kind}, recording, replayTrace);
        QCOMPARE(replay.exitCode, exitCode);
        QVERIFY2(!replay.err.contains("replay:"), replay.err);
        QCOMPARE(replay.lines().last(), run.lines().last());
        QCOMPARE(replay.err.contains(words.toUtf8()), run.err.contains(words.toUtf8()));
        QCOMPARE(readAll(replayTrace), readAll(trace));
        if (exitCode != 0)
            return;
        // A mouse asks for another kind in the first request than the keyboard recorded.
        const Run departs = runCli({"pair", "mouse"}, recording);
        QVERIFY2(departs.err.contains("replay: request 1 departs from the recording: sent ba a0 81 01 01"), departs.err);
        QVERIFY2(departs.err.contains("recorded ba a0 81 02 01"), departs.err);
    }

    // A change, then a fresh verdict: plain lines and JSON events of one run each.
    void watch_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("verdict");
        QTest::newRow("the receiver stays") << QString() << "  receiver: 2.4G Receiver (vid 1209, pid 0001) at sim:rx#col01";
        QTest::newRow("no catalogued receiver") << "tests/scenes/no-match-catalogue.json" << "  not found device";
    }

    void watch()
    {
        QFETCH(QString, config);
        QFETCH(QString, verdict);
        QStringList args{"watch", "--for", "0.6"};
        if (!config.isEmpty())
            args << "--config" << source(config);
        const Run run = runCli(args, "tests/scenes/timed-events.json");
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = QString::fromUtf8(run.out).trimmed().split('\n');
        QCOMPARE(lines.size(), 5); // the banner first
        QVERIFY(lines.at(1).endsWith(" arrival sim:rx#col01"));
        QCOMPARE(lines.at(2), verdict);
        QVERIFY(lines.at(3).endsWith(" removal sim:mouse"));
        QCOMPARE(lines.at(4), verdict);

        const Run json = runCli(args << "--json", "tests/scenes/timed-events.json");
        QCOMPARE(json.exitCode, 0);
        const QByteArray errors = schemaErrors(json.out);
        QVERIFY2(errors.isEmpty(), errors);
        const QList<QJsonObject> found = events(json.out);
        QCOMPARE(found.size(), 4);
        for (const int at : {1, 3}) {
            QCOMPARE(found.at(at).value("found").toBool(), config.isEmpty());
            QCOMPARE(found.at(at).value("receiver").toObject().value("name").toString(),
                     QString(config.isEmpty() ? "2.4G Receiver" : ""));
        }
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
                           "ok access: this user can open sim:receiver#col04 for reading and writing",
                           "warning service: the pairing service cannot be asked: the system bus is not running"};
        QTest::newRow("receiver without access")
            << "tests/scenes/locked-receiver.json" << QString() << 1
            << QStringList{"ok receiver: 2.4G Receiver at sim:rx#col02",
                           "problem access: this user cannot open sim:rx#col02: Permission denied",
                           "warning service: the pairing service cannot be asked"};
        QTest::newRow("no catalogue")
            << "tools/scenes/receiver.json" << "tests/scenes/absent.json" << 1
            << QStringList{"problem catalogue: no catalogue at", "ok interfaces: 5 HID interfaces"};
        QTest::newRow("a catalogue with a bad entry")
            << "tools/scenes/receiver.json" << "tests/scenes/one-bad-entry-catalogue.json" << 0
            << QStringList{"ok catalogue: lists 1 receivers",
                           "warning catalogue: DeviceList[0].vid: expected a hexadecimal string, the entry is left "
                           "out; DeviceList[1].mouse",
                           "ok receiver: 2.4G Receiver at sim:receiver#col04"};
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
        QStringList args{"doctor"};
        if (!config.isEmpty())
            args << "--config" << source(config);
        const Run run = runCli(QStringList(args) << "--json", scene);
        QCOMPARE(run.exitCode, exitCode);
        const QJsonObject document = QJsonDocument::fromJson(run.out).object();
        const QByteArray errors = schemaErrors(QJsonDocument(document).toJson(QJsonDocument::Compact) + '\n',
                                               QStringLiteral("cli/doctor.schema.json"));
        QVERIFY2(errors.isEmpty(), errors);
        // The worst finding; a warning alone still exits 0.
        const bool warned = !expected.filter(QRegularExpression("^warning ")).isEmpty();
        QCOMPARE(document.value("result").toString(), QString(exitCode != 0 ? "problem" : warned ? "warning" : "ok"));

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
            const QString head = want.section(": ", 0, 0) + ": ", words = want.section(": ", 1, -1);
            while (at < found.size() && !(found.at(at).startsWith(head) && found.at(at).contains(words)))
                ++at;
            QVERIFY2(at < found.size(), qPrintable(want + "\nin\n" + found.join('\n')));
        }

        // The plain form: one line per finding, the fix on the line of every non-ok one.
        const Run plainRun = runCli(args, scene);
        QCOMPARE(plainRun.exitCode, exitCode);
        QCOMPARE(plainRun.lines().size(), found.size());
        for (const QByteArray &line : plainRun.lines())
            QCOMPARE(line.contains(" -- fix: "), !line.startsWith("ok "));
    }

    // Without a system bus: the service's finding, and the access problem's fix says what is missing.
    void doctorWithoutASystemBus()
    {
        const QString startBus = "start the system bus (dbus), which starts the pairing service when asked";
        const Run json = runCli({"doctor", "--json"}, "tests/scenes/locked-receiver.json");
        QCOMPARE(json.exitCode, 1);
        QMap<QString, QJsonObject> checks;
        for (const QJsonValue &value : QJsonDocument::fromJson(json.out).object().value("checks").toArray())
            checks.insert(value.toObject().value("check").toString(), value.toObject());
        QVERIFY2(hasFields(checks.value("access"), {{"level", "problem"}}), json.out);
        QVERIFY2(checks.value("access").value("fix").toString().startsWith(startBus + "; or, "), json.out);
        QVERIFY2(hasFields(checks.value("service"), {{"level", "warning"}, {"fix", startBus}}), json.out);
        QVERIFY2(checks.value("service").value("text").toString().startsWith(
                     "the pairing service cannot be asked: the system bus is not running ("),
                 json.out);
        // polkit is not asked without a bus.
        QVERIFY2(!checks.contains("polkit"), json.out);

        const Run plain = runCli({"doctor"}, "tests/scenes/locked-receiver.json");
        QCOMPARE(plain.exitCode, 1);
        const QList<QByteArray> lines = plain.lines();
        QVERIFY2(lines.contains("problem access     this user cannot open sim:rx#col02: Permission denied -- fix: "
                                + startBus.toUtf8() + "; or, close any other program that uses the receiver, then "
                                                      "unplug it and plug it in again"),
                 plain.out);
        QVERIFY2(std::any_of(lines.begin(), lines.end(), [&](const QByteArray &line) {
                     return line.startsWith("warning service    the pairing service cannot be asked: ")
                            && line.endsWith(" -- fix: " + startBus.toUtf8());
                 }),
                 plain.out);
    }

    // Raw bytes from a file, text from standard input; every top-level collection as JSON.
    void descriptor()
    {
        QTemporaryFile raw;
        // Boot mouse, as a device sends it.
        QVERIFY(raw.open() && raw.write(QByteArray::fromHex("05010902a1010901a1000509190129031500250195037501810295"
                                                            "01750581030501093009311581257f750895028106c0c0")) == 50);
        raw.close();
        QProcess fromInput;
        fromInput.setStandardInputFile(source("tests/descriptors/boot-mouse.hex"));
        fromInput.start(BONDARA_CLI, {"descriptor", "-"});
        QVERIFY(fromInput.waitForFinished(30000));
        const Run fromFile = runCli({"descriptor", raw.fileName()});
        for (const auto &[code, out] : {qMakePair(fromInput.exitCode(), fromInput.readAllStandardOutput()),
                                        qMakePair(fromFile.exitCode, fromFile.out)}) {
            QCOMPARE(code, 0);
            QVERIFY2(out.startsWith("collection 1: usage 0001:0002  input 4  output 0  feature 0"), out);
        }

        const Run run = runCli({"descriptor", source("tests/descriptors/receiver.hex"), "--json"});
        QCOMPARE(run.exitCode, 0);
        const QJsonObject document = QJsonDocument::fromJson(run.out).object();
        QVERIFY(document.value("usesReportIds").toBool());
        const QJsonArray collections = document.value("collections").toArray();
        QCOMPARE(collections.size(), 4);
        QVERIFY(hasFields(collections.at(3).toObject(), {{"usagePage", "ff00"}, {"outputReportLength", 32}}));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
