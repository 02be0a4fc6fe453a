// SPDX-License-Identifier: MIT
// Walks the machine's HID interfaces through the Windows backend and prints
// them, then puts the backend, the device-change side and the opening of the
// user's files through what can be checked without a receiver. Exit status 0
// when every check held.

#include "base/kfileopen.h"
#include "khid/kplatform.h"
#include "khid/kwinmessage.h"
#include "khid/kwinnotify.h"

#include "khid/kwindows.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace KHID;

namespace {

int gFailures = 0;
int gChecks = 0;

void check(bool ok, const char *what)
{
    ++gChecks;
    if (!ok)
        ++gFailures;
    std::printf("%s %s\n", ok ? "ok    " : "FAILED", what);
}

std::string utf8(const std::u16string &text)
{
    if (text.empty())
        return std::string();
    const auto *wide = reinterpret_cast<const wchar_t *>(text.data());
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return "?";
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, &out[0], bytes, nullptr, nullptr);
    return out;
}

// The product string ends at its first NUL or with the buffer.
std::u16string productName(const char16_t *units, std::size_t capacity)
{
    std::size_t length = 0;
    while (length < capacity && units[length] != 0)
        ++length;
    return std::u16string(units, length);
}

void printInterface(KHidPlatform &hid, const std::u16string &path)
{
    const KHandle handle = hid.open(path, KOpenMode::Query, nullptr);
    if (handle == kInvalidHandle) {
        std::printf("  %s: cannot be opened for a query\n", utf8(path).c_str());
        return;
    }
    KHidAttributes attributes;
    attributes.Size = sizeof attributes;
    const bool haveAttributes = hid.getAttributes(handle, attributes);
    char16_t name[kProductStringBytes / sizeof(char16_t)] = {};
    hid.getProductString(handle, name, sizeof name);
    KPreparsed preparsed = kNoPreparsed;
    hid.getPreparsedData(handle, preparsed);
    KHidCaps caps;
    const bool haveCaps = hid.getCaps(preparsed, caps);
    KHidValueCaps values[kFeatureValueCapsCapacity] = {};
    uint16_t count = kFeatureValueCapsCapacity;
    const uint32_t status = hid.getFeatureValueCaps(preparsed, values, count);
    hid.freePreparsedData(preparsed);
    hid.closeHandle(handle);

    std::printf("  %s", utf8(path).c_str());
    if (haveAttributes)
        std::printf("  %04x:%04x v%u", attributes.VendorID, attributes.ProductID, attributes.VersionNumber);
    else
        std::printf("  (no attributes)");
    if (haveCaps)
        std::printf("  %04x:%04x  in %u out %u feature %u", caps.UsagePage, caps.Usage, caps.InputReportByteLength,
                    caps.OutputReportByteLength, caps.FeatureReportByteLength);
    else
        std::printf("  (no capabilities)");
    std::printf("  feature value caps %u (status 0x%08lx)  \"%s\"\n", static_cast<unsigned>(count),
                static_cast<unsigned long>(status), utf8(productName(name, sizeof name / sizeof name[0])).c_str());

    // Windows keeps mice and keyboards to itself, so refusals are expected here.
    for (KOpenMode mode : {KOpenMode::Write, KOpenMode::Read}) {
        std::string reason;
        const KHandle report = hid.open(path, mode, &reason);
        std::printf("      open for %s: %s\n", mode == KOpenMode::Write ? "writing" : "reading",
                    report == kInvalidHandle ? reason.c_str() : "ok");
        hid.closeHandle(report);
    }
}

