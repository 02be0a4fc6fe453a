// SPDX-License-Identifier: MIT
// Every file bondara-cli reads, given as something hostile: each is refused
// at once, in one line naming the file and the reason, without the program
// growing; nothing blocks on opening. And each is read whatever script its
// folder is named in.

#include <QtTest>

#include <sys/stat.h>
#include <sys/types.h>

namespace {

// Sanitizers slow start-up down several times and reserve address space of
// their own, so their builds get a longer bound and no memory limit.
#ifdef BONDARA_SANITIZED
constexpr int kBoundMs = 10000;
constexpr bool kLimitMemory = false;
#else
constexpr int kBoundMs = 1000;
constexpr bool kLimitMemory = true;
#endif
// Enough for the program; reading /dev/zero whole would need gigabytes.
constexpr qint64 kAddressSpace = 128 * 1024 * 1024;

QString source(const QString &relative)
{
    return QStringLiteral(BONDARA_SOURCE_DIR "/") + relative;
}

QString makeFile(const QString &path, const QByteArray &content, qint64 size = -1)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return QString();
    if (size >= 0 && !file.resize(size)) // sparse: quick to make whatever the size
        return QString();
    return path;
}

struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run runCli(const QStringList &args, const QString &scene, const QString &trace)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("BONDARA_SIMULATE", scene);
    env.insert("BONDARA_SIMULATE_TRACE", trace);
    process.setProcessEnvironment(env);
    process.start(BONDARA_CLI, args);
    Run run;
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit)
        run.code = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

class TestBadFiles : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

