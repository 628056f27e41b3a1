#pragma once
// Test double of the proxy's USB stack: the bridge-chip model in-process, at
// one bus location.

#include <memory>

#include "proxy/UsbBackend.h"
#include "sim/bridge_chip/BridgeChipModel.h"

namespace ovra::test {

class ModelUsbBackend final : public proxy::UsbBackend {
public:
    ModelUsbBackend(sim::BridgeChipModel& model, std::uint8_t bus, std::uint8_t address)
        : model_(model), bus_(bus), address_(address) {}

    std::shared_ptr<proxy::UsbDevice> Open(const proxy::InterfaceLocation& where,
                                           ProxyError& error) override {
        error = ProxyError::Ok;
        if (where.bus != bus_ || where.address != address_ || !model_.Plugged()) {
            error = ProxyError::DeviceNotConnected;
            return nullptr;
        }
        if (where.interfaceNumber != 0) {  // the audio-control interface
            error = ProxyError::InvalidParameter;
            return nullptr;
        }
        return std::make_shared<Device>(model_);
    }

private:
    struct Device final : proxy::UsbDevice {
        explicit Device(sim::BridgeChipModel& m) : model(m) {}
        proxy::TransferResult Control(const proxy::ControlSetup& s, std::span<std::uint8_t> data,
                                      std::chrono::milliseconds) override {
            const auto r = model.HandleControl({s.bmRequestType, s.bRequest, s.wValue, s.wIndex, s.wLength}, data);
            switch (r.status) {
                case sim::TransferStatus::Ok: return {proxy::TransferOutcome::Ok, r.length};
                case sim::TransferStatus::Stall: return {proxy::TransferOutcome::Stall, 0};
                case sim::TransferStatus::Timeout: return {proxy::TransferOutcome::Timeout, 0};
                case sim::TransferStatus::Gone: return {proxy::TransferOutcome::Gone, 0};
            }
            return {proxy::TransferOutcome::Failed, 0};
        }
        sim::BridgeChipModel& model;
    };

    sim::BridgeChipModel& model_;
    std::uint8_t bus_, address_;
};

}  // namespace ovra::test
