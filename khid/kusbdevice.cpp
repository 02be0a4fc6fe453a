// SPDX-License-Identifier: MIT
#include "khid/kusbdevice.h"

#include "khid/khid.h"

#include <QDebug>

#include <algorithm>
#include <cstring>
#include <iostream>

namespace KHID {

KUSBDevice::KUSBDevice(QObject *parent)
    : QObject(parent)
{
    qDebug() << "+USBDevice";
}

KUSBDevice::~KUSBDevice()
{
    qDebug() << "~USBDevice";
    std::lock_guard<std::mutex> lock(mLock);
    if (mOpen) {
        platform().closeHandle(mWriteHandle);
        platform().closeHandle(mReadHandle);
        mOpen = false;
    }
}

bool KUSBDevice::initDevice(quint16 vid, quint16 pid, quint16 usage, quint16 usagePage,
                            quint16 featureLength)
{
    std::lock_guard<std::mutex> lock(mLock);
    if (mOpen) {
        qDebug() << "initDevice : Device正在运行，请先停止Device!";
        return false;
    }

    bool found = false;
    KHidDetail match;
    enumHidDevices([&](KHidDetail detail, bool &keepGoing) {
        if (detail.VendorID == vid && detail.ProductID == pid && detail.capAbilities.Usage == usage
            && detail.capAbilities.UsagePage == usagePage
            && (featureLength == 0 || featureLength == detail.capAbilities.FeatureReportByteLength)) {
            match = detail;
            found = true;
            keepGoing = false;
        }
    });
    if (!found) {
        mError = QStringLiteral("No such device");
        return false;
    }
    return openLocked(match);
}

bool KUSBDevice::openInterface(const KHidDetail &detail, const QString &instance)
{
    std::lock_guard<std::mutex> lock(mLock);
    if (mOpen) {
        qDebug() << "initDevice : Device正在运行，请先停止Device!";
        return false;
    }
    if (!openLocked(detail))
        return false;
    if (instance.isEmpty())
        return true;
    // Between the scan and the open the receiver may have gone and another device
    // come in on the same node: what was opened must be what was found.
    const QString reached = QString::fromStdString(platform().handleInstance(mWriteHandle));
    if (reached.isEmpty() || reached == instance)
        return true;
    qDebug().noquote() << mDetail.DevicePath << "is another device now:" << reached << "where the scan saw"
                       << instance;
    platform().closeHandle(mWriteHandle);
    platform().closeHandle(mReadHandle);
    mWriteHandle = mReadHandle = kInvalidHandle;
    mOpen = false;
    mGone = true;
    mError = QStringLiteral("another device is at %1 now").arg(mDetail.DevicePath);
    return false;
}

KLock KUSBDevice::lockForPairing()
{
    std::lock_guard<std::mutex> lock(mLock);
    // On the write handle alone: the run's read handle would otherwise meet it as another holder.
    return mOpen ? platform().lockForPairing(mWriteHandle, mDetail.DevicePath.toStdU16String()) : KLock::Unsupported;
}

bool KUSBDevice::openLocked(const KHidDetail &detail)
{
    mDetail = detail;
    qDebug() << "Init Device:";
    printDetail(mDetail);

    KHidPlatform &hid = platform();
    const std::u16string path = mDetail.DevicePath.toStdU16String();
    std::string reason;
    const KHandle writeHandle = hid.open(path, KOpenMode::Write, &reason);
    if (writeHandle == kInvalidHandle) {
        mError = QString::fromStdString(reason);
        std::cout << "error : CreateFile" << std::endl;
        qDebug() << "打开写入句柄失败";
        qDebug().noquote() << mDetail.DevicePath + ":" << QString::fromStdString(reason);
        return false;
    }
    const KHandle readHandle = hid.open(path, KOpenMode::Read, &reason);
    if (readHandle == kInvalidHandle) {
        mError = QString::fromStdString(reason);
        std::cout << "error : CreateFile" << std::endl;
        qDebug() << "打开读取句柄失败";
        qDebug().noquote() << mDetail.DevicePath + ":" << QString::fromStdString(reason);
        // Nothing else would ever close it: the object stays closed.
        hid.closeHandle(writeHandle);
        return false;
    }

    mWriteHandle = writeHandle;
    mReadHandle = readHandle;
    mOpen = true;
    mGone = false;
    mError.clear();
    return true;
}

QString KUSBDevice::errorString() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mError;
}

QString KUSBDevice::ioErrorString() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mIoError;
}

bool KUSBDevice::isGone() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mGone;
}

bool KUSBDevice::ioFailed(const QString &words, bool gone)
{
    mIoError = words;
    mGone = mGone || gone;
    return false;
}

bool KUSBDevice::writeReport(quint8 reportId, const quint8 *data, int length)
{
    std::lock_guard<std::mutex> lock(mLock);
    if (!mOpen)
        return ioFailed(mError);
    const int outputLength = mDetail.capAbilities.OutputReportByteLength;
    // The report id takes the first byte of the frame; a longer payload would be cut.
    if (length < 0 || length > kWriteLength - 1 || (length > 0 && !data)) {
        qDebug() << "writeReport: payload of" << length << "bytes refused: the frame holds" << kWriteLength - 1;
        return ioFailed(QStringLiteral("payload too long"));
    }
    if (outputLength > kBufferSize) {
        qDebug() << "writeReport: output report of" << outputLength << "bytes exceeds the buffer";
        return ioFailed(QStringLiteral("output report too long"));
    }

    // Clear the whole frame that goes out, not only the report, so that
    // nothing of an earlier command trails a short one.
    std::memset(mWriteBuffer, 0, std::max(outputLength, kWriteLength));
    mWriteBuffer[0] = reportId;
    if (length > 0)
        std::memcpy(mWriteBuffer + 1, data, length);
    return platform().writeFile(mWriteHandle, mWriteBuffer, kWriteLength)
        || ioFailed(QString::fromStdString(platform().lastIoError()), platform().lastIoDeviceGone());
}

bool KUSBDevice::readReport(quint8 reportId, quint8 *destination)
{
    std::lock_guard<std::mutex> lock(mLock);
    if (!mOpen)
        return ioFailed(mError);
    const int inputLength = mDetail.capAbilities.InputReportByteLength;
    if (inputLength > kBufferSize || inputLength == 0) {
        qDebug() << "readReport: input report of" << inputLength << "bytes cannot be fetched";
        return ioFailed(QStringLiteral("input report of %1 bytes").arg(inputLength));
    }

    std::memset(mReadBuffer, 0, inputLength);
    mReadBuffer[0] = reportId;
    if (!platform().getInputReport(mReadHandle, mReadBuffer, inputLength))
        return ioFailed(QString::fromStdString(platform().lastIoError()), platform().lastIoDeviceGone());
    std::memcpy(destination, mReadBuffer, inputLength);
    return true;
}

KHidDetail KUSBDevice::getDetail() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mDetail;
}

} // namespace KHID
