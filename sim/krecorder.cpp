// SPDX-License-Identifier: MIT
#include "sim/krecorder.h"

#include <QJsonArray>

namespace KHID {

namespace {

QString hex16(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

} // namespace

KRecordPlatform::KRecordPlatform(std::unique_ptr<KHidPlatform> inner)
    : mInner(std::move(inner))
{
    mClock.start();
}

KInterfaceSet KRecordPlatform::openInterfaceSet()
{
    return mInner->openInterfaceSet();
}

bool KRecordPlatform::enumInterface(KInterfaceSet set, uint32_t index)
{
    return mInner->enumInterface(set, index);
}

std::size_t KRecordPlatform::interfacePathLength(KInterfaceSet set, uint32_t index)
{
    return mInner->interfacePathLength(set, index);
}

bool KRecordPlatform::interfacePath(KInterfaceSet set, uint32_t index, char16_t *buffer, std::size_t units)
{
    return mInner->interfacePath(set, index, buffer, units);
}

void KRecordPlatform::closeInterfaceSet(KInterfaceSet set)
{
    mInner->closeInterfaceSet(set);
}

KHandle KRecordPlatform::open(const std::u16string &path, KOpenMode mode, std::string *reason)
{
    std::string why;
    const KHandle handle = mInner->open(path, mode, &why);
    if (reason)
        *reason = why;
    const QString name = QString::fromStdU16String(path);
    std::lock_guard<std::mutex> lock(mLock);
    Interface &interface = mInterfaces[name];
    if (handle == kInvalidHandle) {
        if (mode != KOpenMode::Query)
            interface.openFails = QString::fromStdString(why);
        return handle;
    }
    if (mode != KOpenMode::Query)
        interface.opened = true;
    mHandles[handle] = name;
    return handle;
}

bool KRecordPlatform::getAttributes(KHandle handle, KHidAttributes &attributes)
{
    const bool ok = mInner->getAttributes(handle, attributes);
    std::lock_guard<std::mutex> lock(mLock);
    const auto it = mHandles.find(handle);
    if (ok && it != mHandles.end()) {
        Interface &interface = mInterfaces[it->second];
        interface.vendorId = attributes.VendorID;
        interface.productId = attributes.ProductID;
        interface.version = attributes.VersionNumber;
    }
    return ok;
}

bool KRecordPlatform::getProductString(KHandle handle, void *buffer, std::size_t bytes)
{
    // Passed on, never kept: a product string may name its owner.
    return mInner->getProductString(handle, buffer, bytes);
}

bool KRecordPlatform::getPreparsedData(KHandle handle, KPreparsed &data)
{
    const bool ok = mInner->getPreparsedData(handle, data);
    std::lock_guard<std::mutex> lock(mLock);
    const auto it = mHandles.find(handle);
    if (ok && it != mHandles.end())
        mPreparsed[data] = it->second;
    return ok;
}

bool KRecordPlatform::getCaps(KPreparsed data, KHidCaps &caps)
{
    const bool ok = mInner->getCaps(data, caps);
    std::lock_guard<std::mutex> lock(mLock);
    const auto it = mPreparsed.find(data);
    if (ok && it != mPreparsed.end()) {
        Interface &interface = mInterfaces[it->second];
        interface.caps = caps;
        interface.described = true;
    }
    return ok;
}

uint32_t KRecordPlatform::getFeatureValueCaps(KPreparsed data, KHidValueCaps *caps, uint16_t &count)
{
    const uint32_t status = mInner->getFeatureValueCaps(data, caps, count);
    std::lock_guard<std::mutex> lock(mLock);
    const auto it = mPreparsed.find(data);
    if (status == kHidpStatusSuccess && it != mPreparsed.end()) {
        Interface &interface = mInterfaces[it->second];
        interface.featureReportIds.clear();
        for (uint16_t i = 0; i < count; ++i)
            interface.featureReportIds.append(caps[i].ReportID);
    }
    return status;
}

void KRecordPlatform::freePreparsedData(KPreparsed data)
{
    {
        std::lock_guard<std::mutex> lock(mLock);
        mPreparsed.erase(data);
    }
    mInner->freePreparsedData(data);
}

bool KRecordPlatform::writeFile(KHandle handle, const uint8_t *data, std::size_t length)
{
    const bool ok = mInner->writeFile(handle, data, length);
    const std::string words = ok ? std::string() : mInner->lastIoError();
    std::lock_guard<std::mutex> lock(mLock);
    const auto it = mHandles.find(handle);
    Step step;
    step.path = it == mHandles.end() ? QString() : it->second;
    step.atMs = mClock.elapsed();
    step.write = QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(length));
    step.writeFails = !ok;
    step.words = QString::fromStdString(words);
    mSteps.append(step);
    return ok;
}

bool KRecordPlatform::getInputReport(KHandle handle, uint8_t *buffer, std::size_t length)
{
    const bool ok = mInner->getInputReport(handle, buffer, length);
    const std::string words = ok ? std::string() : mInner->lastIoError();
    std::lock_guard<std::mutex> lock(mLock);
    const auto it = mHandles.find(handle);
    const QString path = it == mHandles.end() ? QString() : it->second;
    // The fetch answers the last request written to the same interface.
    for (int i = mSteps.size() - 1; i >= 0; --i) {
        Step &step = mSteps[i];
        if (step.path != path)
            continue;
        if (step.fetched || step.writeFails)
            break;
        step.fetched = true;
        step.readFails = !ok;
        if (ok)
            step.reply = QByteArray(reinterpret_cast<const char *>(buffer), static_cast<int>(length));
        else
            step.words = QString::fromStdString(words);
        break;
    }
    return ok;
}

std::string KRecordPlatform::lastIoError() const
{
    return mInner->lastIoError();
}

bool KRecordPlatform::lastIoDeviceGone() const
{
    return mInner->lastIoDeviceGone();
}

void KRecordPlatform::closeHandle(KHandle handle)
{
    {
        std::lock_guard<std::mutex> lock(mLock);
        mHandles.erase(handle);
    }
    mInner->closeHandle(handle);
}

// Through this platform's own open, so that a refusal is kept in the scene.
bool KRecordPlatform::probeAccess(const std::u16string &path, std::string *reason)
{
    return KHidPlatform::probeAccess(path, reason);
}

std::string KRecordPlatform::accessFix() const
{
    return mInner->accessFix();
}

KDeviceInstance KRecordPlatform::deviceInstance(const std::u16string &path)
{
    return mInner->deviceInstance(path);
}

std::vector<KCheck> KRecordPlatform::nodeChecks(const std::u16string &path)
{
    return mInner->nodeChecks(path);
}

std::vector<KCheck> KRecordPlatform::systemChecks()
{
    return mInner->systemChecks();
}

std::vector<std::string> KRecordPlatform::accessRuleDirectories() const
{
    return mInner->accessRuleDirectories();
}

void KRecordPlatform::sleepMs(uint32_t milliseconds)
{
    mInner->sleepMs(milliseconds);
}

KLock KRecordPlatform::lockForPairing(KHandle handle, const std::u16string &path)
{
    return mInner->lockForPairing(handle, path);
}

std::string KRecordPlatform::handleInstance(KHandle handle)
{
    return mInner->handleInstance(handle);
}

uint64_t KRecordPlatform::nowMs()
{
    return mInner->nowMs();
}

int KRecordPlatform::exchangeCount() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mSteps.size();
}

