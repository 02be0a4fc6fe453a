// SPDX-License-Identifier: MIT
// The Windows backend: SetupAPI for the list of HID interfaces, the HID
// services for attributes, capabilities and reports, synchronous file I/O.

#include "khid/kfailure.h"
#include "khid/kplatform.h"

#include "khid/kwindows.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

namespace KHID {

// The logic's records are handed to the HID services as they are.
static_assert(sizeof(KHidCaps) == sizeof(HIDP_CAPS) && std::is_trivially_copyable<KHidCaps>::value, "HIDP_CAPS");
static_assert(offsetof(KHidCaps, Usage) == offsetof(HIDP_CAPS, Usage), "HIDP_CAPS.Usage");
static_assert(offsetof(KHidCaps, UsagePage) == offsetof(HIDP_CAPS, UsagePage), "HIDP_CAPS.UsagePage");
static_assert(offsetof(KHidCaps, InputReportByteLength) == offsetof(HIDP_CAPS, InputReportByteLength),
              "HIDP_CAPS.InputReportByteLength");
static_assert(offsetof(KHidCaps, OutputReportByteLength) == offsetof(HIDP_CAPS, OutputReportByteLength),
              "HIDP_CAPS.OutputReportByteLength");
static_assert(offsetof(KHidCaps, FeatureReportByteLength) == offsetof(HIDP_CAPS, FeatureReportByteLength),
              "HIDP_CAPS.FeatureReportByteLength");
static_assert(offsetof(KHidCaps, NumberLinkCollectionNodes) == offsetof(HIDP_CAPS, NumberLinkCollectionNodes),
              "HIDP_CAPS.NumberLinkCollectionNodes");
static_assert(offsetof(KHidCaps, NumberFeatureValueCaps) == offsetof(HIDP_CAPS, NumberFeatureValueCaps),
              "HIDP_CAPS.NumberFeatureValueCaps");
static_assert(offsetof(KHidCaps, NumberFeatureDataIndices) == offsetof(HIDP_CAPS, NumberFeatureDataIndices),
              "HIDP_CAPS.NumberFeatureDataIndices");

static_assert(sizeof(KHidValueCaps) == sizeof(HIDP_VALUE_CAPS), "HIDP_VALUE_CAPS");
static_assert(offsetof(KHidValueCaps, ReportID) == offsetof(HIDP_VALUE_CAPS, ReportID), "HIDP_VALUE_CAPS.ReportID");
static_assert(offsetof(KHidValueCaps, BitSize) == offsetof(HIDP_VALUE_CAPS, BitSize), "HIDP_VALUE_CAPS.BitSize");
static_assert(offsetof(KHidValueCaps, UnitsExp) == offsetof(HIDP_VALUE_CAPS, UnitsExp), "HIDP_VALUE_CAPS.UnitsExp");
static_assert(offsetof(KHidValueCaps, PhysicalMax) == offsetof(HIDP_VALUE_CAPS, PhysicalMax),
              "HIDP_VALUE_CAPS.PhysicalMax");
static_assert(offsetof(KHidValueCaps, UsageMin) == offsetof(HIDP_VALUE_CAPS, Range.UsageMin),
              "HIDP_VALUE_CAPS.Range.UsageMin");
static_assert(offsetof(KHidValueCaps, DataIndexMax) == offsetof(HIDP_VALUE_CAPS, Range.DataIndexMax),
              "HIDP_VALUE_CAPS.Range.DataIndexMax");

static_assert(sizeof(KHidAttributes) == sizeof(HIDD_ATTRIBUTES), "HIDD_ATTRIBUTES");
static_assert(offsetof(KHidAttributes, VendorID) == offsetof(HIDD_ATTRIBUTES, VendorID), "HIDD_ATTRIBUTES.VendorID");
static_assert(offsetof(KHidAttributes, VersionNumber) == offsetof(HIDD_ATTRIBUTES, VersionNumber),
              "HIDD_ATTRIBUTES.VersionNumber");

static_assert(static_cast<uint32_t>(HIDP_STATUS_SUCCESS) == kHidpStatusSuccess, "HIDP_STATUS_SUCCESS");
static_assert(static_cast<uint32_t>(HIDP_STATUS_INVALID_PREPARSED_DATA) == kHidpStatusInvalidPreparsedData,
              "HIDP_STATUS_INVALID_PREPARSED_DATA");
static_assert(HidP_Feature == 2, "feature reports");

// Paths travel as UTF-16 on both sides.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "WCHAR is UTF-16");
static_assert(sizeof(HANDLE) <= sizeof(KHandle) && sizeof(HDEVINFO) <= sizeof(KInterfaceSet)
                  && sizeof(PHIDP_PREPARSED_DATA) <= sizeof(KPreparsed),
              "the logic's handles hold the system's");

namespace {

// Generic read and write in file rights; a handle opened for writing can also
// read, as HID output and input go through the same file.
constexpr DWORD kWriteAccess = FILE_GENERIC_READ | FILE_GENERIC_WRITE;
static_assert(kWriteAccess == 0x12019F, "write access");
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The detail record's fixed part, which Windows insists on in its size field:
// 6 in 32-bit builds (packed), 8 in 64-bit ones.
constexpr DWORD kDetailFixedBytes = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
static_assert(kDetailFixedBytes == (sizeof(void *) == 4 ? 6 : 8), "SP_DEVICE_INTERFACE_DETAIL_DATA_W");
constexpr DWORD kDetailPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);

struct InterfaceSet {
    HDEVINFO info = INVALID_HANDLE_VALUE;
    GUID hidClass = {};
};

InterfaceSet *toSet(KInterfaceSet set)
{
    return reinterpret_cast<InterfaceSet *>(set);
}

// kInvalidHandle is also the current process's pseudo-handle: never pass it on.
bool isUsable(KHandle handle)
{
    return handle != kInvalidHandle && handle != 0;
}

HANDLE toHandle(KHandle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

PHIDP_PREPARSED_DATA toPreparsed(KPreparsed data)
{
    return reinterpret_cast<PHIDP_PREPARSED_DATA>(data);
}

bool interfaceAt(const InterfaceSet &set, uint32_t index, SP_DEVICE_INTERFACE_DATA &data)
{
    data = {};
    data.cbSize = sizeof data;
    return SetupDiEnumDeviceInterfaces(set.info, nullptr, &set.hidClass, index, &data) != FALSE;
}

// The system's own words for an error code, in UTF-8.
std::string systemMessage(DWORD code)
{
    wchar_t text[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  text, static_cast<DWORD>(sizeof text / sizeof text[0]), nullptr);
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' '))
        --length;
    if (length == 0)
        return "Windows error " + std::to_string(code);
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return "Windows error " + std::to_string(code);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], bytes, nullptr, nullptr);
    return out;
}

