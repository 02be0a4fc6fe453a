// SPDX-License-Identifier: MIT
#pragma once

// Live hidraw changes on Linux, from a udev monitor, turned into one signal
// per top-level collection with the paths the walk reports.

#include "khid/kdevicemonitor.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

namespace KHID {

// One event as udev tells it.
struct KHidrawEvent {
    std::string action;  // "add", "remove", ...
    std::string sysname; // "hidraw3"
    std::string devnode; // "/dev/hidraw3"; empty when the event carries none
};

// Where events come from: a readable descriptor and a way to take what is pending.
class KHidrawEventSource
{
public:
    virtual ~KHidrawEventSource() = default;
    virtual int fd() const = 0;
    // Takes the next pending event; false when none is pending.
    virtual bool next(KHidrawEvent &event) = 0;
};

class KHidrawMonitor : public KDeviceMonitor
{
    Q_OBJECT

public:
    struct Hooks {
        // Opens the event source; null with an errno-style code on failure.
        std::function<std::unique_ptr<KHidrawEventSource>(long *errorCode)> openSource;
        // The node's top-level collection count (0 when its descriptor does not
        // parse); false when the node is gone.
        std::function<bool(unsigned node, std::size_t &collections)> collectionsOf;
        // The nodes present when the monitor starts.
        std::function<std::vector<std::pair<unsigned, std::size_t>>()> presentNodes;
    };

    // The system's own udev and sysfs.
    KHidrawMonitor();
    explicit KHidrawMonitor(Hooks hooks, QObject *parent = nullptr);
    ~KHidrawMonitor() override;

    bool start(quintptr nativeWindow, long *errorCode) override;

private:
    void onReadable();
    void handle(const KHidrawEvent &event);

    Hooks mHooks;
    std::unique_ptr<KHidrawEventSource> mSource;
    QSocketNotifier *mNotifier = nullptr;
    // What each node contributed when it arrived: its removal names the same paths.
    std::map<unsigned, std::vector<QString>> mPaths;
};

} // namespace KHID
