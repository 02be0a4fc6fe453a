// SPDX-License-Identifier: MIT
#include "kreportdescriptor.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QtTest>

using namespace KHID;

using Ints = QVector<int>;

namespace {

// Inline descriptors go through Qt's decoder, not parseHexBytes, so a fault
// in the latter cannot hide one in the parser.
QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

KReportDescriptor parse(const QByteArray &d)
{
    return parseReportDescriptor(reinterpret_cast<const uint8_t *>(d.constData()),
                                 std::size_t(d.size()));
}

QString dataDir()
{
    return QString::fromLocal8Bit(qgetenv("BONDARA_TEST_DATA")) + QStringLiteral("/descriptors");
}

// Reads a corpus file through parseHexBytes, as the tools do.
bool loadCorpus(const QString &name, std::vector<uint8_t> &out)
{
    QFile f(dataDir() + QLatin1Char('/') + name);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return parseHexBytes(f.readAll().toStdString(), out);
}

} // namespace

class TestReportDescriptor : public QObject {
    Q_OBJECT

private slots:
    void corpus_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("collections");
        QTest::addColumn<bool>("reportIds");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("usagePage");
        QTest::addColumn<int>("usage");
        QTest::addColumn<Ints>("lengths"); // input, output, feature
        QTest::addColumn<Ints>("featureIds"); // report ID of each feature value

