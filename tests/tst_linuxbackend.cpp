// SPDX-License-Identifier: MIT
#include "kplatform.h"
#include "kplatform_linux.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
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

Q_DECLARE_METATYPE(KHID::KOpenMode)

namespace {

QString qs(const std::u16string &text)
{
    return QString::fromStdU16String(text);
}

QStringList qsl(const std::vector<std::string> &list)
{
    QStringList out;
    for (const std::string &s : list)
        out << QString::fromStdString(s);
    return out;
}

std::u16string u16(const QString &text)
{
    return text.toStdU16String();
}

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

// A node number no device uses, so opening it must fail.
unsigned absentNode()
{
    const std::set<unsigned> present = sysfsNodes();
    unsigned node = 900000;
    while (present.count(node) || QFile::exists(QStringLiteral("/dev/hidraw%1").arg(node)))
        ++node;
    return node;
}

constexpr uint8_t kGuard = 0xAA;

} // namespace

class TestLinuxBackend : public QObject {
    Q_OBJECT

private slots:
    void aclNamesUser_data();
    void aclNamesUser();
    void sessionAndSandbox_data();
    void sessionAndSandbox();
    void hidId_data();
    void hidId();
    void bcdDevice_data();
    void bcdDevice();
    void composePath_data();
    void composePath();
    void splitRejects_data();
    void splitRejects();
    void listingOrder();
    void utf8_data();
    void utf8();
    void productStringBound_data();
    void productStringBound();
    void valueCapsCopy_data();
    void valueCapsCopy();
    void descriptorFile();

    void openFailsWithReason_data();
    void openFailsWithReason();
    void enumerationMatchesSysfs();
    void emptyObjectsAreSafe();
    void concurrentCalls();
};

namespace {

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

void TestLinuxBackend::aclNamesUser_data()
{
    QTest::addColumn<QByteArray>("xattr");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<bool>("grants");
    // Tags: 1 owner, 2 named user, 4 owning group, 0x10 mask, 0x20 others; uid 1000 asks.
    QTest::newRow("rw for the user") << acl({{1, 6, 0xFFFFFFFF}, {2, 6, 1000}, {4, 6, 0xFFFFFFFF}, {0x10, 6, 0xFFFFFFFF}})
                                     << true << true;
    QTest::newRow("read only for the user") << acl({{1, 6, 0xFFFFFFFF}, {2, 4, 1000}}) << true << false;
    QTest::newRow("the uid as a group") << acl({{8, 6, 1000}}) << true << false;
    QTest::newRow("no entries") << acl({}) << true << false;
    QTest::newRow("wrong version") << acl({{2, 6, 1000}}, 1) << false << false;
    QTest::newRow("cut entry") << acl({{2, 6, 1000}}).chopped(1) << false << false;
    QTest::newRow("empty") << QByteArray() << false << false;
}

void TestLinuxBackend::aclNamesUser()
{
    QFETCH(QByteArray, xattr);
    QFETCH(bool, parsed);
    QFETCH(bool, grants);
    bool granted = true;
    QCOMPARE(linuxhid::aclNamesUser(std::string_view(xattr.constData(), xattr.size()), 1000, granted), parsed);
    if (parsed)
        QCOMPARE(granted, grants);
}

void TestLinuxBackend::sessionAndSandbox_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("flatpak");
    QTest::addColumn<bool>("snap");
    QTest::addColumn<QString>("levels"); // session, sandbox
    QTest::newRow("wayland desktop") << "wayland" << false << false << "ok ok";
    QTest::newRow("tty") << "tty" << false << false << "warning ok";
    QTest::newRow("over ssh, no session") << "" << false << false << "warning ok";
    QTest::newRow("flatpak") << "wayland" << true << false << "ok warning";
    QTest::newRow("snap, x11") << "x11" << false << true << "ok warning";
}

void TestLinuxBackend::sessionAndSandbox()
{
    QFETCH(QString, type);
    QFETCH(bool, flatpak);
    QFETCH(bool, snap);
    QFETCH(QString, levels);
    SessionFacts facts;
    facts.sessionType = type.toStdString();
    facts.flatpak = flatpak;
    facts.snap = snap;
    const std::vector<KCheck> checks = sessionChecks(facts);
    QCOMPARE(int(checks.size()), 2);
    QStringList got;
    for (const KCheck &check : checks) {
        got << (check.level == KCheck::Ok ? "ok" : "warning");
        // Every warning carries its fix; an ok none.
        QCOMPARE(check.fix.empty(), check.level == KCheck::Ok);
    }
    QCOMPARE(got.join(' '), levels);
    if (flatpak || snap)
        QVERIFY(checks[1].text.find(flatpak ? "Flatpak" : "Snap") != std::string::npos);
}

