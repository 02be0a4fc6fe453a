// SPDX-License-Identifier: MIT
#include "khid/kplatform_linux.h"
#include "khid/kfailure.h"
#include "khid/kreportdescriptor.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include <cstdlib>

#include <fcntl.h>
#include <libudev.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <linux/hid.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace KHID {
namespace linuxhid {

namespace {

constexpr std::string_view kDevPrefix = "/dev/";
constexpr std::string_view kNodePrefix = "hidraw";
constexpr std::string_view kCollectionPrefix = "#col";
// Keeps every number we accept well inside 32 bits.
constexpr std::size_t kMaxDecimalDigits = 9;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool parseHex(std::string_view text, std::size_t maxDigits, uint32_t &value)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    uint32_t v = 0;
    for (char c : text) {
        const int d = hexDigit(c);
        if (d < 0)
            return false;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    value = v;
    return true;
}

bool parseDecimal(std::string_view text, uint32_t &value)
{
    if (text.empty() || text.size() > kMaxDecimalDigits)
        return false;
    uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    value = v;
    return true;
}

bool isHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

void appendCodePoint(std::u16string &out, uint32_t cp)
{
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

} // namespace

bool parseHidId(std::string_view text, HidId &id)
{
    // The kernel prints 32-bit vendor/product fields; USB and Bluetooth ids are 16 bits.
    uint32_t fields[3] = {};
    for (int i = 0; i < 3; ++i) {
        const std::size_t colon = text.find(':');
        const bool last = i == 2;
        if (last != (colon == std::string_view::npos))
            return false;
        const std::string_view field = last ? text : text.substr(0, colon);
        if (!parseHex(field, 8, fields[i]) || fields[i] > 0xFFFF)
            return false;
        if (!last)
            text.remove_prefix(colon + 1);
    }
    id.bus = static_cast<uint16_t>(fields[0]);
    id.vendor = static_cast<uint16_t>(fields[1]);
    id.product = static_cast<uint16_t>(fields[2]);
    return true;
}

bool parseBcdDevice(std::string_view text, uint16_t &version)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    uint32_t v = 0;
    if (!parseHex(text, 4, v))
        return false;
    version = static_cast<uint16_t>(v);
    return true;
}

bool parseNodeName(std::string_view sysname, unsigned &node)
{
    if (sysname.substr(0, kNodePrefix.size()) != kNodePrefix)
        return false;
    const std::string_view digits = sysname.substr(kNodePrefix.size());
    // "/dev/hidraw01" would name no node the kernel makes.
    if (digits.size() > 1 && digits.front() == '0')
        return false;
    uint32_t v = 0;
    if (!parseDecimal(digits, v))
        return false;
    node = v;
    return true;
}

std::string nodeDevicePath(unsigned node)
{
    return std::string(kDevPrefix) + std::string(kNodePrefix) + std::to_string(node);
}

std::string composeInterfacePath(unsigned node, std::size_t collection, std::size_t collections)
{
    std::string path = nodeDevicePath(node);
    if (collections <= 1)
        return path;
    std::string number = std::to_string(collection + 1);
    if (number.size() < 2)
        number.insert(0, 2 - number.size(), '0');
    return path + std::string(kCollectionPrefix) + number;
}

bool splitInterfacePath(std::string_view path, InterfacePath &out)
{
    if (path.substr(0, kDevPrefix.size()) != kDevPrefix)
        return false;
    path.remove_prefix(kDevPrefix.size());

    const std::size_t hash = path.find('#');
    InterfacePath result;
    if (!parseNodeName(path.substr(0, hash), result.node))
        return false;
    if (hash != std::string_view::npos) {
        std::string_view suffix = path.substr(hash);
        if (suffix.substr(0, kCollectionPrefix.size()) != kCollectionPrefix)
            return false;
        suffix.remove_prefix(kCollectionPrefix.size());
        // One spelling per collection, so that two paths never name the same interface.
        if (suffix.size() < 2 || (suffix.size() > 2 && suffix.front() == '0'))
            return false;
        uint32_t number = 0;
        if (!parseDecimal(suffix, number) || number == 0)
            return false;
        result.collection = number - 1;
        result.hasCollection = true;
    }
    out = result;
    return true;
}

std::vector<std::string> listInterfacePaths(std::vector<NodeListing> nodes)
{
    std::sort(nodes.begin(), nodes.end(),
              [](const NodeListing &a, const NodeListing &b) { return a.node < b.node; });
    std::vector<std::string> paths;
    for (const NodeListing &n : nodes) {
        const std::size_t count = std::max<std::size_t>(n.collections, 1);
        for (std::size_t c = 0; c < count; ++c)
            paths.push_back(composeInterfacePath(n.node, c, n.collections));
    }
    return paths;
}

// Unicode's recommended substitution, one U+FFFD per maximal ill-formed part.
// Our own: iconv and mbrtowc stop at a bad byte instead, and std::wstring_convert
// is deprecated.
std::u16string utf8ToUtf16(std::string_view text)
{
    constexpr char16_t kReplacement = 0xFFFD;
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const uint8_t lead = static_cast<uint8_t>(text[i++]);
        if (lead <= 0x7F) {
            out.push_back(lead);
            continue;
        }
        if (lead < 0xC2 || lead > 0xF4) {
            out.push_back(kReplacement);
            continue;
        }
        int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
        uint32_t cp = lead & (0x3F >> more);
        // The second byte's range is narrower after E0, ED, F0 and F4, so that
        // overlong forms, surrogates and values past U+10FFFF fail there.
        uint8_t lower = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
        uint8_t upper = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
        for (; more > 0 && i < text.size(); --more, lower = 0x80, upper = 0xBF) {
            const uint8_t b = static_cast<uint8_t>(text[i]);
            if (b < lower || b > upper)
                break; // left for the next round: it may start a sequence of its own
            cp = (cp << 6) | (b & 0x3F);
            ++i;
        }
        if (more == 0)
            appendCodePoint(out, cp);
        else
            out.push_back(kReplacement); // one for the whole ill-formed part
    }
    return out;
}

