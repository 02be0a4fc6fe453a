// SPDX-License-Identifier: MIT
#pragma once

// HID report descriptor parser: turns the bytes a device sends into one
// capabilities record per top-level application collection, with the report
// lengths the Windows HID parser would give, so that every backend describes
// an interface the same way.
//
// The bytes come from the device, so the parser trusts nothing: it is bounded
// in time (linear in the input) and memory, and rejects what it cannot parse.

#include "khid/kplatform.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace KHID {

struct KTopCollection {
    KHidCaps caps;
    // One entry per feature value item, in descriptor order.
    std::vector<KHidValueCaps> featureValueCaps;
};

struct KReportDescriptor {
    bool ok = false;
    std::string error;            // why parsing failed, when !ok
    bool usesReportIds = false;
    std::vector<KTopCollection> collections;
};

KReportDescriptor parseReportDescriptor(const uint8_t *data, std::size_t size);

// Text of hex bytes ("06 00 ff 09 01", "0x06,0x00", "0600ff") into bytes.
// False when the text holds anything else or an odd number of digits.
bool parseHexBytes(const std::string &text, std::vector<uint8_t> &bytes);

} // namespace KHID
