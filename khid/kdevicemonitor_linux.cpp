// SPDX-License-Identifier: MIT
#include "khid/kdevicemonitor_linux.h"

#include "khid/kplatform_linux.h"

#include <QDebug>
#include <QSocketNotifier>

#include <libudev.h>

#include <cerrno>
#include <unistd.h>

namespace KHID {

namespace {

class UdevSource : public KHidrawEventSource
{
public:
    ~UdevSource() override
    {
        if (mMonitor)
            udev_monitor_unref(mMonitor);
        if (mUdev)
            udev_unref(mUdev);
    }

    static std::unique_ptr<KHidrawEventSource> open(long *errorCode)
    {
        // Events from the udev daemon come after its rules, and so after the
        // node's permissions, are applied; without a daemon (containers) only
        // the kernel's own events exist.
        const bool daemon = ::access("/run/udev/control", F_OK) == 0;
        auto source = std::make_unique<UdevSource>();
        errno = 0;
        source->mUdev = udev_new();
        if (source->mUdev)
            source->mMonitor = udev_monitor_new_from_netlink(source->mUdev, daemon ? "udev" : "kernel");
        int result = source->mMonitor ? 0 : -(errno != 0 ? errno : 1);
        if (result == 0)
            result = udev_monitor_filter_add_match_subsystem_devtype(source->mMonitor, "hidraw", nullptr);
        if (result == 0)
            result = udev_monitor_enable_receiving(source->mMonitor);
        if (result < 0) {
            // libudev returns the negated errno.
            if (errorCode)
                *errorCode = -result;
            return nullptr;
        }
        return source;
    }

    int fd() const override { return udev_monitor_get_fd(mMonitor); }

    bool next(KHidrawEvent &event) override
    {
        udev_device *device = udev_monitor_receive_device(mMonitor);
        if (!device)
            return false;
        const char *action = udev_device_get_action(device);
        const char *sysname = udev_device_get_sysname(device);
        const char *devnode = udev_device_get_devnode(device);
        event.action = action ? action : "";
        event.sysname = sysname ? sysname : "";
        event.devnode = devnode ? devnode : "";
        udev_device_unref(device);
        return true;
    }

private:
    udev *mUdev = nullptr;
    udev_monitor *mMonitor = nullptr;
};

KHidrawMonitor::Hooks systemHooks()
{
    KHidrawMonitor::Hooks hooks;
    hooks.openSource = &UdevSource::open;
    hooks.collectionsOf = &linuxhid::nodeCollections;
    hooks.presentNodes = [] {
        std::vector<std::pair<unsigned, std::size_t>> nodes;
        for (const linuxhid::NodeListing &listing : linuxhid::presentNodes())
            nodes.emplace_back(listing.node, listing.collections);
        return nodes;
    };
    return hooks;
}

std::vector<QString> pathsOf(unsigned node, std::size_t collections)
{
    std::vector<QString> paths;
    for (const std::string &path : linuxhid::listInterfacePaths({{node, collections}}))
        paths.push_back(QString::fromStdString(path));
    return paths;
}

} // namespace

KHidrawMonitor::KHidrawMonitor()
    : KHidrawMonitor(systemHooks())
{
}

KHidrawMonitor::KHidrawMonitor(Hooks hooks, QObject *parent)
    : KDeviceMonitor(parent)
    , mHooks(std::move(hooks))
{
}

KHidrawMonitor::~KHidrawMonitor() = default;

bool KHidrawMonitor::start(quintptr, long *errorCode)
{
    if (mSource)
        return true;
    long code = 0;
    std::unique_ptr<KHidrawEventSource> source = mHooks.openSource(&code);
    if (!source) {
        if (errorCode)
            *errorCode = code;
        return false;
    }
    mSource = std::move(source);
    // Nodes that were there first still need their paths when they go.
    for (const auto &node : mHooks.presentNodes())
        mPaths[node.first] = pathsOf(node.first, node.second);
    mNotifier = new QSocketNotifier(mSource->fd(), QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, &KHidrawMonitor::onReadable);
    return true;
}

void KHidrawMonitor::onReadable()
{
    KHidrawEvent event;
    while (mSource->next(event))
        handle(event);
}

void KHidrawMonitor::handle(const KHidrawEvent &event)
{
    // A change (new rights after `udevadm trigger`, say) is told as an
    // arrival: the node is there, and whoever cares looks at it again.
    const bool arrival = event.action == "add" || event.action == "change";
    if (!arrival && event.action != "remove")
        return;
    unsigned node = 0;
    if (event.devnode.empty() || !linuxhid::parseNodeName(event.sysname, node)) {
        qDebug().noquote() << "hidraw event without a device node:" << QString::fromStdString(event.action)
                           << QString::fromStdString(event.sysname);
        return;
    }

    if (arrival) {
        std::size_t collections = 0;
        if (!mHooks.collectionsOf(node, collections)) {
            qDebug().noquote() << "hidraw node gone before it could be read:" << QString::fromStdString(event.devnode);
            return;
        }
        std::vector<QString> &paths = mPaths[node];
        paths = pathsOf(node, collections);
        for (const QString &path : paths)
            emit sigDeviceChange(true, path);
        return;
    }

    auto known = mPaths.find(node);
    // A node we never saw arrive had its descriptor read by nobody: name the node itself.
    const std::vector<QString> paths = known != mPaths.end() ? known->second : pathsOf(node, 1);
    if (known != mPaths.end())
        mPaths.erase(known);
    for (const QString &path : paths)
        emit sigDeviceChange(false, path);
}

std::unique_ptr<KDeviceMonitor> makeNativeDeviceMonitor()
{
    return std::make_unique<KHidrawMonitor>();
}

} // namespace KHID
