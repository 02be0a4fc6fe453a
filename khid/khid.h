// SPDX-License-Identifier: MIT
#pragma once

#include "khid/khiddetail.h"

#include <functional>

namespace KHID {

using KHidFilter = std::function<void(KHID::KHidDetail, bool &)>;

// Calls `filter` for every HID interface that can be queried, in enumeration
// order; the filter stops the walk by clearing its flag.
void enumHidDevices(const KHidFilter &filter);

// Fills `detail` from the interface at `path`; leaves it untouched on failure.
bool getHidDetail(const QString &path, KHidDetail &detail);

} // namespace KHID
