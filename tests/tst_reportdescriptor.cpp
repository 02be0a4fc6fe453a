// SPDX-License-Identifier: MIT
#include "khid/kreportdescriptor.h"

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
    return parseReportDescriptor(reinterpret_cast<const uint8_t *>(d.constData()), std::size_t(d.size()));
}

QString dataDir()
{
    return QString::fromLocal8Bit(qgetenv("BONDARA_TEST_DATA")) + QStringLiteral("/descriptors");
}

// A corpus file read through parseHexBytes, as the tools do; empty when that fails.
QByteArray corpus(const QString &name)
{
    QFile f(dataDir() + QLatin1Char('/') + name);
    std::vector<uint8_t> out;
    if (!f.open(QIODevice::ReadOnly) || !parseHexBytes(f.readAll().toStdString(), out))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(out.data()), int(out.size()));
}

} // namespace

class TestReportDescriptor : public QObject {
    Q_OBJECT

private slots:
    // Each top-level collection as "page:usage in/out/feature" report lengths, then its feature values' report IDs.
    void collections_data()
    {
        QTest::addColumn<QByteArray>("d");
        QTest::addColumn<bool>("reportIds");
        QTest::addColumn<QStringList>("described");
        QVERIFY2(QDir(dataDir()).entryList({"*.hex"}, QDir::Files).size() >= 5, qPrintable("no corpus in " + dataDir()));
        QTest::newRow("boot mouse") << corpus("boot-mouse.hex") << false << QStringList{"0001:0002 4/0/0"};
        QTest::newRow("boot keyboard") << corpus("boot-keyboard.hex") << false << QStringList{"0001:0006 9/2/0"};
        QTest::newRow("receiver") << corpus("receiver.hex") << true
                                  << QStringList{"0001:0006 9/2/0", "0001:0002 8/0/0", "000c:0001 5/0/0", "ff00:0001 32/32/0"};
        QTest::newRow("gaming mouse") << corpus("gaming-mouse.hex") << true
                                      << QStringList{"0001:0002 7/0/0", "ff01:0002 0/0/64 ids 4 5 6 6 7"};
        QTest::newRow("gamepad") << corpus("gamepad.hex") << false << QStringList{"0001:0005 10/3/0"};
        // Inline: which usage a collection takes.
        QTest::newRow("first usage wins") << bytes("05 01 09 02 09 01 a1 01 c0") << false << QStringList{"0001:0002 0/0/0"};
        QTest::newRow("four-byte usage") << bytes("0b e9 00 0c 00 a1 01 c0") << false << QStringList{"000c:00e9 0/0/0"};
        QTest::newRow("four-byte overrides page")
            << bytes("05 01 0b 38 02 0c 00 a1 01 c0") << false << QStringList{"000c:0238 0/0/0"};
        QTest::newRow("range gives its minimum")
            << bytes("06 00 ff 19 05 29 09 a1 01 c0") << false << QStringList{"ff00:0005 0/0/0"};
        QTest::newRow("nested") << bytes("05 01 09 02 a1 01 09 01 a1 00 c0 c0") << false << QStringList{"0001:0002 0/0/0"};
    }

    void collections()
    {
        QFETCH(QByteArray, d);
        QFETCH(bool, reportIds);
        QFETCH(QStringList, described);
        const KReportDescriptor r = parse(d);
        QVERIFY2(r.ok, r.error.c_str());
        QVERIFY(r.error.empty());
        QCOMPARE(r.usesReportIds, reportIds);
        QStringList got;
        for (const KTopCollection &t : r.collections) {
            const KHidCaps &c = t.caps;
            QString text = QString::asprintf("%04x:%04x %d/%d/%d", c.UsagePage, c.Usage, c.InputReportByteLength,
                                             c.OutputReportByteLength, c.FeatureReportByteLength);
            for (std::size_t i = 0; i < t.featureValueCaps.size(); ++i)
                text += (i ? " " : " ids ") + QString::number(t.featureValueCaps[i].ReportID);
            got << text;
        }
        QCOMPARE(got, described);
    }