// The HID class driver answers ERROR_DEVICE_NOT_CONNECTED once the device has gone.
bool systemFailed(DWORD error)
{
    return ioFailed(systemMessage(error), error == ERROR_DEVICE_NOT_CONNECTED);
}

// Device interface paths differ in case between the system's own lists.
std::wstring pairingLockName(const std::u16string &path)
{
    // FNV-1a over the lower-cased path: short enough for an object name, the same in every session.
    uint64_t hash = 1469598103934665603ull;
    for (char16_t unit : path) {
        const char16_t lower = unit >= u'A' && unit <= u'Z' ? char16_t(unit - u'A' + u'a') : unit;
        hash = (hash ^ lower) * 1099511628211ull;
    }
    wchar_t digits[17];
    for (int i = 15; i >= 0; --i, hash >>= 4)
        digits[i] = L"0123456789abcdef"[hash & 0xF];
    digits[16] = 0;
    return std::wstring(L"Global\\bondara-pairing-") + digits;
}

class WinHidPlatform final : public KHidPlatform {
public:
    KInterfaceSet openInterfaceSet() override
    {
        GUID hidClass;
        HidD_GetHidGuid(&hidClass);
        const HDEVINFO info =
            SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (info == INVALID_HANDLE_VALUE)
            return kNoInterfaceSet;
        auto *set = new (std::nothrow) InterfaceSet;
        if (!set) {
            SetupDiDestroyDeviceInfoList(info);
            return kNoInterfaceSet;
        }
        set->info = info;
        set->hidClass = hidClass;
        return reinterpret_cast<KInterfaceSet>(set);
    }

    bool enumInterface(KInterfaceSet set, uint32_t index) override
    {
        const InterfaceSet *s = toSet(set);
        SP_DEVICE_INTERFACE_DATA data;
        return s && interfaceAt(*s, index, data);
    }

