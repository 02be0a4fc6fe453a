// SPDX-License-Identifier: MIT
// Any bytes a device (or a file) can hand the parser: it must not crash, and
// what it returns must hang together.

#include "khid/kreportdescriptor.h"
#include "tests/fuzz/require.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace KHID;

namespace {

constexpr unsigned kSaturated = 0xFFFF;

void checkKind(uint16_t length, uint16_t buttons, uint16_t values, uint16_t indices)
{
    if (length == 0)
        REQUIRE(buttons == 0 && values == 0 && indices == 0);
    // A cap needs a data field of at least one bit, behind the ID byte.
    if (buttons + values > 0)
        REQUIRE(length >= 2);
    // Every cap takes at least one data index.
    const unsigned caps = unsigned(buttons) + values;
    REQUIRE(indices >= (caps < kSaturated ? caps : kSaturated));
}

void checkCollection(const KTopCollection &t, bool usesReportIds)
{
    const KHidCaps &c = t.caps;
    REQUIRE(c.NumberLinkCollectionNodes >= 1);
    checkKind(c.InputReportByteLength, c.NumberInputButtonCaps, c.NumberInputValueCaps, c.NumberInputDataIndices);
    checkKind(c.OutputReportByteLength, c.NumberOutputButtonCaps, c.NumberOutputValueCaps, c.NumberOutputDataIndices);
    checkKind(c.FeatureReportByteLength, c.NumberFeatureButtonCaps, c.NumberFeatureValueCaps, c.NumberFeatureDataIndices);

    const std::size_t n = t.featureValueCaps.size();
    REQUIRE(c.NumberFeatureValueCaps == (n < kSaturated ? n : kSaturated));

    for (std::size_t i = 0; i < n; ++i) {
        const KHidValueCaps &v = t.featureValueCaps[i];
        REQUIRE(!(v.BitField & 0x01)); // constants are padding
        REQUIRE(v.BitField & 0x02);    // arrays are buttons
        REQUIRE(v.BitSize >= 2);
        REQUIRE(v.ReportCount >= 1);
        REQUIRE(v.IsRange <= 1);
        if (!v.IsRange)
            REQUIRE(v.UsageMin == v.UsageMax);
        if (!usesReportIds)
            REQUIRE(v.ReportID == 0);
        if (c.NumberLinkCollectionNodes < kSaturated)
            REQUIRE(v.LinkCollection < c.NumberLinkCollectionNodes);
        if (v.LinkCollection == 0)
            REQUIRE(v.LinkUsage == c.Usage && v.LinkUsagePage == c.UsagePage);
        REQUIRE(v.DataIndexMin <= v.DataIndexMax);
        if (c.NumberFeatureDataIndices < kSaturated)
            REQUIRE(v.DataIndexMax < c.NumberFeatureDataIndices);
        if (i > 0 && t.featureValueCaps[i - 1].DataIndexMax < kSaturated)
            REQUIRE(v.DataIndexMin > t.featureValueCaps[i - 1].DataIndexMax);
    }
}

void checkDescriptor(const KReportDescriptor &r, std::size_t size)
{
    REQUIRE(r.ok == r.error.empty());
    if (!r.ok) {
        REQUIRE(r.collections.empty());
        return;
    }
    // A collection takes at least its Collection and End Collection bytes.
    REQUIRE(r.collections.size() <= size / 2);
    std::size_t valueCaps = 0;
    for (const KTopCollection &t : r.collections) {
        checkCollection(t, r.usesReportIds);
        valueCaps += t.featureValueCaps.size();
    }
    // Each cap stands for a main item or a usage item of at least one byte.
    REQUIRE(valueCaps <= size);
}

bool same(const KReportDescriptor &a, const KReportDescriptor &b)
{
    const auto bytesEqual = [](const auto &x, const auto &y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    const auto sameCollection = [&](const KTopCollection &x, const KTopCollection &y) {
        return bytesEqual(x.caps, y.caps)
            && std::equal(x.featureValueCaps.begin(), x.featureValueCaps.end(), y.featureValueCaps.begin(),
                          y.featureValueCaps.end(), bytesEqual);
    };
    return a.ok == b.ok && a.error == b.error && a.usesReportIds == b.usesReportIds
        && std::equal(a.collections.begin(), a.collections.end(), b.collections.begin(), b.collections.end(),
                      sameCollection);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const KReportDescriptor r = parseReportDescriptor(data, size);
    checkDescriptor(r, size);
    REQUIRE(same(r, parseReportDescriptor(data, size)));

    // The same bytes as a text file of hex.
    std::vector<uint8_t> bytes{0x5A};
    if (!parseHexBytes(std::string(reinterpret_cast<const char *>(data), size), bytes)) {
        REQUIRE(bytes.empty());
        return 0;
    }
    REQUIRE(bytes.size() * 2 <= size);

    std::string again;
    for (uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x ", b);
        again += hex;
    }
    std::vector<uint8_t> back;
    REQUIRE(parseHexBytes(again, back));
    REQUIRE(back == bytes);

    checkDescriptor(parseReportDescriptor(bytes.data(), bytes.size()), bytes.size());
    return 0;
}
