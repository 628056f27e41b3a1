// A bridge that answers garbage: the device-information read (descriptors,
// vendor status block, extension-unit search) and the channel operations the
// exports use, with every answer, length and failure taken from the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>

#include "bridge_library/DeviceLocator.h"
#include "bridge_library/ExtUnitChannel.h"
#include "bridge_library/VendorRequestChannel.h"
#include "fuzz/bridge_lib/FuzzedDevice.h"
#include "platform/fake/FakeNamedObjects.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/RecordingDebugLog.h"

namespace {

class NoTree final : public ovra::UsbNodeTree {
public:
    std::vector<ovra::UsbNode> ListAudioFunctions() override { return {}; }
    std::optional<ovra::UsbNode> Node(std::uint32_t) override { return std::nullopt; }
    std::optional<std::uint32_t> Parent(std::uint32_t) override { return std::nullopt; }
    ovra::UsbNodeError OpenDevice(std::uint32_t, ovra::UsbDeviceLocation*) override {
        return ovra::UsbNodeError::NotFound;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ovra::brx;
    FuzzedDataProvider input(data, size);
    fuzz::FuzzedDevice device(input);
    ovra::RecordingDebugLog sink;
    BrxLog log(sink);
    ovra::ManualClock clock;
    NoTree tree;
    DeviceLocator locator(tree, device, clock, log);

    CamLocation location;
    location.context = 1;
    if (locator.ReadCamDevInfo(location, true)) {
        const CamDevInfo& info = *location.info;
        if (info.hasExtUnit && !info.hasBridge) __builtin_trap();
        if (info.configuration.size() < 9) __builtin_trap();
    }

    ovra::FakeNamedObjects named;
    ExtUnitChannel unit(device, location, 6, named, log, std::chrono::milliseconds(0));
    VendorRequestChannel vendor(device, location, log);
    std::array<std::uint8_t, 80> packet{};
    packet[1] = input.ConsumeIntegralInRange<std::uint8_t>(0, 6);
    const auto length = input.ConsumeIntegralInRange<std::uint32_t>(0, 80);
    for (VendorCmdCommon* channel : {static_cast<VendorCmdCommon*>(&unit), static_cast<VendorCmdCommon*>(&vendor)}) {
        channel->I2CSuperRead(0xA4, length, packet);
        channel->I2CSuperWrite(0xA4, length, packet);
        std::array<std::uint8_t, 96> status{};
        channel->GetDevStatus(0, status);
        std::array<std::uint8_t, 21> memory{};
        channel->ReadMem(0xFFAF, memory, nullptr, nullptr);
        channel->WriteMem(0xFF20, memory, nullptr, nullptr);
        channel->CustomerControl(3);
    }
    unit.DevQualify();
    return 0;
}