void TestLinuxBackend::hidId_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("bus");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");

    QTest::newRow("usb") << "0003:00001209:00000001" << true << 3 << 0x1209 << 1;
    QTest::newRow("short fields") << "3:1209:1" << true << 3 << 0x1209 << 1;

    QTest::newRow("empty") << "" << false << 0 << 0 << 0;
    QTest::newRow("two fields") << "0003:00001209" << false << 0 << 0 << 0;
    QTest::newRow("not hex") << "0003:0000120G:00000001" << false << 0 << 0 << 0;
    QTest::newRow("prefix 0x") << "0003:0x1209:00000001" << false << 0 << 0 << 0;
    QTest::newRow("vendor past 16 bits") << "0003:00011209:00000001" << false << 0 << 0 << 0;
    QTest::newRow("overflowing digits") << "0003:FFFFFFFFFFFF1209:00000001" << false << 0 << 0 << 0;
}

void TestLinuxBackend::hidId()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);

    HidId id;
    id.bus = 0x7777;
    id.vendor = 0x7777;
    id.product = 0x7777;
    QCOMPARE(parseHidId(text.toStdString(), id), ok);
    if (ok) {
        QFETCH(int, bus);
        QFETCH(int, vendor);
        QFETCH(int, product);
        QCOMPARE(int(id.bus), bus);
        QCOMPARE(int(id.vendor), vendor);
        QCOMPARE(int(id.product), product);
    } else {
        // A half-parsed id must not leak into the attributes.
        QCOMPARE(int(id.vendor), 0x7777);
        QCOMPARE(int(id.product), 0x7777);
    }
}

void TestLinuxBackend::bcdDevice_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("version");

    QTest::newRow("typical") << "0110" << true << 0x0110;
    QTest::newRow("with newline") << "1201\n" << true << 0x1201;
    QTest::newRow("one digit") << "7" << true << 7;

    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("five digits") << "10000" << false << 0;
    QTest::newRow("prefix 0x") << "0x11" << false << 0;
    QTest::newRow("leading space") << " 110" << false << 0;
}

void TestLinuxBackend::bcdDevice()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, version);

    uint16_t parsed = 0x5555;
    QCOMPARE(parseBcdDevice(text.toStdString(), parsed), ok);
    QCOMPARE(int(parsed), ok ? version : 0x5555);
}

void TestLinuxBackend::composePath_data()
{
    QTest::addColumn<uint>("node");
    QTest::addColumn<int>("collection");
    QTest::addColumn<int>("collections");
    QTest::addColumn<QString>("path");

    QTest::newRow("single collection") << 3u << 0 << 1 << "/dev/hidraw3";
    QTest::newRow("unparsed descriptor") << 0u << 0 << 0 << "/dev/hidraw0";
    QTest::newRow("second of two") << 12u << 1 << 2 << "/dev/hidraw12#col02";
    QTest::newRow("tenth") << 1u << 9 << 12 << "/dev/hidraw1#col10";
    QTest::newRow("hundredth") << 7u << 99 << 120 << "/dev/hidraw7#col100";
}

void TestLinuxBackend::composePath()
{
    QFETCH(uint, node);
    QFETCH(int, collection);
    QFETCH(int, collections);
    QFETCH(QString, path);

    const std::string composed = composeInterfacePath(node, std::size_t(collection), std::size_t(collections));
    QCOMPARE(QString::fromStdString(composed), path);

    // open() must find the same node and collection again.
    InterfacePath split;
    QVERIFY(splitInterfacePath(composed, split));
    QCOMPARE(split.node, node);
    QCOMPARE(int(split.collection), collection);
    QCOMPARE(split.hasCollection, collections > 1);
    QCOMPARE(QString::fromStdString(nodeDevicePath(split.node)), path.section('#', 0, 0));
}

void TestLinuxBackend::splitRejects_data()
{
    QTest::addColumn<QString>("path");

    QTest::newRow("empty") << "";
    QTest::newRow("other directory") << "/dev/input/hidraw3";
    QTest::newRow("no number") << "/dev/hidraw";
    QTest::newRow("leading zero") << "/dev/hidraw03";
    QTest::newRow("trailing slash") << "/dev/hidraw3/";
    QTest::newRow("huge node") << "/dev/hidraw99999999999999999999";
    QTest::newRow("bare hash") << "/dev/hidraw3#";
    QTest::newRow("collection zero") << "/dev/hidraw3#col00";
    QTest::newRow("one digit") << "/dev/hidraw3#col2";
    QTest::newRow("padded to three") << "/dev/hidraw3#col002";
    QTest::newRow("two suffixes") << "/dev/hidraw3#col02#col03";
}