private slots:
    void refusedInOneLine_data()
    {
        QTest::addColumn<QString>("reader");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reason");
        const QString fifo = dir.filePath("fifo"), directory = dir.filePath("directory.json");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(QDir().mkpath(directory));
        const QString scene = dir.filePath("scene-%1.json");
        const QString catalogue = dir.filePath("catalogue-%1.json");
        const QString descriptor = dir.filePath("descriptor-%1.hex");
        const qint64 document = 4 * 1024 * 1024 + 1;
        const qint64 report = 64 * 1024 + 1;

        for (const char *reader : {"scene", "catalogue", "descriptor", "trace"}) {
            QTest::addRow("%s: FIFO", reader) << QString(reader) << fifo << "not a regular file (a FIFO)";
            QTest::addRow("%s: directory", reader) << QString(reader) << directory
                                                   << "not a regular file (a directory)";
            QTest::addRow("%s: /dev/zero", reader) << QString(reader) << "/dev/zero"
                                                   << "not a regular file (a character device)";
        }
        QTest::newRow("scene: over-size") << "scene" << makeFile(scene.arg("big"), "{", document)
                                          << "larger than 4 MiB";
        QTest::newRow("catalogue: over-size") << "catalogue" << makeFile(catalogue.arg("big"), "{", document)
                                              << "larger than 4 MiB";
        QTest::newRow("descriptor: over-size") << "descriptor" << makeFile(descriptor.arg("big"), "05", report)
                                               << "larger than 64 KiB";
        // Standard input has no size to check first: the cap holds while reading.
        QTest::newRow("descriptor: endless standard input") << "descriptor" << "-" << "larger than 64 KiB";
        QTest::newRow("scene: missing") << "scene" << dir.filePath("absent.json") << "No such file or directory";
        QTest::newRow("catalogue: missing") << "catalogue" << dir.filePath("absent.json")
                                            << "No such file or directory";
        // What a catalogue may hold is the catalogue suite's business; scenes and descriptors have theirs here.
        QTest::newRow("scene: wrong shape") << "scene" << makeFile(scene.arg("array"), "[]")
                                            << "the root must be an object";
        QTest::newRow("descriptor: not hex") << "descriptor" << makeFile(descriptor.arg("words"), "not hex")
                                             << "not a list of hexadecimal bytes";
        QTest::newRow("descriptor: unbalanced") << "descriptor" << makeFile(descriptor.arg("end"), "c0")
                                                << "bad descriptor";
        QTest::newRow("scene: wrong types")
            << "scene" << makeFile(scene.arg("types"), R"({"interfaces": [{"path": "p", "vendorId": 4660,)"
                                                       R"( "productId": "1"}]})")
            << "interfaces[0].vendorId: expected a hexadecimal string";
        QTest::newRow("scene: unknown key")
            << "scene"
            << makeFile(scene.arg("key"), R"({"interfaces": [{"path": "p", "vendorId": "1", "productId": "1",)"
                                          R"( "openFail": true}]})")
            << "interfaces[0].openFail: unknown key";
        QTest::newRow("scene: duplicate path")
            << "scene"
            << makeFile(scene.arg("twice"), R"({"interfaces": [{"path": "p", "vendorId": "1", "productId": "1"},)"
                                            R"( {"path": "p", "vendorId": "2", "productId": "2"}]})")
            << R"(interfaces[1].path: "p" is also the path of interfaces[0])";
    }

    void refusedInOneLine()
    {
        QFETCH(QString, reader);
        QFETCH(QString, file);
        QFETCH(QString, reason);
        QVERIFY(!file.isEmpty());

        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("BONDARA_SIMULATE_TRACE");
        env.insert("BONDARA_SIMULATE", reader == "scene" ? file : source("tools/scenes/receiver.json"));
        QStringList args{"list"};
        if (reader == "catalogue")
            args << "--config" << file;
        else if (reader == "trace")
            env.insert("BONDARA_SIMULATE_TRACE", file);
        else if (reader == "descriptor")
            args = QStringList{"descriptor", file};
        if (file == "-")
            process.setStandardInputFile("/dev/zero");
        process.setProcessEnvironment(env);
        // Under the memory cap; a run past the bound is killed.
        if (kLimitMemory)
            process.start("prlimit", QStringList{QStringLiteral("--as=%1").arg(kAddressSpace), "--", BONDARA_CLI} + args);
        else
            process.start(BONDARA_CLI, args);
        QVERIFY(process.waitForStarted());
        if (!process.waitForFinished(kBoundMs)) {
            process.kill();
            process.waitForFinished();
            QFAIL("still running after the bound");
        }
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 2);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(err.count('\n'), 1);
        QVERIFY2(err.contains(file + ": " + reason), qPrintable(err));
    }

    // A name narrowed to an 8-bit code page on its way to the system names
    // another file, or none.
    void readWhateverScriptItsFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("Cyrillic") << QStringLiteral("Приёмник");
        QTest::newRow("Chinese") << QStringLiteral("接收器");
    }

    void readWhateverScriptItsFolder()
    {
        QFETCH(QString, folder);
        const QString base = dir.filePath(folder);
        QVERIFY(QDir().mkpath(base));
        const QString scene = base + "/receiver.json", catalogue = base + "/DeviceConfig.json",
                      trace = base + "/trace.txt";
        QVERIFY(QFile::copy(source("tools/scenes/receiver.json"), scene));
        QVERIFY(QFile::copy(source("config/DeviceConfig.json"), catalogue));
        const QString descriptor = makeFile(base + "/descriptor.hex", "06 00 ff 09 01 a1 01 c0");
        QVERIFY(!descriptor.isEmpty());

        const Run list = runCli({"list", "--config", catalogue}, scene, trace);
        QVERIFY2(list.code == 0 && list.out.contains("match: 2.4G Receiver"), qPrintable(list.err));
        QVERIFY2(QFileInfo::exists(trace), "the trace is made under its own name");
        const Run parsed = runCli({"descriptor", descriptor}, scene, QString());
        QVERIFY2(parsed.code == 0 && parsed.out.contains("ff00:0001"), qPrintable(parsed.err));
    }
};

QTEST_GUILESS_MAIN(TestBadFiles)
#include "tst_badfiles.moc"
