// SPDX-License-Identifier: MIT
#pragma once

// The simulated machine: a scene of virtual interfaces and receivers, read
// from a JSON file, that tests, the command-line companion and newcomers
// without hardware use in place of the machine's own HID stack.

#include "khid/kplatform.h"
#include "sim/ksimscene.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <map>
#include <mutex>

namespace KHID {

class KSimPlatform : public KHidPlatform
{
public:
    struct OpenRecord {
        QString path;
        KOpenMode mode;
    };
    // The timeline of report I/O and pauses, on the virtual clock.
    struct Event {
        enum Kind { Sleep, Write, Fetch } kind;
        quint64 atMs;
        quint32 sleepMs;  // Sleep
        QByteArray bytes; // Write: the frame; Fetch: the reply (empty when it failed)
        QString path;     // Write, Fetch
    };

    KSimPlatform();

    // Watches this machine's plugging and unplugging.
    KDeviceMonitor *newDeviceMonitor() override;

    // The scene reader (ksimscene.cpp): null with a reason (naming `origin`)
    // when the scene is unusable.
    static std::unique_ptr<KSimPlatform> fromJson(const QByteArray &json, const QString &origin,
                                                  QString *error);
    // With a trace file, every written report is appended to it as well.
    static std::unique_ptr<KSimPlatform> fromFile(const QString &file, QString *error,
                                                  const QString &trace = QString());

    // Changing the machine without telling anyone (set-up).
    void addInterface(const KSimInterface &interface);
    bool removeInterface(const QString &path);
    QVector<KSimInterface> interfaces() const;

    // Plugging and unplugging as a user does: the walk sees the change
    // before the listeners hear of it. False (with a log line, and no
    // notice) for a path already plugged or not there.
    bool plug(const KSimInterface &interface);
    bool unplug(const QString &path);
    // The system telling that an interface changed (its rights, say): it is
    // replaced where it is, the same plugging, and listeners hear an arrival,
    // as a change event is told. False for a path not plugged.
    bool change(const KSimInterface &interface);

    // Plays the scene's timed changes that are due on the scene's clock
    // (virtual, or real from the platform's making): as hardware comes and
    // goes, whether or not anything watches. Every use of the machine plays them.
    void playDueChanges();
    // Real milliseconds until the next timed change; -1 when none is left or
    // the clock is virtual (pauses then move it).
    qint64 nextChangeInMs() const;

    // Listeners are called on the thread that plugs or unplugs.
    using ChangeListener = std::function<void(bool arrival, const QString &path)>;
    int addChangeListener(ChangeListener listener);
    void removeChangeListener(int id);
    // The scene's timed changes, in the order they are played.
    QVector<KSimChange> scheduledChanges() const;
    // Non-zero: starting notifications fails with this error code.
    void setNotificationFailure(long code);
    long notificationFailure() const;

    // Pauses advance a virtual clock instead of sleeping.
    void setVirtualTime(bool enabled);
    // Called after each pause, outside the scene's lock, with the clock's new time.
    void setSleepHook(std::function<void(quint64 nowMs)> hook);
    quint64 virtualTimeMs() const;

    // What the logic did, for tests and benchmarks (the latest few thousand).
    QVector<OpenRecord> opens() const;
    int openHandleCount() const;
    int openInterfaceSetCount() const;
    QVector<QByteArray> writtenReports() const;
    QVector<Event> events() const;
    void clearRecords();

    // Also appends every written report to this file, a line each: the
    // interface's path, a tab, then the report's bytes in hex.
    void setTraceFile(const QString &path);

    // Answers input report requests; without one, fetches fail.
    using InputReportHandler = std::function<bool(const QString &path, uint8_t *buffer, std::size_t length)>;
    void setInputReportHandler(InputReportHandler handler);

    // Faults of the enumeration itself, by interface index.
    void setPathLengthOverride(uint32_t index, std::size_t units);
    void setPathFetchFails(uint32_t index);

