// SPDX-License-Identifier: MIT
// Receiver discovery costs: the catalogue scan against the number of HID
// interfaces, and the report descriptor parser against a plain copy of the
// same bytes. Figures are ratios against baselines measured in the same run.

#include "bench/benchsupport.h"

#include "config/configcontroller.h"
#include "sim/ksimplatform.h"
#include "khid/kreportdescriptor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <vector>

using benchsupport::medianSeconds;

namespace {


std::vector<uint8_t> readHexFile(const QString &path)
{
    QFile file(path);
    std::vector<uint8_t> bytes;
    if (file.open(QIODevice::ReadOnly))
        KHID::parseHexBytes(file.readAll().toStdString(), bytes);
    return bytes;
}

QString hexText(const std::vector<uint8_t> &bytes)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())).toHex(' '));
}

// A machine of `count` interfaces: receivers of four collections each, none in the catalogue,
// so that the scan walks them all.
QByteArray scene(int count, const QString &descriptor)
{
    QJsonArray interfaces;
    for (int i = 0; i < count; ++i) {
        interfaces.append(QJsonObject{{"path", QStringLiteral("sim:rx%1#col%2").arg(i / 4).arg(i % 4 + 1)},
                                      {"vendorId", "1209"},
                                      {"productId", QString::number(0x100 + i / 4, 16)},
                                      {"name", "Bench Receiver"},
                                      {"reportDescriptor", descriptor},
                                      {"collection", i % 4 + 1}});
    }
    return QJsonDocument(QJsonObject{{"interfaces", interfaces}}).toJson();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    std::ostringstream walkMessages;
    std::streambuf *stdoutBuffer = std::cout.rdbuf(walkMessages.rdbuf());

    const QString data = QStringLiteral(BONDARA_TEST_DATA);
    const std::vector<uint8_t> receiver = readHexFile(data + "/descriptors/receiver.hex");
    if (receiver.empty()) {
        std::cout.rdbuf(stdoutBuffer);
        std::fprintf(stderr, "bench: cannot read the test descriptors under %s\n", qPrintable(data));
        return 2;
    }

    QTemporaryDir dir;
    const QString catalogue = dir.filePath("DeviceConfig.json");
    {
        QFile file(catalogue);
        file.open(QIODevice::WriteOnly);
        file.write(R"({"DeviceList": [{"vid": "1209", "pid": "0001", "usage": "1", "usagePage": "ff00"}]})");
    }

    std::printf("%-34s %14s %16s\n", "scan (whole catalogue scan)", "median ms", "us / interface");
    double perScan[3] = {};
    const int sizes[3] = {1, 16, 256};
    for (int i = 0; i < 3; ++i) {
        QString error;
        auto sim = KHID::KSimPlatform::fromJson(scene(sizes[i], hexText(receiver)), "bench", &error);
        if (!sim) {
            std::fprintf(stderr, "bench: %s\n", qPrintable(error));
            return 2;
        }
        KHID::installPlatform(std::move(sim));
        ConfigController controller;
        controller.loadConfig(catalogue);
        perScan[i] = medianSeconds(sizes[i] >= 256 ? 101 : 401, [&] { controller.findDevice(); });
        std::printf("%-34s %14.4f %16.3f\n", qPrintable(QStringLiteral("%1 interfaces").arg(sizes[i])),
                    perScan[i] * 1e3, perScan[i] * 1e6 / sizes[i]);
    }
    std::printf("ratio scan(256) / scan(16): %.2f (linear: 16)\n\n", perScan[2] / perScan[1]);

    std::vector<std::vector<uint8_t>> corpus;
    for (const QString &name : QDir(data + "/descriptors").entryList({"*.hex"}, QDir::Files, QDir::Name))
        corpus.push_back(readHexFile(data + "/descriptors/" + name));
    std::size_t corpusBytes = 0;
    for (const auto &descriptor : corpus)
        corpusBytes += descriptor.size();

    const int passes = 2000;
    std::vector<uint8_t> sink(4096);
    std::size_t checksum = 0;
    const double copy = medianSeconds(15, [&] {
        for (int pass = 0; pass < passes; ++pass) {
            for (const auto &descriptor : corpus) {
                std::memcpy(sink.data(), descriptor.data(), descriptor.size());
                checksum += sink[pass % descriptor.size()];
            }
        }
    });
    const double parse = medianSeconds(15, [&] {
        for (int pass = 0; pass < passes; ++pass) {
            for (const auto &descriptor : corpus)
                checksum += KHID::parseReportDescriptor(descriptor.data(), descriptor.size()).collections.size();
        }
    });
    const double descriptors = double(passes) * corpus.size();
    std::printf("%-34s %14s %16s\n", "descriptor parser (test corpus)", "per second", "ns / descriptor");
    std::printf("%-34s %14.0f %16.1f\n", "copy of the same bytes (baseline)", descriptors / copy,
                copy * 1e9 / descriptors);
    std::printf("%-34s %14.0f %16.1f\n", "parse", descriptors / parse, parse * 1e9 / descriptors);
    std::printf("ratio parse / copy: %.1f (%zu descriptors, %zu bytes in all)\n", parse / copy, corpus.size(),
                corpusBytes);

    std::cout.rdbuf(stdoutBuffer);
    return checksum == 0 ? 1 : 0;
}
