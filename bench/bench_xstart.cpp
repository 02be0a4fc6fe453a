// SPDX-License-Identifier: MIT
// What a user waits for: from exec to the first painted pixels of a program's
// window on an X display, and its resident memory at that moment. Each program
// given is started in turn, interleaved, `rounds` times; the X server tells
// when the window is created, mapped and drawn into (the DAMAGE extension), so
// nothing inside the programs is needed to measure them.
//
// Usage: bench_xstart [--rounds N] [--baseline NAME]... NAME=COMMAND...
//   each NAME=COMMAND is one program; COMMAND is split on spaces.
// Prints a table of medians and the ratios against each baseline (by default
// the first program).

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Program {
    std::string name;
    std::vector<std::string> argv;
    std::vector<double> startMs;
    std::vector<double> rssKiB;
};

double nowMs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

class Display
{
public:
    bool open()
    {
        mConnection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(mConnection))
            return false;
        mRoot = xcb_setup_roots_iterator(xcb_get_setup(mConnection)).data->root;
        const xcb_query_extension_reply_t *damage = xcb_get_extension_data(mConnection, &xcb_damage_id);
        if (!damage || !damage->present)
            return false;
        mDamageEvent = damage->first_event + XCB_DAMAGE_NOTIFY;
        xcb_damage_query_version_reply_t *version = xcb_damage_query_version_reply(
            mConnection, xcb_damage_query_version(mConnection, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION),
            nullptr);
        free(version);
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(mConnection, mRoot, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(mConnection);
        return true;
    }

    // Starts `program` and waits for a large top-level window of it to be drawn
    // over most of its area. Returns false on a time-out or an early exit.
    bool measure(Program &program, int timeoutMs)
    {
        drain();
        const double start = nowMs();
        const pid_t pid = fork();
        if (pid == 0) {
            // The programs' own output is not what is measured.
            const int null = ::open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            std::vector<char *> argv;
            for (std::string &arg : program.argv)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        struct Window {
            int width = 0, height = 0;
            bool mapped = false;
            xcb_damage_damage_t damage = 0;
        };
        std::map<xcb_window_t, Window> windows;
        bool done = false;
        double paintedMs = 0;
        while (!done && nowMs() - start < timeoutMs) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                std::fprintf(stderr, "bench_xstart: %s exited before painting\n", program.name.c_str());
                return false;
            }
            xcb_generic_event_t *event = xcb_poll_for_event(mConnection);
            if (!event) {
                pollfd fd { xcb_get_file_descriptor(mConnection), POLLIN, 0 };
                poll(&fd, 1, 20);
                continue;
            }
            const uint8_t type = event->response_type & 0x7f;
            if (type == XCB_CREATE_NOTIFY) {
                auto *created = reinterpret_cast<xcb_create_notify_event_t *>(event);
                if (created->parent == mRoot) {
                    Window &window = windows[created->window];
                    window.width = created->width;
                    window.height = created->height;
                    window.damage = xcb_generate_id(mConnection);
                    xcb_damage_create(mConnection, window.damage, created->window,
                                      XCB_DAMAGE_REPORT_LEVEL_BOUNDING_BOX);
                    xcb_flush(mConnection);
                }
            } else if (type == XCB_CONFIGURE_NOTIFY) {
                auto *configured = reinterpret_cast<xcb_configure_notify_event_t *>(event);
                auto it = windows.find(configured->window);
                if (it != windows.end()) {
                    it->second.width = configured->width;
                    it->second.height = configured->height;
                }
            } else if (type == XCB_MAP_NOTIFY) {
                auto it = windows.find(reinterpret_cast<xcb_map_notify_event_t *>(event)->window);
                if (it != windows.end())
                    it->second.mapped = true;
            } else if (type == mDamageEvent) {
                auto *damaged = reinterpret_cast<xcb_damage_notify_event_t *>(event);
                auto it = windows.find(damaged->drawable);
                if (it != windows.end() && it->second.mapped && it->second.width >= 400 && it->second.height >= 300) {
                    const long area = long(damaged->area.width) * damaged->area.height;
                    if (area * 10 >= long(it->second.width) * it->second.height * 9) {
                        paintedMs = nowMs();
                        done = true;
                    }
                }
            }
            free(event);
        }
        if (done) {
            program.startMs.push_back(paintedMs - start);
            program.rssKiB.push_back(residentKiB(pid));
        } else {
            std::fprintf(stderr, "bench_xstart: %s painted nothing within %d ms\n", program.name.c_str(), timeoutMs);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        for (auto &entry : windows) {
            if (entry.second.damage)
                xcb_damage_destroy(mConnection, entry.second.damage);
        }
        xcb_flush(mConnection);
        drain();
        return done;
    }

private:
    // Events of the previous run (its windows' destruction) belong to no one.
    void drain()
    {
        xcb_aux_sync();
        while (xcb_generic_event_t *event = xcb_poll_for_event(mConnection))
            free(event);
    }

