// SPDX-License-Identifier: MIT
#pragma once

// Windows' device-change broadcast (WM_DEVICECHANGE), read from the message's
// raw values and the broadcast record's bytes. It needs no Windows headers,
// so its checks run on every machine; the Windows build checks these offsets
// against dbt.h.

#include <cstddef>
#include <cstdint>
#include <string>

namespace KHID {
namespace winmsg {

constexpr uint32_t kWmDeviceChange = 0x0219;
constexpr uintptr_t kDbtDeviceArrival = 0x8000;
constexpr uintptr_t kDbtDeviceRemoveComplete = 0x8004;
constexpr uint32_t kDbtDevtypDeviceInterface = 5;

// DEV_BROADCAST_HDR, which starts every record: little-endian DWORDs.
constexpr std::size_t kSizeOffset = 0;       // dbch_size: the whole record, in bytes
constexpr std::size_t kDeviceTypeOffset = 4; // dbch_devicetype
constexpr std::size_t kHeaderBytes = 12;
// DEV_BROADCAST_DEVICEINTERFACE_W.
constexpr std::size_t kClassGuidOffset = 12;
constexpr std::size_t kNameOffset = 28; // dbcc_name: UTF-16LE, NUL-terminated
constexpr std::size_t kInterfaceRecordBytes = 32;

struct KDeviceChange {
    bool arrival = false;
    std::u16string path;
};

// True for the arrival or removal of a device interface, with its path.
// `record` is the message's lParam; it is read only after the message and
// wParam qualify, and never past the size its header gives. A name the
// system left unterminated ends with the record. False, with `change`
// untouched, for every other message and for malformed records.
bool decodeDeviceChange(uint32_t message, uintptr_t wParam, const void *record, KDeviceChange &change);

} // namespace winmsg
} // namespace KHID
