#pragma once
// Finding and opening a bridge device: the list of present USB audio
// functions, the open step that has the proxy take hold of the device and
// walks up to the root hub, and the read of what the device tells about
// itself (descriptors, status block, command channels).

#include <string>
#include <vector>

#include "bridge_library/BrxLog.h"
#include "bridge_library/CamLocation.h"
#include "bridge_library/UsbRequests.h"
#include "platform/Clock.h"
#include "platform/UsbNodeTree.h"

namespace ovra::brx {

struct CamListEntry {
    std::uint32_t instance = 0;
    std::string displayName;
};

// A device waking from selective suspend answers "not ready" for a while;
// the open waits 200 ms between tries and gives up after this many retries.
inline constexpr int kMaxWakeRetries = 25;
inline constexpr std::uint32_t kNoMatchingDevice = 2;

// The interface number after "MI_" in an instance ID: two hexadecimal digits.
// Null when the ID names no interface; `valid` false when the digits are not hex.
std::optional<std::uint8_t> InterfaceNumberFromId(const std::string& deviceId, bool* valid);
// Hub class of a node by its instance ID: 3, 2, or 1 for any other node.
HubClass HubClassOfId(const std::string& deviceId);
bool IsEndOfWalk(const std::string& deviceId);

class DeviceLocator {
public:
    DeviceLocator(UsbNodeTree& tree, UsbRequests& requests, Clock& clock, BrxLog& log)
        : tree_(tree), requests_(requests), clock_(clock), log_(log) {}

    std::vector<CamListEntry> ListDevices();

    // Fills `location` (cleared first); 0 = opened, otherwise an error code.
    // Whatever it opened before a failure is released again.
    std::uint32_t Open(std::uint32_t instance, CamLocation& location);

    // Reads descriptors and the status block into location.info; false on
    // failure (the previous information stays).
    bool ReadCamDevInfo(CamLocation& location, bool force);

    // Releases what the record owns and clears it.
    void Destroy(CamLocation& location);

private:
    UsbNodeTree& tree_;
    UsbRequests& requests_;
    Clock& clock_;
    BrxLog& log_;
};

}  // namespace ovra::brx
