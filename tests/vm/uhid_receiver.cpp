// SPDX-License-Identifier: MIT
// uhid-receiver: a 2.4 GHz pairing receiver played to the kernel through /dev/uhid,
// so that hidraw, sysfs and the uevents the tool meets are the kernel's own.
//
// It is written from the receiver's side of the pairing protocol and shares no
// code with the tool: report 0xBA carries the commands (begin A0 81 M 01, poll
// A1 01, end A1 84, query A7) and every reply starts with the marker 0x01 and a
// status byte.
//
// Every event from the kernel goes to the log as one line: milliseconds since
// start, a keyword, then details (for "output" the report's bytes in hex).
// SIGUSR1 unplugs the receiver (UHID_DESTROY), SIGUSR2 plugs it in again,
// SIGALRM puts a device into pairing mode nearby (the next poll of a pairing
// answers paired), SIGTERM and SIGINT unplug it and end the program.
//
// --ignore-get-report leaves every report request unanswered, as a receiver
// whose firmware hangs would: the kernel gives up on each after its 5 s.
// --collections N plays no receiver at all but a device of N empty top-level
// collections, as many as the kernel's 4 KiB descriptor holds, to load a scan.

#include <linux/uhid.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr uint8_t kVendorReport = 0xBA;
constexpr uint8_t kMarker = 0x01;
// Input report 0xBA: the ID byte and 16 data bytes, deliberately not the
// output's 32 so that a mixed-up length shows.
constexpr std::size_t kInputData = 16;
constexpr std::size_t kOutputData = 31;

// Three top-level collections, the vendor one last: a keyboard (ID 1, with LED
// output), a mouse (ID 2) and the pairing collection (ID 0xBA).
const uint8_t kDescriptor[] = {
    0x05, 0x01, 0x09, 0x06, 0xa1, 0x01,       // Generic Desktop, Keyboard, Application
    0x85, 0x01,                               //   Report ID 1
    0x05, 0x07, 0x19, 0xe0, 0x29, 0xe7,       //   modifiers E0..E7
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x08, 0x81, 0x01,       //   reserved byte
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05,       //   LEDs 1..5
    0x95, 0x05, 0x75, 0x01, 0x91, 0x02,
    0x95, 0x01, 0x75, 0x03, 0x91, 0x01,       //   LED padding
    0x05, 0x07, 0x19, 0x00, 0x29, 0x65,       //   six key codes
    0x15, 0x00, 0x25, 0x65, 0x75, 0x08, 0x95, 0x06, 0x81, 0x00,
    0xc0,
    0x05, 0x01, 0x09, 0x02, 0xa1, 0x01,       // Generic Desktop, Mouse, Application
    0x85, 0x02,                               //   Report ID 2
    0x09, 0x01, 0xa1, 0x00,                   //   Pointer, Physical
    0x05, 0x09, 0x19, 0x01, 0x29, 0x03,       //     buttons 1..3
    0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x05, 0x81, 0x01,       //     padding
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x38, // X, Y, wheel
    0x15, 0x81, 0x25, 0x7f, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06,
    0xc0,
    0xc0,
    0x06, 0x00, 0xff, 0x09, 0x01, 0xa1, 0x01, // Vendor FF00, usage 1, Application
    0x85, kVendorReport,                      //   Report ID 0xBA
    0x15, 0x00, 0x26, 0xff, 0x00, 0x75, 0x08,
    0x95, kInputData, 0x09, 0x01, 0x81, 0x02, //   input: 16 bytes
    0x95, kOutputData, 0x09, 0x01, 0x91, 0x02, //   output: 31 bytes
    0xc0,
};

// The kernel's HID_MAX_DESCRIPTOR_SIZE, which UHID_CREATE2 takes at most.
constexpr std::size_t kMaxDescriptor = sizeof(uhid_create2_req::rd_data);
// A usage page of its own, then each collection as Collection (Application), End Collection.
const uint8_t kEmptyPage[] = {0x06, 0x01, 0xff};
const uint8_t kEmptyCollection[] = {0xa1, 0x01, 0xc0};
constexpr std::size_t kMaxEmptyCollections = (kMaxDescriptor - sizeof kEmptyPage) / sizeof kEmptyCollection;

