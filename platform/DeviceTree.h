#pragma once
// Port: the device tree as device management sees it. Nodes carry instance
// IDs in the system's form, which the classification parses:
//   "USB\VID_0B05&PID_1855\5&1A2B3C4D&0&2"          a USB device
//   "USB\VID_0B05&PID_1855&MI_03\6&0F1E2D3C&0&0003" an interface of a composite device
// plus their parents and whether a driver runs them. Change notices arrive as
// the device-change codes of the main window's message.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ovra {

enum class DeviceNodeStatus {
    Started,     // a driver is bound
    NotStarted,  // present, no driver
};

struct DeviceNode {
    // Empty when the node's ID could not be read (typically it vanished
    // between listing and reading).
    std::optional<std::string> instanceId;
    std::string parentId;  // empty for a node without a parent in the tree
    DeviceNodeStatus status = DeviceNodeStatus::NotStarted;
    std::string sysPath;   // where the adapter found it (diagnostics)
};

// The codes of the device-change message that the handler distinguishes.
enum class DeviceChangeCode : std::uint32_t {
    TreeChanged = 0x0007,      // some device node was added or removed
    Arrival = 0x8000,          // a device interface arrived
    RemoveComplete = 0x8004,   // a device interface is gone
};

struct DeviceChange {
    DeviceChangeCode code;
    std::string instanceId;  // of the node concerned, when known
};

// Registered change notification. Destroying it unregisters.
class DeviceChangeSource {
public:
    virtual ~DeviceChangeSource() = default;
    // Becomes readable while changes wait (for a main loop to watch); -1 when
    // the source has no descriptor (test doubles: call TakeChanges).
    virtual int PollFd() const = 0;
    // The changes waiting now, oldest first; never blocks.
    virtual std::vector<DeviceChange> TakeChanges() = 0;
};

class DeviceTree {
public:
    virtual ~DeviceTree() = default;

    // Present USB devices and the interfaces of composite devices, parents
    // before children. False when the tree cannot be listed at all.
    virtual bool ListPresentDevices(std::vector<DeviceNode>& nodes) = 0;

    // Starts change notification for USB devices and interfaces; null when it
    // cannot be registered.
    virtual std::unique_ptr<DeviceChangeSource> WatchChanges() = 0;
};

}  // namespace ovra
