// SPDX-License-Identifier: MIT
#include "khid/kwinmessage.h"

#include <utility>

namespace KHID {
namespace winmsg {

namespace {

// Byte by byte: the record need not be aligned, and its layout is little-endian
// whatever machine reads it.
uint32_t readDword(const unsigned char *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8
        | static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

char16_t readUnit(const unsigned char *bytes)
{
    return static_cast<char16_t>(bytes[0] | bytes[1] << 8);
}

} // namespace

bool decodeDeviceChange(uint32_t message, uintptr_t wParam, const void *record, KDeviceChange &change)
{
    // Other codes carry no record, or one that is not ours to read (lParam is 0
    // for the general devices-changed notice).
    if (message != kWmDeviceChange || (wParam != kDbtDeviceArrival && wParam != kDbtDeviceRemoveComplete)
        || !record)
        return false;

    const auto *bytes = static_cast<const unsigned char *>(record);
    const uint32_t size = readDword(bytes + kSizeOffset);
    if (size < kHeaderBytes || readDword(bytes + kDeviceTypeOffset) != kDbtDevtypDeviceInterface)
        return false;
    // Too short to be a device-interface record at all.
    if (size < kNameOffset)
        return false;

    const std::size_t units = (size - kNameOffset) / sizeof(char16_t);
    std::u16string path;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = readUnit(bytes + kNameOffset + i * sizeof(char16_t));
        if (unit == 0)
            break;
        path.push_back(unit);
    }

    change.arrival = wParam == kDbtDeviceArrival;
    change.path = std::move(path);
    return true;
}

} // namespace winmsg
} // namespace KHID
