#include "bridge_library/BrxLibrary.h"

#include <algorithm>
#include <array>

#include "bridge_library/DspRegisterWindow.h"
#include "bridge_library/SuperRegisterPacket.h"

namespace ovra::brx {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kI2cMode = 0xFFAE;
constexpr std::uint32_t kI2cState = 0xFFAF;
constexpr std::uint32_t kI2cReady = 0xFE00;

std::uint8_t ReadByte(VendorCmdCommon& channel, std::uint32_t address, std::uint8_t state) {
    std::array<std::uint8_t, 1> byte{state};
    channel.ReadMem(address, byte, nullptr, nullptr);
    return byte[0];
}

void WriteByte(VendorCmdCommon& channel, std::uint32_t address, std::uint8_t value) {
    const std::array<std::uint8_t, 1> byte{value};
    channel.WriteMem(address, byte, nullptr, nullptr);
}

}  // namespace

BrxLibrary::BrxLibrary(const BrxPorts& ports)
    : ports_(ports), log_(ports.log), locator_(ports.tree, ports.requests, ports.clock, log_) {}

BrxLibrary::~BrxLibrary() {
    device_.reset();
    lock_.reset();
}

int BrxLibrary::Initialize(int /*reserved*/, int openMode) {
    openMode_ = openMode;
    if (!ports_.proxy.Initialize()) return 0;
    if (!lock_) lock_ = ports_.named.CreateMutex(kOperateLockName, false, nullptr);
    initialised_ = true;
    return 1;
}

int BrxLibrary::UnInitialize() {
    initialised_ = false;
    lock_.reset();
    ports_.proxy.Release();
    return 1;
}

std::unique_ptr<BridgeDevice> BrxLibrary::OpenQualified(std::uint32_t instance) {
    std::uint32_t error = 0;
    auto device = BridgeDevice::Open(instance, locator_, ports_.requests, ports_.named, log_, &error);
    if (!device) return nullptr;
    ExtUnitChannel* unit = device->ExtUnit();
    if (openMode_ != 0 || unit == nullptr || !unit->DevQualify()) return nullptr;
    return device;
}

int BrxLibrary::Open(unsigned index) {
    if (device_) return static_cast<int>(lastOpenResult_);
    if (initialised_) ports_.proxy.Reestablish();
    const std::vector<CamListEntry> list = locator_.ListDevices();
    if (index >= list.size()) return 0;
    std::uint32_t result = 0;
    if (auto device = OpenQualified(list[index].instance)) {
        device_ = std::move(device);
        result = list[index].instance;
    }
    lastOpenResult_ = result;
    return static_cast<int>(result);
}

int BrxLibrary::OpenPid(unsigned productId) {
    if (device_) return static_cast<int>(lastOpenResult_);
    if (initialised_) ports_.proxy.Reestablish();
    const std::vector<CamListEntry> list = locator_.ListDevices();
    if (list.empty()) return 0;
    std::uint32_t result = 0;
    for (const CamListEntry& entry : list) {
        auto device = OpenQualified(entry.instance);
        if (!device) continue;
        if (device->Info().IdProduct() == productId) {
            device_ = std::move(device);
            result = entry.instance;
            break;
        }
    }
    lastOpenResult_ = result;
    return static_cast<int>(result);
}

int BrxLibrary::Close() {
    device_.reset();
    return 1;
}

VendorCmdCommon* BrxLibrary::CommandChannel() {
    if (!device_ || !device_->EnsureInfo()) return nullptr;
    if (VendorRequestChannel* vendor = device_->VendorChannel()) return vendor;
    return device_->ExtUnit();
}

