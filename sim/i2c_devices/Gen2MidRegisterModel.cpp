#include "sim/i2c_devices/Gen2MidRegisterModel.h"

namespace ovra::sim {

bool Gen2MidRegisterModel::Write(std::uint32_t subAddress, std::span<const std::uint8_t> data) {
    std::lock_guard lock(mutex_);
    log_.Add({true, subAddress, {data.begin(), data.end()}});
    if (nak_ || subAddress + data.size() > registers_.size()) return false;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto reg = subAddress + i;
        registers_[reg] = data[i];
        // The written frame counter is where the animation continues from.
        if (reg == kFrameWrite) registers_[kFrameRead] = data[i];
    }
    return true;
}

bool Gen2MidRegisterModel::Read(std::uint32_t subAddress, std::span<std::uint8_t> data) {
    std::lock_guard lock(mutex_);
    if (nak_ || subAddress + data.size() > registers_.size()) {
        log_.Add({false, subAddress, {}});
        return false;
    }
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = registers_[subAddress + i];
    log_.Add({false, subAddress, {data.begin(), data.end()}});
    return true;
}

std::uint8_t Gen2MidRegisterModel::Register(std::uint8_t reg) const {
    std::lock_guard lock(mutex_);
    return registers_[reg];
}

void Gen2MidRegisterModel::AdvanceFrame(std::uint8_t steps) {
    std::lock_guard lock(mutex_);
    registers_[kFrameRead] = static_cast<std::uint8_t>(registers_[kFrameRead] + steps);
}

void Gen2MidRegisterModel::SetNak(bool nak) {
    std::lock_guard lock(mutex_);
    nak_ = nak;
}

}  // namespace ovra::sim