struct Options {
    unsigned vid = 0;
    unsigned pid = 0;
    std::string name = "Bondara VM Receiver";
    int pairAfter = 3; // polls answered "not yet"; -1: never paired
    unsigned pairStatus = 1;
    int unplugAtPoll = 0; // 0: never
    bool ignoreGetReport = false;
    long collections = 0; // 0: the receiver's own descriptor
    std::string logPath;
};

std::vector<uint8_t> descriptorFor(const Options &options)
{
    if (options.collections == 0)
        return std::vector<uint8_t>(std::begin(kDescriptor), std::end(kDescriptor));
    std::vector<uint8_t> bytes(std::begin(kEmptyPage), std::end(kEmptyPage));
    for (long i = 0; i < options.collections; ++i)
        bytes.insert(bytes.end(), std::begin(kEmptyCollection), std::end(kEmptyCollection));
    return bytes;
}

enum class State { Idle, Pairing, Paired };

FILE *gLog = stdout;
timespec gStart;

double elapsedMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - gStart.tv_sec) * 1000.0 + (now.tv_nsec - gStart.tv_nsec) / 1e6;
}

void logLine(const char *format, ...)
{
    std::fprintf(gLog, "%.3f ", elapsedMs());
    va_list args;
    va_start(args, format);
    std::vfprintf(gLog, format, args);
    va_end(args);
    std::fputc('\n', gLog);
    std::fflush(gLog);
}

std::string hexBytes(const uint8_t *data, std::size_t size)
{
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02x" : "%02x", data[i]);
        text += byte;
    }
    return text;
}

class Receiver {
public:
    Receiver(int fd, const Options &options)
        : mFd(fd)
        , mOptions(options)
    {
    }

    bool plugged() const { return mPlugged; }

    void deviceInPairingMode()
    {
        mDeviceWaiting = true;
        logLine("device in pairing mode");
    }

    bool plug()
    {
        uhid_event event;
        std::memset(&event, 0, sizeof event);
        event.type = UHID_CREATE2;
        uhid_create2_req &req = event.u.create2;
        std::snprintf(reinterpret_cast<char *>(req.name), sizeof req.name, "%s", mOptions.name.c_str());
        std::snprintf(reinterpret_cast<char *>(req.phys), sizeof req.phys, "uhid-receiver/input0");
        const std::vector<uint8_t> descriptor = descriptorFor(mOptions);
        req.rd_size = static_cast<uint16_t>(descriptor.size());
        req.bus = BUS_USB;
        req.vendor = mOptions.vid;
        req.product = mOptions.pid;
        req.version = 0x0100;
        std::memcpy(req.rd_data, descriptor.data(), descriptor.size());
        if (!send(event, "create"))
            return false;
        mPlugged = true;
        mState = State::Idle;
        mPolls = 0;
        std::memset(mReply, 0, sizeof mReply);
        logLine("create %04x:%04x, descriptor %zu bytes", mOptions.vid, mOptions.pid, descriptor.size());
        return true;
    }

    void unplug(const char *why)
    {
        if (!mPlugged)
            return;
        uhid_event event;
        std::memset(&event, 0, sizeof event);
        event.type = UHID_DESTROY;
        send(event, "destroy");
        mPlugged = false;
        logLine("destroy (%s)", why);
    }

    // One event from the kernel; false when /dev/uhid itself failed.
    bool serve()
    {
        uhid_event event;
        std::memset(&event, 0, sizeof event);
        const ssize_t got = ::read(mFd, &event, sizeof event);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                return true;
            logLine("error reading /dev/uhid: %s", std::strerror(errno));
            return false;
        }
        if (got < static_cast<ssize_t>(sizeof event.type))
            return true;

        switch (event.type) {
        case UHID_START:
            logLine("start flags 0x%llx", static_cast<unsigned long long>(event.u.start.dev_flags));
            break;
        case UHID_STOP:
            logLine("stop");
            break;
        case UHID_OPEN:
            logLine("open");
            break;
        case UHID_CLOSE:
            logLine("close");
            break;
        case UHID_OUTPUT:
            output(event.u.output);
            break;
        case UHID_GET_REPORT:
            getReport(event.u.get_report);
            break;
        case UHID_SET_REPORT:
            setReport(event.u.set_report);
            break;
        default:
            logLine("event %u", event.type);
            break;
        }
        return true;
    }

