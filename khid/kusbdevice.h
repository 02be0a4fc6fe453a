// SPDX-License-Identifier: MIT
#pragma once

#include "khid/khiddetail.h"

#include <QObject>

#include <mutex>

namespace KHID {

// The receiver's interface, opened for report I/O by one run (or status query)
// of the pairing worker and closed at its end.
class KUSBDevice : public QObject
{
    Q_OBJECT

public:
    static constexpr int kBufferSize = 2048;
    // Every output report goes out as this many bytes, report ID included.
    static constexpr int kWriteLength = 32;

    explicit KUSBDevice(QObject *parent = nullptr);
    ~KUSBDevice() override;

    // A feature length of 0 accepts any. Opens the first interface the walk finds with these ids.
    bool initDevice(quint16 vid, quint16 pid, quint16 usage, quint16 usagePage, quint16 featureLength);
    // Opens exactly the interface a scan found, by its path: the thing opened is the thing found.
    // With the device instance the scan saw, a node that another device (or the same one
    // plugged in again) has taken since is closed again at once: false, and isGone().
    bool openInterface(const KHidDetail &detail, const QString &instance = QString());
    // The receiver's pairing lock, held until the device is closed; see KHidPlatform.
    KLock lockForPairing();
    bool writeReport(quint8 reportId, const quint8 *data, int length);
    // Copies InputReportByteLength bytes, byte 0 included, into `destination`.
    bool readReport(quint8 reportId, quint8 *destination);
    KHidDetail getDetail() const;
    // Why the last initDevice failed, in the system's words; empty after a success.
    QString errorString() const;
    // Why the last writeReport or readReport failed, in the system's words.
    QString ioErrorString() const;
    // The system said the device is no longer there; nothing more can be sent to it.
    bool isGone() const;

private:
    // Keeps the words and answers false; under mLock.
    bool ioFailed(const QString &words, bool gone = false);
    bool openLocked(const KHidDetail &detail);

    // Each run, or status query, makes its own object and ends with it, one at
    // a time under the worker's run lock, though a query may come on another
    // thread than the runs; this lock keeps every call whole without relying on that.
    mutable std::mutex mLock;
    KHidDetail mDetail;
    KHandle mWriteHandle = kInvalidHandle;
    KHandle mReadHandle = kInvalidHandle;
    quint8 mWriteBuffer[kBufferSize] = {};
    quint8 mReadBuffer[kBufferSize] = {};
    bool mOpen = false;
    bool mGone = false;
    QString mError;
    QString mIoError;
};

} // namespace KHID