void walk(KHidPlatform &hid)
{
    std::printf("HID interfaces:\n");
    const KInterfaceSet set = hid.openInterfaceSet();
    check(set != kNoInterfaceSet, "the set of present HID interfaces opens");
    if (set == kNoInterfaceSet)
        return;

    uint32_t index = 0;
    bool pathsHold = true;
    for (; hid.enumInterface(set, index); ++index) {
        const std::size_t units = hid.interfacePathLength(set, index);
        std::vector<char16_t> block(units + 1, u'?');
        if (units == 0 || !hid.interfacePath(set, index, block.data(), units)) {
            std::printf("  interface %u: its path cannot be read\n", index);
            pathsHold = false;
            continue;
        }
        // The path and its terminator fit the length announced for it, and
        // a buffer one unit short is refused rather than overrun.
        const std::u16string path(block.data());
        pathsHold = pathsHold && path.size() < units && block[units] == u'?';
        std::vector<char16_t> shortBlock(units, u'?');
        pathsHold = pathsHold && !hid.interfacePath(set, index, shortBlock.data(), path.size())
            && shortBlock[path.size()] == u'?';
        printInterface(hid, path);
    }
    std::printf("%u HID interface(s)\n", index);
    check(pathsHold, "every interface path fits the length announced for it");
    check(!hid.enumInterface(set, index) && hid.interfacePathLength(set, index) == 0,
          "the index past the last interface holds nothing");
    char16_t spare[8] = {};
    check(!hid.interfacePath(set, index, spare, 8), "the index past the last interface has no path");
    hid.closeInterfaceSet(set);
}

void checkRefusals(KHidPlatform &hid)
{
    std::string reason;
    const KHandle absent = hid.open(u"\\\\?\\hid#vid_0000&pid_0000#bondara#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                                    KOpenMode::Write, &reason);
    check(absent == kInvalidHandle && !reason.empty(), "a path that names no device fails, with the system's words");
    std::printf("       (%s)\n", reason.c_str());

    // The null device stands in for a file that opens but is no HID interface.
    const KHandle nul = hid.open(u"\\\\.\\NUL", KOpenMode::Write, nullptr);
    check(nul != kInvalidHandle, "the null device opens for writing");
    if (nul != kInvalidHandle) {
        uint8_t report[32] = {0xBA, 0x01};
        check(hid.writeFile(nul, report, sizeof report), "a 32-byte write to it succeeds");
        check(!hid.writeFile(nul, report, 0) && !hid.writeFile(nul, nullptr, 32), "an empty write is refused");
        KHidAttributes attributes;
        check(!hid.getAttributes(nul, attributes), "it has no HID attributes");
        uint8_t input[32] = {0xBA};
        check(!hid.getInputReport(nul, input, sizeof input) && !hid.lastIoError().empty(),
              "it gives no input report, and the system says why");
        hid.closeHandle(nul);
    }

    // The pairing lock belongs to the receiver, whichever handle asks: the null device stands in.
    {
        const std::u16string path = u"\\\\.\\NUL";
        const KHandle first = hid.open(path, KOpenMode::Write, nullptr);
        const KHandle second = hid.open(path, KOpenMode::Write, nullptr);
        // Another run is another thread: a mutex's owner may take it again.
        const auto elsewhere = [&](const std::u16string &asked) {
            KLock got = KLock::Unsupported;
            std::thread([&] {
                got = hid.lockForPairing(second, asked);
                hid.closeHandle(second);
            }).join();
            return got;
        };
        check(hid.lockForPairing(first, path) == KLock::Taken, "a handle takes the pairing lock");
        check(elsewhere(u"\\\\.\\nul") == KLock::Held, "another run on the same path, in any case, finds it held");
        hid.closeHandle(first);
        const KHandle third = hid.open(path, KOpenMode::Write, nullptr);
        std::thread([&] {
            check(hid.lockForPairing(third, path) == KLock::Taken, "closing the holder releases it");
            hid.closeHandle(third);
        }).join();
    }

    std::u16string cut = u"\\\\.\\NUL";
    cut.push_back(u'\0');
    cut += u"x";
    reason.clear();
    check(hid.open(cut, KOpenMode::Query, &reason) == kInvalidHandle && !reason.empty(),
          "a path with a NUL inside is refused, not cut short");
    check(hid.open(std::u16string(), KOpenMode::Query, nullptr) == kInvalidHandle, "an empty path is refused");

    KHidAttributes attributes;
    uint8_t bytes[8] = {};
    check(!hid.getAttributes(kInvalidHandle, attributes) && !hid.writeFile(kInvalidHandle, bytes, sizeof bytes)
              && !hid.getInputReport(kInvalidHandle, bytes, sizeof bytes)
              && !hid.getProductString(kInvalidHandle, bytes, sizeof bytes),
          "the invalid handle is never passed on");
    hid.closeHandle(kInvalidHandle);

    KHidCaps caps;
    KHidValueCaps values[2] = {};
    uint16_t count = 2;
    check(!hid.getCaps(kNoPreparsed, caps)
              && hid.getFeatureValueCaps(kNoPreparsed, values, count) == kHidpStatusInvalidPreparsedData && count == 0,
          "missing parsed data reads as invalid");
    hid.freePreparsedData(kNoPreparsed);

    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    hid.sleepMs(20);
    QueryPerformanceCounter(&after);
    check((after.QuadPart - before.QuadPart) * 1000 >= 15 * frequency.QuadPart, "the pause waits");
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

// Message-only: it takes notifications like the watcher's hidden window, and
// needs no display, which wine has none of here.
HWND makeWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"BondaraWincheck";
    if (!RegisterClassW(&windowClass))
        return nullptr;
    return CreateWindowExW(0, windowClass.lpszClassName, L"wincheck", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, HWND_MESSAGE,
                           nullptr, windowClass.hInstance, nullptr);
}

// A record laid out by the system's own header, as lParam points to it.
std::vector<unsigned char> broadcast(DWORD deviceType, const wchar_t *name)
{
    const std::size_t units = std::wcslen(name) + 1;
    const std::size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + units * sizeof(wchar_t);
    std::vector<unsigned char> bytes(std::max(size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)));
    DEV_BROADCAST_DEVICEINTERFACE_W record = {};
    record.dbcc_size = static_cast<DWORD>(size);
    record.dbcc_devicetype = deviceType;
    std::memcpy(bytes.data(), &record, offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name));
    std::memcpy(bytes.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name), name, units * sizeof(wchar_t));
    return bytes;
}

