// SPDX-License-Identifier: MIT
// Windows' device-change messages, decoded from records laid out byte for
// byte as Windows lays them out. Every record sits in an allocation of its
// own exact length, so the sanitizer builds catch any read past it.

#include "kwinmessage.h"

#include <QtTest>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

using namespace KHID::winmsg;

Q_DECLARE_METATYPE(std::u16string)

namespace {

constexpr quint32 kDeviceChange = 0x0219;
constexpr quintptr kArrival = 0x8000;
constexpr quintptr kRemoveComplete = 0x8004;
constexpr quint32 kInterfaceType = 5;

// DEV_BROADCAST_DEVICEINTERFACE_W: DWORD size at 0, DWORD device type at 4,
// DWORD reserved at 8, the class GUID at 12..27, UTF-16LE name from 28.
constexpr int kNameAt = 28;

// The HID interface class, as it stands in dbcc_classguid.
const unsigned char kHidClassGuid[16] = {0xb2, 0x55, 0x1e, 0x4d, 0xf1, 0x6c, 0xcf, 0x11,
                                         0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};

const char16_t kHidPath[] =
    u"\\\\?\\HID#VID_1209&PID_0001&MI_00&Col04#8&2f1c3a4b&0&0003#{4d1e55b2-f16f-11cf-88cb-001111000030}";

class Record
{
public:
    // `length` bytes from `offset` into a block of exactly offset + length bytes.
    Record(int length, int offset = 0)
        : mBlock(new unsigned char[std::size_t(offset + length)])
        , mOffset(offset)
        , mLength(length)
    {
        std::memset(mBlock.get(), 0xEE, std::size_t(offset + length));
    }

    // A record as the system sends it: the name, its terminator, and `padding`
    // more bytes that the size covers.
    static Record interface(const std::u16string &name, quint32 type = kInterfaceType, int padding = 0,
                            int offset = 0)
    {
        const int size = kNameAt + int(name.size() + 1) * 2 + padding;
        Record r(size, offset);
        r.header(quint32(size), type);
        r.name(name, true);
        return r;
    }

    void dword(int at, quint32 value)
    {
        for (int i = 0; i < 4; ++i)
            byte(at + i) = static_cast<unsigned char>(value >> (8 * i));
    }

    void header(quint32 size, quint32 type)
    {
        dword(0, size);
        dword(4, type);
        dword(8, 0);
        if (mLength >= kNameAt)
            std::memcpy(data() + 12, kHidClassGuid, sizeof kHidClassGuid);
    }

    void name(const std::u16string &units, bool terminated)
    {
        int at = kNameAt;
        for (char16_t unit : units) {
            byte(at++) = static_cast<unsigned char>(unit & 0xFF);
            byte(at++) = static_cast<unsigned char>(unit >> 8);
        }
        if (terminated) {
            byte(at++) = 0;
            byte(at++) = 0;
        }
    }

    unsigned char &byte(int at)
    {
        Q_ASSERT(at >= 0 && at < mLength);
        return data()[at];
    }
    unsigned char *data() { return mBlock.get() + mOffset; }

private:
    std::unique_ptr<unsigned char[]> mBlock;
    int mOffset;
    int mLength;
};

KDeviceChange untouched()
{
    KDeviceChange change;
    change.arrival = true;
    change.path = u"untouched";
    return change;
}

void verifyUntouched(const KDeviceChange &change)
{
    QVERIFY(change.arrival);
    QVERIFY(change.path == u"untouched");
}

} // namespace

class TestWinMessage : public QObject
{
    Q_OBJECT

private slots:
    void interfaceChanges_data();
    void interfaceChanges();
    void otherMessagesLeaveTheRecordAlone_data();
    void otherMessagesLeaveTheRecordAlone();
    void otherDeviceTypesAndShortRecords_data();
    void otherDeviceTypesAndShortRecords();
    void nameBoundedByTheRecordSize_data();
    void nameBoundedByTheRecordSize();
};

void TestWinMessage::interfaceChanges_data()
{
    QTest::addColumn<quintptr>("wParam");
    QTest::addColumn<std::u16string>("name");
    QTest::addColumn<int>("padding");
    QTest::addColumn<int>("offset");
    QTest::addColumn<bool>("arrival");

    const std::u16string hid = kHidPath;
    QTest::newRow("arrival") << kArrival << hid << 0 << 0 << true;
    QTest::newRow("removal complete") << kRemoveComplete << hid << 0 << 0 << false;
    // Windows rounds the size up; what follows the terminator is not the name.
    QTest::newRow("padding after the terminator") << kArrival << hid << 6 << 0 << true;
    QTest::newRow("record at an odd address") << kRemoveComplete << hid << 0 << 1 << false;
    QTest::newRow("non-ASCII units kept as they are")
        << kArrival << std::u16string(u"\\\\?\\HID#Souris\u00e9\u4e2d\U0001F5B1#1") << 0 << 0 << true;
    QTest::newRow("empty name") << kRemoveComplete << std::u16string() << 0 << 0 << false;
}

void TestWinMessage::interfaceChanges()
{
    QFETCH(quintptr, wParam);
    QFETCH(std::u16string, name);
    QFETCH(int, padding);
    QFETCH(int, offset);
    QFETCH(bool, arrival);

    Record record = Record::interface(name, kInterfaceType, padding, offset);
    if (padding > 0)
        record.byte(kNameAt + int(name.size() + 1) * 2) = 'X';
    KDeviceChange change = untouched();
    change.arrival = !arrival;
    QVERIFY(decodeDeviceChange(kDeviceChange, wParam, record.data(), change));
    QCOMPARE(change.arrival, arrival);
    QCOMPARE(QString::fromStdU16String(change.path), QString::fromStdU16String(name));
}