    std::size_t interfacePathLength(KInterfaceSet set, uint32_t index) override
    {
        const InterfaceSet *s = toSet(set);
        SP_DEVICE_INTERFACE_DATA data;
        if (!s || !interfaceAt(*s, index, data))
            return 0;
        DWORD required = 0;
        if (SetupDiGetDeviceInterfaceDetailW(s->info, &data, nullptr, 0, &required, nullptr)
            || GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= kDetailPathOffset)
            return 0;
        // Rounded up, so that the record rebuilt from it is never smaller.
        return (required - kDetailPathOffset + sizeof(WCHAR) - 1) / sizeof(WCHAR);
    }

    bool interfacePath(KInterfaceSet set, uint32_t index, char16_t *buffer, std::size_t units) override
    {
        const InterfaceSet *s = toSet(set);
        if (!s || !buffer || units == 0 || units > (MAXDWORD - kDetailPathOffset) / sizeof(WCHAR))
            return false;
        SP_DEVICE_INTERFACE_DATA data;
        if (!interfaceAt(*s, index, data))
            return false;

        const DWORD bytes = static_cast<DWORD>(kDetailPathOffset + units * sizeof(WCHAR));
        // DWORD-aligned, as the record's size field needs.
        std::unique_ptr<DWORD[]> block(new (std::nothrow) DWORD[(bytes + sizeof(DWORD) - 1) / sizeof(DWORD)]);
        if (!block)
            return false;
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(block.get());
        detail->cbSize = kDetailFixedBytes;
        if (!SetupDiGetDeviceInterfaceDetailW(s->info, &data, detail, bytes, nullptr, nullptr))
            return false;

        // Only what lies inside the block counts, terminator included.
        const wchar_t *path = detail->DevicePath;
        std::size_t length = 0;
        while (length < units && path[length] != 0)
            ++length;
        if (length == units)
            return false;
        std::memcpy(buffer, path, length * sizeof(char16_t));
        buffer[length] = 0;
        return true;
    }

    void closeInterfaceSet(KInterfaceSet set) override
    {
        InterfaceSet *s = toSet(set);
        if (!s)
            return;
        SetupDiDestroyDeviceInfoList(s->info);
        delete s;
    }