void checkNotifications()
{
    const HWND window = makeWindow();
    check(window != nullptr, "a hidden window is created");
    if (window) {
        winnotify::KHidNotifications notifications;
        long code = 0;
        const bool registered = notifications.registerWindow(reinterpret_cast<std::uintptr_t>(window), &code);
        check(registered && notifications.isRegistered(), "HID notifications are registered for it");
        if (!registered)
            std::printf("       (error code %ld)\n", code);
        check(notifications.registerWindow(reinterpret_cast<std::uintptr_t>(window), &code),
              "registering again replaces the first registration");
        notifications.unregister();
        check(!notifications.isRegistered(), "unregistering clears it");
        DestroyWindow(window);
    }

    winnotify::KHidNotifications none;
    long code = 0;
    check(!none.registerWindow(0, &code) && code == ERROR_INVALID_WINDOW_HANDLE && !none.isRegistered(),
          "registering without a window fails with its code");

    const wchar_t *path = L"\\\\?\\HID#VID_1209&PID_0001&MI_00#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    std::vector<unsigned char> record = broadcast(DBT_DEVTYP_DEVICEINTERFACE, path);
    MSG msg = {};
    msg.message = WM_DEVICECHANGE;
    msg.wParam = DBT_DEVICEARRIVAL;
    msg.lParam = reinterpret_cast<LPARAM>(record.data());
    winmsg::KDeviceChange change;
    check(winnotify::decodeMessage(&msg, change) && change.arrival
              && change.path == reinterpret_cast<const char16_t *>(path),
          "an arrival message gives its interface path");
    msg.wParam = DBT_DEVICEREMOVECOMPLETE;
    check(winnotify::decodeMessage(&msg, change) && !change.arrival, "a removal message is a removal");
    msg.wParam = DBT_DEVICEQUERYREMOVE;
    check(!winnotify::decodeMessage(&msg, change), "a query-remove message is ignored");
    record = broadcast(DBT_DEVTYP_VOLUME, path);
    msg.wParam = DBT_DEVICEARRIVAL;
    msg.lParam = reinterpret_cast<LPARAM>(record.data());
    check(!winnotify::decodeMessage(&msg, change), "a volume's arrival is ignored");
    check(!winnotify::decodeMessage(nullptr, change), "no message is ignored");
}


