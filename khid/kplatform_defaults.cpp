// SPDX-License-Identifier: MIT
// What a backend does where it has nothing of its own to say. Qt-free, so the
// Windows check can link the backend without the rest of the core.
#include "khid/kplatform.h"

#include <chrono>

namespace KHID {

bool KHidPlatform::probeAccess(const std::u16string &path, std::string *reason)
{
    const KHandle write = open(path, KOpenMode::Write, reason);
    if (write == kInvalidHandle)
        return false;
    const KHandle read = open(path, KOpenMode::Read, reason);
    closeHandle(write);
    if (read == kInvalidHandle)
        return false;
    closeHandle(read);
    return true;
}

std::string KHidPlatform::accessFix() const
{
    return "close any other program that uses the receiver, then unplug it and plug it in again";
}

KDeviceInstance KHidPlatform::deviceInstance(const std::u16string &)
{
    return {};
}

std::vector<KCheck> KHidPlatform::nodeChecks(const std::u16string &)
{
    return {};
}

std::vector<KCheck> KHidPlatform::systemChecks()
{
    return {};
}

std::vector<std::string> KHidPlatform::accessRuleDirectories() const
{
    return {};
}

KLock KHidPlatform::lockForPairing(KHandle, const std::u16string &)
{
    return KLock::Unsupported;
}

std::string KHidPlatform::handleInstance(KHandle)
{
    return {};
}

uint64_t KHidPlatform::nowMs()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

} // namespace KHID
