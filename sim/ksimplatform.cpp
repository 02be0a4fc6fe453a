// SPDX-License-Identifier: MIT
#include "sim/ksimplatform.h"

#include "base/kfileread.h"
#include "base/superuser.h"
#include "khid/kfailure.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace KHID {

namespace {

// The records are for tests; a long session must not grow them without end.
constexpr int kRecordLimit = 4096;

template <typename T>
void appendBounded(QVector<T> &records, const T &record)
{
    if (records.size() >= kRecordLimit)
        records.remove(0, kRecordLimit / 2);
    records.append(record);
}

} // namespace

KSimPlatform::KSimPlatform()
{
    mClock.start();
}

void KSimPlatform::playDueChanges()
{
    for (;;) {
        KSimChange change;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            const qint64 now = mVirtualTime ? qint64(mVirtualNow) : mClock.elapsed(); // the clock alone, listened to or not
            if (mPlayed >= mTimeline.size() || mTimeline.at(mPlayed).afterMs > now)
                return;
            change = mTimeline.at(mPlayed++);
        }
        // Outside the lock: listeners may look at the machine.
        if (change.plug)
            plug(change.interface);
        else
            unplug(change.path);
    }
}

qint64 KSimPlatform::nextChangeInMs() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (mVirtualTime || mPlayed >= mTimeline.size())
        return -1;
    return qMax<qint64>(0, mTimeline.at(mPlayed).afterMs - mClock.elapsed());
}

bool KSimPlatform::change(const KSimInterface &interface)
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        KSimInterface *present = findLocked(interface.path);
        if (!present)
            return false;
        const quint64 plugging = present->plugging;
        *present = interface;
        present->plugging = plugging;
    }
    notify(true, interface.path);
    return true;
}

void KSimPlatform::addInterface(const KSimInterface &interface)
{
    std::lock_guard<std::mutex> lock(mMutex);
    addLocked(interface);
}

void KSimPlatform::addLocked(KSimInterface interface)
{
    interface.plugging = mNextPlugging++;
    mInterfaces.append(interface);
    reindexLocked();
}

bool KSimPlatform::removeInterface(const QString &path)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mIndex.constFind(path);
    if (it == mIndex.constEnd())
        return false;
    mInterfaces.removeAt(it.value());
    reindexLocked();
    return true;
}

void KSimPlatform::reindexLocked()
{
    mIndex.clear();
    // The first of two interfaces with one path wins, as a lookup by path would find it.
    for (int i = mInterfaces.size() - 1; i >= 0; --i)
        mIndex.insert(mInterfaces.at(i).path, i);
}

bool KSimPlatform::plug(const KSimInterface &interface)
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (findLocked(interface.path)) {
            qDebug().noquote() << "simulated plug: already plugged:" << interface.path;
            return false;
        }
        addLocked(interface);
    }
    notify(true, interface.path);
    return true;
}

bool KSimPlatform::unplug(const QString &path)
{
    if (!removeInterface(path)) {
        qDebug().noquote() << "simulated unplug: no interface" << path;
        return false;
    }
    notify(false, path);
    return true;
}

void KSimPlatform::notify(bool arrival, const QString &path)
{
    std::map<int, ChangeListener> listeners;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        listeners = mListeners;
    }
    for (const auto &entry : listeners)
        entry.second(arrival, path);
}

int KSimPlatform::addChangeListener(ChangeListener listener)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const int id = mNextListener++;
    mListeners.emplace(id, std::move(listener));
    return id;
}

void KSimPlatform::removeChangeListener(int id)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mListeners.erase(id);
}

QVector<KSimChange> KSimPlatform::scheduledChanges() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mTimeline;
}

void KSimPlatform::setNotificationFailure(long code)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mNotificationFailure = code;
}

long KSimPlatform::notificationFailure() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mNotificationFailure;
}

QVector<KSimInterface> KSimPlatform::interfaces() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mInterfaces;
}

void KSimPlatform::setVirtualTime(bool enabled)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mVirtualTime = enabled;
}

quint64 KSimPlatform::virtualTimeMs() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mVirtualNow;
}

QVector<KSimPlatform::OpenRecord> KSimPlatform::opens() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mOpens;
}

int KSimPlatform::openHandleCount() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return static_cast<int>(mHandles.size());
}

int KSimPlatform::openInterfaceSetCount() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return static_cast<int>(mSets.size());
}