void TestLinuxBackend::splitRejects()
{
    QFETCH(QString, path);

    InterfacePath split;
    split.node = 4242;
    QVERIFY(!splitInterfacePath(path.toStdString(), split));
    QCOMPARE(split.node, 4242u);
}

void TestLinuxBackend::listingOrder()
{
    // Numeric order, not the text order that puts hidraw10 before hidraw2.
    const std::vector<NodeListing> nodes = {{10, 1}, {2, 3}, {0, 0}, {1, 2}};
    QCOMPARE(qsl(listInterfacePaths(nodes)),
             QStringList({"/dev/hidraw0", "/dev/hidraw1#col01", "/dev/hidraw1#col02",
                          "/dev/hidraw2#col01", "/dev/hidraw2#col02", "/dev/hidraw2#col03",
                          "/dev/hidraw10"}));
    QVERIFY(listInterfacePaths({}).empty());
}

void TestLinuxBackend::utf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    const QChar r(0xFFFD);

    QTest::newRow("ascii") << QByteArray("Nano Receiver") << "Nano Receiver";
    QTest::newRow("two bytes") << QByteArray("Souris \xC3\xA9t\xC3\xA9") << QString::fromUtf16(u"Souris \u00E9t\u00E9");
    QTest::newRow("four bytes") << QByteArray("a\xF0\x9F\x98\x80z") << QString::fromUtf16(u"a\xD83D\xDE00z");

    QTest::newRow("lone continuation") << QByteArray("a\x80z") << (QString("a") + r + "z");
    QTest::newRow("overlong two bytes") << QByteArray("\xC0\xAF") << (QString(r) + r);
    QTest::newRow("overlong four bytes") << QByteArray("\xF0\x8F\xBF\xBF") << (QString(r) + r + r + r);
    QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << (QString(r) + r + r);
    QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << (QString(r) + r + r + r);
    QTest::newRow("truncated at end") << QByteArray("ab\xE2\x82") << (QString("ab") + r);
    // The byte that cuts a sequence short is decoded on its own.
    QTest::newRow("cut by ascii") << QByteArray("\xE2\x82z") << (QString(r) + "z");
    QTest::newRow("cut by a lead byte") << QByteArray("\xE2\xC3\xA9") << (QString(r) + QChar(0xE9));
    QTest::newRow("extra continuation") << QByteArray("\xC3\xA9\xA9") << (QString(QChar(0xE9)) + r);
}

void TestLinuxBackend::utf8()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    QCOMPARE(qs(utf8ToUtf16(std::string(bytes.constData(), std::size_t(bytes.size())))), text);
}

void TestLinuxBackend::productStringBound_data()
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

void TestLinuxBackend::productStringBound()
{
    QFETCH(QString, text);
    QFETCH(int, bytes);
    QFETCH(int, offset);
    QFETCH(int, units);
    QFETCH(bool, terminated);

    std::vector<uint8_t> memory(std::size_t(offset + bytes + 32), kGuard);
    uint8_t *buffer = memory.data() + offset;
    QCOMPARE(int(copyUtf16(u16(text), buffer, std::size_t(bytes))), units);

    std::u16string written(std::size_t(units), u'\0');
    std::memcpy(written.data(), buffer, written.size() * sizeof(char16_t));
    QCOMPARE(qs(written), text.left(units));

    int end = units * 2;
    if (terminated) {
        char16_t terminator = 0xFFFF;
        std::memcpy(&terminator, buffer + end, sizeof terminator);
        QCOMPARE(int(terminator), 0);
        end += 2;
    }
    QVERIFY(end <= bytes || bytes < 2);
    for (std::size_t i = 0; i < memory.size(); ++i) {
        if (i >= std::size_t(offset) && i < std::size_t(offset + end))
            continue;
        QVERIFY2(memory[i] == kGuard, qPrintable(QStringLiteral("byte %1 overwritten").arg(i)));
    }
}

void TestLinuxBackend::valueCapsCopy_data()
{
    QTest::addColumn<int>("available");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<bool>("nullBuffer");
    QTest::addColumn<int>("written");
    QTest::addColumn<uint>("status");

    QTest::newRow("room to spare") << 3 << int(kFeatureValueCapsCapacity) << false << 3 << kHidpStatusSuccess;
    QTest::newRow("one too many") << 3 << 2 << false << 2 << kHidpStatusBufferTooSmall;
    QTest::newRow("more than the query's capacity")
        << int(kFeatureValueCapsCapacity) + 2 << int(kFeatureValueCapsCapacity) << false
        << int(kFeatureValueCapsCapacity) << kHidpStatusBufferTooSmall;
    QTest::newRow("none to copy") << 0 << 4 << false << 0 << kHidpStatusSuccess;
    QTest::newRow("no buffer") << 2 << 4 << true << 0 << kHidpStatusBufferTooSmall;
}

