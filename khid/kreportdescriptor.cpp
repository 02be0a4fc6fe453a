// SPDX-License-Identifier: MIT
#include "khid/kreportdescriptor.h"

#include <array>
#include <cstdint>
#include <limits>
#include <utility>

namespace KHID {

namespace {

// Real descriptors stay far below these; they only stop hostile bytes from
// costing memory or stack.
constexpr std::size_t kMaxPushDepth = 16;
constexpr std::size_t kMaxCollectionDepth = 32;
constexpr std::size_t kMaxUsages = 1024;

constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();

enum ReportKind { kInput = 0, kOutput = 1, kFeature = 2, kKindCount = 3 };

uint64_t addSaturated(uint64_t a, uint64_t b)
{
    return a > kU64Max - b ? kU64Max : a + b;
}

uint64_t mulSaturated(uint64_t a, uint64_t b)
{
    return (a != 0 && b > kU64Max / a) ? kU64Max : a * b;
}

uint16_t clamp16(uint64_t v)
{
    return v > 0xFFFFu ? uint16_t(0xFFFFu) : uint16_t(v);
}

int32_t asInt32(uint32_t v)
{
    // Spelled out so no out-of-range conversion is involved.
    if (v <= 0x7FFFFFFFu)
        return int32_t(v);
    return int32_t(v - 0x80000000u) + std::numeric_limits<int32_t>::min();
}

int32_t signExtended(uint32_t raw, unsigned size)
{
    switch (size) {
    case 1: return (raw & 0x80u) ? int32_t(raw & 0xFFu) - 0x100 : int32_t(raw & 0xFFu);
    case 2: return (raw & 0x8000u) ? int32_t(raw & 0xFFFFu) - 0x10000 : int32_t(raw & 0xFFFFu);
    case 4: return asInt32(raw);
    default: return 0;
    }
}

struct ItemNumber {
    uint32_t raw = 0;
    uint8_t size = 0;
};

struct Globals {
    uint16_t usagePage = 0;
    ItemNumber logicalMin, logicalMax, physicalMin, physicalMax;
    uint32_t unitExponent = 0;
    uint32_t unit = 0;
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint8_t reportId = 0;
};

// A usage or a usage range. A page is only stored when the item carried one
// (four-byte form); otherwise the page in force at the main item applies.
struct UsageRef {
    uint16_t page = 0;
    bool hasPage = false;
    uint16_t min = 0;
    uint16_t max = 0;
    bool range = false;
};

struct Locals {
    std::vector<UsageRef> usages;
    bool haveMin = false, haveMax = false;
    UsageRef pendingMin, pendingMax;
    bool haveString = false, haveStringMin = false, haveStringMax = false;
    uint16_t stringIndex = 0, stringMin = 0, stringMax = 0;
    bool haveDesignator = false, haveDesignatorMin = false, haveDesignatorMax = false;
    uint16_t designatorIndex = 0, designatorMin = 0, designatorMax = 0;

    void clear()
    {
        usages.clear(); // keeps its capacity, which is bounded by kMaxUsages
        haveMin = haveMax = false;
        haveString = haveStringMin = haveStringMax = false;
        haveDesignator = haveDesignatorMin = haveDesignatorMax = false;
    }
};

struct CollectionNode {
    uint16_t link = 0;
    uint16_t usage = 0;
    uint16_t usagePage = 0;
};

// Bit counts per report ID for one kind; only the IDs seen are revisited, so
// finishing a collection costs what the collection used, not 256 slots.
struct ReportBits {
    std::array<uint64_t, 256> bits{};
    std::array<bool, 256> seen{};
    std::vector<uint8_t> ids;

    void add(uint8_t id, uint64_t n)
    {
        if (!seen[id]) {
            seen[id] = true;
            ids.push_back(id);
        }
        bits[id] = addSaturated(bits[id], n);
    }