QVector<QByteArray> KSimPlatform::writtenReports() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    QVector<QByteArray> frames;
    for (const Event &event : mEvents) {
        if (event.kind == Event::Write)
            frames.append(event.bytes);
    }
    return frames;
}

void KSimPlatform::setPathLengthOverride(uint32_t index, std::size_t units)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mPathLengthOverrides[index] = units;
}

void KSimPlatform::setPathFetchFails(uint32_t index)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mPathFetchFails[index] = true;
}

KSimInterface *KSimPlatform::findLocked(const QString &path)
{
    const auto it = mIndex.constFind(path);
    return it == mIndex.constEnd() ? nullptr : &mInterfaces[it.value()];
}

void KSimPlatform::recordLocked(const Event &event)
{
    appendBounded(mEvents, event);
}

QVector<KSimPlatform::Event> KSimPlatform::events() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mEvents;
}

void KSimPlatform::clearRecords()
{
    std::lock_guard<std::mutex> lock(mMutex);
    mOpens.clear();
    mEvents.clear();
}

void KSimPlatform::setTraceFile(const QString &path)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mTraceFile = path;
}

const KSimInterface *KSimPlatform::findLocked(const QString &path) const
{
    const auto it = mIndex.constFind(path);
    return it == mIndex.constEnd() ? nullptr : &mInterfaces.at(it.value());
}

const KSimInterface *KSimPlatform::interfaceOfLocked(KHandle handle) const
{
    const auto it = mHandles.find(handle);
    const KSimInterface *interface = it == mHandles.end() ? nullptr : findLocked(it->second.path);
    return interface && interface->plugging == it->second.plugging ? interface : nullptr;
}

KSimInterface *KSimPlatform::pluggedLocked(const Handle &handle)
{
    KSimInterface *interface = findLocked(handle.path);
    return interface && interface->plugging == handle.plugging ? interface : nullptr;
}

KDeviceInstance KSimPlatform::deviceInstance(const std::u16string &path)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const KSimInterface *interface = findLocked(QString::fromStdU16String(path));
    if (!interface)
        return {};
    return {instanceOf(interface->plugging), interface->port.toStdString(),
            interface->serial.toStdString()};
}

std::string KSimPlatform::instanceOf(quint64 plugging)
{
    // A simulated machine is its process's own: another program's, made from
    // the same scene, is another machine.
    return "sim " + std::to_string(QCoreApplication::applicationPid()) + " plugging " + std::to_string(plugging);
}

std::string KSimPlatform::handleInstance(KHandle handle)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mHandles.find(handle);
    const KSimInterface *interface = it == mHandles.end() ? nullptr : findLocked(it->second.path);
    return interface ? instanceOf(it->second.plugging) : std::string();
}

KLock KSimPlatform::lockForPairing(KHandle handle, const std::u16string &path)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mHandles.find(handle);
    if (it == mHandles.end() || it->second.mode != KOpenMode::Write
        || it->second.path != QString::fromStdU16String(path))
        return KLock::Unsupported;
    const auto held = mPairingLocks.constFind(it->second.path);
    if (held != mPairingLocks.constEnd() && held.value() != handle)
        return KLock::Held;
    mPairingLocks.insert(it->second.path, handle);
    return KLock::Taken;
}

void KSimPlatform::pass(int milliseconds)
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mVirtualTime) {
            mVirtualNow += static_cast<quint64>(milliseconds);
            return;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint64_t KSimPlatform::nowMs()
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mVirtualTime ? mVirtualNow : static_cast<uint64_t>(mClock.elapsed());
}

KInterfaceSet KSimPlatform::openInterfaceSet()
{
    playDueChanges();
    std::lock_guard<std::mutex> lock(mMutex);
    QVector<QString> paths;
    paths.reserve(mInterfaces.size());
    for (const KSimInterface &interface : mInterfaces)
        paths.append(interface.path);
    const KInterfaceSet set = mNextId++;
    mSets.emplace(set, paths);
    return set;
}

bool KSimPlatform::enumInterface(KInterfaceSet set, uint32_t index)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mSets.find(set);
    return it != mSets.end() && index < static_cast<uint32_t>(it->second.size());
}

