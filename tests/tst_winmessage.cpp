// SPDX-License-Identifier: MIT
// Windows' device-change messages, decoded from records laid out byte for
// byte as Windows lays them out. Every record sits in an allocation of its
// own exact length, so the sanitizer builds catch any read past it.

#include "khid/kwinmessage.h"

#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace KHID::winmsg;

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
    const quint32 little = qToLittleEndian(value);
    return QByteArray(reinterpret_cast<const char *>(&little), 4);
}

QByteArray utf16le(const std::u16string &units)
{
    QByteArray bytes;
    for (char16_t unit : units)
        bytes.append(char(unit & 0xFF)).append(char(unit >> 8));
    return bytes;
}

// The header, saying `size` bytes, and the name's units without a terminator.
QByteArray record(int size, const std::u16string &name, quint32 type = kInterfaceType)
{
    return dword(quint32(size)) + dword(type) + dword(0) + QByteArray(kHidClassGuid, 16) + utf16le(name);
}

// A record as the system sends it: the name, its terminator, and `padding` more bytes that the size covers.
QByteArray interfaceRecord(const std::u16string &name, int padding = 0, quint32 type = kInterfaceType)
{
    const int size = kNameAt + int(name.size() + 1) * 2 + padding;
    return record(size, name, type) + QByteArray(2, '\0') + QByteArray(padding, 'X');
}

// A record whose size ends the name after `units` units and `extraByte` more bytes. The
// bytes go on with `allocatedUnits` of the path, and a terminator past its end, as a
// reader that ignored the size would find them; the allocation ends with both.
QByteArray sizedRecord(int units, int extraByte, int allocatedUnits)
{
    const int size = kNameAt + units * 2 + extraByte;
    QByteArray bytes = record(size, kHidPath.substr(0, std::size_t(allocatedUnits)));
    if (allocatedUnits > int(kHidPath.size()))
        bytes += QByteArray(2, '\0');
    return bytes.leftJustified(size, '\xEE');
}

// The bytes, `offset` bytes into heap memory that ends where they end.
std::vector<char> exactly(const QByteArray &bytes, int offset = 0)
{
    std::vector<char> memory(std::size_t(offset + bytes.size()));
    std::copy(bytes.begin(), bytes.end(), memory.begin() + offset);
    return memory;
}

} // namespace

class TestWinMessage : public QObject
{
    Q_OBJECT

private slots:
    void interfaceRecords_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("offset"); // -1: no record at all
        QTest::addColumn<QString>("path"); // null: refused
        const QByteArray hid = interfaceRecord(kHidPath);
        const QString path = QString::fromStdU16String(kHidPath);
        const int all = path.size();
        QTest::newRow("as the system sends it") << hid << 0 << path;
        // Windows rounds the size up; what follows the terminator is not the name.
        QTest::newRow("padding after the terminator") << interfaceRecord(kHidPath, 6) << 0 << path;
        QTest::newRow("record at an odd address") << hid << 1 << path;
        const std::u16string other = u"\\\\?\\HID#Souris\u00e9\u4e2d\U0001F5B1#1";
        QTest::newRow("non-ASCII units kept as they are") << interfaceRecord(other) << 0 << QString::fromStdU16String(other);
        QTest::newRow("empty name") << interfaceRecord({}) << 0 << QString("");

        // The size ends the name where no terminator came.
        QTest::newRow("no terminator, record ends with the name") << sizedRecord(all, 0, all) << 0 << path;
        QTest::newRow("no terminator, odd byte at the end") << sizedRecord(all, 1, all) << 0 << path;
        QTest::newRow("size cuts the name short") << sizedRecord(10, 0, all + 1) << 0 << path.left(10);
        QTest::newRow("size cuts a unit in half") << sizedRecord(10, 1, all + 1) << 0 << path.left(10);
        QTest::newRow("size ends where the name begins") << sizedRecord(0, 0, all + 1) << 0 << QString("");
        QTest::newRow("half a unit of name") << sizedRecord(0, 1, 1) << 0 << QString("");

        // Other device types, and sizes that cannot hold the fields read.
        QTest::newRow("devnode") << interfaceRecord(kHidPath, 0, 1) << 0 << QString();
        QTest::newRow("handle") << interfaceRecord(kHidPath, 0, 6) << 0 << QString();
        QTest::newRow("interface type in the high byte") << interfaceRecord(kHidPath, 0, 0x05000000) << 0 << QString();
        QTest::newRow("no record") << QByteArray() << -1 << QString();
        for (int size : {4, 8, 20, 27})
            QTest::addRow("size %d", size) << record(size, kHidPath).left(size) << 0 << QString();
    }

    void interfaceRecords()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, offset);
        QFETCH(QString, path);
        const std::vector<char> memory = exactly(bytes, std::max(offset, 0));
        const void *lParam = offset < 0 ? nullptr : memory.data() + offset;
        // A refused record leaves the result alone.
        const bool decoded = !path.isNull();
        for (quintptr change : {kArrival, kRemoveComplete}) {
            KDeviceChange result{change != kArrival, u"untouched"};
            QCOMPARE(decodeDeviceChange(kDeviceChange, change, lParam, result), decoded);
            QCOMPARE(result.arrival, (change == kArrival) == decoded);
            QCOMPARE(QString::fromStdU16String(result.path), decoded ? path : QString("untouched"));
        }
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
        const std::vector<char> tiny = exactly(QByteArray(1, '\xEE'));
        const std::vector<char> wellFormed = exactly(interfaceRecord(kHidPath));
        for (const void *lParam : std::initializer_list<const void *>{tiny.data(), nullptr, wellFormed.data()}) {
            KDeviceChange change{true, u"untouched"};
            QVERIFY(!decodeDeviceChange(message, wParam, lParam, change));
            QVERIFY(change.arrival);
            QVERIFY(change.path == u"untouched");
        }
    }
};

QTEST_APPLESS_MAIN(TestWinMessage)
#include "tst_winmessage.moc"