    // The input report length of each top-level collection, or the reason the descriptor is refused.
    void parsing_data()
    {
        QTest::addColumn<QByteArray>("d");
        QTest::addColumn<QString>("result");
        const auto app = [](const char *items) { return bytes("05 01 09 00 a1 01") + bytes(items) + bytes("c0"); };
        QTest::newRow("one bit") << app("75 01 95 01 81 02") << "2";
        QTest::newRow("nine bits") << app("75 09 95 01 81 02") << "3";
        // ID 1 gets 8 + 4 bytes although ID 2 comes between.
        QTest::newRow("interleaved ids add up")
            << app("75 08 85 01 95 08 81 02 85 02 95 0a 81 02 85 01 95 04 81 02") << "13";
        QTest::newRow("padding counts") << app("75 08 95 01 81 02 81 03") << "3";
        QTest::newRow("just below the clamp") << app("75 08 96 fd ff 81 02") << "65534";
        QTest::newRow("one over the clamp") << app("75 08 96 ff ff 81 02") << "65535";
        // 2^32 bits: zero if multiplied in 32 bits.
        QTest::newRow("product past 32 bits") << app("77 00 00 01 00 97 00 00 01 00 81 02") << "65535";
        // 2^64 + 8 bits: wrapping would leave 8 bits.
        QTest::newRow("sum past 64 bits")
            << app("77 ff ff ff ff 97 ff ff ff ff 81 02 95 02 81 02 75 09 95 01 81 02") << "65535";
        QTest::newRow("zero count") << app("75 08 95 00 81 02") << "1";
        QTest::newRow("no input item") << app("75 08 95 01 91 02") << "0";
        QTest::newRow("pop restores size and count")
            << bytes("a1 01 75 08 95 02 a4 75 01 95 03 81 02 b4 81 02 c0") << "4";
        QTest::newRow("pop restores the report id")
            << bytes("a1 01 75 08 85 01 a4 85 02 95 01 81 02 b4 95 02 81 02 c0") << "3";
        // Both use ID 0, yet each has its own reports.
        QTest::newRow("collections counted apart")
            << bytes("a1 01 75 08 95 08 09 30 81 02 c0 a1 01 75 01 95 08 19 01 29 08 81 02 c0") << "9 2";
        QTest::newRow("items outside collections ignored")
            << bytes("75 08 95 08 81 02 a1 01 95 01 81 02 c0 95 04 b1 02") << "2";
        // A long item whose data looks like End Collections, unknown global, local and main tags.
        QTest::newRow("long and unknown items skipped")
            << bytes("a1 01 fe 04 10 c0 c0 c0 c0 c5 07 b9 03 d1 08 0d 22 75 08 95 02 81 02 fe 00 20 c0") << "3";
        QTest::newRow("32 levels, the deepest allowed")
            << bytes("a1 00").repeated(32) + bytes("c0").repeated(32) << "0";
        QTest::newRow("1024 usages")
            << bytes("a1 01 75 08 96 00 04") + bytes("09 01").repeated(1024) + bytes("81 02 c0") << "1025";
        QTest::newRow("16 pushes") << bytes("a4").repeated(16) + bytes("b4").repeated(16) + bytes("a1 01 c0") << "0";
        QTest::newRow("empty") << QByteArray() << "";

        const QByteArray open = bytes("05 01 09 02 a1 01");
        QTest::newRow("short item cut") << open + bytes("75") << "refused: truncated short item";
        QTest::newRow("four-byte item cut") << open + bytes("27 ff ff") << "refused: truncated short item";
        QTest::newRow("long item data cut") << open + bytes("fe 05 00 01 02") << "refused: truncated long item";
        QTest::newRow("long item header cut") << open + bytes("fe 00") << "refused: truncated long item";
        QTest::newRow("end without collection") << bytes("c0") << "refused: end collection without collection";
        QTest::newRow("one end too many") << bytes("a1 01 c0 c0") << "refused: end collection without collection";
        QTest::newRow("unclosed") << bytes("a1 01 a1 00 c0") << "refused: collection not closed";
        QTest::newRow("pop without push") << bytes("b4") << "refused: pop without push";
        QTest::newRow("pop past pushes") << bytes("a4 b4 b4") << "refused: pop without push";
        QTest::newRow("17 pushes") << bytes("a4").repeated(17) << "refused: too many pushes";
        QTest::newRow("report id 0") << open + bytes("85 00 c0") << "refused: report ID 0";
        QTest::newRow("report id 256") << open + bytes("86 00 01 c0") << "refused: report ID above 255";
        QTest::newRow("33 levels") << bytes("a1 00").repeated(33) + bytes("c0").repeated(33)
                                   << "refused: collections nested too deeply";
        QTest::newRow("1025 usages") << bytes("09 01").repeated(1025) + bytes("a1 01 c0") << "refused: too many usages";
        // An unpaired minimum still counts when the main item takes it.
        QTest::newRow("1024 usages and a minimum")
            << bytes("09 01").repeated(1024) + bytes("19 01 a1 01 c0") << "refused: too many usages";
        // An error after a complete collection must not leave that collection behind.
        QTest::newRow("error after a collection") << bytes("a1 01 c0 a1 01 75") << "refused: truncated short item";
    }

    void parsing()
    {
        QFETCH(QByteArray, d);
        QFETCH(QString, result);
        const KReportDescriptor r = parse(d);
        QStringList lengths;
        for (const KTopCollection &c : r.collections)
            lengths << QString::number(c.caps.InputReportByteLength);
        const QString got = r.ok ? lengths.join(' ') : "refused: " + QString::fromStdString(r.error);
        // A reason may go on to say where; nothing of a refused descriptor is kept.
        QVERIFY2(r.ok ? got == result : result.startsWith("refused: ") && got.startsWith(result), qPrintable(got));
        QVERIFY(r.ok || lengths.isEmpty());
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
