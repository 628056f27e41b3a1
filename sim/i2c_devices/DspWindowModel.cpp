#include "sim/i2c_devices/DspWindowModel.h"

namespace ovra::sim {
namespace {
constexpr std::uint32_t kWindowRegisters = 5;
}

bool DspWindowModel::Write(std::uint32_t subAddress, std::span<const std::uint8_t> data) {
    std::lock_guard lock(mutex_);
    log_.Add({true, subAddress, {data.begin(), data.end()}});
    // Every window register is exactly one 16-bit word.
    if (nak_ || subAddress >= kWindowRegisters || data.size() != 2) return false;
    const auto word = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
    if (subAddress == 0) {
        RunCommand(word);
    } else {
        window_[subAddress] = word;
    }
    return true;
}

bool DspWindowModel::Read(std::uint32_t subAddress, std::span<std::uint8_t> data) {
    std::lock_guard lock(mutex_);
    if (nak_ || subAddress >= kWindowRegisters || data.size() != 2) {
        log_.Add({false, subAddress, {}});
        return false;
    }
    data[0] = static_cast<std::uint8_t>(window_[subAddress] >> 8);
    data[1] = static_cast<std::uint8_t>(window_[subAddress]);
    log_.Add({false, subAddress, {data.begin(), data.end()}});
    return true;
}

void DspWindowModel::RunCommand(std::uint16_t command) {
    window_[0] = command;
    const std::uint32_t address = static_cast<std::uint32_t>(window_[2]) << 16 | window_[1];
    switch (command) {
        case 1: {
            auto& value = memory_[address];
            value = (value & 0xFFFF0000u) | window_[3];
            break;
        }
        case 2: {
            const auto it = memory_.find(address);
            const std::uint32_t value = it == memory_.end() ? 0 : it->second;
            window_[3] = static_cast<std::uint16_t>(value);
            window_[4] = static_cast<std::uint16_t>(value >> 16);
            break;
        }
        case 3:
            memory_[address] = static_cast<std::uint32_t>(window_[4]) << 16 | window_[3];
            break;
        default:
            break;  // unknown commands do nothing on the DSP
    }
}

void DspWindowModel::SetDspValue(std::uint32_t address, std::uint32_t value) {
    std::lock_guard lock(mutex_);
    memory_[address] = value;
}

std::uint32_t DspWindowModel::DspValue(std::uint32_t address) const {
    std::lock_guard lock(mutex_);
    const auto it = memory_.find(address);
    return it == memory_.end() ? 0 : it->second;
}

void DspWindowModel::SetNak(bool nak) {
    std::lock_guard lock(mutex_);
    nak_ = nak;
}

}  // namespace ovra::sim
