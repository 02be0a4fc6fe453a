// SPDX-License-Identifier: MIT
#include "kplatform.h"

#include "ksimplatform.h"

#include <QString>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace KHID {

namespace {

std::mutex gInstallMutex;
std::unique_ptr<KHidPlatform> gOwned;
std::atomic<KHidPlatform *> gCurrent{nullptr};

} // namespace

KHidPlatform &platform()
{
    if (KHidPlatform *current = gCurrent.load(std::memory_order_acquire))
        return *current;
    std::lock_guard<std::mutex> lock(gInstallMutex);
    if (!gOwned) {
        gOwned = makeNativePlatform();
        gCurrent.store(gOwned.get(), std::memory_order_release);
    }
    return *gOwned;
}

void installPlatform(std::unique_ptr<KHidPlatform> backend)
{
    std::lock_guard<std::mutex> lock(gInstallMutex);
    gOwned = std::move(backend);
    gCurrent.store(gOwned.get(), std::memory_order_release);
}

std::unique_ptr<KHidPlatform> takePlatform()
{
    std::lock_guard<std::mutex> lock(gInstallMutex);
    std::unique_ptr<KHidPlatform> taken = gOwned ? std::move(gOwned) : makeNativePlatform();
    gCurrent.store(nullptr, std::memory_order_release);
    return taken;
}

bool installPlatformFromEnvironment(std::string *error)
{
    const char *scene = std::getenv(kSimulateVariable);
    if (!scene || !*scene) {
        installPlatform(makeNativePlatform());
        return true;
    }
    QString reason;
    std::unique_ptr<KSimPlatform> simulated = KSimPlatform::fromFile(QString::fromLocal8Bit(scene), &reason);
    if (!simulated) {
        if (error)
            *error = reason.toStdString();
        return false;
    }
    installPlatform(std::move(simulated));
    return true;
}

} // namespace KHID