        const QStringList files = QDir(dataDir()).entryList({QStringLiteral("*.hex")}, QDir::Files);
        QVERIFY2(files.size() >= 5, qPrintable(QStringLiteral("corpus missing in ") + dataDir()));
        const QString rx = "receiver.hex";
        const QString gaming = "gaming-mouse.hex";
        QTest::newRow("boot mouse") << "boot-mouse.hex" << 1 << false << 0 << 0x01 << 0x02 << Ints{4, 0, 0} << Ints{};
        QTest::newRow("boot keyboard") << "boot-keyboard.hex" << 1 << false << 0 << 0x01 << 0x06 << Ints{9, 2, 0} << Ints{};
        QTest::newRow("receiver keyboard") << rx << 4 << true << 0 << 0x01 << 0x06 << Ints{9, 2, 0} << Ints{};
        QTest::newRow("receiver mouse") << rx << 4 << true << 1 << 0x01 << 0x02 << Ints{8, 0, 0} << Ints{};
        QTest::newRow("receiver consumer") << rx << 4 << true << 2 << 0x0C << 0x01 << Ints{5, 0, 0} << Ints{};
        QTest::newRow("receiver vendor") << rx << 4 << true << 3 << 0xFF00 << 0x01 << Ints{32, 32, 0} << Ints{};
        QTest::newRow("gaming mouse pointer") << gaming << 2 << true << 0 << 0x01 << 0x02 << Ints{7, 0, 0} << Ints{};
        QTest::newRow("gaming mouse settings")
            << gaming << 2 << true << 1 << 0xFF01 << 0x02 << Ints{0, 0, 64} << Ints{4, 5, 6, 6, 7};
        QTest::newRow("gamepad") << "gamepad.hex" << 1 << false << 0 << 0x01 << 0x05 << Ints{10, 3, 0} << Ints{};
    }

    void corpus()
    {
        QFETCH(QString, file);
        QFETCH(int, collections);
        QFETCH(bool, reportIds);
        QFETCH(int, index);
        QFETCH(int, usagePage);
        QFETCH(int, usage);
        QFETCH(Ints, lengths);
        QFETCH(Ints, featureIds);

        std::vector<uint8_t> d;
        QVERIFY2(loadCorpus(file, d), qPrintable(file));
        const KReportDescriptor r = parseReportDescriptor(d.data(), d.size());
        QVERIFY2(r.ok, r.error.c_str());
        QVERIFY(r.error.empty());
        QCOMPARE(int(r.collections.size()), collections);
        QCOMPARE(r.usesReportIds, reportIds);
        const KHidCaps &c = r.collections[std::size_t(index)].caps;
        QCOMPARE(int(c.UsagePage), usagePage);
        QCOMPARE(int(c.Usage), usage);
        QCOMPARE(Ints({c.InputReportByteLength, c.OutputReportByteLength, c.FeatureReportByteLength}), lengths);
        Ints ids;
        for (const KHidValueCaps &value : r.collections[std::size_t(index)].featureValueCaps)
            ids << value.ReportID;
        QCOMPARE(ids, featureIds);
    }

    void inputLengths_data()
    {
        QTest::addColumn<QByteArray>("d");
        QTest::addColumn<Ints>("inLens"); // per top-level collection

        const auto app = [](const char *items) { return bytes("05 01 09 00 a1 01") + bytes(items) + bytes("c0"); };
        QTest::newRow("one bit") << app("75 01 95 01 81 02") << Ints{2};
        QTest::newRow("nine bits") << app("75 09 95 01 81 02") << Ints{3};
        // ID 1 gets 8 + 4 bytes although ID 2 comes between.
        QTest::newRow("interleaved ids add up")
            << app("75 08 85 01 95 08 81 02 85 02 95 0a 81 02 85 01 95 04 81 02") << Ints{13};
        QTest::newRow("padding counts") << app("75 08 95 01 81 02 81 03") << Ints{3};
        QTest::newRow("just below the clamp") << app("75 08 96 fd ff 81 02") << Ints{65534};
        QTest::newRow("one over the clamp") << app("75 08 96 ff ff 81 02") << Ints{65535};
        // 2^32 bits: zero if multiplied in 32 bits.
        QTest::newRow("product past 32 bits") << app("77 00 00 01 00 97 00 00 01 00 81 02") << Ints{65535};
        // 2^64 + 8 bits: wrapping would leave 8 bits.
        QTest::newRow("sum past 64 bits")
            << app("77 ff ff ff ff 97 ff ff ff ff 81 02 95 02 81 02 75 09 95 01 81 02") << Ints{65535};
        QTest::newRow("zero count") << app("75 08 95 00 81 02") << Ints{1};
        QTest::newRow("no input item") << app("75 08 95 01 91 02") << Ints{0};
        QTest::newRow("pop restores size and count")
            << bytes("a1 01 75 08 95 02 a4 75 01 95 03 81 02 b4 81 02 c0") << Ints{4};
        QTest::newRow("pop restores the report id")
            << bytes("a1 01 75 08 85 01 a4 85 02 95 01 81 02 b4 95 02 81 02 c0") << Ints{3};
        // Both use ID 0, yet each has its own reports.
        QTest::newRow("collections counted apart")
            << bytes("a1 01 75 08 95 08 09 30 81 02 c0 a1 01 75 01 95 08 19 01 29 08 81 02 c0") << Ints{9, 2};
        QTest::newRow("items outside collections ignored")
            << bytes("75 08 95 08 81 02 a1 01 95 01 81 02 c0 95 04 b1 02") << Ints{2};
        // A long item whose data looks like End Collections, unknown global, local and main tags.
        QTest::newRow("long and unknown items skipped")
            << bytes("a1 01 fe 04 10 c0 c0 c0 c0 c5 07 b9 03 d1 08 0d 22 75 08 95 02 81 02 fe 00 20 c0") << Ints{3};
        QTest::newRow("32 levels, the deepest allowed")
            << bytes("a1 00").repeated(32) + bytes("c0").repeated(32) << Ints{0};
        QTest::newRow("1024 usages")
            << bytes("a1 01 75 08 96 00 04") + bytes("09 01").repeated(1024) + bytes("81 02 c0") << Ints{1025};
        QTest::newRow("16 pushes") << bytes("a4").repeated(16) + bytes("b4").repeated(16) + bytes("a1 01 c0") << Ints{0};
        QTest::newRow("empty") << QByteArray() << Ints{};
    }

    void inputLengths()
    {
        QFETCH(QByteArray, d);
        QFETCH(Ints, inLens);
        const KReportDescriptor r = parse(d);
        QVERIFY2(r.ok, r.error.c_str());
        Ints got;
        for (const auto &c : r.collections)
            got << c.caps.InputReportByteLength;
        QCOMPARE(got, inLens);
    }

    void collectionUsage_data()
    {
        QTest::addColumn<QByteArray>("d");
        QTest::addColumn<int>("usagePage");
        QTest::addColumn<int>("usage");

        QTest::newRow("first usage wins") << bytes("05 01 09 02 09 01 a1 01 c0") << 0x01 << 0x02;
        QTest::newRow("four-byte usage") << bytes("0b e9 00 0c 00 a1 01 c0") << 0x0C << 0xE9;
        QTest::newRow("four-byte overrides page") << bytes("05 01 0b 38 02 0c 00 a1 01 c0") << 0x0C << 0x238;
        QTest::newRow("range gives its minimum") << bytes("06 00 ff 19 05 29 09 a1 01 c0") << 0xFF00 << 0x05;
        QTest::newRow("nested") << bytes("05 01 09 02 a1 01 09 01 a1 00 c0 c0") << 0x01 << 0x02;
    }

    void collectionUsage()
    {
        QFETCH(QByteArray, d);
        QFETCH(int, usagePage);
        QFETCH(int, usage);
        const KReportDescriptor r = parse(d);
        QVERIFY2(r.ok, r.error.c_str());
        QCOMPARE(int(r.collections.size()), 1);
        QCOMPARE(int(r.collections[0].caps.UsagePage), usagePage);
        QCOMPARE(int(r.collections[0].caps.Usage), usage);
    }

    void malformed_data()
    {
        QTest::addColumn<QByteArray>("d");
        QTest::addColumn<QString>("reason");

        const QByteArray open = bytes("05 01 09 02 a1 01");
        QTest::newRow("short item cut") << open + bytes("75") << "truncated short item";
        QTest::newRow("four-byte item cut") << open + bytes("27 ff ff") << "truncated short item";
        QTest::newRow("long item data cut") << open + bytes("fe 05 00 01 02") << "truncated long item";
        QTest::newRow("long item header cut") << open + bytes("fe 00") << "truncated long item";
        QTest::newRow("end without collection") << bytes("c0") << "end collection without collection";
        QTest::newRow("one end too many") << bytes("a1 01 c0 c0") << "end collection without collection";
        QTest::newRow("unclosed") << bytes("a1 01 a1 00 c0") << "collection not closed";
        QTest::newRow("pop without push") << bytes("b4") << "pop without push";
        QTest::newRow("pop past pushes") << bytes("a4 b4 b4") << "pop without push";
        QTest::newRow("17 pushes") << bytes("a4").repeated(17) << "too many pushes";
        QTest::newRow("report id 0") << open + bytes("85 00 c0") << "report ID 0";
        QTest::newRow("report id 256") << open + bytes("86 00 01 c0") << "report ID above 255";
        QTest::newRow("33 levels") << bytes("a1 00").repeated(33) + bytes("c0").repeated(33)
                                   << "collections nested too deeply";
        QTest::newRow("1025 usages") << bytes("09 01").repeated(1025) + bytes("a1 01 c0") << "too many usages";
        // An unpaired minimum still counts when the main item takes it.
        QTest::newRow("1024 usages and a minimum")
            << bytes("09 01").repeated(1024) + bytes("19 01 a1 01 c0") << "too many usages";
        // An error after a complete collection must not leave that collection behind.
        QTest::newRow("error after a collection") << bytes("a1 01 c0 a1 01 75") << "truncated short item";
    }

    void malformed()
    {
        QFETCH(QByteArray, d);
        QFETCH(QString, reason);
        const KReportDescriptor r = parse(d);
        QVERIFY(!r.ok);
        QVERIFY2(QString::fromStdString(r.error).startsWith(reason), r.error.c_str());
        QVERIFY(r.collections.empty());
    }

    void hex_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("spaced") << "05 01 09 02" << true << bytes("05010902");
        QTest::newRow("C array") << "0x05,0x01, 0X09" << true << bytes("050109");
        QTest::newRow("run") << "0600ff" << true << bytes("0600ff");
        QTest::newRow("tabs, CRLF, upper case") << "\tA1,\r\n01" << true << bytes("a101");
        QTest::newRow("comments") << "# 09 02 is not data\n05 01 # nor 0x09\n" << true << bytes("0501");
        QTest::newRow("comment right after a byte") << "05#x" << true << bytes("05");
        QTest::newRow("nothing") << "" << true << QByteArray();
        QTest::newRow("one digit") << "0" << false << QByteArray();
        QTest::newRow("odd run") << "05 123" << false << QByteArray();
        QTest::newRow("prefix, one digit") << "0x5" << false << QByteArray();
        QTest::newRow("prefix alone") << "05 0x" << false << QByteArray();
        QTest::newRow("prefix, two bytes") << "0x0600" << false << QByteArray();
        QTest::newRow("not hex") << "05 zz" << false << QByteArray();
        QTest::newRow("dash") << "05-01" << false << QByteArray();
        QTest::newRow("letter before digits") << "x05" << false << QByteArray();
        QTest::newRow("letter after digits") << "05g" << false << QByteArray();
    }

    void hex()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QByteArray, expected);
        // Replaced, not appended to; a failure leaves no half-read bytes.
        std::vector<uint8_t> out;
        if (ok)
            out.push_back(0xAA);
        QCOMPARE(parseHexBytes(text.toStdString(), out), ok);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(out.data()), int(out.size())), expected);
    }
};

QTEST_APPLESS_MAIN(TestReportDescriptor)

#include "tst_reportdescriptor.moc"
