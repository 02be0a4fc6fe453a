// SPDX-License-Identifier: MIT
// Any bytes given as the device catalogue: loaded with its bad entries left
// out, or refused with the reason; a refused file leaves the catalogue as it was.

#include "config/configcontroller.h"
#include "tests/fuzz/fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ConfigController catalogue;
    const bool loaded = catalogue.loadConfigData(fuzzInput(data, size), QStringLiteral("fuzz"));
    REQUIRE(loaded == catalogue.errorString().isEmpty());
    const QMap<int, DeviceDetail> devices = catalogue.devices();
    if (!loaded) {
        REQUIRE(devices.isEmpty());
        return 0;
    }
    for (auto it = devices.constBegin(); it != devices.constEnd(); ++it) {
        const DeviceDetail &entry = it.value();
        REQUIRE(it.key() == entry.pid);
        REQUIRE(entry.vid >= 0 && entry.vid <= 0xFFFF && entry.pid >= 0 && entry.pid <= 0xFFFF);
        REQUIRE(entry.usage >= 0 && entry.usage <= 0xFFFF && entry.usagePage >= 0 && entry.usagePage <= 0xFFFF);
        REQUIRE(entry.reportId >= 0 && entry.reportId <= 0xFF && entry.communicationId >= 0);
    }
    return 0;
}