void TestWinMessage::otherMessagesLeaveTheRecordAlone_data()
{
    QTest::addColumn<quint32>("message");
    QTest::addColumn<quintptr>("wParam");

    QTest::newRow("WM_POWERBROADCAST") << quint32(0x0218) << kArrival;
    QTest::newRow("0x0219 plus 0x10000") << quint32(0x10219) << kArrival;
    QTest::newRow("devices changed") << kDeviceChange << quintptr(0x0007);
    QTest::newRow("query remove") << kDeviceChange << quintptr(0x8001);
    QTest::newRow("type specific") << kDeviceChange << quintptr(0x8005);
    if (sizeof(quintptr) > 4)
        QTest::newRow("arrival in the high half") << kDeviceChange << quintptr(quint64(1) << 32 | 0x8000);
}

void TestWinMessage::otherMessagesLeaveTheRecordAlone()
{
    QFETCH(quint32, message);
    QFETCH(quintptr, wParam);

    // One byte: reading even the record's size would overrun it.
    Record tiny(1);
    KDeviceChange change = untouched();
    QVERIFY(!decodeDeviceChange(message, wParam, tiny.data(), change));
    verifyUntouched(change);

    QVERIFY(!decodeDeviceChange(message, wParam, nullptr, change));
    verifyUntouched(change);

    // Even a well-formed interface record is not decoded for them.
    Record record = Record::interface(kHidPath);
    QVERIFY(!decodeDeviceChange(message, wParam, record.data(), change));
    verifyUntouched(change);
}

void TestWinMessage::otherDeviceTypesAndShortRecords_data()
{
    QTest::addColumn<quint32>("declaredSize");
    QTest::addColumn<quint32>("type");
    QTest::addColumn<int>("length");

    const int natural = kNameAt + int(std::char_traits<char16_t>::length(kHidPath) + 1) * 2;
    // Other device types, and sizes that cannot hold the fields read.
    QTest::newRow("devnode") << quint32(natural) << quint32(1) << natural;
    QTest::newRow("handle") << quint32(natural) << quint32(6) << natural;
    QTest::newRow("interface type in the high byte") << quint32(natural) << quint32(0x05000000) << natural;
    QTest::newRow("no record") << quint32(0) << kInterfaceType << -1;
    QTest::newRow("size 4, only the size field") << quint32(4) << kInterfaceType << 4;
    QTest::newRow("size 8, no reserved word") << quint32(8) << kInterfaceType << 8;
    QTest::newRow("cut inside the class GUID") << quint32(20) << kInterfaceType << 20;
    QTest::newRow("one byte short of the name") << quint32(27) << kInterfaceType << 27;
}

void TestWinMessage::otherDeviceTypesAndShortRecords()
{
    QFETCH(quint32, declaredSize);
    QFETCH(quint32, type);
    QFETCH(int, length);

    Record record(std::max(length, 0));
    if (length >= 4)
        record.dword(0, declaredSize);
    if (length >= 8)
        record.dword(4, type);
    if (length >= kNameAt + 2)
        record.name(std::u16string(kHidPath).substr(0, std::size_t(length - kNameAt) / 2 - 1), true);
    const void *lParam = length < 0 ? nullptr : record.data();

    for (quintptr wParam : {kArrival, kRemoveComplete}) {
        KDeviceChange change = untouched();
        QVERIFY(!decodeDeviceChange(kDeviceChange, wParam, lParam, change));
        verifyUntouched(change);
    }
}

void TestWinMessage::nameBoundedByTheRecordSize_data()
{
    QTest::addColumn<int>("declaredUnits");
    QTest::addColumn<int>("extraByte");
    QTest::addColumn<int>("allocatedUnits");
    QTest::addColumn<QString>("path");

    const QString hid = QString::fromUtf16(kHidPath);
    const int all = hid.size();
    // The size ends the name where no terminator came: the allocation ends there too.
    QTest::newRow("no terminator, record ends with the name") << all << 0 << all << hid;
    QTest::newRow("no terminator, odd byte at the end") << all << 1 << all << hid;
    QTest::newRow("size cuts the name short") << 10 << 0 << all + 1 << hid.left(10);
    QTest::newRow("size cuts a unit in half") << 10 << 1 << all + 1 << hid.left(10);
    QTest::newRow("size ends where the name begins") << 0 << 0 << all + 1 << QString();
    QTest::newRow("half a unit of name") << 0 << 1 << 1 << QString();
}

void TestWinMessage::nameBoundedByTheRecordSize()
{
    QFETCH(int, declaredUnits);
    QFETCH(int, extraByte);
    QFETCH(int, allocatedUnits);
    QFETCH(QString, path);

    const std::u16string full = kHidPath;
    const int declared = kNameAt + declaredUnits * 2 + extraByte;
    const int allocated = std::max(declared, kNameAt + allocatedUnits * 2);
    Record record(allocated);
    record.header(quint32(declared), kInterfaceType);
    // Beyond the declared size the bytes go on with the rest of the path and a
    // terminator, as a reader that ignored the size would find them.
    record.name(full.substr(0, std::size_t(allocatedUnits)), allocatedUnits > int(full.size()));

    KDeviceChange change = untouched();
    QVERIFY(decodeDeviceChange(kDeviceChange, kArrival, record.data(), change));
    QVERIFY(change.arrival);
    QCOMPARE(QString::fromStdU16String(change.path), path);
}

QTEST_APPLESS_MAIN(TestWinMessage)
#include "tst_winmessage.moc"
