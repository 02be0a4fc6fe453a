// SPDX-License-Identifier: MIT
#include "kreportdescriptor.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QtTest>

using namespace KHID;

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
    void corpusParses_data();
    void corpusParses();
    void corpusCaps_data();
    void corpusCaps();

    void reportLengths_data();
    void reportLengths();
    void pushPopRestoresGlobals();
    void collectionsCountedApart();
    void itemsOutsideCollectionsIgnored();
    void skipsLongAndUnknownItems();
    void collectionUsage_data();
    void collectionUsage();
    void limitsStillAccepted();
    void emptyDescriptor();

    void malformed_data();
    void malformed();

    void hexAccepted_data();
    void hexAccepted();
    void hexRejected_data();
    void hexRejected();
};

void TestReportDescriptor::corpusParses_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("collections");
    QTest::addColumn<bool>("reportIds");

    const QStringList files = QDir(dataDir()).entryList({QStringLiteral("*.hex")}, QDir::Files);
    QVERIFY2(files.size() >= 5, qPrintable(QStringLiteral("corpus missing in ") + dataDir()));

    QTest::newRow("boot mouse") << "boot-mouse.hex" << 1 << false;
    QTest::newRow("boot keyboard") << "boot-keyboard.hex" << 1 << false;
    QTest::newRow("receiver") << "receiver.hex" << 4 << true;
    QTest::newRow("gaming mouse") << "gaming-mouse.hex" << 2 << true;
    QTest::newRow("gamepad") << "gamepad.hex" << 1 << false;
}

void TestReportDescriptor::corpusParses()
{
    QFETCH(QString, file);
    QFETCH(int, collections);
    QFETCH(bool, reportIds);

    std::vector<uint8_t> d;
    QVERIFY2(loadCorpus(file, d), qPrintable(file));
    const KReportDescriptor r = parseReportDescriptor(d.data(), d.size());
    QVERIFY2(r.ok, r.error.c_str());
    QVERIFY(r.error.empty());
    QCOMPARE(int(r.collections.size()), collections);
    QCOMPARE(r.usesReportIds, reportIds);
}

// Byte lengths: data bits per report ID, rounded up to bytes, plus one byte
// for the ID (also without IDs); the longest report of the kind wins. Feature
// values: one per usage or usage range of a field wider than one bit.
void TestReportDescriptor::corpusCaps_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("usagePage");
    QTest::addColumn<int>("usage");
    QTest::addColumn<int>("inLen");
    QTest::addColumn<int>("outLen");
    QTest::addColumn<int>("featLen");
    QTest::addColumn<QVector<int>>("featureIds"); // report ID of each feature value

    // 3 buttons + 5 pad + 2x8 = 24 bits = 3 bytes, +1 = 4.
    QTest::newRow("boot mouse") << "boot-mouse.hex" << 0 << 0x01 << 0x02 << 4 << 0 << 0 << QVector<int>{};
    // In: 8x1 + 1x8 + 6x8 = 64 bits = 8 bytes, +1 = 9. Out: 5 + 3 = 8 bits, +1 = 2.
    QTest::newRow("boot keyboard") << "boot-keyboard.hex" << 0 << 0x01 << 0x06 << 9 << 2 << 0 << QVector<int>{};
    QTest::newRow("receiver keyboard") << "receiver.hex" << 0 << 0x01 << 0x06 << 9 << 2 << 0 << QVector<int>{};
    // 16x1 + 2x12 + 8 + 8 = 56 bits = 7 bytes, +1 = 8.
    QTest::newRow("receiver mouse") << "receiver.hex" << 1 << 0x01 << 0x02 << 8 << 0 << 0 << QVector<int>{};
    // 2x16 = 32 bits = 4 bytes, +1 = 5.
    QTest::newRow("receiver consumer") << "receiver.hex" << 2 << 0x0C << 0x01 << 5 << 0 << 0 << QVector<int>{};
    // 31x8 = 248 bits = 31 bytes, +1 = 32 each way.
    QTest::newRow("receiver vendor") << "receiver.hex" << 3 << 0xFF00 << 0x01 << 32 << 32 << 0 << QVector<int>{};
    // 5 + 3 + 2x16 + 8 = 48 bits = 6 bytes, +1 = 7.
    QTest::newRow("gaming mouse pointer") << "gaming-mouse.hex" << 0 << 0x01 << 0x02 << 7 << 0 << 0
                                          << QVector<int>{};
    // ID 4: 7x8 -> 8; ID 5: 63x8 -> 64; ID 6: 2x16 -> 5; ID 7: 2 + 6 -> 2. Longest 64.
    // ID 6 names two usages over two fields: a value each.
    QTest::newRow("gaming mouse settings") << "gaming-mouse.hex" << 1 << 0xFF01 << 0x02 << 0 << 0 << 64
                                           << QVector<int>{4, 5, 6, 6, 7};
    // In: 4x8 + 4 + 4 + 12 + 4 + 2x8 = 72 bits = 9 bytes, +1 = 10. Out: 2x8 -> 3.
    QTest::newRow("gamepad") << "gamepad.hex" << 0 << 0x01 << 0x05 << 10 << 3 << 0 << QVector<int>{};
}