void TestLinuxBackend::valueCapsCopy()
{
    QFETCH(int, available);
    QFETCH(int, capacity);
    QFETCH(bool, nullBuffer);
    QFETCH(int, written);
    QFETCH(uint, status);

    std::vector<KHidValueCaps> all(static_cast<std::size_t>(available));
    for (int i = 0; i < available; ++i) {
        all[std::size_t(i)].ReportID = uint8_t(0x10 + i);
        all[std::size_t(i)].UsageMin = uint16_t(0x100 + i);
        all[std::size_t(i)].LogicalMax = 1000 + i;
    }
    std::vector<KHidValueCaps> out(std::size_t(capacity) + 1);
    for (KHidValueCaps &c : out)
        c.ReportID = 0xEE;

    uint16_t count = uint16_t(capacity);
    QCOMPARE(copyValueCaps(all, nullBuffer ? nullptr : out.data(), count), status);
    QCOMPARE(int(count), written);
    for (int i = 0; i < written; ++i)
        QVERIFY(std::memcmp(&out[std::size_t(i)], &all[std::size_t(i)], sizeof(KHidValueCaps)) == 0);
    for (std::size_t i = std::size_t(written); i < out.size(); ++i)
        QCOMPARE(int(out[i].ReportID), 0xEE);
}

void TestLinuxBackend::descriptorFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto write = [&](const QString &name, const QByteArray &content) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return std::string();
        return dir.filePath(name).toStdString();
    };

    // Descriptors are binary: NUL bytes are data, not an end.
    const QByteArray vendor = QByteArray::fromHex("0600ff0901a1010901150026ff007508954081020901910200c0");
    std::vector<uint8_t> bytes;
    std::string error;
    QVERIFY2(readDescriptorFile(write("vendor", vendor), bytes, &error), error.c_str());
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())), vendor);

    const QByteArray largest(4096, '\x05');
    QVERIFY2(readDescriptorFile(write("largest", largest), bytes, &error), error.c_str());
    QCOMPARE(int(bytes.size()), largest.size());

    const std::vector<uint8_t> before = bytes;
    const struct {
        const char *name;
        std::string path;
    } failures[] = {
        {"oversized", write("oversized", QByteArray(4097, '\x05'))},
        {"empty", write("empty", QByteArray())},
        {"directory", dir.path().toStdString()},
        {"missing", dir.filePath("missing").toStdString()},
    };
    for (const auto &f : failures) {
        error.clear();
        QVERIFY2(!f.path.empty(), f.name);
        QVERIFY2(!readDescriptorFile(f.path, bytes, &error), f.name);
        QVERIFY2(!error.empty(), f.name);
        QVERIFY2(bytes == before, f.name);
    }
    QCOMPARE(QString::fromStdString(error), QString::fromLocal8Bit(std::strerror(ENOENT)));
    QVERIFY(!readDescriptorFile(failures[0].path, bytes, nullptr));
}

void TestLinuxBackend::openFailsWithReason_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<KOpenMode>("mode");
    QTest::addColumn<bool>("noSuchFile");

    const QString absent = QStringLiteral("/dev/hidraw%1").arg(absentNode());
    const struct {
        const char *name;
        KOpenMode mode;
    } modes[] = {{"query", KOpenMode::Query}, {"write", KOpenMode::Write}, {"read", KOpenMode::Read}};

    for (const auto &m : modes) {
        const bool io = m.mode != KOpenMode::Query;
        QTest::addRow("%s, absent node", m.name) << absent << m.mode << io;
        QTest::addRow("%s, absent node, collection", m.name) << (absent + "#col02") << m.mode << io;
        // Files that open fine but are no HID interface.
        QTest::addRow("%s, other device", m.name) << "/dev/null" << m.mode << false;
        QTest::addRow("%s, null after the node", m.name)
            << QString::fromUtf16(u"/dev/null\0#col02", 16) << m.mode << false;
        QTest::addRow("%s, non-ascii", m.name) << QString::fromUtf16(u"/dev/hidraw\u0661") << m.mode << false;
        QTest::addRow("%s, empty", m.name) << QString() << m.mode << false;
    }
}

