#pragma once
// A device whose every answer comes from fuzz input: each request takes one
// byte that decides success, failure or a short answer, and the answer bytes
// follow. When the input runs out the device is gone.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

#include "bridge_library/ErrorCodes.h"
#include "bridge_library/UsbRequests.h"

namespace ovra::brx::fuzz {

class FuzzedDevice final : public UsbRequests {
public:
    explicit FuzzedDevice(FuzzedDataProvider& input) : input_(input) {}

    RequestOutcome OpenDevice(const UsbDeviceLocation&, std::uint8_t, DeviceContext* context) override {
        *context = 1;
        return {true, 0, 0};
    }
    bool CloseDevice(DeviceContext) override { return true; }
    RequestOutcome GetDeviceDescriptor(DeviceContext, std::span<std::uint8_t, 18> buffer) override {
        return Answer(buffer, true);
    }
    RequestOutcome GetConfigurationDescriptor(DeviceContext, std::span<std::uint8_t> buffer) override {
        return Answer(buffer, true);
    }
    RequestOutcome ClassInterfaceRequest(DeviceContext, const ClassRequest& request,
                                         std::span<std::uint8_t> buffer) override {
        return Answer(buffer, request.in);
    }
    RequestOutcome VendorDeviceRequest(DeviceContext, const VendorRequest& request,
                                       std::span<std::uint8_t> buffer) override {
        return Answer(buffer, request.in);
    }

private:
    RequestOutcome Answer(std::span<std::uint8_t> buffer, bool in) {
        if (input_.remaining_bytes() == 0) return {false, kErrorDeviceNotConnected, 0};
        const std::uint8_t how = input_.ConsumeIntegral<std::uint8_t>();
        if (how % 4 == 0) return {false, input_.ConsumeIntegralInRange<std::uint32_t>(0, 2000), 0};
        std::size_t length = buffer.size();
        if (how % 4 == 1) length = input_.ConsumeIntegralInRange<std::size_t>(0, buffer.size());
        // A device may even claim more than was asked.
        const std::uint32_t claimed = how % 4 == 2 ? static_cast<std::uint32_t>(buffer.size() + 1)
                                                   : static_cast<std::uint32_t>(length);
        if (in) {
            const std::vector<std::uint8_t> bytes = input_.ConsumeBytes<std::uint8_t>(length);
            std::copy(bytes.begin(), bytes.end(), buffer.begin());
        }
        return {true, 0, claimed};
    }

    FuzzedDataProvider& input_;
};

}  // namespace ovra::brx::fuzz