void TestReportDescriptor::corpusCaps()
{
    QFETCH(QString, file);
    QFETCH(int, index);
    QFETCH(int, usagePage);
    QFETCH(int, usage);
    QFETCH(int, inLen);
    QFETCH(int, outLen);
    QFETCH(int, featLen);
    QFETCH(QVector<int>, featureIds);

    std::vector<uint8_t> d;
    QVERIFY(loadCorpus(file, d));
    const KReportDescriptor r = parseReportDescriptor(d.data(), d.size());
    QVERIFY2(r.ok, r.error.c_str());
    QVERIFY(index < int(r.collections.size()));
    const KHidCaps &c = r.collections[std::size_t(index)].caps;
    QCOMPARE(int(c.UsagePage), usagePage);
    QCOMPARE(int(c.Usage), usage);
    QCOMPARE(int(c.InputReportByteLength), inLen);
    QCOMPARE(int(c.OutputReportByteLength), outLen);
    QCOMPARE(int(c.FeatureReportByteLength), featLen);
    QVector<int> ids;
    for (const KHidValueCaps &value : r.collections[std::size_t(index)].featureValueCaps)
        ids << value.ReportID;
    QCOMPARE(ids, featureIds);
}




void TestReportDescriptor::reportLengths_data()
{
    QTest::addColumn<QByteArray>("items"); // inside one application collection
    QTest::addColumn<int>("inLen");

    // 1 bit -> 1 byte, +1 = 2; 9 bits -> 2 bytes, +1 = 3.
    QTest::newRow("one bit") << bytes("75 01 95 01 81 02") << 2;
    QTest::newRow("nine bits") << bytes("75 09 95 01 81 02") << 3;
    // ID 1: 8x8 + 4x8 = 96 bits = 12 bytes, +1 = 13, although ID 2 comes between.
    // ID 2: 10x8 = 10 bytes, +1 = 11.
    QTest::newRow("interleaved ids add up")
        << bytes("75 08 85 01 95 08 81 02 85 02 95 0a 81 02 85 01 95 04 81 02") << 13;
    // Constant items are padding, but padding is part of the report: 8 + 8 bits -> 3.
    QTest::newRow("padding counts") << bytes("75 08 95 01 81 02 81 03") << 3;
    // 8 x 4096 bits = 4096 bytes, +1 = 4097: no clamp yet.
    QTest::newRow("4096 bytes") << bytes("75 08 96 00 10 81 02") << 4097;
    // 8 x 65533 = 65533 bytes, +1 = 65534.
    QTest::newRow("just below the clamp") << bytes("75 08 96 fd ff 81 02") << 65534;
    // 65535 bytes + 1 = 65536 -> clamped to 65535.
    QTest::newRow("one over the clamp") << bytes("75 08 96 ff ff 81 02") << 65535;
    // 2^16 x 2^16 = 2^32 bits: zero if multiplied in 32 bits.
    QTest::newRow("product past 32 bits") << bytes("77 00 00 01 00 97 00 00 01 00 81 02") << 65535;
    // (2^32-1)^2 + (2^32-1)x2 + 9 = 2^64 - 2^33 + 1 + 2^33 - 2 + 9 = 2^64 + 8:
    // wrapping would leave 8 bits (-> 2); saturating keeps it at the clamp.
    QTest::newRow("sum past 64 bits")
        << bytes("77 ff ff ff ff 97 ff ff ff ff 81 02 95 02 81 02 75 09 95 01 81 02") << 65535;
    // A zero-bit item still makes the report exist: 0 bytes + ID byte = 1.
    QTest::newRow("zero count") << bytes("75 08 95 00 81 02") << 1;
    QTest::newRow("no input item") << bytes("75 08 95 01 91 02") << 0;
}

