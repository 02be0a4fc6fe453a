// SPDX-License-Identifier: MIT
#include "khid/kplatform.h"

#include <atomic>
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

} // namespace KHID
