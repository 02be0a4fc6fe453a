// SPDX-License-Identifier: MIT
// Windows' device-change messages, decoded from records laid out byte for
// byte as Windows lays them out. Every record sits in an allocation of its
// own exact length, so the sanitizer builds catch any read past it.

#include "kwinmessage.h"

#include <QtEndian>
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
const char kHidClassGuid[16] = {'\xb2', '\x55', '\x1e', '\x4d', '\xf1', '\x6c', '\xcf', '\x11',
                                '\x88', '\xcb', '\x00', '\x11', '\x11', '\x00', '\x00', '\x30'};

const std::u16string kHidPath =
    u"\\\\?\\HID#VID_1209&PID_0001&MI_00&Col04#8&2f1c3a4b&0&0003#{4d1e55b2-f16f-11cf-88cb-001111000030}";

QByteArray dword(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray header(int size, quint32 type = kInterfaceType)
{
    return dword(quint32(size)) + dword(type) + dword(0) + QByteArray(kHidClassGuid, 16);
}

QByteArray utf16le(const std::u16string &units)
{
    QByteArray bytes;
    for (char16_t unit : units)
        bytes.append(char(unit & 0xFF)).append(char(unit >> 8));
    return bytes;
}

// A record as the system sends it: the name, its terminator, and `padding` more bytes that the size covers.
QByteArray interfaceRecord(const std::u16string &name, int padding = 0)
{
    const int size = kNameAt + int(name.size() + 1) * 2 + padding;
    return header(size) + utf16le(name) + QByteArray(2, '\0') + QByteArray(padding, 'X');
}

// The bytes, `offset` bytes into an allocation that ends where they end.
class Block
{
public:
    explicit Block(const QByteArray &bytes, int offset = 0)
        : mMemory(new unsigned char[std::size_t(offset + bytes.size())])
        , mOffset(offset)
    {
        std::memcpy(mMemory.get() + offset, bytes.constData(), std::size_t(bytes.size()));
    }
    const void *data() const { return mMemory.get() + mOffset; }

private:
    std::unique_ptr<unsigned char[]> mMemory;
    int mOffset;
};

KDeviceChange untouched()
{
    return {true, u"untouched"};
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
    void interfaceChanges_data()
    {
        QTest::addColumn<quintptr>("wParam");
        QTest::addColumn<std::u16string>("name");
        QTest::addColumn<int>("padding");
        QTest::addColumn<int>("offset");
        QTest::addColumn<bool>("arrival");
        QTest::newRow("arrival") << kArrival << kHidPath << 0 << 0 << true;
        QTest::newRow("removal complete") << kRemoveComplete << kHidPath << 0 << 0 << false;
        // Windows rounds the size up; what follows the terminator is not the name.
        QTest::newRow("padding after the terminator") << kArrival << kHidPath << 6 << 0 << true;
        QTest::newRow("record at an odd address") << kRemoveComplete << kHidPath << 0 << 1 << false;
        QTest::newRow("non-ASCII units kept as they are")
            << kArrival << std::u16string(u"\\\\?\\HID#Souris\u00e9\u4e2d\U0001F5B1#1") << 0 << 0 << true;
        QTest::newRow("empty name") << kRemoveComplete << std::u16string() << 0 << 0 << false;
    }

    void interfaceChanges()
    {
        QFETCH(quintptr, wParam);
        QFETCH(std::u16string, name);
        QFETCH(int, padding);
        QFETCH(int, offset);
        QFETCH(bool, arrival);
        const Block record(interfaceRecord(name, padding), offset);
        KDeviceChange change = untouched();
        change.arrival = !arrival;
        QVERIFY(decodeDeviceChange(kDeviceChange, wParam, record.data(), change));
        QCOMPARE(change.arrival, arrival);
        QCOMPARE(QString::fromStdU16String(change.path), QString::fromStdU16String(name));
    }

    void otherMessagesLeaveTheRecordAlone_data()
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

    void otherMessagesLeaveTheRecordAlone()
    {
        QFETCH(quint32, message);
        QFETCH(quintptr, wParam);
        // One byte: reading even the record's size would overrun it. Nor is a
        // well-formed interface record decoded for them.
        const Block tiny(QByteArray(1, '\xEE'));
        const Block record(interfaceRecord(kHidPath));
        for (const void *lParam : {tiny.data(), static_cast<const void *>(nullptr), record.data()}) {
            KDeviceChange change = untouched();
            QVERIFY(!decodeDeviceChange(message, wParam, lParam, change));
            verifyUntouched(change);
        }
    }

    void otherDeviceTypesAndShortRecords_data()
    {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<int>("length"); // declared and allocated; -1: no record
        const int natural = interfaceRecord(kHidPath).size();
        // Other device types, and sizes that cannot hold the fields read.
        QTest::newRow("devnode") << quint32(1) << natural;
        QTest::newRow("handle") << quint32(6) << natural;
        QTest::newRow("interface type in the high byte") << quint32(0x05000000) << natural;
        QTest::newRow("no record") << kInterfaceType << -1;
        QTest::newRow("size 4, only the size field") << kInterfaceType << 4;
        QTest::newRow("size 8, no reserved word") << kInterfaceType << 8;
        QTest::newRow("cut inside the class GUID") << kInterfaceType << 20;
        QTest::newRow("one byte short of the name") << kInterfaceType << 27;
    }

    void otherDeviceTypesAndShortRecords()
    {
        QFETCH(quint32, type);
        QFETCH(int, length);
        const QByteArray full = header(length, type) + utf16le(kHidPath) + QByteArray(2, '\0');
        const Block record(full.left(std::max(length, 0)));
        for (quintptr wParam : {kArrival, kRemoveComplete}) {
            KDeviceChange change = untouched();
            QVERIFY(!decodeDeviceChange(kDeviceChange, wParam, length < 0 ? nullptr : record.data(), change));
            verifyUntouched(change);
        }
    }

    void nameBoundedByTheRecordSize_data()
    {
        QTest::addColumn<int>("declaredUnits");
        QTest::addColumn<int>("extraByte");
        QTest::addColumn<int>("allocatedUnits");
        QTest::addColumn<QString>("path");
        const QString hid = QString::fromStdU16String(kHidPath);
        const int all = hid.size();
        // The size ends the name where no terminator came: the allocation ends there too.
        QTest::newRow("no terminator, record ends with the name") << all << 0 << all << hid;
        QTest::newRow("no terminator, odd byte at the end") << all << 1 << all << hid;
        QTest::newRow("size cuts the name short") << 10 << 0 << all + 1 << hid.left(10);
        QTest::newRow("size cuts a unit in half") << 10 << 1 << all + 1 << hid.left(10);
        QTest::newRow("size ends where the name begins") << 0 << 0 << all + 1 << QString();
        QTest::newRow("half a unit of name") << 0 << 1 << 1 << QString();
    }

    void nameBoundedByTheRecordSize()
    {
        QFETCH(int, declaredUnits);
        QFETCH(int, extraByte);
        QFETCH(int, allocatedUnits);
        QFETCH(QString, path);
        const int declared = kNameAt + declaredUnits * 2 + extraByte;
        // Beyond the declared size the bytes go on with the rest of the path and a
        // terminator, as a reader that ignored the size would find them.
        QByteArray bytes = header(declared) + utf16le(kHidPath.substr(0, std::size_t(allocatedUnits)));
        if (allocatedUnits > int(kHidPath.size()))
            bytes += QByteArray(2, '\0');
        const Block record(bytes.leftJustified(declared, '\xEE'));
        KDeviceChange change = untouched();
        QVERIFY(decodeDeviceChange(kDeviceChange, kArrival, record.data(), change));
        QVERIFY(change.arrival);
        QCOMPARE(QString::fromStdU16String(change.path), path);
    }
};

QTEST_APPLESS_MAIN(TestWinMessage)
#include "tst_winmessage.moc"
