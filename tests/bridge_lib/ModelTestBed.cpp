#include "tests/bridge_lib/ModelTestBed.h"

#include "bridge_library/ErrorCodes.h"

namespace ovra::brx::test {

std::vector<UsbNode> ScriptedTree::ListAudioFunctions() {
    std::vector<UsbNode> list;
    for (const auto& [instance, entry] : nodes_)
        if (entry.function) list.push_back(entry.node);
    return list;
}

std::optional<UsbNode> ScriptedTree::Node(std::uint32_t instance) {
    auto it = nodes_.find(instance);
    if (it == nodes_.end()) return std::nullopt;
    return it->second.node;
}

std::optional<std::uint32_t> ScriptedTree::Parent(std::uint32_t instance) {
    auto it = nodes_.find(instance);
    return it == nodes_.end() ? std::nullopt : it->second.parent;
}

UsbNodeError ScriptedTree::OpenDevice(std::uint32_t instance, UsbDeviceLocation* location) {
    auto it = nodes_.find(instance);
    if (it == nodes_.end() || !it->second.device) return UsbNodeError::NotFound;
    location->busNumber = 1;
    location->deviceAddress = it->second.device->address;
    location->devicePath = "/dev/bus/usb/001/00" + std::to_string(it->second.device->address);
    return UsbNodeError::None;
}

std::uint32_t ScriptedTree::Add(ModelDevice& device, const std::string& rootHubId) {
    const std::uint32_t root = next_++;
    nodes_[root] = Entry{UsbNode{root, rootHubId, "", "USB", "usb1", false}, std::nullopt, nullptr, false};
    std::uint32_t above = root;
    if (device.behindHub) {
        const std::uint32_t hub = next_++;
        nodes_[hub] = Entry{UsbNode{hub, "USB\\VID_05E3&PID_0608\\1-1", "Hub", "USB", "1-1", false}, root,
                            nullptr, false};
        above = hub;
    }
    char vidPid[40];
    std::snprintf(vidPid, sizeof vidPid, "USB\\VID_%04X&PID_%04X", device.model.Config().vendorId,
                  device.model.Config().productId);
    const std::uint32_t usbDevice = next_++;
    nodes_[usbDevice] = Entry{UsbNode{usbDevice, std::string(vidPid) + "\\1-2", device.model.Config().product,
                                      "USB", "1-2", false},
                              above, &device, false};
    const std::uint32_t function = next_++;
    const std::string id = device.functionId.empty() ? std::string(vidPid) + "&MI_00\\1-2:1.0" : device.functionId;
    nodes_[function] = Entry{UsbNode{function, id, device.model.Config().product, "MEDIA", "1-2:1.0", false},
                             usbDevice, &device, true};
    return function;
}

void ScriptedTree::Remove(std::uint32_t functionInstance) { nodes_.erase(functionInstance); }

RequestOutcome ModelRequests::OpenDevice(const UsbDeviceLocation& location, std::uint8_t /*interfaceNumber*/,
                                         DeviceContext* context) {
    if (!channelOpen) return {false, kErrorPathNotFound, 0};
    for (ModelDevice* device : devices_) {
        if (device->address == location.deviceAddress) {
            *context = next_++;
            contexts_[*context] = device;
            return {true, 0, 0};
        }
    }
    return {false, kErrorFileNotFound, 0};
}

bool ModelRequests::CloseDevice(DeviceContext context) { return contexts_.erase(context) == 1; }

RequestOutcome ModelRequests::Control(DeviceContext context, const sim::SetupPacket& setup,
                                      std::span<std::uint8_t> buffer) {
    auto it = contexts_.find(context);
    if (it == contexts_.end()) return {false, 6, 0};  // ERROR_INVALID_HANDLE
    Sent sent{setup, {}};
    if (!setup.In()) sent.out.assign(buffer.begin(), buffer.end());
    journal.push_back(std::move(sent));
    const sim::TransferResult r = it->second->model.HandleControl(setup, buffer);
    switch (r.status) {
        case sim::TransferStatus::Ok: return {true, 0, static_cast<std::uint32_t>(r.length)};
        case sim::TransferStatus::Stall: return {false, kErrorGenFailure, 0};
        case sim::TransferStatus::Timeout: return {false, kErrorSemTimeout, 0};
        case sim::TransferStatus::Gone: return {false, kErrorDeviceNotConnected, 0};
    }
    return {false, kErrorGenFailure, 0};
}

RequestOutcome ModelRequests::GetDeviceDescriptor(DeviceContext context, std::span<std::uint8_t, 18> buffer) {
    auto it = contexts_.find(context);
    if (it != contexts_.end() && it->second->notReadyAnswers > 0) {
        --it->second->notReadyAnswers;
        return {false, kErrorNotReady, 0};
    }
    RequestOutcome r = Control(context, {0x80, 0x06, 0x0100, 0, 18}, buffer);
    if (r.ok && r.transferred != 18) r = {false, 0, 0};
    return r;
}

RequestOutcome ModelRequests::GetConfigurationDescriptor(DeviceContext context, std::span<std::uint8_t> buffer) {
    RequestOutcome r = Control(context, {0x80, 0x06, 0x0200, 0, static_cast<std::uint16_t>(buffer.size())}, buffer);
    if (r.ok && r.transferred != buffer.size()) r = {false, 0, 0};
    return r;
}

RequestOutcome ModelRequests::ClassInterfaceRequest(DeviceContext context, const ClassRequest& request,
                                                    std::span<std::uint8_t> buffer) {
    return Control(context,
                   {request.bmRequestType, request.bRequest, static_cast<std::uint16_t>(request.controlSelector << 8),
                    static_cast<std::uint16_t>(request.unitId << 8 | request.interfaceNumber),
                    static_cast<std::uint16_t>(buffer.size())},
                   buffer);
}

RequestOutcome ModelRequests::VendorDeviceRequest(DeviceContext context, const VendorRequest& request,
                                                  std::span<std::uint8_t> buffer) {
    return Control(context,
                   {request.bmRequestType, request.bRequest, request.wValue, request.wIndex,
                    static_cast<std::uint16_t>(buffer.size())},
                   buffer);
}

}  // namespace ovra::brx::test