std::size_t copyUtf16(std::u16string_view text, void *buffer, std::size_t bytes)
{
    const std::size_t capacity = bytes / sizeof(char16_t);
    if (!buffer || capacity == 0)
        return 0;
    std::size_t n = std::min(text.size(), capacity);
    if (n < text.size() && isHighSurrogate(text[n - 1]))
        --n;
    // The caller's buffer need not be aligned for char16_t.
    auto *bytesOut = static_cast<unsigned char *>(buffer);
    std::memcpy(bytesOut, text.data(), n * sizeof(char16_t));
    if (n < capacity) {
        const char16_t terminator = 0;
        std::memcpy(bytesOut + n * sizeof(char16_t), &terminator, sizeof terminator);
    }
    return n;
}

uint32_t copyValueCaps(const std::vector<KHidValueCaps> &all, KHidValueCaps *out, uint16_t &count)
{
    const std::size_t capacity = out ? count : 0;
    const std::size_t n = std::min(all.size(), capacity);
    std::copy_n(all.begin(), n, out);
    count = static_cast<uint16_t>(n);
    return n < all.size() ? kHidpStatusBufferTooSmall : kHidpStatusSuccess;
}

namespace {

// glibc gives the GNU strerror_r under _GNU_SOURCE (g++'s default), POSIX's otherwise.
[[maybe_unused]] std::string strerrorResult(const char *text, const char *)
{
    return text;
}
[[maybe_unused]] std::string strerrorResult(int rc, const char *buffer)
{
    return rc == 0 ? std::string(buffer) : std::string("Unknown error");
}

std::string errnoText(int error)
{
    char buffer[256] = {};
    return strerrorResult(strerror_r(error, buffer, sizeof buffer), buffer);
}

} // namespace

