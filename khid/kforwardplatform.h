// SPDX-License-Identifier: MIT
#pragma once

// A backend that passes every call on to another, for one that watches or
// changes a few of them to override only those. Plain C++, as the interface is.

#include "khid/kplatform.h"

#include <memory>
#include <utility>

namespace KHID {

class KForwardPlatform : public KHidPlatform
{
public:
    explicit KForwardPlatform(std::unique_ptr<KHidPlatform> inner) : mInner(std::move(inner)) {}

    KDeviceMonitor *newDeviceMonitor() override { return mInner->newDeviceMonitor(); }
    KInterfaceSet openInterfaceSet() override { return mInner->openInterfaceSet(); }
    bool enumInterface(KInterfaceSet set, uint32_t index) override { return mInner->enumInterface(set, index); }
    std::size_t interfacePathLength(KInterfaceSet set, uint32_t index) override
    {
        return mInner->interfacePathLength(set, index);
    }
    bool interfacePath(KInterfaceSet set, uint32_t index, char16_t *buffer, std::size_t units) override
    {
        return mInner->interfacePath(set, index, buffer, units);
    }
    void closeInterfaceSet(KInterfaceSet set) override { mInner->closeInterfaceSet(set); }
    KHandle open(const std::u16string &path, KOpenMode mode, std::string *reason) override
    {
        return mInner->open(path, mode, reason);
    }
    bool getAttributes(KHandle handle, KHidAttributes &attributes) override
    {
        return mInner->getAttributes(handle, attributes);
    }
    bool getProductString(KHandle handle, void *buffer, std::size_t bytes) override
    {
        return mInner->getProductString(handle, buffer, bytes);
    }
    bool getPreparsedData(KHandle handle, KPreparsed &data) override { return mInner->getPreparsedData(handle, data); }
    bool getCaps(KPreparsed data, KHidCaps &caps) override { return mInner->getCaps(data, caps); }
    uint32_t getFeatureValueCaps(KPreparsed data, KHidValueCaps *caps, uint16_t &count) override
    {
        return mInner->getFeatureValueCaps(data, caps, count);
    }
    void freePreparsedData(KPreparsed data) override { mInner->freePreparsedData(data); }
    bool writeFile(KHandle handle, const uint8_t *data, std::size_t length) override
    {
        return mInner->writeFile(handle, data, length);
    }
    bool getInputReport(KHandle handle, uint8_t *buffer, std::size_t length) override
    {
        return mInner->getInputReport(handle, buffer, length);
    }
    std::string lastIoError() const override { return mInner->lastIoError(); }
    bool lastIoDeviceGone() const override { return mInner->lastIoDeviceGone(); }
    void closeHandle(KHandle handle) override { mInner->closeHandle(handle); }
    KLock lockForPairing(KHandle handle, const std::u16string &path) override
    {
        return mInner->lockForPairing(handle, path);
    }
    std::string handleInstance(KHandle handle) override { return mInner->handleInstance(handle); }
    bool probeAccess(const std::u16string &path, std::string *reason) override
    {
        return mInner->probeAccess(path, reason);
    }
    KDeviceInstance deviceInstance(const std::u16string &path) override { return mInner->deviceInstance(path); }
    std::string accessFix() const override { return mInner->accessFix(); }
    std::vector<KCheck> nodeChecks(const std::u16string &path) override { return mInner->nodeChecks(path); }
    std::vector<KCheck> systemChecks() override { return mInner->systemChecks(); }
    std::vector<std::string> accessRuleDirectories() const override { return mInner->accessRuleDirectories(); }
    void sleepMs(uint32_t milliseconds) override { mInner->sleepMs(milliseconds); }
    uint64_t nowMs() override { return mInner->nowMs(); }

protected:
    KHidPlatform &inner() const { return *mInner; }

private:
    std::unique_ptr<KHidPlatform> mInner;
};

} // namespace KHID
