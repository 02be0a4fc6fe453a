#pragma once

#include <QJsonObject>
#include <QString>

// One receiver of the catalogue.
struct DeviceDetail {
    QString name;
    int vid = 0;
    int pid = 0;
    int usage = 0;
    int usagePage = 0;
    int reportId = 0;
    int communicationId = 0;
    bool mouse = false;
    bool keyboard = false;
    bool suit = false;
    bool Tovrik = false;

    DeviceDetail() = default;
    explicit DeviceDetail(const QJsonObject &entry);

    // Writes the entry to the debug log.
    void print() const;
};
