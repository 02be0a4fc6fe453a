// SPDX-License-Identifier: MIT
#pragma once

// A backend that passes every call on to another and keeps what the
// receiver saw and answered, to be written as a scene the simulated
// receiver replays.

#include "khid/kplatform.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QVector>

#include <map>
#include <mutex>

namespace KHID {

class KRecordPlatform : public KHidPlatform
{
public:
    explicit KRecordPlatform(std::unique_ptr<KHidPlatform> inner);

    // The scene: the interfaces of the products that were opened for report
    // I/O (or, when none was, those whose vendor is in `vendors`), without
    // product strings, and each exchange with its relative time.
    QJsonObject scene(const QVector<quint16> &vendors) const;
    int exchangeCount() const;

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
    bool probeAccess(const std::u16string &path, std::string *reason) override;
    std::string accessFix() const override;
    std::vector<KCheck> nodeChecks(const std::u16string &path) override;
    KDeviceInstance deviceInstance(const std::u16string &path) override;
    std::vector<KCheck> systemChecks() override;
    std::vector<std::string> accessRuleDirectories() const override;
    void sleepMs(uint32_t milliseconds) override;
    KLock lockForPairing(KHandle handle, const std::u16string &path) override;
    std::string handleInstance(KHandle handle) override;
    uint64_t nowMs() override;

private:
    struct Interface {
        quint16 vendorId = 0;
        quint16 productId = 0;
        quint16 version = 0;
        KHidCaps caps;
        QVector<quint8> featureReportIds;
        bool described = false;
        QString openFails; // the words of a refused open
        bool opened = false;
    };
    struct Step {
        QString path;
        qint64 atMs = 0;
        QByteArray write;
        bool writeFails = false;
        bool fetched = false;
        bool readFails = false;
        QByteArray reply;
        QString words;
    };

    std::unique_ptr<KHidPlatform> mInner;
    mutable std::mutex mLock;
    QElapsedTimer mClock;
    std::map<KHandle, QString> mHandles;         // every open handle's path
    std::map<KPreparsed, QString> mPreparsed;    // preparsed data to its path
    QMap<QString, Interface> mInterfaces;
    QVector<Step> mSteps;
};

} // namespace KHID