void TestReportDescriptor::reportLengths()
{
    QFETCH(QByteArray, items);
    QFETCH(int, inLen);
    const KReportDescriptor r = parse(bytes("05 01 09 00 a1 01") + items + bytes("c0"));
    QVERIFY2(r.ok, r.error.c_str());
    QCOMPARE(int(r.collections.size()), 1);
    QCOMPARE(int(r.collections[0].caps.InputReportByteLength), inLen);
}

void TestReportDescriptor::pushPopRestoresGlobals()
{
    // Size 8 count 2; push; size 1 count 3 -> 3 bits; pop; input -> 16 bits.
    // 19 bits -> 3 bytes, +1 = 4. Without the restore: 3 + 3 = 6 bits -> 2.
    KReportDescriptor r = parse(bytes("a1 01 75 08 95 02 a4 75 01 95 03 81 02 b4 81 02 c0"));
    QVERIFY2(r.ok, r.error.c_str());
    QCOMPARE(int(r.collections[0].caps.InputReportByteLength), 4);

    // The report ID is global too: ID 2 gets 8 bits (-> 2), ID 1 gets 2x8 (-> 3).
    r = parse(bytes("a1 01 75 08 85 01 a4 85 02 95 01 81 02 b4 95 02 81 02 c0"));
    QVERIFY2(r.ok, r.error.c_str());
    QCOMPARE(int(r.collections[0].caps.InputReportByteLength), 3);
}

void TestReportDescriptor::collectionsCountedApart()
{
    // Two collections without report IDs: both use ID 0, yet each has its own
    // reports. First: 8 bytes + 1 = 9. Second: 1 byte + 1 = 2.
    const KReportDescriptor r = parse(bytes("a1 01 75 08 95 08 09 30 81 02 c0 "
                                            "a1 01 75 01 95 08 19 01 29 08 81 02 c0"));
    QVERIFY2(r.ok, r.error.c_str());
    QCOMPARE(int(r.collections.size()), 2);
    const KHidCaps &a = r.collections[0].caps;
    const KHidCaps &b = r.collections[1].caps;
    QCOMPARE(int(a.InputReportByteLength), 9);
    QCOMPARE(int(b.InputReportByteLength), 2);
}

void TestReportDescriptor::itemsOutsideCollectionsIgnored()
{
    // 64 bits of input before any collection, then one byte inside: 1 + 1 = 2.
    const KReportDescriptor r =
        parse(bytes("75 08 95 08 81 02 a1 01 95 01 81 02 c0 95 04 b1 02"));
    QVERIFY2(r.ok, r.error.c_str());
    QCOMPARE(int(r.collections.size()), 1);
    QCOMPARE(int(r.collections[0].caps.InputReportByteLength), 2);
    QCOMPARE(int(r.collections[0].caps.FeatureReportByteLength), 0);
}

void TestReportDescriptor::skipsLongAndUnknownItems()
{
    // A long item whose data looks like End Collections, an unknown global
    // (tag 0xC), local (tag 0xB), main (tag 0xD), and a reserved-type item.
    // Only "75 08 95 02 81 02" counts: 16 bits -> 3.
    const KReportDescriptor r = parse(bytes("a1 01 fe 04 10 c0 c0 c0 c0 c5 07 b9 03 d1 08 0d 22 "
                                            "75 08 95 02 81 02 fe 00 20 c0"));
    QVERIFY2(r.ok, r.error.c_str());
    QCOMPARE(int(r.collections.size()), 1);
    QCOMPARE(int(r.collections[0].caps.InputReportByteLength), 3);
}

