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
    : KForwardPlatform(std::move(inner))
{
    mClock.start();
}

KHandle KRecordPlatform::open(const std::u16string &path, KOpenMode mode, std::string *reason)
{
    std::string why;
    const KHandle handle = inner().open(path, mode, &why);
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
    const bool ok = inner().getAttributes(handle, attributes);
    std::lock_guard<std::mutex> lock(mLock);
    if (Interface *interface = ok ? interfaceOf(mHandles, handle) : nullptr) {
        interface->vendorId = attributes.VendorID;
        interface->productId = attributes.ProductID;
        interface->version = attributes.VersionNumber;
    }
    return ok;
}

KRecordPlatform::Interface *KRecordPlatform::interfaceOf(const std::map<std::intptr_t, QString> &paths,
                                                         std::intptr_t key)
{
    const auto it = paths.find(key);
    return it == paths.end() ? nullptr : &mInterfaces[it->second];
}

bool KRecordPlatform::getPreparsedData(KHandle handle, KPreparsed &data)
{
    const bool ok = inner().getPreparsedData(handle, data);
    std::lock_guard<std::mutex> lock(mLock);
    const auto it = mHandles.find(handle);
    if (ok && it != mHandles.end())
        mPreparsed[data] = it->second;
    return ok;
}

bool KRecordPlatform::getCaps(KPreparsed data, KHidCaps &caps)
{
    const bool ok = inner().getCaps(data, caps);
    std::lock_guard<std::mutex> lock(mLock);
    if (Interface *interface = ok ? interfaceOf(mPreparsed, data) : nullptr) {
        interface->caps = caps;
        interface->described = true;
    }
    return ok;
}

uint32_t KRecordPlatform::getFeatureValueCaps(KPreparsed data, KHidValueCaps *caps, uint16_t &count)
{
    const uint32_t status = inner().getFeatureValueCaps(data, caps, count);
    std::lock_guard<std::mutex> lock(mLock);
    if (Interface *interface = status == kHidpStatusSuccess ? interfaceOf(mPreparsed, data) : nullptr) {
        interface->featureReportIds.clear();
        for (uint16_t i = 0; i < count; ++i)
            interface->featureReportIds.append(caps[i].ReportID);
    }
    return status;
}

void KRecordPlatform::freePreparsedData(KPreparsed data)
{
    {
        std::lock_guard<std::mutex> lock(mLock);
        mPreparsed.erase(data);
    }
    inner().freePreparsedData(data);
}

bool KRecordPlatform::writeFile(KHandle handle, const uint8_t *data, std::size_t length)
{
    const bool ok = inner().writeFile(handle, data, length);
    const std::string words = ok ? std::string() : inner().lastIoError();
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
    const bool ok = inner().getInputReport(handle, buffer, length);
    const std::string words = ok ? std::string() : inner().lastIoError();
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

void KRecordPlatform::closeHandle(KHandle handle)
{
    {
        std::lock_guard<std::mutex> lock(mLock);
        mHandles.erase(handle);
    }
    inner().closeHandle(handle);
}

bool KRecordPlatform::probeAccess(const std::u16string &path, std::string *reason)
{
    return KHidPlatform::probeAccess(path, reason);
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