void TestLinuxBackend::openFailsWithReason()
{
    QFETCH(QString, path);
    QFETCH(KOpenMode, mode);
    QFETCH(bool, noSuchFile);

    const std::unique_ptr<KHidPlatform> backend = makeNativePlatform();
    QVERIFY(backend);

    std::string reason;
    const KHandle handle = backend->open(u16(path), mode, &reason);
    if (handle != kInvalidHandle)
        backend->closeHandle(handle);
    QCOMPARE(handle, kInvalidHandle);
    QVERIFY(!reason.empty());
    // The user must be able to tell a missing device from a refused one.
    if (noSuchFile)
        QCOMPARE(QString::fromStdString(reason), QString::fromLocal8Bit(std::strerror(ENOENT)));

    QCOMPARE(backend->open(u16(path), mode, nullptr), kInvalidHandle);
}

void TestLinuxBackend::enumerationMatchesSysfs()
{
    const std::unique_ptr<KHidPlatform> backend = makeNativePlatform();
    const std::set<unsigned> expected = sysfsNodes();

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
        const QString path = qs(std::u16string(buffer.data(), length - 1));
        InterfacePath split;
        QVERIFY2(splitInterfacePath(path.toStdString(), split), qPrintable(path));
        seen.insert(split.node);
    }
    QCOMPARE(backend->interfacePathLength(set, index), std::size_t(0));
    char16_t untouched[4] = {u'#', u'#', u'#', u'#'};
    QVERIFY(!backend->interfacePath(set, index, untouched, 4));
    QCOMPARE(int(untouched[0]), int(u'#'));

    // Hotplug during the test would make this flaky; no CI machine does that.
    QCOMPARE(seen, expected);
    if (expected.empty())
        QCOMPARE(index, 0u);

    backend->closeInterfaceSet(set);
}

void TestLinuxBackend::emptyObjectsAreSafe()
{
    const std::unique_ptr<KHidPlatform> backend = makeNativePlatform();

    QVERIFY(!backend->enumInterface(kNoInterfaceSet, 0));
    QCOMPARE(backend->interfacePathLength(kNoInterfaceSet, 0), std::size_t(0));
    char16_t path[8] = {};
    QVERIFY(!backend->interfacePath(kNoInterfaceSet, 0, path, 8));
    backend->closeInterfaceSet(kNoInterfaceSet);

    const KInterfaceSet set = backend->openInterfaceSet();
    QVERIFY(set != kNoInterfaceSet);
    QVERIFY(!backend->interfacePath(set, 0, nullptr, 64));
    backend->closeInterfaceSet(set);

    KHidAttributes attributes;
    attributes.VendorID = 0x4321;
    QVERIFY(!backend->getAttributes(kInvalidHandle, attributes));
    QCOMPARE(int(attributes.VendorID), 0x4321);
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
    caps.UsagePage = 0xFF00;
    QVERIFY(!backend->getCaps(kNoPreparsed, caps));
    QCOMPARE(int(caps.UsagePage), 0xFF00);
    KHidValueCaps valueCaps[kFeatureValueCapsCapacity];
    uint16_t count = kFeatureValueCapsCapacity;
    QCOMPARE(backend->getFeatureValueCaps(kNoPreparsed, valueCaps, count), kHidpStatusInvalidPreparsedData);
    QCOMPARE(int(count), 0);
    backend->freePreparsedData(kNoPreparsed);
}


void TestLinuxBackend::concurrentCalls()
{
    // The GUI thread walks the interfaces while a pairing worker does report I/O.
    const std::unique_ptr<KHidPlatform> backend = makeNativePlatform();
    const std::u16string absent = u16(QStringLiteral("/dev/hidraw%1").arg(absentNode()));
    std::atomic<int> failures{0};

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                const KInterfaceSet set = backend->openInterfaceSet();
                if (set == kNoInterfaceSet) {
                    ++failures;
                    continue;
                }
                for (uint32_t index = 0; backend->enumInterface(set, index); ++index) {
                    std::vector<char16_t> path(backend->interfacePathLength(set, index));
                    if (path.empty() || !backend->interfacePath(set, index, path.data(), path.size()))
                        ++failures;
                }
                backend->closeInterfaceSet(set);

                std::string reason;
                const KOpenMode mode = t % 2 ? KOpenMode::Query : KOpenMode::Write;
                if (backend->open(absent, mode, &reason) != kInvalidHandle || reason.empty())
                    ++failures;
                backend->sleepMs(0);
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    QCOMPARE(failures.load(), 0);
}

QTEST_APPLESS_MAIN(TestLinuxBackend)

#include "tst_linuxbackend.moc"