    KInterfaceSet openInterfaceSet() override;
    bool enumInterface(KInterfaceSet set, uint32_t index) override;
    std::size_t interfacePathLength(KInterfaceSet set, uint32_t index) override;
    bool interfacePath(KInterfaceSet set, uint32_t index, char16_t *buffer, std::size_t units) override;
    void closeInterfaceSet(KInterfaceSet set) override;
    KHandle open(const std::u16string &path, KOpenMode mode, std::string *reason) override;
    bool getAttributes(KHandle handle, KHidAttributes &attributes) override;
    bool getProductString(KHandle handle, void *buffer, std::size_t bytes) override;
    bool getPreparsedData(KHandle handle, KPreparsed &data) override;
    bool getCaps(KPreparsed data, KHidCaps &caps) override;
    uint32_t getFeatureValueCaps(KPreparsed data, KHidValueCaps *caps, uint16_t &count) override;
    void freePreparsedData(KPreparsed data) override;
    bool writeFile(KHandle handle, const uint8_t *data, std::size_t length) override;
    bool getInputReport(KHandle handle, uint8_t *buffer, std::size_t length) override;
    std::string lastIoError() const override;
    bool lastIoDeviceGone() const override;
    void closeHandle(KHandle handle) override;
    KDeviceInstance deviceInstance(const std::u16string &path) override;
    KLock lockForPairing(KHandle handle, const std::u16string &path) override;
    std::string handleInstance(KHandle handle) override;
    void sleepMs(uint32_t milliseconds) override;
    uint64_t nowMs() override;

private:
    struct Handle {
        QString path;
        KOpenMode mode;
        quint64 plugging;
    };

    const KSimInterface *findLocked(const QString &path) const;
    KSimInterface *findLocked(const QString &path);
    void recordLocked(const Event &event);
    void reindexLocked();
    void notify(bool arrival, const QString &path);
    const KSimInterface *interfaceOfLocked(KHandle handle) const;
    // The interface a handle was opened on, while that plugging lasts.
    KSimInterface *pluggedLocked(const Handle &handle);
    void addLocked(KSimInterface interface);
    // Which device one plugging of an interface is, as deviceInstance tells it.
    static std::string instanceOf(quint64 plugging);
    // A transfer that takes its time: the clock moves on, virtual or real; outside the lock.
    void pass(int milliseconds);

    mutable std::mutex mMutex;
    QVector<KSimInterface> mInterfaces;
    QHash<QString, int> mIndex; // path to position: a walk must not cost n squared
    std::map<KInterfaceSet, QVector<QString>> mSets;
    std::map<KHandle, Handle> mHandles;
    // The pairing lock of each interface, by the handle that holds it.
    QHash<QString, KHandle> mPairingLocks;
    std::map<KPreparsed, KSimInterface> mPreparsed;
    std::map<uint32_t, std::size_t> mPathLengthOverrides;
    std::map<uint32_t, bool> mPathFetchFails;
    std::intptr_t mNextId = 1;
    quint64 mNextPlugging = 1;
    QVector<OpenRecord> mOpens;
    QVector<Event> mEvents;
    QString mTraceFile;
    InputReportHandler mInputReportHandler;
    std::map<int, ChangeListener> mListeners;
    int mNextListener = 1;
    // The scene's timed changes in the order they are played, and how many have been.
    QVector<KSimChange> mTimeline;
    int mPlayed = 0;
    QElapsedTimer mClock;
    long mNotificationFailure = 0;
    std::function<void(quint64)> mSleepHook;
    bool mVirtualTime = false;
    quint64 mVirtualNow = 0;
};

// The environment variable that names a scene file for the simulated machine.
constexpr const char *kSimulateVariable = "BONDARA_SIMULATE";
// When set with it, the simulated machine appends every written report to this file.
constexpr const char *kTraceVariable = "BONDARA_SIMULATE_TRACE";

// Installs the backend the environment asks for: the simulated machine when
// BONDARA_SIMULATE names a scene, otherwise the native one. False (with the
// reason in `error`, naming the file) when the scene cannot be used; nothing
// is installed then, so a caller never ends up on real hardware by mistake.
bool installPlatformFromEnvironment(std::string *error);

} // namespace KHID
