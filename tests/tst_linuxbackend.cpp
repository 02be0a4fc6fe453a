// SPDX-License-Identifier: MIT
#include "khid/kplatform.h"
#include "khid/kplatform_linux.h"

#include <QtTest>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

using namespace KHID;
using namespace KHID::linuxhid;

namespace {

// The hidraw nodes sysfs shows right now.
std::set<unsigned> sysfsNodes()
{
    std::set<unsigned> nodes;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/sys/class/hidraw", ec)) {
        unsigned node = 0;
        if (parseNodeName(entry.path().filename().string(), node))
            nodes.insert(node);
    }
    return nodes;
}

// A node no device has: the kernel numbers hidraw nodes far below this.
const QString kAbsentNode = QStringLiteral("/dev/hidraw900000");

// A system.posix_acl_access value: version 2, then (tag, permissions, id) entries.
QByteArray acl(std::initializer_list<std::array<uint32_t, 3>> entries, uint32_t version = 2)
{
    QByteArray bytes;
    auto put = [&](uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes.append(char((value >> (8 * i)) & 0xFF));
    };
    put(version, 4);
    for (const auto &entry : entries) {
        put(entry[0], 2);
        put(entry[1], 2);
        put(entry[2], 4);
    }
    return bytes;
}

} // namespace

class TestLinuxBackend : public QObject {
    Q_OBJECT

private slots:
    void aclNamesUser_data()
    {
        QTest::addColumn<QByteArray>("xattr");
        QTest::addColumn<QString>("result"); // "grants", "denies" or "unparsed"
        // Tags: 1 owner, 2 named user, 4 owning group, 0x10 mask, 0x20 others; uid 1000 asks.
        QTest::newRow("rw for the user")
            << acl({{1, 6, 0xFFFFFFFF}, {2, 6, 1000}, {4, 6, 0xFFFFFFFF}, {0x10, 6, 0xFFFFFFFF}}) << "grants";
        QTest::newRow("read only for the user") << acl({{1, 6, 0xFFFFFFFF}, {2, 4, 1000}}) << "denies";
        QTest::newRow("the uid as a group") << acl({{8, 6, 1000}}) << "denies";
        QTest::newRow("no entries") << acl({}) << "denies";
        QTest::newRow("wrong version") << acl({{2, 6, 1000}}, 1) << "unparsed";
        QTest::newRow("cut entry") << acl({{2, 6, 1000}}).chopped(1) << "unparsed";
        QTest::newRow("empty") << QByteArray() << "unparsed";
    }

    void aclNamesUser()
    {
        QFETCH(QByteArray, xattr);
        QFETCH(QString, result);
        bool granted = true;
        const bool parsed = linuxhid::aclNamesUser(std::string_view(xattr.constData(), xattr.size()), 1000, granted);
        QCOMPARE(QString(parsed ? (granted ? "grants" : "denies") : "unparsed"), result);
    }