void BrxLibrary::PrepareI2CBus(VendorCmdCommon& channel, int busMode) {
    std::uint8_t mode;
    if (busMode == 0) mode = 0x12;
    else if (busMode == 1) mode = 0x1E;
    else return;  // the callers' bus mode 2: the bridge keeps its bus as it is

    std::uint8_t state = ReadByte(channel, kI2cState, 0xFF);
    WriteByte(channel, kI2cMode, mode);
    if (state != 0x0F) {
        WriteByte(channel, kI2cState, 0x01);
        ports_.clock.SleepFor(20ms);
        WriteByte(channel, kI2cState, 0x0F);
        ports_.clock.SleepFor(20ms);
    }
    state = ReadByte(channel, kI2cMode, state);
    state = ReadByte(channel, kI2cState, state);
    state = ReadByte(channel, kI2cReady, state);
    if (state != 0x01) {
        static constexpr std::array<std::pair<std::uint32_t, std::uint8_t>, 13> kBusSetup{{
            {0xFF21, 0x00}, {0xFF24, 0x00}, {0xFF21, 0x09}, {0xFF20, 0x1F}, {0xFF21, 0x3D},
            {0xFF22, 0x8E}, {0xFF23, 0x00}, {0xFF24, 0x01}, {0xFF25, 0x00}, {0xFF28, 0x01},
            {0xFF26, 0x7A}, {0xFF27, 0x43}, {0xFF24, 0x06},
        }};
        for (const auto& [address, value] : kBusSetup) WriteByte(channel, address, value);
        ports_.clock.SleepFor(20ms);
        WriteByte(channel, 0xFE83, 0x24);
        WriteByte(channel, kI2cReady, 0x01);
        ports_.clock.SleepFor(500ms);
    }
    ReadByte(channel, kI2cReady, state);
}

int BrxLibrary::CustomerControl(int mode) {
    if (!device_) return 0;
    VendorCmdCommon* channel = CommandChannel();
    if (!channel) return 0;
    return channel->CustomerControl(static_cast<std::uint32_t>(mode)) == 0 ? 1 : 0;
}

int BrxLibrary::WriteSuperRegister(int slave, int busMode, int addressWidth, unsigned registerAddress,
                                   unsigned length, const unsigned char* data) {
    if (length > kSuperMaxData) return 0;
    if (length > 0 && data == nullptr) {
        log_.Line("WriteI2CSuperRegister: no data for %u bytes\n", length);
        return 0;
    }
    auto packet = BuildSuperWritePacket(addressWidth, registerAddress,
                                        std::span<const std::uint8_t>(data, data ? length : 0));
    if (!packet || !device_) return 0;
    VendorCmdCommon* channel = CommandChannel();
    if (!channel) return 0;
    PrepareI2CBus(*channel, busMode);
    return channel->I2CSuperWrite(static_cast<std::uint32_t>(slave), packet->channelLength,
                                  packet->bytes) == 0 ? 1 : 0;
}

int BrxLibrary::ReadSuperRegister(int slave, int busMode, int addressWidth, unsigned registerAddress,
                                  unsigned length, unsigned char* data) {
    if (length > kSuperMaxData) return 0;
    if (length > 0 && data == nullptr) {
        log_.Line("ReadI2CSuperRegister: no buffer for %u bytes\n", length);
        return 0;
    }
    auto packet = BuildSuperReadPacket(addressWidth, registerAddress, length);
    if (!packet || !device_) return 0;
    VendorCmdCommon* channel = CommandChannel();
    if (!channel) return 0;
    PrepareI2CBus(*channel, busMode);
    if (channel->I2CSuperRead(static_cast<std::uint32_t>(slave), length, packet->bytes) != 0) return 0;
    std::copy_n(packet->bytes.begin(), length, data);
    return 1;
}

int BrxLibrary::ReadDspRegister(int slave, unsigned dspAddress, unsigned* value, unsigned width) {
    if (width > 4 || !device_) return 0;
    if (value == nullptr) {
        log_.Line("ReadI2CRegister_DSP: no place for the value\n");
        return 0;
    }
    VendorCmdCommon* channel = CommandChannel();
    if (!channel) return 0;
    std::uint32_t result = *value;
    if (!ReadDspWindow(*channel, slave, dspAddress, width, &result)) return 0;
    *value = result;
    return 1;
}

int BrxLibrary::WriteDspRegister(int slave, unsigned dspAddress, unsigned value, unsigned width) {
    if (width > 4 || !device_) return 0;
    VendorCmdCommon* channel = CommandChannel();
    if (!channel) return 0;
    return WriteDspWindow(*channel, slave, dspAddress, value, width) ? 1 : 0;
}

}  // namespace ovra::brx
