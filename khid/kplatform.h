// SPDX-License-Identifier: MIT
#pragma once

// The platform's HID services, as the HID logic uses them.
//
// Standard C++ only: every backend (Windows, Linux, simulated) compiles on
// its own against this header, and the logic above converts to Qt types.
// The operations follow the Windows HID/SetupAPI calls one for one, so the
// logic reads the same on every platform.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace KHID {

// Same layout as the platform's HIDP_CAPS (64 bytes).
struct KHidCaps {
    uint16_t Usage = 0;
    uint16_t UsagePage = 0;
    uint16_t InputReportByteLength = 0;
    uint16_t OutputReportByteLength = 0;
    uint16_t FeatureReportByteLength = 0;
    uint16_t Reserved[17] = {};
    uint16_t NumberLinkCollectionNodes = 0;
    uint16_t NumberInputButtonCaps = 0;
    uint16_t NumberInputValueCaps = 0;
    uint16_t NumberInputDataIndices = 0;
    uint16_t NumberOutputButtonCaps = 0;
    uint16_t NumberOutputValueCaps = 0;
    uint16_t NumberOutputDataIndices = 0;
    uint16_t NumberFeatureButtonCaps = 0;
    uint16_t NumberFeatureValueCaps = 0;
    uint16_t NumberFeatureDataIndices = 0;
};
static_assert(sizeof(KHidCaps) == 64, "KHidCaps must match HIDP_CAPS");

// Same layout as the platform's HIDP_VALUE_CAPS (72 bytes).
struct KHidValueCaps {
    uint16_t UsagePage = 0;
    uint8_t ReportID = 0;
    uint8_t IsAlias = 0;
    uint16_t BitField = 0;
    uint16_t LinkCollection = 0;
    uint16_t LinkUsage = 0;
    uint16_t LinkUsagePage = 0;
    uint8_t IsRange = 0;
    uint8_t IsStringRange = 0;
    uint8_t IsDesignatorRange = 0;
    uint8_t IsAbsolute = 0;
    uint8_t HasNull = 0;
    uint8_t Reserved = 0;
    uint16_t BitSize = 0;
    uint16_t ReportCount = 0;
    uint16_t Reserved2[5] = {};
    uint32_t UnitsExp = 0;
    uint32_t Units = 0;
    int32_t LogicalMin = 0;
    int32_t LogicalMax = 0;
    int32_t PhysicalMin = 0;
    int32_t PhysicalMax = 0;
    // The platform's Range/NotRange union: UsageMin or Usage first.
    uint16_t UsageMin = 0;
    uint16_t UsageMax = 0;
    uint16_t StringMin = 0;
    uint16_t StringMax = 0;
    uint16_t DesignatorMin = 0;
    uint16_t DesignatorMax = 0;
    uint16_t DataIndexMin = 0;
    uint16_t DataIndexMax = 0;
};
static_assert(sizeof(KHidValueCaps) == 72, "KHidValueCaps must match HIDP_VALUE_CAPS");

// Same layout as the platform's HIDD_ATTRIBUTES; Size is set to 12 before the call.
struct KHidAttributes {
    uint32_t Size = 0;
    uint16_t VendorID = 0;
    uint16_t ProductID = 0;
    uint16_t VersionNumber = 0;
};
static_assert(sizeof(KHidAttributes) == 12, "KHidAttributes must match HIDD_ATTRIBUTES");

using KHandle = std::intptr_t;
using KInterfaceSet = std::intptr_t;
using KPreparsed = std::intptr_t;

constexpr KHandle kInvalidHandle = -1;
constexpr KInterfaceSet kNoInterfaceSet = 0;
constexpr KPreparsed kNoPreparsed = 0;

// NTSTATUS values of the capability queries.
constexpr uint32_t kHidpStatusSuccess = 0x00110000u;
constexpr uint32_t kHidpStatusInvalidPreparsedData = 0xC0110001u;

// The product string buffer the query hands to getProductString.
constexpr std::size_t kProductStringBytes = 128;
// Capacity of the feature value-caps array the query asks for.
constexpr uint16_t kFeatureValueCapsCapacity = 10;

enum class KOpenMode {
    Query, // no access rights, for attributes and capabilities only
    Write, // output reports
    Read   // input reports
};

// One finding of the platform's own checks, for `bondara-cli doctor`.
struct KCheck {
    enum Level { Ok, Warning, Problem };
    Level level = Ok;
    std::string name; // short and stable: "uaccess", "acl", "events", "session", "sandbox", "root"
    std::string text; // what was found
    std::string fix;  // for a warning or a problem: what to do
};

// The device behind an interface, as plugged in this time.
struct KDeviceInstance {
    // Differs when the node now belongs to another device, or to the same
    // device plugged in again; empty where the path alone tells (Windows
    // paths carry the device's instance id).
    std::string instance;
    std::string port;   // the USB port ("1-2.3"), where the platform gives it
    std::string serial; // the USB serial number, where the device has one
};