    void sessionAndSandbox_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("sandbox");
        QTest::addColumn<QString>("levels"); // session, sandbox
        QTest::newRow("wayland desktop") << "wayland" << "" << "ok ok";
        QTest::newRow("tty") << "tty" << "" << "warning ok";
        QTest::newRow("over ssh, no session") << "" << "" << "warning ok";
        QTest::newRow("flatpak") << "wayland" << "Flatpak" << "ok warning";
        QTest::newRow("snap, x11") << "x11" << "Snap" << "ok warning";
    }

    void sessionAndSandbox()
    {
        QFETCH(QString, type);
        QFETCH(QString, sandbox);
        QFETCH(QString, levels);
        const std::vector<KCheck> checks = sessionChecks({type.toStdString(), sandbox == "Flatpak", sandbox == "Snap"});
        QStringList got;
        for (const KCheck &check : checks) {
            got << (check.level == KCheck::Ok ? "ok" : "warning");
            // Every warning carries its fix; an ok none.
            QCOMPARE(check.fix.empty(), check.level == KCheck::Ok);
        }
        QCOMPARE(got.join(' '), levels);
        // The warning names the sandbox.
        QVERIFY(checks[1].text.find(sandbox.toStdString()) != std::string::npos);
    }

    // The sysfs fields HID_ID (bus:vendor:product) and bcdDevice.
    void sysfsFields_data()
    {
        QTest::addColumn<bool>("hidId");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed"); // empty when refused
        QTest::newRow("usb") << true << "0003:00001209:00000001" << "3 1209 1";
        QTest::newRow("short fields") << true << "3:1209:1" << "3 1209 1";
        QTest::newRow("id empty") << true << "" << "";
        QTest::newRow("two fields") << true << "0003:00001209" << "";
        QTest::newRow("id not hex") << true << "0003:0000120G:00000001" << "";
        QTest::newRow("id prefix 0x") << true << "0003:0x1209:00000001" << "";
        QTest::newRow("vendor past 16 bits") << true << "0003:00011209:00000001" << "";
        QTest::newRow("overflowing digits") << true << "0003:FFFFFFFFFFFF1209:00000001" << "";
        QTest::newRow("bcd") << false << "0110" << "110";
        QTest::newRow("bcd with newline") << false << "1201\n" << "1201";
        QTest::newRow("bcd one digit") << false << "7" << "7";
        QTest::newRow("bcd five digits") << false << "10000" << "";
        QTest::newRow("bcd leading space") << false << " 110" << "";
    }

    void sysfsFields()
    {
        QFETCH(bool, hidId);
        QFETCH(QString, text);
        QFETCH(QString, parsed);
        // A refused field must not leak a half-parsed value into the attributes.
        HidId id{0x7777, 0x7777, 0x7777};
        uint16_t version = 0x7777;
        const bool ok = hidId ? parseHidId(text.toStdString(), id) : parseBcdDevice(text.toStdString(), version);
        QCOMPARE(ok, !parsed.isEmpty());
        const QString got = hidId ? QString("%1 %2 %3").arg(id.bus, 0, 16).arg(id.vendor, 0, 16).arg(id.product, 0, 16)
                                  : QString::number(version, 16);
        QCOMPARE(got, ok ? parsed : hidId ? "7777 7777 7777" : "7777");
    }

    void interfacePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("node"); // -1: refused
        QTest::addColumn<int>("collection");
        QTest::addColumn<int>("collections");
        QTest::newRow("single collection") << "/dev/hidraw3" << 3 << 0 << 1;
        QTest::newRow("unparsed descriptor") << "/dev/hidraw0" << 0 << 0 << 0;
        QTest::newRow("second of two") << "/dev/hidraw12#col02" << 12 << 1 << 2;
        QTest::newRow("tenth") << "/dev/hidraw1#col10" << 1 << 9 << 12;
        QTest::newRow("hundredth") << "/dev/hidraw7#col100" << 7 << 99 << 120;
        QTest::newRow("empty") << "" << -1 << 0 << 0;
        QTest::newRow("other directory") << "/dev/input/hidraw3" << -1 << 0 << 0;
        QTest::newRow("no number") << "/dev/hidraw" << -1 << 0 << 0;
        QTest::newRow("leading zero") << "/dev/hidraw03" << -1 << 0 << 0;
        QTest::newRow("trailing slash") << "/dev/hidraw3/" << -1 << 0 << 0;
        QTest::newRow("huge node") << "/dev/hidraw99999999999999999999" << -1 << 0 << 0;
        QTest::newRow("bare hash") << "/dev/hidraw3#" << -1 << 0 << 0;
        QTest::newRow("collection zero") << "/dev/hidraw3#col00" << -1 << 0 << 0;
        QTest::newRow("one digit") << "/dev/hidraw3#col2" << -1 << 0 << 0;
        QTest::newRow("padded to three") << "/dev/hidraw3#col002" << -1 << 0 << 0;
        QTest::newRow("two suffixes") << "/dev/hidraw3#col02#col03" << -1 << 0 << 0;
    }

    void interfacePath()
    {
        QFETCH(QString, path);
        QFETCH(int, node);
        QFETCH(int, collection);
        QFETCH(int, collections);
        InterfacePath split;
        split.node = 4242;
        if (node < 0) {
            QVERIFY(!splitInterfacePath(path.toStdString(), split));
            QCOMPARE(split.node, 4242u);
            return;
        }
        const std::string composed = composeInterfacePath(unsigned(node), std::size_t(collection), std::size_t(collections));
        QCOMPARE(QString::fromStdString(composed), path);
        // open() must find the same node and collection again.
        QVERIFY(splitInterfacePath(composed, split));
        QCOMPARE(int(split.node), node);
        QCOMPARE(int(split.collection), collection);
        QCOMPARE(split.hasCollection, collections > 1);
    }

    void listingOrder()
    {
        // Numeric order, not the text order that puts hidraw10 before hidraw2.
        const std::vector<std::string> paths = listInterfacePaths({{10, 1}, {2, 3}, {0, 0}, {1, 2}});
        QCOMPARE(paths, (std::vector<std::string>{"/dev/hidraw0", "/dev/hidraw1#col01", "/dev/hidraw1#col02",
                                                  "/dev/hidraw2#col01", "/dev/hidraw2#col02", "/dev/hidraw2#col03",
                                                  "/dev/hidraw10"}));
        QVERIFY(listInterfacePaths({}).empty());
    }

    void utf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        const QChar r(0xFFFD);
        QTest::newRow("ascii") << QByteArray("Nano Receiver") << "Nano Receiver";
        QTest::newRow("two bytes") << QByteArray("Souris \xC3\xA9t\xC3\xA9") << QString::fromUtf16(u"Souris \u00E9t\u00E9");
        QTest::newRow("four bytes") << QByteArray("a\xF0\x9F\x98\x80z") << QString::fromUtf16(u"a\xD83D\xDE00z");
        QTest::newRow("lone continuation") << QByteArray("a\x80z") << (QString("a") + r + "z");
        QTest::newRow("overlong two bytes") << QByteArray("\xC0\xAF") << QString(2, r);
        QTest::newRow("overlong four bytes") << QByteArray("\xF0\x8F\xBF\xBF") << QString(4, r);
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << QString(3, r);
        QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << QString(4, r);
        QTest::newRow("truncated at end") << QByteArray("ab\xE2\x82") << (QString("ab") + r);
        // The byte that cuts a sequence short is decoded on its own.
        QTest::newRow("cut by ascii") << QByteArray("\xE2\x82z") << (QString(r) + "z");
        QTest::newRow("cut by a lead byte") << QByteArray("\xE2\xC3\xA9") << (QString(r) + QChar(0xE9));
        QTest::newRow("extra continuation") << QByteArray("\xC3\xA9\xA9") << (QString(QChar(0xE9)) + r);
    }

    void utf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdU16String(utf8ToUtf16(bytes.toStdString())), text);
    }

    void productStringBound_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("units");
        QTest::addColumn<bool>("terminated");
        const int full = int(kProductStringBytes);
        const QString emoji = QString::fromUtf16(u"\xD83D\xDE00");
        QTest::newRow("short") << "Receiver" << full << 0 << 8 << true;
        QTest::newRow("too long") << QString(70, 'b') << full << 0 << 64 << false;
        QTest::newRow("odd byte count") << QString(70, 'c') << full - 1 << 0 << 63 << false;
        QTest::newRow("unaligned buffer") << "Receiver" << full << 1 << 8 << true;
        QTest::newRow("pair that fits") << (QString(62, 'd') + emoji) << full << 0 << 64 << false;
        QTest::newRow("pair cut by the end") << (QString(63, 'e') + emoji) << full << 0 << 63 << true;
        QTest::newRow("no bytes") << "Receiver" << 0 << 0 << 0 << false;
    }

    void productStringBound()
    {
        QFETCH(QString, text);
        QFETCH(int, bytes);
        QFETCH(int, offset);
        QFETCH(int, units);
        QFETCH(bool, terminated);
        // Every byte outside the text and its terminator keeps the guard value.
        std::vector<uint8_t> memory(std::size_t(offset + bytes + 32), 0xAA);
        std::vector<uint8_t> expected = memory;
        std::memcpy(expected.data() + offset, text.utf16(), std::size_t(units) * 2);
        if (terminated)
            std::memset(expected.data() + offset + units * 2, 0, 2);
        QCOMPARE(int(copyUtf16(text.toStdU16String(), memory.data() + offset, std::size_t(bytes))), units);
        QCOMPARE(memory, expected);
    }

    void valueCapsCopy_data()
    {
        QTest::addColumn<int>("available");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<bool>("nullBuffer");
        QTest::addColumn<int>("written");
        QTest::addColumn<uint>("status");
        const int most = int(kFeatureValueCapsCapacity);
        QTest::newRow("room to spare") << 3 << most << false << 3 << kHidpStatusSuccess;
        QTest::newRow("one too many") << 3 << 2 << false << 2 << kHidpStatusBufferTooSmall;
        QTest::newRow("more than the query's capacity") << most + 2 << most << false << most << kHidpStatusBufferTooSmall;
        QTest::newRow("none to copy") << 0 << 4 << false << 0 << kHidpStatusSuccess;
        QTest::newRow("no buffer") << 2 << 4 << true << 0 << kHidpStatusBufferTooSmall;
    }

    void valueCapsCopy()
    {
        QFETCH(int, available);
        QFETCH(int, capacity);
        QFETCH(bool, nullBuffer);
        QFETCH(int, written);
        QFETCH(uint, status);
        std::vector<KHidValueCaps> all(static_cast<std::size_t>(available));
        for (int i = 0; i < available; ++i)
            all[std::size_t(i)].ReportID = uint8_t(0x10 + i);
        std::vector<KHidValueCaps> out(std::size_t(capacity) + 1);
        for (KHidValueCaps &c : out)
            c.ReportID = 0xEE;
        uint16_t count = uint16_t(capacity);
        QCOMPARE(copyValueCaps(all, nullBuffer ? nullptr : out.data(), count), status);
        QCOMPARE(int(count), written);
        QVERIFY(!written || std::memcmp(out.data(), all.data(), std::size_t(written) * sizeof(KHidValueCaps)) == 0);
        for (std::size_t i = std::size_t(written); i < out.size(); ++i)
            QCOMPARE(int(out[i].ReportID), 0xEE);
    }

    void descriptorFile()
    {
        QTemporaryDir dir;
        // Descriptors are binary: NUL bytes are data, not an end.
        const QByteArray vendor = QByteArray::fromHex("0600ff0901a1010901150026ff007508954081020901910200c0");
        const std::pair<const char *, QByteArray> files[] = {
            {"vendor", vendor}, {"largest", QByteArray(4096, '\x05')}, {"oversized", QByteArray(4097, '\x05')}, {"empty", {}}};
        for (const auto &[name, content] : files) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
        }
        const auto path = [&](const char *name) { return dir.filePath(name).toStdString(); };
        std::vector<uint8_t> bytes;
        std::string error;
        QVERIFY2(readDescriptorFile(path("vendor"), bytes, &error), error.c_str());
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())), vendor);
        QVERIFY2(readDescriptorFile(path("largest"), bytes, &error), error.c_str());
        QCOMPARE(bytes.size(), std::size_t(4096));
        for (const char *name : {"oversized", "empty", ".", "missing"}) {
            error.clear();
            QVERIFY2(!readDescriptorFile(path(name), bytes, &error), name);
            QVERIFY2(!error.empty(), name);
            QVERIFY2(bytes == std::vector<uint8_t>(4096, 0x05), name);
        }
        QCOMPARE(QString::fromStdString(error), QString::fromLocal8Bit(std::strerror(ENOENT)));
        QVERIFY(!readDescriptorFile(path("oversized"), bytes, nullptr));
    }

    void openFailsWithReason_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("absent");
        QTest::newRow("absent node") << kAbsentNode << true;
        QTest::newRow("absent node, collection") << (kAbsentNode + "#col02") << true;
        // Files that open fine but are no HID interface.
        QTest::newRow("other device") << "/dev/null" << false;
        QTest::newRow("null after the node") << QString::fromUtf16(u"/dev/null\0#col02", 16) << false;
        QTest::newRow("non-ascii") << QString::fromUtf16(u"/dev/hidraw\u0661") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void openFailsWithReason()
    {
        QFETCH(QString, path);
        QFETCH(bool, absent);
        const std::unique_ptr<KHidPlatform> backend = makeNativePlatform();
        for (KOpenMode mode : {KOpenMode::Query, KOpenMode::Write, KOpenMode::Read}) {
            std::string reason;
            const KHandle handle = backend->open(path.toStdU16String(), mode, &reason);
            if (handle != kInvalidHandle)
                backend->closeHandle(handle);
            QCOMPARE(handle, kInvalidHandle);
            QVERIFY(!reason.empty());
            // The user must be able to tell a missing device from a refused one.
            if (absent && mode != KOpenMode::Query)
                QCOMPARE(QString::fromStdString(reason), QString::fromLocal8Bit(std::strerror(ENOENT)));
            QCOMPARE(backend->open(path.toStdU16String(), mode, nullptr), kInvalidHandle);
        }
    }

    void enumerationMatchesSysfs()
    {
        const std::unique_ptr<KHidPlatform> backend = makeNativePlatform();
        const KInterfaceSet set = backend->openInterfaceSet();
        QVERIFY(set != kNoInterfaceSet);
        std::set<unsigned> seen;
        uint32_t index = 0;
        for (; backend->enumInterface(set, index); ++index) {
            const std::size_t length = backend->interfacePathLength(set, index);
            QVERIFY(length > 1);
            std::vector<char16_t> buffer(length + 4, u'#');
            // One unit short must fail without writing.
            QVERIFY(!backend->interfacePath(set, index, buffer.data(), length - 1));
            QVERIFY(std::all_of(buffer.begin(), buffer.end(), [](char16_t c) { return c == u'#'; }));
            QVERIFY(backend->interfacePath(set, index, buffer.data(), length));
            QCOMPARE(int(buffer[length - 1]), 0);
            QCOMPARE(int(buffer[length]), int(u'#'));
            // The order comes from listInterfacePaths, checked in listingOrder.
            InterfacePath split;
            QVERIFY(splitInterfacePath(QString::fromUtf16(buffer.data(), int(length - 1)).toStdString(), split));
            seen.insert(split.node);
        }
        QCOMPARE(backend->interfacePathLength(set, index), std::size_t(0));
        char16_t untouched[4] = {u'#', u'#', u'#', u'#'};
        QVERIFY(!backend->interfacePath(set, index, untouched, 4));
        QCOMPARE(int(untouched[0]), int(u'#'));
        QVERIFY(!backend->interfacePath(set, 0, nullptr, 64));
        // Hotplug during the test would make this flaky; no CI machine does that.
        QCOMPARE(seen, sysfsNodes());
        backend->closeInterfaceSet(set);
        // No set at all.
        QVERIFY(!backend->enumInterface(kNoInterfaceSet, 0));
        QCOMPARE(backend->interfacePathLength(kNoInterfaceSet, 0), std::size_t(0));
        QVERIFY(!backend->interfacePath(kNoInterfaceSet, 0, untouched, 4));
        backend->closeInterfaceSet(kNoInterfaceSet);
    }

    void invalidHandlesAreSafe()
    {
        const std::unique_ptr<KHidPlatform> backend = makeNativePlatform();
        KHidAttributes attributes;
        QVERIFY(!backend->getAttributes(kInvalidHandle, attributes));
        uint8_t name[kProductStringBytes] = {};
        QVERIFY(!backend->getProductString(kInvalidHandle, name, sizeof name));
        KPreparsed preparsed = 1234;
        QVERIFY(!backend->getPreparsedData(kInvalidHandle, preparsed));
        QCOMPARE(preparsed, kNoPreparsed);
        uint8_t report[8] = {1, 2, 3};
        QVERIFY(!backend->writeFile(kInvalidHandle, report, sizeof report));
        QVERIFY(!backend->getInputReport(kInvalidHandle, report, sizeof report));
        backend->closeHandle(kInvalidHandle);
        KHidCaps caps;
        QVERIFY(!backend->getCaps(kNoPreparsed, caps));
        KHidValueCaps valueCaps[kFeatureValueCapsCapacity];
        uint16_t count = kFeatureValueCapsCapacity;
        QCOMPARE(backend->getFeatureValueCaps(kNoPreparsed, valueCaps, count), kHidpStatusInvalidPreparsedData);
        QCOMPARE(int(count), 0);
        backend->freePreparsedData(kNoPreparsed);
    }

    void concurrentCalls()
    {
        // The GUI thread walks the interfaces while a pairing worker does report I/O.
        const std::unique_ptr<KHidPlatform> backend = makeNativePlatform();
        const std::u16string absent = kAbsentNode.toStdU16String();
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 20; ++i) {
                    const KInterfaceSet set = backend->openInterfaceSet();
                    failures += set == kNoInterfaceSet;
                    for (uint32_t index = 0; backend->enumInterface(set, index); ++index) {
                        std::vector<char16_t> path(backend->interfacePathLength(set, index));
                        failures += path.empty() || !backend->interfacePath(set, index, path.data(), path.size());
                    }
                    backend->closeInterfaceSet(set);
                    std::string reason;
                    const KOpenMode mode = t % 2 ? KOpenMode::Query : KOpenMode::Write;
                    failures += backend->open(absent, mode, &reason) != kInvalidHandle || reason.empty();
                    backend->sleepMs(0);
                }
            });
        }
        for (std::thread &t : threads)
            t.join();
        QCOMPARE(failures.load(), 0);
    }
};

QTEST_APPLESS_MAIN(TestLinuxBackend)

#include "tst_linuxbackend.moc"
