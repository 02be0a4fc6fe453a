// SPDX-License-Identifier: MIT
#pragma once

// Shared helpers for the tests that run the HID logic on the simulated backend.

#include "khid/kplatform.h"
#include "sim/ksimplatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <condition_variable>
#include <limits>
#include <mutex>

namespace testsupport {

// Installs an empty simulated machine and hands back a pointer for scripting it.
template <typename Sim = KHID::KSimPlatform>
inline Sim *installSimulation()
{
    auto owned = std::make_unique<Sim>();
    Sim *sim = owned.get();
    sim->setVirtualTime(true);
    KHID::installPlatform(std::move(owned));
    return sim;
}

inline KHID::KSimInterface simInterface(const QString &path, quint16 vid, quint16 pid, quint16 usagePage,
                                        quint16 usage, quint16 input = 32, quint16 output = 32,
                                        quint16 feature = 0)
{
    KHID::KSimInterface interface;
    interface.path = path;
    interface.vendorId = vid;
    interface.productId = pid;
    interface.caps.UsagePage = usagePage;
    interface.caps.Usage = usage;
    interface.caps.InputReportByteLength = input;
    interface.caps.OutputReportByteLength = output;
    interface.caps.FeatureReportByteLength = feature;
    return interface;
}

// A frame as the receiver gets it: the bytes given, then zeros to 32.
inline QByteArray frame(std::initializer_list<int> bytes)
{
    QByteArray out(32, '\0');
    int i = 0;
    for (int byte : bytes)
        out[i++] = char(byte);
    return out;
}

// The protocol's frames, written out here as the receiver must see them.
inline QByteArray beginFrame(int kind)
{
    return frame({0xBA, 0xA0, 0x81, kind, 0x01});
}
inline const QByteArray kPollFrame = frame({0xBA, 0xA1, 0x01});
inline const QByteArray kEndFrame = frame({0xBA, 0xA1, 0x84});

// Every frame written to the interface at `path`, in order.
inline QVector<QByteArray> framesTo(const KHID::KSimPlatform &sim, const QString &path)
{
    QVector<QByteArray> frames;
    for (const KHID::KSimPlatform::Event &event : sim.events()) {
        if (event.kind == KHID::KSimPlatform::Event::Write && event.path == path)
            frames << event.bytes;
    }
    return frames;
}

// The program reads its catalogue from beside the executable.
inline bool writeCatalogueBesideExecutable(const QByteArray &content)
{
    const QString dir = QCoreApplication::applicationDirPath() + "/Config";
    QFile file(dir + "/DeviceConfig.json");
    return QDir().mkpath(dir) && file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(content) == content.size();
}

// Collects the debug log, from any thread, while it lives.
class LogCapture
{
public:
    LogCapture()
    {
        std::lock_guard<std::mutex> lock(sMutex);
        sLines = &mLines;
        mOld = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        std::lock_guard<std::mutex> lock(sMutex);
        qInstallMessageHandler(mOld);
        sLines = nullptr;
    }
    QStringList lines() const
    {
        std::lock_guard<std::mutex> lock(sMutex);
        return mLines;
    }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        std::lock_guard<std::mutex> lock(sMutex);
        if (sLines)
            sLines->append(message);
    }

    static inline std::mutex sMutex;
    static inline QStringList *sLines = nullptr;
    QStringList mLines;
    QtMessageHandler mOld = nullptr;
};

// A counting semaphore on the standard library, which the thread checker understands.
class Semaphore
{
public:
    void release()
    {
        std::lock_guard<std::mutex> lock(mMutex);
        ++mCount;
        mCondition.notify_all();
    }
    bool tryAcquire(int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mMutex);
        if (!mCondition.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return mCount > 0; }))
            return false;
        --mCount;
        return true;
    }
    void acquire() { tryAcquire(std::numeric_limits<int>::max() / 2); }

private:
    std::mutex mMutex;
    std::condition_variable mCondition;
    int mCount = 0;
};

} // namespace testsupport