bool readDescriptorFile(const std::string &path, std::vector<uint8_t> &bytes, std::string *error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errnoText(errno);
        return false;
    }
    // One byte more than the largest descriptor tells an oversized file apart.
    std::vector<uint8_t> data(HID_MAX_DESCRIPTOR_SIZE + 1);
    std::size_t size = 0;
    int readError = 0;
    while (size < data.size()) {
        const ssize_t got = ::read(fd, data.data() + size, data.size() - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            readError = errno;
            break;
        }
        if (got == 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    ::close(fd);

    std::string why;
    if (readError != 0)
        why = errnoText(readError);
    else if (size == 0)
        why = "empty report descriptor";
    else if (size > HID_MAX_DESCRIPTOR_SIZE)
        why = "report descriptor larger than " + std::to_string(HID_MAX_DESCRIPTOR_SIZE) + " bytes";
    if (!why.empty()) {
        if (error)
            *error = why;
        return false;
    }
    data.resize(size);
    bytes = std::move(data);
    return true;
}

bool aclNamesUser(std::string_view xattr, uint32_t uid, bool &grantsReadWrite)
{
    // <linux/posix_acl_xattr.h>: a little-endian version 2 header, then
    // entries of tag (16 bits), permissions (16 bits) and id (32 bits).
    constexpr uint32_t kVersion = 2;
    constexpr uint16_t kUserTag = 0x02;
    constexpr uint16_t kRead = 4, kWrite = 2;
    auto le16 = [&](std::size_t at) {
        return static_cast<uint16_t>(uint8_t(xattr[at]) | uint8_t(xattr[at + 1]) << 8);
    };
    auto le32 = [&](std::size_t at) { return uint32_t(le16(at)) | uint32_t(le16(at + 2)) << 16; };
    if (xattr.size() < 4 || (xattr.size() - 4) % 8 != 0 || le32(0) != kVersion)
        return false;
    grantsReadWrite = false;
    for (std::size_t at = 4; at < xattr.size(); at += 8) {
        if (le16(at) == kUserTag && le32(at + 4) == uid)
            grantsReadWrite = (le16(at + 2) & (kRead | kWrite)) == (kRead | kWrite);
    }
    return true;
}

std::vector<KCheck> sessionChecks(const SessionFacts &facts)
{
    std::vector<KCheck> checks;
    const std::string type = facts.sessionType;
    if (type == "x11" || type == "wayland")
        checks.push_back({KCheck::Ok, "session", "a " + std::string(type == "x11" ? "X11" : "Wayland")
                                                      + " session", {}});
    else
        checks.push_back({KCheck::Warning, "session",
                          type.empty() ? "no graphical session seen" : "session type " + type,
                          "the udev rule gives the receiver to the user of the active local desktop session: "
                          "run bondara from that session, not over SSH"});
    if (facts.flatpak || facts.snap)
        checks.push_back({KCheck::Warning, "sandbox",
                          std::string("running inside a ") + (facts.flatpak ? "Flatpak" : "Snap")
                              + " sandbox, where udev rules cannot be installed",
                          "install 70-bondara.rules into /etc/udev/rules.d/ on the host system, "
                          "then unplug the receiver and plug it in again"});
    else
        checks.push_back({KCheck::Ok, "sandbox", "not in a sandbox", {}});
    return checks;
}

} // namespace linuxhid

namespace {

using namespace linuxhid;

struct UdevUnref {
    void operator()(udev *u) const { udev_unref(u); }
    void operator()(udev_enumerate *e) const { udev_enumerate_unref(e); }
    void operator()(udev_device *d) const { udev_device_unref(d); }
};
using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using EnumeratePtr = std::unique_ptr<udev_enumerate, UdevUnref>;
using DevicePtr = std::unique_ptr<udev_device, UdevUnref>;

using ParsedDescriptor = std::shared_ptr<const KReportDescriptor>;

struct InterfaceSet {
    std::vector<std::u16string> paths;
    // Each node's descriptor, read and parsed once for the whole walk, by the
    // HID device's sysfs path: one that replaced it since is read afresh.
    std::map<std::string, ParsedDescriptor> descriptors;
};

// The walk's own queries come on the thread that opened its set.
thread_local const InterfaceSet *tWalk = nullptr;

struct Handle {
    int fd = -1;
    bool hasAttributes = false;
    KHidAttributes attributes;
    std::u16string name;
    bool hasCollection = false;
    KTopCollection collection;

