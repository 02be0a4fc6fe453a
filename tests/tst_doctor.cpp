// SPDX-License-Identifier: MIT
// What doctor makes of the pairing service and of udev rules left behind.

#include "config/diagnosis.h"
#include "config/uaccessrules.h"
#include "pairing/pairservicecheck.h"
#include "testsupport.h"

#include <QtTest>

namespace {

const QString kOldLine = QStringLiteral(
    R"(SUBSYSTEM=="hidraw", KERNEL=="hidraw*", ATTRS{idVendor}=="1209", ATTRS{idProduct}=="0001", TAG+="uaccess")");

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// "file:line=receiver+receiver" for each rule found, file by name.
QStringList described(const QVector<UaccessRule> &rules)
{
    QStringList out;
    for (const UaccessRule &rule : rules) {
        QStringList receivers;
        for (const int index : rule.receivers)
            receivers << QString::number(index);
        out << QStringLiteral("%1:%2=%3").arg(QFileInfo(rule.file).fileName()).arg(rule.line).arg(receivers.join('+'));
    }
    return out;
}

QString source(const QString &relative)
{
    return QStringLiteral(BONDARA_SOURCE_DIR "/") + relative;
}

// The check names the schema of doctor --json allows.
QStringList schemaNames()
{
    QFile file(source("cli/doctor.schema.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList names;
    const QJsonObject items = QJsonDocument::fromJson(file.readAll()).object()["properties"].toObject()["checks"]
                                  .toObject()["items"].toObject();
    for (const QJsonValue &name : items["properties"].toObject()["check"].toObject()["enum"].toArray())
        names << name.toString();
    return names;
}

// A simulated machine whose platform also tells of the node, as Linux does.
class NodeCheckingPlatform : public KHID::KSimPlatform
{
public:
    std::vector<KHID::KCheck> nodeChecks(const std::u16string &) override
    {
        return {{KHID::KCheck::Problem, "uaccess", "no udev rule tags the node uaccess", "install the rule"}};
    }
};

} // namespace

Q_DECLARE_METATYPE(PairService::Reach)
Q_DECLARE_METATYPE(PairService::Authorisation)

class TestDoctor : public QObject
{
    Q_OBJECT

private slots:
    // Each row is a rules file; what it is found to tag, as "line=receiver" (0: 1209:0001, 1: 046d:c52b).
    void ruleFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("found");
        const QStringList first{"1=0"}, none;
        const auto old = [](const char *from, const char *to) { return QString(kOldLine).replace(from, to).toUtf8(); };
        QTest::newRow("the old package's line") << kOldLine.toUtf8() << first;
        QTest::newRow("ids in upper case")
            << QByteArray(R"(ATTRS{idVendor}=="046D", ATTRS{idProduct}=="C52B", TAG+="uaccess")") << QStringList{"1=1"};
        QTest::newRow("another product id") << old("0001", "0005") << none;
        QTest::newRow("another vendor id") << old("1209", "046d") << none;
        QTest::newRow("the vendor alone: every product")
            << QByteArray(R"(SUBSYSTEM=="hidraw", ATTRS{idVendor}=="1209", TAG+="uaccess")") << first;
        QTest::newRow("no vendor named")
            << QByteArray(R"(KERNEL=="hidraw*", ATTRS{idProduct}=="0001", TAG+="uaccess")") << none;
        QTest::newRow("commented out") << "# " + kOldLine.toUtf8() << none;
        QTest::newRow("commented out after spaces") << "   #" + kOldLine.toUtf8() << none;
        QTest::newRow("no uaccess") << old(R"(TAG+="uaccess")", R"(MODE="0660", GROUP="plugdev")") << none;
        QTest::newRow("another tag") << old(R"("uaccess")", R"("seat")") << none;
        QTest::newRow("the tag taken off again") << kOldLine.toUtf8() + R"(, TAG-="uaccess")" << none;
        QTest::newRow("TAG= sets the tags anew") << kOldLine.toUtf8() + R"(, TAG="systemd")" << none;
        QTest::newRow("TAG= uaccess") << old("TAG+=", "TAG=") << first;
        QTest::newRow("ATTR: the node has no ids of its own") << old("ATTRS{idProduct}", "ATTR{idProduct}") << none;
        QTest::newRow("the USB device, not the node") << old(R"("hidraw")", R"("usb")") << none;
        QTest::newRow("every subsystem but hidraw") << old("SUBSYSTEM==", "SUBSYSTEM!=") << none;
        QTest::newRow("event nodes") << old("hidraw*", "event*") << none;
        QTest::newRow("one hidraw node") << old("hidraw*", "hidraw7") << first;
        QTest::newRow("no spaces") << old(", ", ",") << first;
        QTest::newRow("spaces around operators")
            << QByteArray(R"(SUBSYSTEM == "hidraw" , ATTRS{ idVendor } =="1209",ATTRS{idProduct}== "0001" ,TAG += "uaccess")")
            << first;
        QTest::newRow("single quotes") << old("\"", "'") << first;
        QTest::newRow("no quotes") << old("\"", "") << first;
        QTest::newRow("a glob") << old(R"("0001")", R"("000[0-3]")") << first;
        QTest::newRow("alternatives") << old(R"("0001")", R"("0005|0001")") << first;
        QTest::newRow("every product but this one") << old("ATTRS{idProduct}==", "ATTRS{idProduct}!=") << none;
        QTest::newRow("an unknown condition is taken to hold") << R"(ENV{ID_X}=="1", )" + kOldLine.toUtf8() << first;
        QTest::newRow("an unfinished quote") << kOldLine.toUtf8().chopped(1) << none;
        QTest::newRow("junk") << QByteArray("uaccess }{ ==") << none;
        QTest::newRow("a rule continued over three lines, then another")
            << "# Bondara\r\n" + old(", ATTRS", ", \\\r\n  ATTRS") + "\r\n" + kOldLine.toUtf8()
            << QStringList{"2=0", "5=0"};
        QTest::newRow("bytes that are no text before a rule")
            << QByteArray("\x00\xff\xfe{uaccess\"\n\n", 14) + kOldLine.toUtf8() << QStringList{"3=0"};
    }

    void ruleFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, found);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("70-test.rules"), content));
        QStringList expected;
        for (const QString &rule : found)
            expected << "70-test.rules:" + rule;
        QCOMPARE(described(uaccessRules({dir.path()}, {{0x1209, 0x0001}, {0x046d, 0xc52b}})), expected);
    }

    // The folders as udev reads them: the first of a name counts, a link to /dev/null masks.
    void ruleFolders()
    {
        QTemporaryDir etc, lib;
        const QByteArray vendorOnly = R"(SUBSYSTEM=="hidraw", ATTRS{idVendor}=="1209", TAG+="uaccess")";
        QVERIFY(QFile::link("/dev/null", etc.filePath("70-bondara.rules")));
        QVERIFY(writeFile(lib.filePath("70-bondara.rules"), kOldLine.toUtf8()));
        QVERIFY(writeFile(etc.filePath("60-local.rules"), kOldLine.toUtf8()));
        QVERIFY(writeFile(lib.filePath("60-local.rules"), "\n" + kOldLine.toUtf8()));
        QVERIFY(writeFile(lib.filePath("80-vendor.rules"), "\n\n" + vendorOnly));
        QVERIFY(writeFile(lib.filePath("README"), vendorOnly));
        QVERIFY(QDir(lib.path()).mkdir("90-folder.rules"));
        // Past the cap, the file is passed over rather than read whole.
        QVERIFY(writeFile(lib.filePath("99-huge.rules"), kOldLine.toUtf8() + QByteArray(1024 * 1024, '\n')));
        const QVector<UsbId> ids{{0x1209, 0x0001}, {0x1209, 0x0002}};
        QCOMPARE(described(uaccessRules({etc.path(), QStringLiteral("/nonexistent"), lib.path()}, ids)),
                 (QStringList{"60-local.rules:1=0", "80-vendor.rules:3=0+1"}));
        // Without the mask, the package's file counts.
        QCOMPARE(described(uaccessRules({lib.path()}, ids)),
                 (QStringList{"60-local.rules:2=0", "70-bondara.rules:1=0", "80-vendor.rules:3=0+1"}));
    }

    // A rule left behind, on the machine's own platform with udev's folders of the test's own:
    // the file and line, the receiver, how to be rid of it, and whether the service makes it unneeded.
    void ruleLeftBehind()
    {
        QTemporaryDir root;
        const QString etc = root.filePath("etc/udev/rules.d"), lib = root.filePath("usr/lib/udev/rules.d");
        QVERIFY(QDir().mkpath(etc) && QDir().mkpath(lib));
        QVERIFY(writeFile(etc + "/70-local.rules", "# mine\n" + QString(kOldLine).replace("0001", "0002").toUtf8()));
        QVERIFY(writeFile(lib + "/70-bondara.rules", kOldLine.toUtf8()));
        qputenv("BONDARA_UDEV_RULES_DIRS", QFile::encodeName(etc + ':' + lib));
        KHID::installPlatform(KHID::makeNativePlatform());
        const QList<QStringList> expected{
            {lib + "/70-bondara.rules line 1 ", "2.4G Receiver (1209:0001) uaccess", "dpkg -S " + lib + "/70-bondara.rules"},
            {etc + "/70-local.rules line 2 ", "2.4G Receiver Tovrik (1209:0002) uaccess",
             "delete line 2 of " + etc + "/70-local.rules"}};
        const QStringList names = schemaNames();
        for (const bool pairs : {false, true}) {
            ServiceFacts facts;
            facts.pairs = pairs;
            QVector<Finding> found;
            for (const Finding &f : diagnose(source("config/DeviceConfig.json"), facts)) {
                QVERIFY2(names.contains(f.name), qPrintable(f.name + " is not in cli/doctor.schema.json"));
                if (f.name == "udev-rule")
                    found << f;
            }
            QCOMPARE(found.size(), expected.size());
            for (int i = 0; i < found.size(); ++i) {
                QCOMPARE(found.at(i).level, KHID::KCheck::Warning);
                QVERIFY2(found.at(i).text.startsWith(expected.at(i).at(0)) && found.at(i).text.contains(expected.at(i).at(1))
                             && found.at(i).text.contains("keystrokes included")
                             && found.at(i).fix.contains(expected.at(i).at(2)),
                         qPrintable(found.at(i).text + "\n" + found.at(i).fix));
                QCOMPARE(found.at(i).fix.endsWith("the pairing service pairs it without the rule"), pairs);
            }
        }
        // None where the folders hold no such rule.
        qputenv("BONDARA_UDEV_RULES_DIRS", QFile::encodeName(root.filePath("none")));
        for (const Finding &f : diagnose(source("config/DeviceConfig.json")))
            QVERIFY(f.name != "udev-rule");
        qunsetenv("BONDARA_UDEV_RULES_DIRS");
    }

    // What the service's state makes of a receiver this user cannot open.
    void serviceStates_data()
    {
        using R = PairService::Reach;
        using A = PairService::Authorisation;
        QTest::addColumn<R>("reach");
        QTest::addColumn<A>("answer");
        QTest::addColumn<QString>("findings");
        QTest::addColumn<bool>("pairs");
        QTest::addColumn<QString>("missing"); // the start of the fix for a closed receiver
        QTest::newRow("no such service here") << R::Unsupported << A::Unknown << "" << false << "";
        QTest::newRow("no bus") << R::NoBus << A::Unknown << "warning service" << false << "start the system bus";
        QTest::newRow("not installed") << R::NotInstalled << A::Unknown << "warning service" << false
                                       << "reinstall bondara's package";
        QTest::newRow("authorised") << R::Offered << A::Yes << "ok service, ok polkit" << true << "";
        QTest::newRow("a password asked") << R::Offered << A::Challenge << "ok service, warning polkit" << true << "";
        QTest::newRow("refused") << R::Offered << A::No << "ok service, problem polkit" << false
                                 << "ask an administrator to allow you the polkit action org.bondara.pair";
        QTest::newRow("polkit not there") << R::Offered << A::Unknown << "ok service, warning polkit" << false
                                          << "install and start polkit";
    }

    void serviceStates()
    {
        QFETCH(PairService::Reach, reach);
        QFETCH(PairService::Authorisation, answer);
        QFETCH(QString, findings);
        QFETCH(bool, pairs);
        QFETCH(QString, missing);
        const ServiceFacts facts = serviceFacts(reach, "unreached", answer, "unanswered");
        QStringList found;
        for (const Finding &f : facts.findings) {
            QVERIFY2(schemaNames().contains(f.name), qPrintable(f.name + " is not in cli/doctor.schema.json"));
            found << levelName(f.level) + ' ' + f.name;
            QCOMPARE(f.fix.isEmpty(), f.level == KHID::KCheck::Ok);
        }
        QCOMPARE(found.join(", "), findings);
        QCOMPARE(facts.pairs, pairs);
        QVERIFY2(missing.isEmpty() ? facts.missing.isEmpty() : facts.missing.startsWith(missing),
                 qPrintable(facts.missing));

        // The receiver's own findings follow.
        auto platform = std::make_unique<NodeCheckingPlatform>();
        KHID::KSimInterface closed = testsupport::simInterface("sim:rx#col02", 0x1209, 0x0001, 0xff00, 0x0001);
        closed.openFails = true;
        platform->addInterface(closed);
        KHID::installPlatform(std::move(platform));
        const QVector<Finding> access = accessFindings("sim:rx#col02", facts);
        QCOMPARE(access.size(), 2);
        QCOMPARE(access.at(0).level, pairs ? KHID::KCheck::Ok : KHID::KCheck::Problem);
        QCOMPARE(access.at(0).text.endsWith("; pairing goes through the pairing service"), pairs);
        // The service's part of the fix first, then the platform's.
        const QString platformFix = QString::fromStdString(KHID::platform().accessFix());
        QCOMPARE(access.at(0).fix, pairs ? QString() : missing.isEmpty() ? platformFix : facts.missing + "; or, " + platformFix);
        // Through the service nobody needs the node's grant.
        QCOMPARE(access.at(1).level, pairs ? KHID::KCheck::Ok : KHID::KCheck::Problem);
        QCOMPARE(access.at(1).fix.isEmpty(), pairs);
        KHID::installPlatform(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestDoctor)
#include "tst_doctor.moc"
