#include "sim/i2c_devices/EneControllerModel.h"

namespace ovra::sim {
namespace {
constexpr std::uint32_t kPointer = 0x00, kData = 0x01, kBlock = 0x03, kReadData = 0x81;
}

EneControllerModel::EneControllerModel() : registers_(0x10000, 0) {}

bool EneControllerModel::Write(std::uint32_t subAddress, std::span<const std::uint8_t> data) {
    std::lock_guard lock(mutex_);
    log_.Add({true, subAddress, {data.begin(), data.end()}});
    if (nak_) return false;
    switch (subAddress) {
        case kPointer:
            if (data.size() != 2) return false;
            pointer_ = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
            return true;
        case kData:
            if (data.size() != 1) return false;
            Store(pointer_, data[0]);
            return true;
        case kBlock: {
            // The count byte must match the data that follows; the controller's
            // block buffer holds 32 bytes.
            if (data.empty() || data[0] > kMaxBlock || data.size() != data[0] + 1u) return false;
            if (pointer_ + data[0] > registers_.size()) return false;
            for (std::size_t i = 0; i < data[0]; ++i)
                Store(static_cast<std::uint16_t>(pointer_ + i), data[1 + i]);
            return true;
        }
        default:
            return false;
    }
}

bool EneControllerModel::Read(std::uint32_t subAddress, std::span<std::uint8_t> data) {
    std::lock_guard lock(mutex_);
    if (nak_ || subAddress != kReadData || data.size() != 1) {
        log_.Add({false, subAddress, {}});
        return false;
    }
    data[0] = registers_[pointer_];
    log_.Add({false, subAddress, {data[0]}});
    return true;
}

void EneControllerModel::Store(std::uint16_t reg, std::uint8_t value) {
    if (reg == kApply) {
        if (value == 0x55) {
            applyArmed_ = true;
        } else if (value == 0xAA && applyArmed_) {
            applyArmed_ = false;
            ++applyCount_;
            appliedMode_ = registers_[kMode];
        } else {
            applyArmed_ = false;
        }
    }
    registers_[reg] = value;
    if (reg == kFrameWrite) registers_[kFrameRead] = value;
}

std::uint8_t EneControllerModel::Register(std::uint16_t reg) const {
    std::lock_guard lock(mutex_);
    return registers_[reg];
}

std::uint16_t EneControllerModel::Pointer() const {
    std::lock_guard lock(mutex_);
    return pointer_;
}

EneColour EneControllerModel::LedColour(std::uint16_t bank, int led) const {
    std::lock_guard lock(mutex_);
    const std::size_t base = bank + static_cast<std::size_t>(led) * 3;
    return {registers_[base], registers_[base + 2], registers_[base + 1]};
}

int EneControllerModel::ApplyCount() const {
    std::lock_guard lock(mutex_);
    return applyCount_;
}

std::uint8_t EneControllerModel::AppliedMode() const {
    std::lock_guard lock(mutex_);
    return appliedMode_;
}

void EneControllerModel::AdvanceFrame(std::uint8_t steps) {
    std::lock_guard lock(mutex_);
    registers_[kFrameRead] = static_cast<std::uint8_t>(registers_[kFrameRead] + steps);
}

void EneControllerModel::SetNak(bool nak) {
    std::lock_guard lock(mutex_);
    nak_ = nak;
}

}  // namespace ovra::sim