QJsonObject KRecordPlatform::scene(const QVector<quint16> &vendors) const
{
    std::lock_guard<std::mutex> lock(mLock);
    // The products the run talked to, with all their collections.
    QVector<quint32> products;
    for (const Interface &interface : mInterfaces) {
        if (interface.opened || !interface.openFails.isEmpty())
            products.append(quint32(interface.vendorId) << 16 | interface.productId);
    }
    QJsonArray interfaces;
    for (auto it = mInterfaces.cbegin(); it != mInterfaces.cend(); ++it) {
        const Interface &interface = it.value();
        const bool wanted = products.isEmpty()
            ? vendors.contains(interface.vendorId)
            : products.contains(quint32(interface.vendorId) << 16 | interface.productId);
        if (!wanted || !interface.described)
            continue;
        QJsonObject object{{"path", it.key()},
                           {"vendorId", hex16(interface.vendorId)},
                           {"productId", hex16(interface.productId)},
                           {"version", interface.version},
                           {"usagePage", hex16(interface.caps.UsagePage)},
                           {"usage", hex16(interface.caps.Usage)},
                           {"inputReportLength", interface.caps.InputReportByteLength},
                           {"outputReportLength", interface.caps.OutputReportByteLength},
                           {"featureReportLength", interface.caps.FeatureReportByteLength}};
        if (!interface.featureReportIds.isEmpty()) {
            QJsonArray ids;
            for (quint8 id : interface.featureReportIds)
                ids.append(id);
            object.insert(QStringLiteral("featureReportIds"), ids);
        }
        if (!interface.openFails.isEmpty())
            object.insert(QStringLiteral("openFails"), interface.openFails);

        QJsonArray replay;
        for (const Step &step : mSteps) {
            if (step.path != it.key())
                continue;
            QJsonObject exchange{{"atMs", step.atMs}, {"write", hexBytes(step.write)}};
            if (step.writeFails)
                exchange.insert(QStringLiteral("writeFails"), step.words);
            else if (step.readFails)
                exchange.insert(QStringLiteral("readFails"), step.words);
            else if (step.fetched)
                exchange.insert(QStringLiteral("reply"), hexBytes(step.reply));
            replay.append(exchange);
        }
        if (!replay.isEmpty())
            object.insert(QStringLiteral("receiver"), QJsonObject{{"replay", replay}});
        interfaces.append(object);
    }
    return QJsonObject{{"interfaces", interfaces}};
}

} // namespace KHID