    uint16_t longestReportBytes() const
    {
        uint64_t longest = 0;
        for (uint8_t id : ids) {
            const uint64_t b = bits[id];
            // The ID byte is counted even without IDs: the buffer always carries it.
            const uint64_t bytes = addSaturated(b / 8 + (b % 8 != 0 ? 1 : 0), 1);
            if (bytes > longest)
                longest = bytes;
        }
        return clamp16(longest);
    }

    void reset()
    {
        for (uint8_t id : ids) {
            bits[id] = 0;
            seen[id] = false;
        }
        ids.clear();
    }
};

class Parser {
public:
    Parser(const uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    KReportDescriptor run();

private:
    bool fail(const char *what, std::size_t offset);
    bool global(unsigned tag, uint32_t value, unsigned size, std::size_t offset);
    bool local(unsigned tag, uint32_t value, unsigned size, std::size_t offset);
    bool mainItem(unsigned tag, uint32_t value, std::size_t offset);
    bool addUsage(const UsageRef &usage, std::size_t offset);
    bool flushUnpairedRange(std::size_t offset);
    void dataItem(ReportKind kind, uint32_t flags);
    void beginCollection();
    void endCollection();
    uint16_t pageOf(const UsageRef &usage) const;

    const uint8_t *m_data;
    std::size_t m_size;
    KReportDescriptor m_result;

    Globals m_globals;
    std::vector<Globals> m_pushed;
    Locals m_locals;
    std::vector<CollectionNode> m_open;

    // The top-level collection being read.
    KTopCollection m_top;
    ReportBits m_bits[kKindCount];
    uint64_t m_buttonCaps[kKindCount] = {};
    uint64_t m_valueCaps[kKindCount] = {};
    uint64_t m_dataIndices[kKindCount] = {};
    uint64_t m_linkNodes = 0;
};

bool Parser::fail(const char *what, std::size_t offset)
{
    m_result.ok = false;
    m_result.error = std::string(what) + " at offset " + std::to_string(offset);
    m_result.collections.clear();
    return false;
}

KReportDescriptor Parser::run()
{
    m_result.ok = true;
    if (!m_data && m_size != 0) {
        fail("no descriptor data", 0);
        return std::move(m_result);
    }

    std::size_t pos = 0;
    while (pos < m_size) {
        const std::size_t start = pos;
        const uint8_t prefix = m_data[pos];

        if (prefix == 0xFE) {
            // Long item: size byte, tag byte, then the data. Nothing defines one.
            if (m_size - pos < 3) {
                fail("truncated long item", start);
                return std::move(m_result);
            }
            const std::size_t length = m_data[pos + 1];
            if (m_size - pos - 3 < length) {
                fail("truncated long item", start);
                return std::move(m_result);
            }
            pos += 3 + length;
            continue;
        }

        const unsigned sizeCode = prefix & 0x3u;
        const unsigned dataSize = sizeCode == 3 ? 4 : sizeCode;
        if (m_size - pos - 1 < dataSize) {
            fail("truncated short item", start);
            return std::move(m_result);
        }
        uint32_t value = 0;
        for (unsigned i = 0; i < dataSize; ++i)
            value |= uint32_t(m_data[pos + 1 + i]) << (8 * i);
        pos += 1 + dataSize;

        const unsigned type = (prefix >> 2) & 0x3u;
        const unsigned tag = prefix >> 4;
        bool good = true;
        switch (type) {
        case 0: good = mainItem(tag, value, start); break;
        case 1: good = global(tag, value, dataSize, start); break;
        case 2: good = local(tag, value, dataSize, start); break;
        default: break; // reserved type: skipped like an unknown tag
        }
        if (!good)
            return std::move(m_result);
    }

    if (!m_open.empty())
        fail("collection not closed", m_size);
    return std::move(m_result);
}

bool Parser::global(unsigned tag, uint32_t value, unsigned size, std::size_t offset)
{
    Globals &g = m_globals;
    switch (tag) {
    case 0x0: g.usagePage = uint16_t(value & 0xFFFFu); break;
    case 0x1: g.logicalMin = {value, uint8_t(size)}; break;
    case 0x2: g.logicalMax = {value, uint8_t(size)}; break;
    case 0x3: g.physicalMin = {value, uint8_t(size)}; break;
    case 0x4: g.physicalMax = {value, uint8_t(size)}; break;
    case 0x5: g.unitExponent = value; break;
    case 0x6: g.unit = value; break;
    case 0x7: g.reportSize = value; break;
    case 0x8:
        m_result.usesReportIds = true;
        if (value == 0)
            return fail("report ID 0", offset);
        if (value > 0xFFu)
            return fail("report ID above 255", offset);
        g.reportId = uint8_t(value);
        break;
    case 0x9: g.reportCount = value; break;
    case 0xA:
        if (m_pushed.size() >= kMaxPushDepth)
            return fail("too many pushes", offset);
        m_pushed.push_back(g);
        break;
    case 0xB:
        if (m_pushed.empty())
            return fail("pop without push", offset);
        g = m_pushed.back();
        m_pushed.pop_back();
        break;
    default: break;
    }
    return true;
}

bool Parser::addUsage(const UsageRef &usage, std::size_t offset)
{
    if (m_locals.usages.size() >= kMaxUsages)
        return fail("too many usages", offset);
    m_locals.usages.push_back(usage);
    return true;
}

bool Parser::local(unsigned tag, uint32_t value, unsigned size, std::size_t offset)
{
    Locals &l = m_locals;
    UsageRef usage;
    usage.min = usage.max = uint16_t(value & 0xFFFFu);
    if (size == 4) {
        usage.page = uint16_t(value >> 16);
        usage.hasPage = true;
    }

    switch (tag) {
    case 0x0:
        return addUsage(usage, offset);
    case 0x1:
    case 0x2:
        (tag == 0x1 ? l.pendingMin : l.pendingMax) = usage;
        (tag == 0x1 ? l.haveMin : l.haveMax) = true;
        if (l.haveMin && l.haveMax) {
            UsageRef range;
            range.range = true;
            range.min = l.pendingMin.min;
            range.max = l.pendingMax.max;
            if (l.pendingMin.hasPage || l.pendingMax.hasPage) {
                range.hasPage = true;
                range.page = l.pendingMin.hasPage ? l.pendingMin.page : l.pendingMax.page;
            }
            l.haveMin = l.haveMax = false;
            return addUsage(range, offset);
        }
        return true;
    case 0x3: l.haveDesignator = true; l.designatorIndex = uint16_t(value); break;
    case 0x4: l.haveDesignatorMin = true; l.designatorMin = uint16_t(value); break;
    case 0x5: l.haveDesignatorMax = true; l.designatorMax = uint16_t(value); break;
    case 0x7: l.haveString = true; l.stringIndex = uint16_t(value); break;
    case 0x8: l.haveStringMin = true; l.stringMin = uint16_t(value); break;
    case 0x9: l.haveStringMax = true; l.stringMax = uint16_t(value); break;
    default: break; // delimiters: aliases are not reported
    }
    return true;
}

// A minimum without its maximum (or the reverse) still names one usage.
bool Parser::flushUnpairedRange(std::size_t offset)
{
    Locals &l = m_locals;
    bool good = true;
    if (l.haveMin)
        good = addUsage(l.pendingMin, offset);
    if (good && l.haveMax)
        good = addUsage(l.pendingMax, offset);
    l.haveMin = l.haveMax = false;
    return good;
}

uint16_t Parser::pageOf(const UsageRef &usage) const
{
    return usage.hasPage ? usage.page : m_globals.usagePage;
}

bool Parser::mainItem(unsigned tag, uint32_t value, std::size_t offset)
{
    if (!flushUnpairedRange(offset))
        return false;
    switch (tag) {
    case 0x8: dataItem(kInput, value); break;
    case 0x9: dataItem(kOutput, value); break;
    case 0xB: dataItem(kFeature, value); break;
    case 0xA:
        if (m_open.size() >= kMaxCollectionDepth)
            return fail("collections nested too deeply", offset);
        beginCollection();
        break;
    case 0xC:
        if (m_open.empty())
            return fail("end collection without collection", offset);
        endCollection();
        break;
    default: break;
    }
    m_locals.clear();
    return true;
}

void Parser::beginCollection()
{
    CollectionNode node;
    node.usagePage = m_globals.usagePage;
    if (!m_locals.usages.empty()) {
        node.usage = m_locals.usages.front().min;
        node.usagePage = pageOf(m_locals.usages.front());
    }

    if (m_open.empty()) {
        m_top = KTopCollection();
        m_top.caps.Usage = node.usage;
        m_top.caps.UsagePage = node.usagePage;
        for (int k = 0; k < kKindCount; ++k) {
            m_bits[k].reset();
            m_buttonCaps[k] = m_valueCaps[k] = m_dataIndices[k] = 0;
        }
        m_linkNodes = 1;
        node.link = 0;
    } else {
        node.link = clamp16(m_linkNodes);
        m_linkNodes = addSaturated(m_linkNodes, 1);
    }
    m_open.push_back(node);
}

void Parser::endCollection()
{
    m_open.pop_back();
    if (!m_open.empty())
        return;

    KHidCaps &caps = m_top.caps;
    caps.InputReportByteLength = m_bits[kInput].longestReportBytes();
    caps.OutputReportByteLength = m_bits[kOutput].longestReportBytes();
    caps.FeatureReportByteLength = m_bits[kFeature].longestReportBytes();
    caps.NumberLinkCollectionNodes = clamp16(m_linkNodes);
    caps.NumberInputButtonCaps = clamp16(m_buttonCaps[kInput]);
    caps.NumberInputValueCaps = clamp16(m_valueCaps[kInput]);
    caps.NumberInputDataIndices = clamp16(m_dataIndices[kInput]);
    caps.NumberOutputButtonCaps = clamp16(m_buttonCaps[kOutput]);
    caps.NumberOutputValueCaps = clamp16(m_valueCaps[kOutput]);
    caps.NumberOutputDataIndices = clamp16(m_dataIndices[kOutput]);
    caps.NumberFeatureButtonCaps = clamp16(m_buttonCaps[kFeature]);
    caps.NumberFeatureValueCaps = clamp16(m_valueCaps[kFeature]);
    caps.NumberFeatureDataIndices = clamp16(m_dataIndices[kFeature]);
    m_result.collections.push_back(std::move(m_top));
    m_top = KTopCollection();
}

void Parser::dataItem(ReportKind kind, uint32_t flags)
{
    if (m_open.empty())
        return; // belongs to no collection, so to no interface

    const Globals &g = m_globals;
    m_bits[kind].add(g.reportId, mulSaturated(g.reportSize, g.reportCount));

    const bool constant = flags & 0x01u;
    const bool variable = flags & 0x02u;
    if (constant || g.reportSize == 0 || g.reportCount == 0)
        return;

    // Like Windows: one capability per usage or range. In a variable item
    // each usage takes one field and the last one takes what remains; an
    // array item's usages all share its fields.
    UsageRef none;
    const std::vector<UsageRef> &usages = m_locals.usages;
    const bool noUsage = usages.empty();
    std::size_t n = noUsage ? 1 : usages.size();
    if (variable && n > g.reportCount)
        n = g.reportCount;
    const bool isValue = variable && g.reportSize > 1;

    const Locals &l = m_locals;
    const CollectionNode &link = m_open.back();
    for (std::size_t i = 0; i < n; ++i) {
        const UsageRef &u = noUsage ? none : usages[i];
        const uint64_t fields = !variable ? g.reportCount
                              : (i + 1 == n ? uint64_t(g.reportCount) - (n - 1) : 1);
        const uint64_t indices = (u.range && u.max >= u.min) ? uint64_t(u.max - u.min) + 1 : 1;
        const uint64_t firstIndex = m_dataIndices[kind];
        m_dataIndices[kind] = addSaturated(m_dataIndices[kind], indices);
        if (!isValue) {
            m_buttonCaps[kind] = addSaturated(m_buttonCaps[kind], 1);
            continue;
        }
        m_valueCaps[kind] = addSaturated(m_valueCaps[kind], 1);
        if (kind != kFeature)
            continue;

        KHidValueCaps c;
        c.UsagePage = pageOf(u);
        c.ReportID = g.reportId;
        c.BitField = uint16_t(flags & 0xFFFFu);
        c.LinkCollection = link.link;
        c.LinkUsage = link.usage;
        c.LinkUsagePage = link.usagePage;
        c.IsRange = u.range ? 1 : 0;
        c.UsageMin = u.min;
        c.UsageMax = u.range ? u.max : u.min;
        if (l.haveStringMin && l.haveStringMax) {
            c.IsStringRange = 1;
            c.StringMin = l.stringMin;
            c.StringMax = l.stringMax;
        } else if (l.haveString) {
            c.StringMin = c.StringMax = l.stringIndex;
        }
        if (l.haveDesignatorMin && l.haveDesignatorMax) {
            c.IsDesignatorRange = 1;
            c.DesignatorMin = l.designatorMin;
            c.DesignatorMax = l.designatorMax;
        } else if (l.haveDesignator) {
            c.DesignatorMin = c.DesignatorMax = l.designatorIndex;
        }
        c.IsAbsolute = (flags & 0x04u) ? 0 : 1;
        c.HasNull = (flags & 0x40u) ? 1 : 0;
        c.BitSize = clamp16(g.reportSize);
        c.ReportCount = clamp16(fields);
        c.UnitsExp = g.unitExponent;
        c.Units = g.unit;
        // Minimums are signed; a maximum that would fall below its minimum
        // once signed was meant unsigned (0..255 written as 00 / FF).
        c.LogicalMin = signExtended(g.logicalMin.raw, g.logicalMin.size);
        c.LogicalMax = signExtended(g.logicalMax.raw, g.logicalMax.size);
        if (c.LogicalMax < c.LogicalMin)
            c.LogicalMax = asInt32(g.logicalMax.raw);
        c.PhysicalMin = signExtended(g.physicalMin.raw, g.physicalMin.size);
        c.PhysicalMax = signExtended(g.physicalMax.raw, g.physicalMax.size);
        if (c.PhysicalMax < c.PhysicalMin)
            c.PhysicalMax = asInt32(g.physicalMax.raw);
        c.DataIndexMin = clamp16(firstIndex);
        c.DataIndexMax = clamp16(addSaturated(firstIndex, indices - 1));
        m_top.featureValueCaps.push_back(c);
    }
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

uint8_t hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return uint8_t(c - '0');
    if (c >= 'a' && c <= 'f')
        return uint8_t(c - 'a' + 10);
    return uint8_t(c - 'A' + 10);
}

} // namespace

KReportDescriptor parseReportDescriptor(const uint8_t *data, std::size_t size)
{
    Parser parser(data, size);
    return parser.run();
}

bool parseHexBytes(const std::string &text, std::vector<uint8_t> &bytes)
{
    bytes.clear();
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',') {
            ++i;
            continue;
        }
        if (c == '#') {
            while (i < n && text[i] != '\n')
                ++i;
            continue;
        }

        // "0x" introduces exactly one byte; a bare token may be a run of pairs.
        const bool prefixed = c == '0' && i + 1 < n && (text[i + 1] == 'x' || text[i + 1] == 'X');
        if (prefixed)
            i += 2;
        const std::size_t digitsStart = i;
        while (i < n && isHexDigit(text[i]))
            ++i;
        const std::size_t digits = i - digitsStart;
        if (digits == 0 || digits % 2 != 0 || (prefixed && digits != 2)) {
            bytes.clear();
            return false;
        }
        if (i < n) {
            const char next = text[i];
            if (next != ' ' && next != '\t' && next != '\r' && next != '\n' && next != ','
                && next != '#') {
                bytes.clear();
                return false;
            }
        }
        for (std::size_t d = digitsStart; d < i; d += 2)
            bytes.push_back(uint8_t(hexValue(text[d]) << 4 | hexValue(text[d + 1])));
    }
    return true;
}

} // namespace KHID
