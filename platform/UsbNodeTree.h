#pragma once
// Port: the USB part of the device tree as the bridge library sees it. Nodes
// carry synthesised instance IDs in the form the library matches on
// ("USB\VID_0B05&PID_1876&MI_00\...", "USB\ROOT_HUB30\..."), a small nonzero
// instance handle, and where the device sits on the bus so that the proxy
// can take hold of it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ovra {

struct UsbNode {
    std::uint32_t instance = 0;  // device instance handle; nonzero, stable while the process runs
    std::string deviceId;        // instance ID, upper-case enumerator and hardware parts
    std::string friendlyName;    // empty when the node has none
    std::string setupClass;      // "MEDIA" for audio functions, "USB" for devices and hubs
    std::string locationPath;    // where the node hangs on the bus, e.g. "1-1.4:1.0"
    bool hasProblem = false;     // the node exists but cannot be used
};

// Where the USB device of a node is reachable: what the proxy opens.
struct UsbDeviceLocation {
    std::uint8_t busNumber = 0;
    std::uint8_t deviceAddress = 0;
    std::string devicePath;  // the usbfs node, e.g. "/dev/bus/usb/001/004"
};

enum class UsbNodeError {
    None,
    NotFound,      // no such node (any more)
    AccessDenied,  // the node exists but may not be opened by this user
    Failed,
};

class UsbNodeTree {
public:
    virtual ~UsbNodeTree() = default;

    // Present audio functions of USB devices (one node per audio-control
    // interface), in a stable order.
    virtual std::vector<UsbNode> ListAudioFunctions() = 0;

    virtual std::optional<UsbNode> Node(std::uint32_t instance) = 0;
    // The parent node; null at the top of the USB tree or for unknown nodes.
    virtual std::optional<std::uint32_t> Parent(std::uint32_t instance) = 0;

    // Checks that the node's USB device can be opened for reading and writing
    // and tells where it is.
    virtual UsbNodeError OpenDevice(std::uint32_t instance, UsbDeviceLocation* location) = 0;
};

}  // namespace ovra