std::size_t KSimPlatform::interfacePathLength(KInterfaceSet set, uint32_t index)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mSets.find(set);
    if (it == mSets.end() || index >= static_cast<uint32_t>(it->second.size()))
        return 0;
    const auto override = mPathLengthOverrides.find(index);
    if (override != mPathLengthOverrides.end())
        return override->second;
    return static_cast<std::size_t>(it->second.at(static_cast<int>(index)).size()) + 1;
}

bool KSimPlatform::interfacePath(KInterfaceSet set, uint32_t index, char16_t *buffer, std::size_t units)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mSets.find(set);
    if (it == mSets.end() || index >= static_cast<uint32_t>(it->second.size()) || mPathFetchFails.count(index))
        return false;
    const std::u16string path = it->second.at(static_cast<int>(index)).toStdU16String();
    if (units < path.size() + 1)
        return false;
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = 0;
    return true;
}

void KSimPlatform::closeInterfaceSet(KInterfaceSet set)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mSets.erase(set);
}

KHandle KSimPlatform::open(const std::u16string &path, KOpenMode mode, std::string *reason)
{
    playDueChanges();
    std::lock_guard<std::mutex> lock(mMutex);
    const QString name = QString::fromStdU16String(path);
    appendBounded(mOpens, OpenRecord{name, mode});
    const KSimInterface *interface = findLocked(name);
    const char *why = nullptr;
    if (!interface)
        why = "No such device";
    else if (mode == KOpenMode::Query && interface->queryFails)
        why = "Simulated query failure";
    else if (mode != KOpenMode::Query && interface->openFails)
        why = "Permission denied (simulated)";
    else if (mode != KOpenMode::Query && interface->rootOnly && !runsAsSuperuser())
        why = "Permission denied";
    if (why) {
        if (reason)
            *reason = interface && !interface->openFailsWords.isEmpty() && mode != KOpenMode::Query
                ? interface->openFailsWords.toStdString()
                : std::string(why);
        return kInvalidHandle;
    }
    const KHandle handle = mNextId++;
    mHandles.emplace(handle, Handle{name, mode, interface->plugging});
    return handle;
}

bool KSimPlatform::getAttributes(KHandle handle, KHidAttributes &attributes)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const KSimInterface *interface = interfaceOfLocked(handle);
    if (!interface || attributes.Size != sizeof(KHidAttributes))
        return false;
    attributes.VendorID = interface->vendorId;
    attributes.ProductID = interface->productId;
    attributes.VersionNumber = interface->version;
    return true;
}

bool KSimPlatform::getProductString(KHandle handle, void *buffer, std::size_t bytes)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const KSimInterface *interface = interfaceOfLocked(handle);
    if (!interface || interface->name.isEmpty())
        return false;
    const std::u16string name = interface->name.toStdU16String();
    const std::size_t units = std::min(name.size(), bytes / sizeof(char16_t));
    std::memcpy(buffer, name.data(), units * sizeof(char16_t));
    return true;
}

bool KSimPlatform::getPreparsedData(KHandle handle, KPreparsed &data)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const KSimInterface *interface = interfaceOfLocked(handle);
    if (!interface || !interface->hasPreparsedData)
        return false;
    data = mNextId++;
    mPreparsed.emplace(data, *interface);
    return true;
}

bool KSimPlatform::getCaps(KPreparsed data, KHidCaps &caps)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mPreparsed.find(data);
    if (it == mPreparsed.end())
        return false;
    caps = it->second.caps;
    return true;
}

uint32_t KSimPlatform::getFeatureValueCaps(KPreparsed data, KHidValueCaps *caps, uint16_t &count)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mPreparsed.find(data);
    if (it == mPreparsed.end()) {
        count = 0;
        return kHidpStatusInvalidPreparsedData;
    }
    const QVector<KHidValueCaps> &values = it->second.featureValueCaps;
    const uint16_t taken = static_cast<uint16_t>(std::min<int>(count, values.size()));
    std::copy(values.begin(), values.begin() + taken, caps);
    count = taken;
    return kHidpStatusSuccess;
}

void KSimPlatform::freePreparsedData(KPreparsed data)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mPreparsed.erase(data);
}