private:
    bool send(const uhid_event &event, const char *what)
    {
        const ssize_t put = ::write(mFd, &event, sizeof event);
        if (put != static_cast<ssize_t>(sizeof event)) {
            logLine("error: %s: %s", what, put < 0 ? std::strerror(errno) : "short write");
            return false;
        }
        return true;
    }

    void prepareReply(uint8_t marker, uint8_t status)
    {
        std::memset(mReply, 0, sizeof mReply);
        mReply[0] = marker;
        mReply[1] = status;
    }

    uint8_t stateByte() const
    {
        switch (mState) {
        case State::Idle:
            return 0;
        case State::Pairing:
            return 1;
        case State::Paired:
            return 2;
        }
        return 0;
    }

    void output(const uhid_output_req &req)
    {
        const std::size_t size = req.size < UHID_DATA_MAX ? req.size : UHID_DATA_MAX;
        logLine("output %s", hexBytes(req.data, size).c_str());
        if (size < 3 || req.data[0] != kVendorReport)
            return;

        const uint8_t *c = req.data + 1;
        if (c[0] == 0xA0 && size >= 5 && c[1] == 0x81 && c[3] == 0x01 && (c[2] == 0x01 || c[2] == 0x02)) {
            mState = State::Pairing;
            mPolls = 0;
            prepareReply(kMarker, 0x00);
            logLine("begin %s", c[2] == 0x02 ? "keyboard" : "mouse");
        } else if (c[0] == 0xA1 && c[1] == 0x01) {
            ++mPolls;
            if (mOptions.unplugAtPoll > 0 && mPolls == mOptions.unplugAtPoll) {
                unplug("mid-poll");
                return;
            }
            if (mState == State::Pairing
                && (mDeviceWaiting || (mOptions.pairAfter >= 0 && mPolls > mOptions.pairAfter))) {
                mState = State::Paired;
                mDeviceWaiting = false;
            }
            const bool paired = mState == State::Paired;
            prepareReply(kMarker, paired ? static_cast<uint8_t>(mOptions.pairStatus) : 0x00);
            logLine("poll %d: %s", mPolls, paired ? "paired" : "not yet");
        } else if (c[0] == 0xA1 && c[1] == 0x84) {
            mState = State::Idle;
            prepareReply(kMarker, 0x00);
            logLine("end");
        } else if (c[0] == 0xA7) {
            prepareReply(kMarker, stateByte());
            logLine("query: state %u", stateByte());
        } else {
            // No valid reply for a command we do not know.
            prepareReply(0x00, 0x00);
            logLine("unknown command");
        }
    }

    void getReport(const uhid_get_report_req &req)
    {
        if (mOptions.ignoreGetReport) {
            // Same words as an answered fetch, so that each command still pairs with one.
            logLine("get-report %02x %s ignored", req.rnum, req.rtype == UHID_INPUT_REPORT ? "input" : "other");
            return;
        }
        uhid_event reply;
        std::memset(&reply, 0, sizeof reply);
        reply.type = UHID_GET_REPORT_REPLY;
        uhid_get_report_reply_req &answer = reply.u.get_report_reply;
        answer.id = req.id;
        if (req.rnum == kVendorReport && req.rtype == UHID_INPUT_REPORT) {
            answer.err = 0;
            answer.size = sizeof mReply;
            std::memcpy(answer.data, mReply, sizeof mReply);
            logLine("get-report %02x input -> %s", req.rnum, hexBytes(mReply, sizeof mReply).c_str());
        } else {
            answer.err = EIO;
            logLine("get-report %02x type %u -> EIO", req.rnum, req.rtype);
        }
        send(reply, "get-report reply");
    }

    void setReport(const uhid_set_report_req &req)
    {
        const std::size_t size = req.size < UHID_DATA_MAX ? req.size : UHID_DATA_MAX;
        logLine("set-report %02x type %u %s", req.rnum, req.rtype, hexBytes(req.data, size).c_str());
        uhid_event reply;
        std::memset(&reply, 0, sizeof reply);
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = req.id;
        reply.u.set_report_reply.err = 0;
        send(reply, "set-report reply");
    }

    int mFd;
    const Options &mOptions;
    bool mPlugged = false;
    State mState = State::Idle;
    int mPolls = 0;
    bool mDeviceWaiting = false;
    uint8_t mReply[1 + kInputData] = {};
};

