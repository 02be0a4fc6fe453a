// SPDX-License-Identifier: MIT
#include "khid/khid.h"

#include <QDebug>

#include <algorithm>
#include <iostream>
#include <limits>
#include <new>

namespace KHID {

namespace {

// The walk and the query report on standard output, one flushed line each.
void printLine(const char *text)
{
    std::cout << text << std::endl;
}

// The product string is UTF-16 of at most 64 code units, ending at the first
// NUL or at the end of the buffer.
QString decodeProductString(const char16_t *units, std::size_t capacity)
{
    std::size_t length = 0;
    while (length < capacity && units[length] != 0)
        ++length;
    return QString::fromUtf16(units, static_cast<int>(length));
}

// A size no allocation can meet counts as low memory, like a failed one.
char16_t *allocatePathBlock(std::size_t units)
{
    if (units > static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) / sizeof(char16_t))
        return nullptr;
    return new (std::nothrow) char16_t[std::max<std::size_t>(units, 1)];
}

} // namespace

void printDetail(const KHidDetail &detail)
{
    const KHidCaps &caps = detail.capAbilities;
    qDebug() << "";
    qDebug() << "----- base info -----";
    qDebug() << "DevicePath: " << detail.DevicePath;
    qDebug("VendorID: 0x%x", detail.VendorID);
    qDebug("ProductID: 0x%x", detail.ProductID);
    qDebug() << "VersionNumber: " << detail.VersionNumber;
    qDebug() << "DeviceName: " << detail.DeviceName;
    qDebug() << "----- capAbilities -----";
    qDebug("Usage: 0x%x", caps.Usage);
    qDebug("UsagePage: 0x%x", caps.UsagePage);
    qDebug() << "Feature report: " << caps.NumberFeatureValueCaps;
    qDebug() << "NumberFeatureValueCaps: " << caps.NumberFeatureValueCaps;
    qDebug() << "FeatureReportByteLength: " << caps.FeatureReportByteLength;
    qDebug() << "NumberInputValueCaps: " << caps.NumberInputValueCaps;
    qDebug() << "InputReportByteLength: " << caps.InputReportByteLength;
    qDebug() << "NumberOutputValueCaps: " << caps.NumberOutputValueCaps;
    qDebug() << "OutputReportByteLength: " << caps.OutputReportByteLength;
    qDebug() << "----- capAbilities Value -----"
             << "capAbilitiesValue count: " << detail.capAbilitiesValue.size();
    for (const KHidValueCaps &value : detail.capAbilitiesValue)
        qDebug() << "ReportID: " << value.ReportID;
    qDebug() << "\n";
}

bool getHidDetail(const QString &path, KHidDetail &detail)
{
    KHidPlatform &hid = platform();
    const KHandle handle = hid.open(path.toStdU16String(), KOpenMode::Query, nullptr);
    if (handle == kInvalidHandle) {
        printLine("error : CreateFile ");
        return false;
    }

    KHidAttributes attributes;
    attributes.Size = sizeof(KHidAttributes);
    if (!hid.getAttributes(handle, attributes)) {
        printLine("error : HidD_GetAttributes ");
        hid.closeHandle(handle);
        return false;
    }

    char16_t name[kProductStringBytes / sizeof(char16_t)] = {};
    hid.getProductString(handle, name, sizeof name);

    KPreparsed preparsed = kNoPreparsed;
    hid.getPreparsedData(handle, preparsed);
    KHidCaps caps;
    hid.getCaps(preparsed, caps);

    KHidValueCaps values[kFeatureValueCapsCapacity] = {};
    uint16_t count = kFeatureValueCapsCapacity;
    if (hid.getFeatureValueCaps(preparsed, values, count) == kHidpStatusInvalidPreparsedData) {
        hid.freePreparsedData(preparsed);
        hid.closeHandle(handle);
        return false;
    }
    hid.freePreparsedData(preparsed);

    detail.DevicePath = path;
    detail.VendorID = attributes.VendorID;
    detail.ProductID = attributes.ProductID;
    detail.VersionNumber = attributes.VersionNumber;
    detail.DeviceName = decodeProductString(name, sizeof name / sizeof name[0]);
    detail.capAbilities = caps;
    // Never trust the count beyond the array we handed over.
    const int taken = std::min<int>(count, kFeatureValueCapsCapacity);
    detail.capAbilitiesValue = QVector<KHidValueCaps>(values, values + taken);

    hid.closeHandle(handle);
    return true;
}

void enumHidDevices(const KHidFilter &filter)
{
    if (!filter)
        return;

    KHidPlatform &hid = platform();
    const KInterfaceSet set = hid.openInterfaceSet();
    if (set == kNoInterfaceSet)
        return;

    for (uint32_t index = 0; hid.enumInterface(set, index); ++index) {
        const std::size_t units = hid.interfacePathLength(set, index);
        QString path;
        {
            std::unique_ptr<char16_t[]> block(allocatePathBlock(units));
            if (!block) {
                printLine("memory low!");
                break;
            }
            block[0] = 0;
            if (units == 0 || !hid.interfacePath(set, index, block.get(), units)) {
                printLine("error : SetupDiGetDeviceInterfaceDetail");
                continue;
            }
            block[units - 1] = 0; // a backend that forgets the terminator cannot make us overrun
            path = QString::fromUtf16(block.get());
        }

        KHidDetail detail;
        if (!getHidDetail(path, detail))
            continue;

        bool keepGoing = true;
        filter(detail, keepGoing);
        if (!keepGoing)
            break;
    }

    hid.closeInterfaceSet(set);
}

} // namespace KHID