// Scenes, catalogues and descriptors live in folders the ANSI code page may not
// spell; the reader opens them by their UTF-16 names all the same.
void checkWideNames()
{
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    check(length > 0 && length <= MAX_PATH, "the temporary folder is known");
    const struct {
        const char *script;
        const char16_t *folder;
    } folders[] = {{"Cyrillic", u"bondara-Приёмник"},
                   {"Chinese", u"bondara-接收器"}};
    for (const auto &row : folders) {
        const std::u16string dir = std::u16string(reinterpret_cast<const char16_t *>(temp)) + row.folder;
        const std::u16string file = dir + u"\\scene.json";
        const auto *wideDir = reinterpret_cast<const wchar_t *>(dir.c_str());
        const auto *wideFile = reinterpret_cast<const wchar_t *>(file.c_str());
        BOOL lossy = FALSE;
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wideDir, -1, nullptr, 0, nullptr, &lossy);
        std::printf("       (%s folder %s, %s in the ANSI code page %u)\n", row.script, utf8(dir).c_str(),
                    lossy ? "not spelled" : "spelled", GetACP());
        CreateDirectoryW(wideDir, nullptr);

        std::string what = std::string("a file under the ") + row.script + " folder: ";
        int fd = openByName(file, O_WRONLY | O_APPEND | O_CREAT);
        check(fd >= 0 && GetFileAttributesW(wideFile) != INVALID_FILE_ATTRIBUTES,
              (what + "created by its own name").c_str());
        // CR LF and ^Z, which a text-mode descriptor would change.
        const char bytes[] = "{}\r\n\x1a!";
        const int size = static_cast<int>(sizeof bytes - 1);
        if (fd >= 0) {
            check(_write(fd, bytes, size) == size, (what + "written").c_str());
            _close(fd);
        }
        unsigned mode = 0;
        check(fileModeByName(file, &mode) && S_ISREG(mode), (what + "a regular file").c_str());
        check(fileModeByName(dir, &mode) && S_ISDIR(mode), (what + "its folder a directory").c_str());
        char back[32] = {};
        fd = openByName(file, O_RDONLY);
        check(fd >= 0 && _read(fd, back, sizeof back) == size && std::memcmp(back, bytes, size) == 0,
              (what + "read back byte for byte").c_str());
        if (fd >= 0)
            _close(fd);
        errno = 0;
        check(openByName(dir + u"\\absent.json", O_RDONLY) < 0 && errno == ENOENT
                  && !fileModeByName(dir + u"\\absent.json", &mode) && errno == ENOENT,
              (what + "one missing beside it is missing").c_str());
        DeleteFileW(wideFile);
        RemoveDirectoryW(wideDir);
    }
}

} // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::unique_ptr<KHidPlatform> hid = makeNativePlatform();
    walk(*hid);
    checkRefusals(*hid);
    checkNotifications();
    checkWideNames();
    if (gFailures == 0)
        std::printf("wincheck: all %d checks held\n", gChecks);
    else
        std::printf("wincheck: %d of %d checks FAILED\n", gFailures, gChecks);
    return gFailures == 0 ? 0 : 1;
}