    ~Handle()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

InterfaceSet *toSet(KInterfaceSet set)
{
    return reinterpret_cast<InterfaceSet *>(set);
}

Handle *toHandle(KHandle handle)
{
    if (handle == kInvalidHandle || handle == 0)
        return nullptr;
    return reinterpret_cast<Handle *>(handle);
}

const KTopCollection *toCollection(KPreparsed data)
{
    return reinterpret_cast<const KTopCollection *>(data);
}

// hidraw answers ENODEV once its device has been disconnected.
bool errnoFailed(int error)
{
    return ioFailed(errnoText(error), error == ENODEV);
}

std::string errnoOr(int error, const char *fallback)
{
    return error != 0 ? errnoText(error) : std::string(fallback);
}

bool asciiPath(const std::u16string &path, std::string &out)
{
    std::string narrow;
    narrow.reserve(path.size());
    for (char16_t unit : path) {
        if (unit == 0 || unit > 0x7F)
            return false;
        narrow.push_back(static_cast<char>(unit));
    }
    out = std::move(narrow);
    return true;
}

std::string hidSyspath(udev_device *hidraw)
{
    udev_device *hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
    const char *syspath = hid ? udev_device_get_syspath(hid) : nullptr;
    return syspath ? syspath : "";
}

// Reads the descriptor of the HID device at `syspath`; null when it has gone.
ParsedDescriptor descriptorAt(const std::string &syspath)
{
    if (syspath.empty())
        return nullptr;
    if (tWalk) {
        const auto known = tWalk->descriptors.find(syspath);
        if (known != tWalk->descriptors.end())
            return known->second;
    }
    std::vector<uint8_t> bytes;
    if (!readDescriptorFile(syspath + "/report_descriptor", bytes, nullptr))
        return nullptr;
    return std::make_shared<const KReportDescriptor>(parseReportDescriptor(bytes.data(), bytes.size()));
}

ParsedDescriptor descriptorOf(udev_device *hidraw)
{
    return descriptorAt(hidSyspath(hidraw));
}

// The node's top-level collections, through sysfs: world-readable, unlike the node itself.
bool hasCollections(const ParsedDescriptor &descriptor)
{
    return descriptor && descriptor->ok && !descriptor->collections.empty();
}

// Which device a hidraw node belongs to. The kernel numbers every HID device it
// creates ("0003:1209:0001.000A"), so a device plugged in again, or another one
// on a reused hidraw number, differs here.
KDeviceInstance instanceOf(udev_device *hidraw)
{
    KDeviceInstance result;
    udev_device *hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
    const char *hidName = hid ? udev_device_get_sysname(hid) : nullptr;
    result.instance = hidName ? hidName : "";
    udev_device *usb = udev_device_get_parent_with_subsystem_devtype(hidraw, "usb", "usb_device");
    if (usb) {
        const char *bus = udev_device_get_sysattr_value(usb, "busnum");
        const char *dev = udev_device_get_sysattr_value(usb, "devnum");
        const char *port = udev_device_get_sysname(usb);
        const char *serial = udev_device_get_sysattr_value(usb, "serial");
        result.instance += std::string(" usb ") + (bus ? bus : "?") + ":" + (dev ? dev : "?");
        result.port = port ? port : "";
        result.serial = serial ? serial : "";
    }
    return result;
}

std::vector<NodeListing> listNodes(udev *u, udev_enumerate *enumerate, InterfaceSet *set = nullptr)
{
    std::vector<NodeListing> nodes;
    udev_list_entry *entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate))
    {
        // A node unplugged since the scan simply drops out of the snapshot.
        DevicePtr device(udev_device_new_from_syspath(u, udev_list_entry_get_name(entry)));
        if (!device)
            continue;
        const char *sysname = udev_device_get_sysname(device.get());
        NodeListing listing;
        if (!sysname || !parseNodeName(sysname, listing.node))
            continue;
        const std::string syspath = hidSyspath(device.get());
        const ParsedDescriptor descriptor = descriptorAt(syspath);
        if (hasCollections(descriptor))
            listing.collections = descriptor->collections.size();
        if (set && descriptor)
            set->descriptors.emplace(syspath, descriptor);
        nodes.push_back(listing);
    }
    return nodes;
}

