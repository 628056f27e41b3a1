// The register-packet builders and the DSP register window with any width,
// address, length and value; the packets must keep their layout.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "bridge_library/DspRegisterWindow.h"
#include "bridge_library/SuperRegisterPacket.h"

namespace {

// Checks every packet handed to the channel and answers with a fixed word.
class CheckingChannel final : public ovra::brx::VendorCmdCommon {
public:
    std::uint32_t GetDevStatus(std::uint32_t, std::span<std::uint8_t>) override { return 0; }
    std::uint32_t ReadMem(std::uint32_t, std::span<std::uint8_t>, ovra::brx::ProgressCallback, void*) override {
        return 0;
    }
    std::uint32_t WriteMem(std::uint32_t, std::span<const std::uint8_t>, ovra::brx::ProgressCallback,
                           void*) override {
        return 0;
    }
    std::uint32_t I2CSuperRead(std::uint32_t, std::uint32_t length, std::span<std::uint8_t> packet) override {
        if (length != 2 || packet[0] != 1 || packet[1] != 2) __builtin_trap();
        packet[0] = 0x12;
        packet[1] = 0x34;
        return 0;
    }
    std::uint32_t I2CSuperWrite(std::uint32_t, std::uint32_t length, std::span<const std::uint8_t> packet) override {
        if (length != 10 || packet[0] != 0 || packet[1] != 2 || packet[4] != 0) __builtin_trap();
        return 0;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ovra::brx;
    FuzzedDataProvider input(data, size);
    const int width = input.ConsumeIntegralInRange<int>(-2, 6);
    const auto address = input.ConsumeIntegral<std::uint32_t>();
    const auto length = input.ConsumeIntegralInRange<std::uint32_t>(0, 70);
    const std::vector<std::uint8_t> bytes = input.ConsumeBytes<std::uint8_t>(length);

    const auto write = BuildSuperWritePacket(width, address, bytes);
    const bool valid = width >= 1 && width <= 4 && bytes.size() <= kSuperMaxData;
    if (write.has_value() != valid) __builtin_trap();
    if (write) {
        if (write->channelLength != 8 + bytes.size() || write->bytes[0] != 0) __builtin_trap();
        for (std::size_t i = 2 + static_cast<std::size_t>(width); i < 8; ++i)
            if (write->bytes[i] != 0) __builtin_trap();
        for (std::size_t i = 8 + bytes.size(); i < write->bytes.size(); ++i)
            if (write->bytes[i] != 0) __builtin_trap();
    }
    const auto read = BuildSuperReadPacket(width, address, length);
    if (read.has_value() != (width >= 1 && width <= 4 && length <= kSuperMaxData)) __builtin_trap();

    CheckingChannel channel;
    std::uint32_t value = 0;
    const auto dspWidth = input.ConsumeIntegralInRange<unsigned>(0, 8);
    ReadDspWindow(channel, 0xA4, address, dspWidth, &value);
    WriteDspWindow(channel, 0xA4, address, input.ConsumeIntegral<std::uint32_t>(), dspWidth);
    return 0;
}