    KHandle open(const std::u16string &path, KOpenMode mode, std::string *reason) override
    {
        // CreateFileW would stop at an embedded NUL and open some other path.
        if (path.empty() || path.find(u'\0') != std::u16string::npos) {
            setReason(reason, systemMessage(ERROR_INVALID_NAME));
            return kInvalidHandle;
        }
        DWORD access = 0;
        DWORD flags = 0;
        switch (mode) {
        case KOpenMode::Query:
            break;
        case KOpenMode::Write:
            access = kWriteAccess;
            flags = FILE_ATTRIBUTE_NORMAL;
            break;
        case KOpenMode::Read:
            access = GENERIC_READ;
            flags = FILE_ATTRIBUTE_NORMAL;
            break;
        }
        // Not overlapped: every report call waits for its answer.
        const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(path.c_str()), access, kShareReadWrite,
                                          nullptr, OPEN_EXISTING, flags, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            setReason(reason, systemMessage(GetLastError()));
            return kInvalidHandle;
        }
        return reinterpret_cast<KHandle>(handle);
    }

    bool getAttributes(KHandle handle, KHidAttributes &attributes) override
    {
        if (!isUsable(handle))
            return false;
        HIDD_ATTRIBUTES a = {};
        a.Size = sizeof a;
        if (!HidD_GetAttributes(toHandle(handle), &a))
            return false;
        attributes.Size = a.Size;
        attributes.VendorID = a.VendorID;
        attributes.ProductID = a.ProductID;
        attributes.VersionNumber = a.VersionNumber;
        return true;
    }

    bool getProductString(KHandle handle, void *buffer, std::size_t bytes) override
    {
        if (!isUsable(handle) || !buffer || bytes == 0)
            return false;
        const ULONG length = static_cast<ULONG>(std::min<std::size_t>(bytes, ULONG_MAX));
        return HidD_GetProductString(toHandle(handle), buffer, length) != FALSE;
    }

    bool getPreparsedData(KHandle handle, KPreparsed &data) override
    {
        data = kNoPreparsed;
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        if (!isUsable(handle) || !HidD_GetPreparsedData(toHandle(handle), &preparsed) || !preparsed)
            return false;
        data = reinterpret_cast<KPreparsed>(preparsed);
        return true;
    }

    bool getCaps(KPreparsed data, KHidCaps &caps) override
    {
        // The capability queries read through the pointer without checking it.
        if (data == kNoPreparsed)
            return false;
        HIDP_CAPS c = {};
        if (static_cast<uint32_t>(HidP_GetCaps(toPreparsed(data), &c)) != kHidpStatusSuccess)
            return false;
        std::memcpy(static_cast<void *>(&caps), &c, sizeof caps);
        return true;
    }

    uint32_t getFeatureValueCaps(KPreparsed data, KHidValueCaps *caps, uint16_t &count) override
    {
        if (data == kNoPreparsed) {
            count = 0;
            return kHidpStatusInvalidPreparsedData;
        }
        // Without an array, ask for none: the status still tells whether the data is usable.
        HIDP_VALUE_CAPS none[1] = {};
        const USHORT capacity = caps ? count : 0;
        USHORT length = capacity;
        const NTSTATUS status =
            HidP_GetValueCaps(HidP_Feature, caps ? reinterpret_cast<PHIDP_VALUE_CAPS>(caps) : none, &length,
                              toPreparsed(data));
        count = std::min(length, capacity);
        return static_cast<uint32_t>(status);
    }

    void freePreparsedData(KPreparsed data) override
    {
        if (data != kNoPreparsed)
            HidD_FreePreparsedData(toPreparsed(data));
    }

    bool writeFile(KHandle handle, const uint8_t *data, std::size_t length) override
    {
        if (!isUsable(handle) || !data || length == 0 || length > MAXDWORD)
            return ioFailed(systemMessage(ERROR_INVALID_PARAMETER));
        DWORD written = 0;
        if (!WriteFile(toHandle(handle), data, static_cast<DWORD>(length), &written, nullptr))
            return systemFailed(GetLastError());
        // A partial write would be a different, wrong report.
        return written == length || ioFailed("short write");
    }

    bool getInputReport(KHandle handle, uint8_t *buffer, std::size_t length) override
    {
        if (!isUsable(handle) || !buffer || length == 0 || length > ULONG_MAX)
            return ioFailed(systemMessage(ERROR_INVALID_PARAMETER));
        return HidD_GetInputReport(toHandle(handle), buffer, static_cast<ULONG>(length)) != FALSE
            || systemFailed(GetLastError());
    }

    std::string lastIoError() const override { return lastIoFailure().words; }
    bool lastIoDeviceGone() const override { return lastIoFailure().gone; }

    void closeHandle(KHandle handle) override
    {
        if (!isUsable(handle))
            return;
        HANDLE lock = nullptr;
        {
            std::lock_guard<std::mutex> guard(mLocksGuard);
            const auto it = mLocks.find(handle);
            if (it != mLocks.end()) {
                lock = it->second;
                mLocks.erase(it);
            }
        }
        if (lock) {
            ReleaseMutex(lock);
            CloseHandle(lock);
        }
        CloseHandle(toHandle(handle));
    }

    // A named mutex in the global namespace, so that programs of every session
    // meet on it; the system abandons it when its holder ends. Any local user can
    // open a receiver's vendor collection on Windows, so one who holds the mutex
    // without pairing blocks no one they could not keep waiting by pairing. The
    // thread that holds it may take it again: a program's runs come one after
    // another on its worker, another program's on threads of their own.
    KLock lockForPairing(KHandle handle, const std::u16string &path) override
    {
        if (!isUsable(handle))
            return KLock::Unsupported;
        // A null DACL: a holder in another session or of another user must not
        // make the mutex unopenable, which would read as held for ever.
        SECURITY_DESCRIPTOR descriptor;
        if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)
            || !SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE))
            return KLock::Failed;
        SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
        const HANDLE lock = CreateMutexW(&attributes, FALSE, pairingLockName(path).c_str());
        if (!lock)
            return GetLastError() == ERROR_ACCESS_DENIED ? KLock::Held : KLock::Failed;
        const DWORD waited = WaitForSingleObject(lock, 0);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
            CloseHandle(lock);
            return waited == WAIT_TIMEOUT ? KLock::Held : KLock::Failed;
        }
        std::lock_guard<std::mutex> guard(mLocksGuard);
        mLocks[handle] = lock;
        return KLock::Taken;
    }

    void sleepMs(uint32_t milliseconds) override { Sleep(milliseconds); }

private:
    // The pairing lock each handle holds; released on the thread that closes the
    // handle, which for a run is the one that took it.
    std::mutex mLocksGuard;
    std::map<KHandle, HANDLE> mLocks;
};

} // namespace

std::unique_ptr<KHidPlatform> makeNativePlatform()
{
    return std::make_unique<WinHidPlatform>();
}

} // namespace KHID