void TestReportDescriptor::collectionUsage_data()
{
    QTest::addColumn<QByteArray>("d");
    QTest::addColumn<int>("usagePage");
    QTest::addColumn<int>("usage");

    QTest::newRow("first usage wins") << bytes("05 01 09 02 09 01 a1 01 c0") << 0x01 << 0x02;
    // 0x000C00E9: page 0x0C in the high half, usage 0xE9, no Usage Page item.
    QTest::newRow("four-byte usage") << bytes("0b e9 00 0c 00 a1 01 c0") << 0x0C << 0xE9;
    // The page in the usage beats the page in force.
    QTest::newRow("four-byte overrides page") << bytes("05 01 0b 38 02 0c 00 a1 01 c0") << 0x0C << 0x238;
    QTest::newRow("range gives its minimum") << bytes("06 00 ff 19 05 29 09 a1 01 c0") << 0xFF00 << 0x05;
    QTest::newRow("no usage") << bytes("06 01 ff a1 01 c0") << 0xFF01 << 0;
    // The inner collection's usage must not replace the top one's.
    QTest::newRow("nested") << bytes("05 01 09 02 a1 01 09 01 a1 00 c0 c0") << 0x01 << 0x02;
}

void TestReportDescriptor::collectionUsage()
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






void TestReportDescriptor::limitsStillAccepted()
{
    // 32 nested collections: the deepest allowed.
    const QByteArray deep = bytes("a1 00").repeated(32) + bytes("c0").repeated(32);
    KReportDescriptor r = parse(deep);
    QVERIFY2(r.ok, r.error.c_str());
    QCOMPARE(int(r.collections.size()), 1);

    // 1024 usages over 1024 byte fields: 1024 bytes + 1.
    const QByteArray many = bytes("a1 01 75 08 96 00 04") + bytes("09 01").repeated(1024)
                          + bytes("81 02 c0");
    r = parse(many);
    QVERIFY2(r.ok, r.error.c_str());
    QCOMPARE(int(r.collections[0].caps.InputReportByteLength), 1025);

    // 16 pushes, then 16 pops.
    r = parse(bytes("a4").repeated(16) + bytes("b4").repeated(16) + bytes("a1 01 c0"));
    QVERIFY2(r.ok, r.error.c_str());
}


void TestReportDescriptor::emptyDescriptor()
{
    const KReportDescriptor r = parseReportDescriptor(nullptr, 0);
    QVERIFY(r.ok);
    QVERIFY(r.collections.empty());
}

void TestReportDescriptor::malformed_data()
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

void TestReportDescriptor::malformed()
{
    QFETCH(QByteArray, d);
    QFETCH(QString, reason);
    const KReportDescriptor r = parse(d);
    QVERIFY(!r.ok);
    QVERIFY2(QString::fromStdString(r.error).startsWith(reason), r.error.c_str());
    QVERIFY(r.collections.empty());
}

void TestReportDescriptor::hexAccepted_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("spaced") << "05 01 09 02" << bytes("05010902");
    QTest::newRow("C array") << "0x05,0x01, 0X09" << bytes("050109");
    QTest::newRow("run") << "0600ff" << bytes("0600ff");
    QTest::newRow("upper case") << "A1 01\nC0" << bytes("a101c0");
    QTest::newRow("tabs and CRLF") << "\t05,\r\n01" << bytes("0501");
    QTest::newRow("comments") << "# 09 02 is not data\n05 01 # nor 0x09\n" << bytes("0501");
    QTest::newRow("comment right after a byte") << "05#x" << bytes("05");
    QTest::newRow("nothing") << "" << QByteArray();
    QTest::newRow("only a comment") << "# 05" << QByteArray();
}

void TestReportDescriptor::hexAccepted()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    std::vector<uint8_t> out{0xAA}; // replaced, not appended to
    QVERIFY(parseHexBytes(text.toStdString(), out));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(out.data()), int(out.size())), expected);
}

void TestReportDescriptor::hexRejected_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("one digit") << "0";
    QTest::newRow("odd run") << "05 123";
    QTest::newRow("prefix, one digit") << "0x5";
    QTest::newRow("prefix alone") << "05 0x";
    QTest::newRow("prefix, two bytes") << "0x0600";
    QTest::newRow("not hex") << "05 zz";
    QTest::newRow("semicolon") << "05 01;";
    QTest::newRow("dash") << "05-01";
    QTest::newRow("letter before digits") << "x05";
    QTest::newRow("letter after digits") << "05g";
}

void TestReportDescriptor::hexRejected()
{
    QFETCH(QString, text);
    std::vector<uint8_t> out;
    QVERIFY(!parseHexBytes(text.toStdString(), out));
    QVERIFY(out.empty()); // no half-read bytes to mistake for a result
}

QTEST_APPLESS_MAIN(TestReportDescriptor)

#include "tst_reportdescriptor.moc"