    void xcb_aux_sync()
    {
        free(xcb_get_input_focus_reply(mConnection, xcb_get_input_focus(mConnection), nullptr));
    }

    xcb_connection_t *mConnection = nullptr;
    xcb_window_t mRoot = 0;
    uint8_t mDamageEvent = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    int rounds = 15;
    std::vector<Program> programs;
    std::vector<std::string> baselineNames;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
            continue;
        }
        if (arg == "--baseline" && i + 1 < argc) {
            baselineNames.push_back(argv[++i]);
            continue;
        }
        const size_t equals = arg.find('=');
        if (equals == std::string::npos || equals == 0) {
            std::fprintf(stderr, "usage: bench_xstart [--rounds N] [--baseline NAME]... NAME=COMMAND...\n");
            return 2;
        }
        Program program;
        program.name = arg.substr(0, equals);
        std::istringstream words(arg.substr(equals + 1));
        for (std::string word; words >> word;)
            program.argv.push_back(word);
        programs.push_back(program);
    }
    if (programs.empty() || rounds < 1) {
        std::fprintf(stderr, "usage: bench_xstart [--rounds N] [--baseline NAME]... NAME=COMMAND...\n");
        return 2;
    }
    if (baselineNames.empty())
        baselineNames.push_back(programs.front().name);
    std::vector<const Program *> baselines;
    for (const std::string &name : baselineNames) {
        auto it = std::find_if(programs.begin(), programs.end(), [&](const Program &p) { return p.name == name; });
        if (it == programs.end()) {
            std::fprintf(stderr, "bench_xstart: no program named \"%s\" to compare against\n", name.c_str());
            return 2;
        }
        baselines.push_back(&*it);
    }

    Display display;
    if (!display.open()) {
        std::fprintf(stderr, "bench_xstart: no X display with the DAMAGE extension\n");
        return 2;
    }
    // One unmeasured run each: the first start of anything pays for the disk cache.
    for (Program &program : programs) {
        Program warm = program;
        display.measure(warm, 20000);
    }
    for (int round = 0; round < rounds; ++round) {
        for (Program &program : programs) {
            if (!display.measure(program, 20000))
                return 1;
        }
    }

    // Ratios against each baseline in turn: time, then resident memory.
    std::printf("%-36s %10s", "exec to first painted window (X)", "median ms");
    for (size_t b = 0; b < baselines.size(); ++b)
        std::printf(" %7s%zu", "ratio", b + 1);
    std::printf(" %10s", "RSS KiB");
    for (size_t b = 0; b < baselines.size(); ++b)
        std::printf(" %7s%zu", "ratio", b + 1);
    std::printf("\n");
    for (const Program &program : programs) {
        const double ms = median(program.startMs);
        const double rss = median(program.rssKiB);
        std::printf("%-36s %10.1f", program.name.c_str(), ms);
        for (const Program *base : baselines)
            std::printf(" %8.2f", ms / median(base->startMs));
        std::printf(" %10.0f", rss);
        for (const Program *base : baselines)
            std::printf(" %8.2f", rss / median(base->rssKiB));
        std::printf("\n");
    }
    for (size_t b = 0; b < baselines.size(); ++b)
        std::printf("ratio%zu: against \"%s\"\n", b + 1, baselines[b]->name.c_str());
    std::printf("(medians of %d interleaved runs)\n", rounds);
    return 0;
}