class LinuxHidPlatform final : public KHidPlatform {
public:
    KInterfaceSet openInterfaceSet() override
    {
        UdevPtr u(udev_new());
        if (!u)
            return kNoInterfaceSet;
        EnumeratePtr enumerate(udev_enumerate_new(u.get()));
        if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "hidraw") < 0
            || udev_enumerate_scan_devices(enumerate.get()) < 0)
            return kNoInterfaceSet;

        auto set = std::make_unique<InterfaceSet>();
        std::vector<NodeListing> nodes = listNodes(u.get(), enumerate.get(), set.get());
        for (const std::string &path : listInterfacePaths(std::move(nodes)))
            set->paths.push_back(utf8ToUtf16(path));
        tWalk = set.get();
        return reinterpret_cast<KInterfaceSet>(set.release());
    }

    bool enumInterface(KInterfaceSet set, uint32_t index) override
    {
        const InterfaceSet *s = toSet(set);
        return s && index < s->paths.size();
    }

    std::size_t interfacePathLength(KInterfaceSet set, uint32_t index) override
    {
        const InterfaceSet *s = toSet(set);
        if (!s || index >= s->paths.size())
            return 0;
        return s->paths[index].size() + 1;
    }

    bool interfacePath(KInterfaceSet set, uint32_t index, char16_t *buffer, std::size_t units) override
    {
        const InterfaceSet *s = toSet(set);
        if (!s || index >= s->paths.size() || !buffer)
            return false;
        const std::u16string &path = s->paths[index];
        if (units < path.size() + 1)
            return false;
        std::copy(path.begin(), path.end(), buffer);
        buffer[path.size()] = 0;
        return true;
    }

    void closeInterfaceSet(KInterfaceSet set) override
    {
        if (tWalk == toSet(set))
            tWalk = nullptr;
        delete toSet(set);
    }

    KHandle open(const std::u16string &path, KOpenMode mode, std::string *reason) override
    {
        std::string narrow;
        InterfacePath where;
        if (!asciiPath(path, narrow) || !splitInterfacePath(narrow, where)) {
            setReason(reason, "Not a hidraw interface path");
            return kInvalidHandle;
        }
        if (mode == KOpenMode::Query)
            return openQuery(where, reason);

        // hidraw serves every collection of the node through the one file.
        const int flags = (mode == KOpenMode::Write ? O_RDWR : O_RDONLY) | O_CLOEXEC;
        const int fd = ::open(nodeDevicePath(where.node).c_str(), flags);
        if (fd < 0) {
            setReason(reason, errnoText(errno));
            return kInvalidHandle;
        }
        auto handle = std::make_unique<Handle>();
        handle->fd = fd;
        return reinterpret_cast<KHandle>(handle.release());
    }

    bool getAttributes(KHandle handle, KHidAttributes &attributes) override
    {
        const Handle *h = toHandle(handle);
        if (!h || !h->hasAttributes)
            return false;
        attributes = h->attributes;
        return true;
    }

    bool getProductString(KHandle handle, void *buffer, std::size_t bytes) override
    {
        const Handle *h = toHandle(handle);
        if (!h || h->name.empty() || !buffer || bytes < sizeof(char16_t))
            return false;
        copyUtf16(h->name, buffer, bytes);
        return true;
    }

    bool getPreparsedData(KHandle handle, KPreparsed &data) override
    {
        data = kNoPreparsed;
        const Handle *h = toHandle(handle);
        if (!h || !h->hasCollection)
            return false;
        data = reinterpret_cast<KPreparsed>(new KTopCollection(h->collection));
        return true;
    }

    bool getCaps(KPreparsed data, KHidCaps &caps) override
    {
        const KTopCollection *c = toCollection(data);
        if (!c)
            return false;
        caps = c->caps;
        return true;
    }

    uint32_t getFeatureValueCaps(KPreparsed data, KHidValueCaps *caps, uint16_t &count) override
    {
        const KTopCollection *c = toCollection(data);
        if (!c) {
            count = 0;
            return kHidpStatusInvalidPreparsedData;
        }
        return copyValueCaps(c->featureValueCaps, caps, count);
    }

    void freePreparsedData(KPreparsed data) override { delete toCollection(data); }

    bool writeFile(KHandle handle, const uint8_t *data, std::size_t length) override
    {
        const Handle *h = toHandle(handle);
        if (!h || h->fd < 0 || !data || length == 0)
            return ioFailed(errnoText(EBADF));
        // One write() is one report: a remainder sent again would be a second, wrong report.
        ssize_t written;
        do {
            written = ::write(h->fd, data, length);
        } while (written < 0 && errno == EINTR);
        if (written < 0)
            return errnoFailed(errno);
        if (static_cast<std::size_t>(written) != length)
            return ioFailed("short write");
        return true;
    }

    bool getInputReport(KHandle handle, uint8_t *buffer, std::size_t length) override
    {
        const Handle *h = toHandle(handle);
        // The length travels inside the ioctl number, in _IOC_SIZEBITS bits.
        if (!h || h->fd < 0 || !buffer || length == 0 || length > _IOC_SIZEMASK)
            return ioFailed(errnoText(EINVAL));
        int result;
        do {
            result = ::ioctl(h->fd, HIDIOCGINPUT(length), buffer);
        } while (result < 0 && errno == EINTR);
        return result >= 0 || errnoFailed(errno);
    }

    std::string lastIoError() const override { return lastIoFailure().words; }
    bool lastIoDeviceGone() const override { return lastIoFailure().gone; }

    bool probeAccess(const std::u16string &path, std::string *reason) override
    {
        std::string narrow;
        InterfacePath where;
        if (!asciiPath(path, narrow) || !splitInterfacePath(narrow, where)) {
            setReason(reason, "Not a hidraw interface path");
            return false;
        }
        // Non-blocking: the open is all that is asked, and nothing is read.
        const int fd = ::open(nodeDevicePath(where.node).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            setReason(reason, errnoText(errno));
            return false;
        }
        ::close(fd);
        return true;
    }

    std::string accessFix() const override
    {
        return "where there is no polkit, install the opt-in udev rule instead (README: Opting in to standing "
               "access), then unplug the receiver and plug it in again; udevadm trigger does not give access to a "
               "node that is already open";
    }

    KDeviceInstance deviceInstance(const std::u16string &path) override
    {
        std::string narrow;
        InterfacePath where;
        UdevPtr u(udev_new());
        if (!u || !asciiPath(path, narrow) || !splitInterfacePath(narrow, where))
            return {};
        const std::string sysname = std::string(kNodePrefix) + std::to_string(where.node);
        DevicePtr device(udev_device_new_from_subsystem_sysname(u.get(), "hidraw", sysname.c_str()));
        return device ? instanceOf(device.get()) : KDeviceInstance{};
    }

    std::string handleInstance(KHandle handle) override
    {
        const Handle *h = toHandle(handle);
        struct stat info {};
        if (!h || h->fd < 0 || ::fstat(h->fd, &info) != 0 || !S_ISCHR(info.st_mode))
            return {};
        // The device the descriptor reached, by its number, not by the path it was opened at.
        UdevPtr u(udev_new());
        DevicePtr device(u ? udev_device_new_from_devnum(u.get(), 'c', info.st_rdev) : nullptr);
        return device ? instanceOf(device.get()).instance : std::string();
    }

    KLock lockForPairing(KHandle handle, const std::u16string &) override
    {
        const Handle *h = toHandle(handle);
        if (!h || h->fd < 0)
            return KLock::Unsupported;
        // On the node itself: every program that opens it meets the same lock, and
        // the kernel drops it with the descriptor.
        int result;
        do {
            result = ::flock(h->fd, LOCK_EX | LOCK_NB);
        } while (result < 0 && errno == EINTR);
        if (result == 0)
            return KLock::Taken;
        return errno == EWOULDBLOCK ? KLock::Held : KLock::Failed;
    }

    std::vector<KCheck> nodeChecks(const std::u16string &path) override
    {
        std::vector<KCheck> checks;
        std::string narrow;
        InterfacePath where;
        if (!asciiPath(path, narrow) || !splitInterfacePath(narrow, where))
            return checks;
        const std::string node = nodeDevicePath(where.node);

        UdevPtr u(udev_new());
        DevicePtr device(u ? udev_device_new_from_subsystem_sysname(
                                 u.get(), "hidraw", (std::string(kNodePrefix) + std::to_string(where.node)).c_str())
                           : nullptr);
        bool tagged = false;
        udev_list_entry *entry = nullptr;
        if (device) {
            udev_list_entry_foreach(entry, udev_device_get_tags_list_entry(device.get()))
            {
                if (std::strcmp(udev_list_entry_get_name(entry), "uaccess") == 0)
                    tagged = true;
            }
        }
        if (tagged)
            checks.push_back({KCheck::Ok, "uaccess", "a udev rule tags " + node + " uaccess", {}});
        else
            checks.push_back({KCheck::Problem, "uaccess", "no udev rule tags " + node + " uaccess",
                              "without the pairing service or polkit, install the opt-in udev rule (README: "
                              "Opting in to standing access), then unplug the receiver and plug it in again"});

        const uid_t uid = ::getuid();
        if (uid == 0)
            return checks; // root needs no ACL
        char buffer[512];
        const ssize_t size = ::getxattr(node.c_str(), "system.posix_acl_access", buffer, sizeof buffer);
        bool grants = false;
        if (size >= 0 && aclNamesUser(std::string_view(buffer, static_cast<std::size_t>(size)), uid, grants)
            && grants) {
            checks.push_back({KCheck::Ok, "acl", "the ACL of " + node + " gives this user read and write", {}});
        } else {
            checks.push_back({KCheck::Problem, "acl",
                              size < 0 && errno != ENODATA
                                  ? "the ACL of " + node + " cannot be read: " + errnoText(errno)
                                  : "the ACL of " + node + " does not name this user",
                              "log in at the machine's own desktop session (access goes to its active user), "
                              "then unplug the receiver and plug it in again"});
        }
        return checks;
    }

    std::vector<KCheck> systemChecks() override
    {
        std::vector<KCheck> checks;
        if (::geteuid() == 0)
            checks.push_back({KCheck::Warning, "root", "running as root, which pairing does not need",
                              "run bondara as your own user: the pairing service pairs for it"});
        else
            checks.push_back({KCheck::Ok, "root", "running as an ordinary user", {}});

        struct stat info {};
        if (::stat("/run/udev/control", &info) == 0)
            checks.push_back({KCheck::Ok, "events", "the udev daemon is running", {}});
        else
            checks.push_back({KCheck::Warning, "events",
                              "no udev daemon: changes come from the kernel's events, and no rule gives access",
                              "start systemd-udevd (or the system's udev daemon)"});

        SessionFacts facts;
        const char *type = std::getenv("XDG_SESSION_TYPE");
        if (type && *type)
            facts.sessionType = type;
        else if (const char *wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland)
            facts.sessionType = "wayland";
        else if (const char *display = std::getenv("DISPLAY"); display && *display)
            facts.sessionType = "x11";
        facts.flatpak = ::access("/.flatpak-info", F_OK) == 0 || std::getenv("FLATPAK_ID");
        facts.snap = std::getenv("SNAP") != nullptr;
        const std::vector<KCheck> session = sessionChecks(facts);
        checks.insert(checks.end(), session.begin(), session.end());
        return checks;
    }

    std::vector<std::string> accessRuleDirectories() const override
    {
        // Tests name folders of their own: a process that reads them can only mislead itself.
        if (const char *dirs = std::getenv("BONDARA_UDEV_RULES_DIRS"); dirs && *dirs) {
            std::vector<std::string> list;
            std::string_view rest(dirs);
            while (!rest.empty()) {
                const std::size_t colon = rest.find(':');
                if (colon != 0)
                    list.emplace_back(rest.substr(0, colon));
                rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
            }
            return list;
        }
        return {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
    }

    void closeHandle(KHandle handle) override { delete toHandle(handle); }

    void sleepMs(uint32_t milliseconds) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

private:
    static KHandle openQuery(const InterfacePath &where, std::string *reason)
    {
        // A context per call: udev objects must not be shared between threads.
        errno = 0;
        UdevPtr u(udev_new());
        if (!u) {
            setReason(reason, errnoOr(errno, "udev is not available"));
            return kInvalidHandle;
        }
        const std::string sysname = std::string(kNodePrefix) + std::to_string(where.node);
        errno = 0;
        DevicePtr device(udev_device_new_from_subsystem_sysname(u.get(), "hidraw", sysname.c_str()));
        if (!device) {
            setReason(reason, errnoOr(errno, "No such device"));
            return kInvalidHandle;
        }

        auto handle = std::make_unique<Handle>();
        const ParsedDescriptor descriptor = descriptorOf(device.get());
        const bool parsed = hasCollections(descriptor);
        const std::size_t collections = parsed ? descriptor->collections.size() : 1;
        if (where.collection >= collections) {
            setReason(reason, "No collection " + std::to_string(where.collection + 1) + " on "
                                  + nodeDevicePath(where.node) + ", which has "
                                  + std::to_string(collections));
            return kInvalidHandle;
        }
        if (parsed) {
            handle->collection = descriptor->collections[where.collection];
            handle->hasCollection = true;
        }

        udev_device *hid = udev_device_get_parent_with_subsystem_devtype(device.get(), "hid", nullptr);
        const char *hidId = hid ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
        HidId id;
        if (hidId && parseHidId(hidId, id)) {
            handle->attributes.Size = sizeof(KHidAttributes);
            handle->attributes.VendorID = id.vendor;
            handle->attributes.ProductID = id.product;
            handle->hasAttributes = true;
        }

        // Not every HID device sits on USB (Bluetooth, uhid): those have no bcdDevice.
        udev_device *usb = udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
        const char *bcd = usb ? udev_device_get_sysattr_value(usb, "bcdDevice") : nullptr;
        uint16_t version = 0;
        if (bcd && parseBcdDevice(bcd, version))
            handle->attributes.VersionNumber = version;

        // HID_NAME prefixes the manufacturer; the USB product string is what Windows shows.
        const char *name = usb ? udev_device_get_sysattr_value(usb, "product") : nullptr;
        if (!name || !*name)
            name = hid ? udev_device_get_property_value(hid, "HID_NAME") : nullptr;
        if (name)
            handle->name = utf8ToUtf16(name);

        return reinterpret_cast<KHandle>(handle.release());
    }
};

} // namespace

std::unique_ptr<KHidPlatform> makeNativePlatform()
{
    return std::make_unique<LinuxHidPlatform>();
}

namespace linuxhid {

std::vector<NodeListing> presentNodes()
{
    UdevPtr u(udev_new());
    EnumeratePtr enumerate(u ? udev_enumerate_new(u.get()) : nullptr);
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "hidraw") < 0
        || udev_enumerate_scan_devices(enumerate.get()) < 0)
        return {};
    return listNodes(u.get(), enumerate.get());
}

bool nodeCollections(unsigned node, std::size_t &collections)
{
    UdevPtr u(udev_new());
    if (!u)
        return false;
    const std::string sysname = std::string(kNodePrefix) + std::to_string(node);
    DevicePtr device(udev_device_new_from_subsystem_sysname(u.get(), "hidraw", sysname.c_str()));
    const ParsedDescriptor descriptor = device ? descriptorOf(device.get()) : nullptr;
    if (!descriptor)
        return false;
    collections = descriptor->ok ? descriptor->collections.size() : 0;
    return true;
}

} // namespace linuxhid

} // namespace KHID
