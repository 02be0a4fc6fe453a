// SPDX-License-Identifier: MIT
#pragma once

// Pieces of the Linux (udev + hidraw) backend that need no device, kept apart
// so they can be checked on any machine.

#include "khid/kplatform.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace KHID {
namespace linuxhid {

// HIDP_STATUS_BUFFER_TOO_SMALL.
constexpr uint32_t kHidpStatusBufferTooSmall = 0xC0110004u;

// The HID_ID udev property of a "hid" device: "BBBB:VVVVVVVV:PPPPPPPP" in hex.
struct HidId {
    uint16_t bus = 0;
    uint16_t vendor = 0;
    uint16_t product = 0;
};
// False unless all three fields are present, hex, and fit 16 bits.
bool parseHidId(std::string_view text, HidId &id);

// The bcdDevice sysattr of a USB device ("0110"); a trailing newline is allowed.
bool parseBcdDevice(std::string_view text, uint16_t &version);

// "hidraw12" -> 12. Only the names the kernel gives (no sign, no leading zero).
bool parseNodeName(std::string_view sysname, unsigned &node);

// "/dev/hidrawN" for a node with a single top-level collection,
// "/dev/hidrawN#colNN" (1-based, at least two digits) otherwise.
std::string composeInterfacePath(unsigned node, std::size_t collection, std::size_t collections);

struct InterfacePath {
    unsigned node = 0;
    std::size_t collection = 0; // 0-based; 0 too when the path has no suffix
    bool hasCollection = false;
};
// Accepts exactly the paths composeInterfacePath writes.
bool splitInterfacePath(std::string_view path, InterfacePath &out);
std::string nodeDevicePath(unsigned node);

struct NodeListing {
    unsigned node = 0;
    std::size_t collections = 0; // 0 when the descriptor could not be read or parsed
};
// The interface paths of an enumeration, in node order, one per collection.
std::vector<std::string> listInterfacePaths(std::vector<NodeListing> nodes);

// The hidraw nodes present now, with their collection counts (needs udev, not the nodes).
std::vector<NodeListing> presentNodes();

// The node's collection count (0 when its descriptor does not parse); false
// when the node or its descriptor is gone.
bool nodeCollections(unsigned node, std::size_t &collections);

// Ill-formed input becomes U+FFFD, one per maximal ill-formed subsequence.
std::u16string utf8ToUtf16(std::string_view text);

// Writes at most bytes/2 code units (host order), plus a terminator when it
// fits; never splits a surrogate pair. Returns the code units written, terminator excluded.
std::size_t copyUtf16(std::u16string_view text, void *buffer, std::size_t bytes);

// Copies as the Windows value-caps query does: what fits, and whether more remained.
uint32_t copyValueCaps(const std::vector<KHidValueCaps> &all, KHidValueCaps *out, uint16_t &count);

// A sysfs report_descriptor file; false (with the reason) when it cannot be
// read, is empty, or is larger than a HID descriptor can be.
bool readDescriptorFile(const std::string &path, std::vector<uint8_t> &bytes, std::string *error);

// The system.posix_acl_access extended attribute of a node: whether an entry
// names `uid` with read and write. False when the attribute is not an ACL.
bool aclNamesUser(std::string_view xattr, uint32_t uid, bool &grantsReadWrite);

// The session and sandbox as the environment tells them, for the doctor.
struct SessionFacts {
    std::string sessionType; // XDG_SESSION_TYPE, else "wayland"/"x11" from the displays, else empty
    bool flatpak = false;    // /.flatpak-info or FLATPAK_ID
    bool snap = false;       // SNAP
};
std::vector<KCheck> sessionChecks(const SessionFacts &facts);

} // namespace linuxhid
} // namespace KHID