// Taking a receiver's pairing lock.
enum class KLock {
    Taken,      // this handle holds it until it is closed
    Held,       // another handle holds it, in this program or another
    Unsupported, // the backend has no such lock: pairing goes on unguarded
    Failed       // the lock is there but could not be taken: the run does not start unguarded
};

class KDeviceMonitor;

class KHidPlatform {
public:
    virtual ~KHidPlatform() = default;

    // A device-change monitor of the backend's own, for the caller to own; null
    // for the system's monitor of this build.
    virtual KDeviceMonitor *newDeviceMonitor() { return nullptr; }

    // The set of present HID interfaces (a snapshot); kNoInterfaceSet on failure.
    virtual KInterfaceSet openInterfaceSet() = 0;
    // Whether the set holds an interface at this index.
    virtual bool enumInterface(KInterfaceSet set, uint32_t index) = 0;
    // Code units needed for the interface's path, terminator included; 0 when unknown.
    virtual std::size_t interfacePathLength(KInterfaceSet set, uint32_t index) = 0;
    // Copies the null-terminated UTF-16 path into a buffer of `units` code units.
    virtual bool interfacePath(KInterfaceSet set, uint32_t index, char16_t *buffer,
                               std::size_t units) = 0;
    virtual void closeInterfaceSet(KInterfaceSet set) = 0;

    // kInvalidHandle on failure; `reason`, when given, receives the system's own words.
    virtual KHandle open(const std::u16string &path, KOpenMode mode, std::string *reason) = 0;
    virtual bool getAttributes(KHandle handle, KHidAttributes &attributes) = 0;
    // Fills at most `bytes` bytes with a UTF-16 string; the caller zeroes the buffer first.
    virtual bool getProductString(KHandle handle, void *buffer, std::size_t bytes) = 0;
    virtual bool getPreparsedData(KHandle handle, KPreparsed &data) = 0;
    virtual bool getCaps(KPreparsed data, KHidCaps &caps) = 0;
    // Feature-report value caps; `count` holds the capacity on entry and the
    // number written on return. Returns an NTSTATUS (kHidpStatus...).
    virtual uint32_t getFeatureValueCaps(KPreparsed data, KHidValueCaps *caps, uint16_t &count) = 0;
    virtual void freePreparsedData(KPreparsed data) = 0;

    // Synchronous report I/O; true on success.
    virtual bool writeFile(KHandle handle, const uint8_t *data, std::size_t length) = 0;
    // Byte 0 of `buffer` carries the requested report ID on entry.
    virtual bool getInputReport(KHandle handle, uint8_t *buffer, std::size_t length) = 0;
    // The system's words for the calling thread's last failed writeFile or
    // getInputReport; empty where the backend keeps none.
    virtual std::string lastIoError() const { return {}; }
    // Whether that failure says the device is no longer there (unplugged),
    // rather than that this one exchange went wrong.
    virtual bool lastIoDeviceGone() const { return false; }
    virtual void closeHandle(KHandle handle) = 0;

    // One pairing per receiver, whoever runs it: the lock belongs to the
    // receiver, not to a program or a user, and goes with the handle (opened
    // for writing, so only those who could pair can hold it), however its
    // holder ends.
    virtual KLock lockForPairing(KHandle handle, const std::u16string &path);
    // Which device an opened handle reached, as deviceInstance tells it; empty
    // where the backend cannot tell. A node that a new device took over since
    // the scan differs here.
    virtual std::string handleInstance(KHandle handle);

    // Whether this user may open the interface for reading and writing: it is
    // opened and closed again, nothing is sent. False with the system's words.
    virtual bool probeAccess(const std::u16string &path, std::string *reason);
    // Which device the interface belongs to; nothing is opened.
    virtual KDeviceInstance deviceInstance(const std::u16string &path);
    // What to do when probeAccess fails.
    virtual std::string accessFix() const;
    // What the platform can tell about the access to one interface's node.
    virtual std::vector<KCheck> nodeChecks(const std::u16string &path);
    // The machine and the session: rights, device events, session, sandbox.
    virtual std::vector<KCheck> systemChecks();
    // The folders of the rules that can open a device's node to the user at
    // the seat, the one that wins a file name first (udev's on Linux); none
    // where the system has no such rules.
    virtual std::vector<std::string> accessRuleDirectories() const;

    // The protocol's pauses.
    virtual void sleepMs(uint32_t milliseconds) = 0;
    // A monotonic clock in milliseconds: the one sleepMs moves, so that a
    // run's deadline holds in virtual time too.
    virtual uint64_t nowMs();
};

// The backend in use. Until one is installed, the native backend of this build.
KHidPlatform &platform();

// Replaces the backend in use (tests, the simulated receiver). Call it while
// no other thread uses the platform.
void installPlatform(std::unique_ptr<KHidPlatform> backend);

// Takes the backend in use out (the native one when none was installed),
// to wrap it; install a backend again before the platform is next used.
std::unique_ptr<KHidPlatform> takePlatform();

// The real backend this build was made for (one per platform, chosen at build time).
std::unique_ptr<KHidPlatform> makeNativePlatform();

} // namespace KHID