int usage(const char *problem)
{
    if (problem)
        std::fprintf(stderr, "uhid-receiver: %s\n", problem);
    std::fprintf(stderr,
                 "Usage: uhid-receiver --vid HEX --pid HEX [--name TEXT] [--pair-after N|never]\n"
                 "                     [--pair-status BYTE] [--unplug-at-poll N] [--ignore-get-report]\n"
                 "                     [--collections N] [--log FILE]\n"
                 "SIGUSR1 unplugs the receiver, SIGUSR2 plugs it in again, SIGALRM pairs the\n"
                 "device at the next poll, SIGTERM ends.\n");
    return 2;
}

bool parseNumber(const char *text, int base, long min, long max, long &value)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, base);
    if (errno != 0 || !end || end == text || *end != '\0' || v < min || v > max)
        return false;
    value = v;
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    clock_gettime(CLOCK_MONOTONIC, &gStart);
    Options options;
    bool haveVid = false;
    bool havePid = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--ignore-get-report") {
            options.ignoreGetReport = true;
            continue;
        }
        if (i + 1 >= argc)
            return usage(("missing value after " + arg).c_str());
        const char *value = argv[++i];
        long n = 0;
        if (arg == "--vid" && parseNumber(value, 16, 0, 0xFFFF, n)) {
            options.vid = static_cast<unsigned>(n);
            haveVid = true;
        } else if (arg == "--pid" && parseNumber(value, 16, 0, 0xFFFF, n)) {
            options.pid = static_cast<unsigned>(n);
            havePid = true;
        } else if (arg == "--name") {
            options.name = value;
        } else if (arg == "--pair-after" && std::strcmp(value, "never") == 0) {
            options.pairAfter = -1;
        } else if (arg == "--pair-after" && parseNumber(value, 10, 0, 1000000, n)) {
            options.pairAfter = static_cast<int>(n);
        } else if (arg == "--pair-status" && parseNumber(value, 16, 0, 0xFF, n)) {
            options.pairStatus = static_cast<unsigned>(n);
        } else if (arg == "--unplug-at-poll" && parseNumber(value, 10, 1, 1000000, n)) {
            options.unplugAtPoll = static_cast<int>(n);
        } else if (arg == "--collections" && parseNumber(value, 10, 1, long(kMaxEmptyCollections), n)) {
            options.collections = n;
        } else if (arg == "--log") {
            options.logPath = value;
        } else {
            return usage(("bad option or value: " + arg + " " + value).c_str());
        }
    }
    if (!haveVid || !havePid)
        return usage("--vid and --pid are required");

    if (!options.logPath.empty()) {
        gLog = std::fopen(options.logPath.c_str(), "a");
        if (!gLog) {
            std::fprintf(stderr, "uhid-receiver: %s: %s\n", options.logPath.c_str(), std::strerror(errno));
            return 1;
        }
    }

    // Signals arrive through a descriptor, between two kernel events, never inside one.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGUSR1, SIGUSR2, SIGALRM, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, s);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        std::perror("uhid-receiver: sigprocmask");
        return 1;
    }
    const int sigFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (sigFd < 0) {
        std::perror("uhid-receiver: signalfd");
        return 1;
    }

    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "uhid-receiver: /dev/uhid: %s\n", std::strerror(errno));
        return 1;
    }
    Receiver receiver(fd, options);
    if (!receiver.plug())
        return 1;

    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {sigFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("uhid-receiver: poll");
            break;
        }
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(sigFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (info.ssi_signo == SIGUSR1) {
                    receiver.unplug("requested");
                } else if (info.ssi_signo == SIGUSR2) {
                    if (!receiver.plugged() && !receiver.plug())
                        break;
                } else if (info.ssi_signo == SIGALRM) {
                    receiver.deviceInPairingMode();
                } else {
                    break;
                }
            }
        }
        if ((fds[0].revents & POLLIN) && !receiver.serve())
            break;
        if (fds[0].revents & (POLLERR | POLLHUP))
            break;
    }
    receiver.unplug("exit");
    ::close(fd);
    logLine("exit");
    return 0;
}
