#pragma once
// The bridge library's ports backed by in-process bridge-chip models: a
// scripted USB tree (audio function -> device -> [hub] -> root hub), device
// requests answered by the model of the addressed device, a proxy session
// that can be told to fail, a manual clock, a recording log and in-process
// named objects.

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bridge_library/BrxLibrary.h"
#include "platform/fake/FakeNamedObjects.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/RecordingDebugLog.h"
#include "sim/bridge_chip/BridgeChipModel.h"
#include "sim/bridge_chip/RegisterFileI2cDevice.h"

namespace ovra::brx::test {

struct ModelDevice {
    explicit ModelDevice(sim::BridgeChipConfig config) : model(std::move(config)) {
        model.AttachI2c(0xA4, &headset);
        model.AttachI2c(0xCC, &ene);
    }
    sim::BridgeChipModel model;
    sim::RegisterFileI2cDevice headset;  // a register file at bus address 0xA4 (7-bit 0x52)
    sim::RegisterFileI2cDevice ene;      // an ENE controller at 0xCC
    std::uint8_t address = 0;
    std::string functionId;      // instance ID of the audio function
    bool behindHub = false;
    int notReadyAnswers = 0;     // descriptor reads answered "not ready" first
};

class ScriptedTree final : public UsbNodeTree {
public:
    std::vector<UsbNode> ListAudioFunctions() override;
    std::optional<UsbNode> Node(std::uint32_t instance) override;
    std::optional<std::uint32_t> Parent(std::uint32_t instance) override;
    UsbNodeError OpenDevice(std::uint32_t instance, UsbDeviceLocation* location) override;

    // Adds the chain of nodes of one device; returns the function's instance.
    std::uint32_t Add(ModelDevice& device, const std::string& rootHubId);
    void Remove(std::uint32_t functionInstance);

private:
    struct Entry {
        UsbNode node;
        std::optional<std::uint32_t> parent;
        ModelDevice* device = nullptr;
        bool function = false;
    };
    std::map<std::uint32_t, Entry> nodes_;
    std::uint32_t next_ = 0x100;
};

class ModelRequests final : public UsbRequests {
public:
    explicit ModelRequests(std::vector<ModelDevice*>& devices) : devices_(devices) {}

    RequestOutcome OpenDevice(const UsbDeviceLocation& location, std::uint8_t interfaceNumber,
                              DeviceContext* context) override;
    bool CloseDevice(DeviceContext context) override;
    RequestOutcome GetDeviceDescriptor(DeviceContext context, std::span<std::uint8_t, 18> buffer) override;
    RequestOutcome GetConfigurationDescriptor(DeviceContext context, std::span<std::uint8_t> buffer) override;
    RequestOutcome ClassInterfaceRequest(DeviceContext context, const ClassRequest& request,
                                         std::span<std::uint8_t> buffer) override;
    RequestOutcome VendorDeviceRequest(DeviceContext context, const VendorRequest& request,
                                       std::span<std::uint8_t> buffer) override;

    bool channelOpen = true;
    std::size_t OpenContexts() const { return contexts_.size(); }

    // Every control transfer sent, with the data stage of OUT transfers.
    struct Sent {
        sim::SetupPacket setup;
        std::vector<std::uint8_t> out;
    };
    std::vector<Sent> journal;

private:
    RequestOutcome Control(DeviceContext context, const sim::SetupPacket& setup,
                           std::span<std::uint8_t> buffer);
    std::vector<ModelDevice*>& devices_;
    std::map<DeviceContext, ModelDevice*> contexts_;
    DeviceContext next_ = 0x1000;
};

class ScriptedSession final : public ProxySession {
public:
    bool Initialize() override {
        ++initializations;
        if (succeed) open = true;
        return succeed;
    }
    void Release() override { open = false; }
    bool succeed = true;
    bool open = false;
    int initializations = 0;
};

// One library instance over the scripted ports.
class ModelTestBed {
public:
    ModelTestBed() : requests(devices) {}

    struct Options {
        bool vendorChannel = true;
        bool extensionUnit = true;
        bool behindHub = false;
        std::string functionId = {};
        std::string rootHubId = "USB\\ROOT_HUB30\\usb1";
    };
    ModelDevice& AddDevice(std::uint16_t productId) { return AddDevice(productId, Options{}); }
    ModelDevice& AddDevice(std::uint16_t productId, const Options& options) {
        const bool vendorChannel = options.vendorChannel;
        const bool extensionUnit = options.extensionUnit;
        sim::BridgeChipConfig config;
        config.productId = productId;
        config.hasVendorChannel = vendorChannel;
        config.hasExtensionUnit = extensionUnit;
        owned.push_back(std::make_unique<ModelDevice>(config));
        ModelDevice& device = *owned.back();
        device.address = static_cast<std::uint8_t>(2 + owned.size());
        device.behindHub = options.behindHub;
        device.functionId = options.functionId;
        devices.push_back(&device);
        functions.push_back(tree.Add(device, options.rootHubId));
        return device;
    }

    BrxLibrary& Library() {
        if (!library) library = std::make_unique<BrxLibrary>(BrxPorts{log, clock, named, tree, requests, session});
        return *library;
    }

    RecordingDebugLog log;
    ManualClock clock;
    FakeNamedObjects named;
    ScriptedTree tree;
    std::vector<std::unique_ptr<ModelDevice>> owned;
    std::vector<ModelDevice*> devices;
    std::vector<std::uint32_t> functions;  // instance of each added device's audio function
    ModelRequests requests;
    ScriptedSession session;
    std::unique_ptr<BrxLibrary> library;
};

}  // namespace ovra::brx::test
