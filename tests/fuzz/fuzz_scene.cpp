// SPDX-License-Identifier: MIT
// Any bytes given as a simulated scene: read or refused with a reason, never
// a crash nor undefined behaviour (numbers far out of range included).

#include "tests/fuzz/fuzzsupport.h"
#include "sim/ksimplatform.h"

#include <QSet>

using namespace KHID;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString error;
    const std::unique_ptr<KSimPlatform> scene =
        KSimPlatform::fromJson(fuzzInput(data, size), QStringLiteral("fuzz"), &error);
    if (!scene) {
        REQUIRE(error.startsWith(QLatin1String("scene fuzz: ")));
        return 0;
    }
    QSet<QString> paths;
    for (const KSimInterface &interface : scene->interfaces()) {
        REQUIRE(!interface.path.isEmpty());
        REQUIRE(!paths.contains(interface.path));
        paths.insert(interface.path);
        REQUIRE(interface.caps.NumberFeatureValueCaps == interface.featureValueCaps.size());
    }
    for (const KSimChange &change : scene->scheduledChanges()) {
        REQUIRE(change.afterMs >= 0);
        REQUIRE(!change.path.isEmpty());
        REQUIRE(!change.plug || change.path == change.interface.path);
    }
    return 0;
}
