#pragma once

// Shared helpers for the tests that run the HID logic on the simulated backend.

#include "kplatform.h"
#include "ksimplatform.h"

#include <QMutex>
#include <QStringList>

#include <iostream>
#include <sstream>

namespace testsupport {

// Installs an empty simulated machine and hands back a pointer for scripting it.
inline KHID::KSimPlatform *installSimulation()
{
    auto owned = std::make_unique<KHID::KSimPlatform>();
    KHID::KSimPlatform *sim = owned.get();
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

// Collects what goes to standard output while it lives.
class StdoutCapture
{
public:
    StdoutCapture()
        : mOld(std::cout.rdbuf(mBuffer.rdbuf()))
    {
    }
    ~StdoutCapture() { std::cout.rdbuf(mOld); }
    QStringList lines() const
    {
        QStringList all = QString::fromStdString(mBuffer.str()).split('\n');
        if (!all.isEmpty() && all.last().isEmpty())
            all.removeLast();
        return all;
    }

private:
    std::ostringstream mBuffer;
    std::streambuf *mOld;
};

// Collects the debug log, from any thread, while it lives.
class LogCapture
{
public:
    LogCapture()
    {
        QMutexLocker lock(&sMutex);
        sLines = &mLines;
        mOld = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        QMutexLocker lock(&sMutex);
        qInstallMessageHandler(mOld);
        sLines = nullptr;
    }
    QStringList lines() const
    {
        QMutexLocker lock(&sMutex);
        return mLines;
    }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        QMutexLocker lock(&sMutex);
        if (sLines)
            sLines->append(message);
    }

    static inline QMutex sMutex;
    static inline QStringList *sLines = nullptr;
    QStringList mLines;
    QtMessageHandler mOld = nullptr;
};

} // namespace testsupport
