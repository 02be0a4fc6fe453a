// SPDX-License-Identifier: MIT
#pragma once

// A backend that passes every call on to another and keeps what the
// receiver saw and answered, to be written as a scene the simulated
// receiver replays. A product string is passed on, never kept: it may name
// its owner.

#include "khid/kforwardplatform.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QVector>

#include <map>
#include <mutex>

namespace KHID {

class KRecordPlatform : public KForwardPlatform
{
public:
    explicit KRecordPlatform(std::unique_ptr<KHidPlatform> inner);

    // The scene: the interfaces of the products that were opened for report
    // I/O (or, when none was, those whose vendor is in `vendors`), without
    // product strings, and each exchange with its relative time.
    QJsonObject scene(const QVector<quint16> &vendors) const;
    int exchangeCount() const;

    KHandle open(const std::u16string &path, KOpenMode mode, std::string *reason) override;
    bool getAttributes(KHandle handle, KHidAttributes &attributes) override;
    bool getPreparsedData(KHandle handle, KPreparsed &data) override;
    bool getCaps(KPreparsed data, KHidCaps &caps) override;
    uint32_t getFeatureValueCaps(KPreparsed data, KHidValueCaps *caps, uint16_t &count) override;
    void freePreparsedData(KPreparsed data) override;
    bool writeFile(KHandle handle, const uint8_t *data, std::size_t length) override;
    bool getInputReport(KHandle handle, uint8_t *buffer, std::size_t length) override;
    void closeHandle(KHandle handle) override;
    // Through this platform's own open, so that a refusal is kept in the scene.
    bool probeAccess(const std::u16string &path, std::string *reason) override;

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

    // The interface a handle or preparsed data was had from; null for one not seen. Under mLock.
    Interface *interfaceOf(const std::map<std::intptr_t, QString> &paths, std::intptr_t key);

    mutable std::mutex mLock;
    QElapsedTimer mClock;
    std::map<KHandle, QString> mHandles;         // every open handle's path
    std::map<KPreparsed, QString> mPreparsed;    // preparsed data to its path
    QMap<QString, Interface> mInterfaces;
    QVector<Step> mSteps;
};

} // namespace KHID