bool KSimPlatform::writeFile(KHandle handle, const uint8_t *data, std::size_t length)
{
    playDueChanges();
    std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mHandles.find(handle);
    KSimInterface *interface = it == mHandles.end() ? nullptr : pluggedLocked(it->second);
    if (!interface || it->second.mode != KOpenMode::Write)
        return ioFailed(interface ? "Bad file descriptor" : "No such device", !interface);
    const QByteArray frame(reinterpret_cast<const char *>(data), static_cast<int>(length));

    if (interface->hasReceiver) {
        std::string words;
        QString departure;
        const bool taken = interface->receiver.takeRequest(frame, &words, &departure);
        if (!departure.isEmpty()) {
            qWarning().noquote() << departure;
        }
        if (!taken)
            return ioFailed(words);
    }

    recordLocked({Event::Write, mVirtualNow, 0, frame, interface->path});
    if (!mTraceFile.isEmpty()) {
        QString reason;
        if (!appendToRegularFile(mTraceFile, interface->path.toUtf8() + '\t' + frame.toHex(' ') + '\n', &reason))
            qDebug().noquote() << QStringLiteral("trace %1: %2").arg(mTraceFile, reason);
    }
    return true;
}

bool KSimPlatform::getInputReport(KHandle handle, uint8_t *buffer, std::size_t length)
{
    playDueChanges();
    InputReportHandler handler;
    QString path;
    int taking = 0;
    {
        // A slow receiver holds its caller, not the whole machine.
        std::lock_guard<std::mutex> lock(mMutex);
        const auto it = mHandles.find(handle);
        const KSimInterface *interface = it == mHandles.end() ? nullptr : pluggedLocked(it->second);
        taking = interface && interface->hasReceiver ? interface->receiver.fetchMs : 0;
    }
    if (taking > 0)
        pass(taking);
    {
        std::lock_guard<std::mutex> lock(mMutex);
        const auto it = mHandles.find(handle);
        KSimInterface *interface = it == mHandles.end() ? nullptr : pluggedLocked(it->second);
        if (!interface || it->second.mode != KOpenMode::Read)
            return ioFailed(interface ? "Bad file descriptor" : "No such device", !interface);
        if (interface->hasReceiver) {
            std::string words;
            const bool ok = interface->receiver.giveReply(buffer, length, &words);
            recordLocked({Event::Fetch, mVirtualNow, 0,
                          ok ? QByteArray(reinterpret_cast<const char *>(buffer), static_cast<int>(length))
                             : QByteArray(),
                          interface->path});
            return ok || ioFailed(words);
        }
        handler = mInputReportHandler;
        path = it->second.path;
    }
    // Outside the lock: a test's handler may block, or look at the scene.
    return (handler && handler(path, buffer, length)) || ioFailed("Input/output error (simulated)");
}

std::string KSimPlatform::lastIoError() const
{
    return lastIoFailure().words;
}

bool KSimPlatform::lastIoDeviceGone() const
{
    return lastIoFailure().gone;
}

void KSimPlatform::setInputReportHandler(InputReportHandler handler)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mInputReportHandler = std::move(handler);
}

void KSimPlatform::closeHandle(KHandle handle)
{
    std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mHandles.find(handle);
    if (it == mHandles.end())
        return;
    const auto held = mPairingLocks.find(it->second.path);
    if (held != mPairingLocks.end() && held.value() == handle)
        mPairingLocks.erase(held);
    mHandles.erase(it);
}

void KSimPlatform::setSleepHook(std::function<void(quint64)> hook)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mSleepHook = std::move(hook);
}

void KSimPlatform::sleepMs(uint32_t milliseconds)
{
    std::function<void(quint64)> hook;
    quint64 now = 0;
    bool virtualTime = false;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        recordLocked({Event::Sleep, mVirtualNow, milliseconds, QByteArray(), QString()});
        virtualTime = mVirtualTime;
        if (virtualTime) {
            mVirtualNow += milliseconds;
            hook = mSleepHook;
            now = mVirtualNow;
        }
    }
    if (virtualTime) {
        if (hook)
            hook(now);
        playDueChanges();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    playDueChanges();
}

bool installPlatformFromEnvironment(std::string *error)
{
    // Qt reads Windows' wide environment: the narrow one loses what its code page cannot spell.
    const QString scene = qEnvironmentVariable(kSimulateVariable);
    if (scene.isEmpty()) {
        installPlatform(makeNativePlatform());
        return true;
    }
    QString reason;
    std::unique_ptr<KSimPlatform> simulated = KSimPlatform::fromFile(scene, &reason,
                                                                       qEnvironmentVariable(kTraceVariable));
    if (!simulated) {
        if (error)
            *error = reason.toStdString();
        return false;
    }
    installPlatform(std::move(simulated));
    return true;
}

} // namespace KHID
