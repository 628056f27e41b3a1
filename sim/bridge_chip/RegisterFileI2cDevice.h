#pragma once
// A plain I2C register file for tests: every sub-address holds one byte,
// writes store consecutive bytes, reads return them; it keeps a journal of
// the write transfers so that tests can check what arrived, in order.

#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

#include "sim/i2c/I2cDevice.h"

namespace ovra::sim {

class RegisterFileI2cDevice final : public I2cDevice {
public:
    struct WriteRecord {
        std::uint32_t subAddress;
        std::vector<std::uint8_t> data;
    };

    bool Write(std::uint32_t subAddress, std::span<const std::uint8_t> data) override {
        std::lock_guard lock(mutex_);
        if (nak_) return false;
        for (std::size_t i = 0; i < data.size(); ++i)
            registers_[subAddress + static_cast<std::uint32_t>(i)] = data[i];
        writes_.push_back({subAddress, {data.begin(), data.end()}});
        return true;
    }
    bool Read(std::uint32_t subAddress, std::span<std::uint8_t> data) override {
        std::lock_guard lock(mutex_);
        if (nak_) return false;
        for (std::size_t i = 0; i < data.size(); ++i) {
            auto it = registers_.find(subAddress + static_cast<std::uint32_t>(i));
            data[i] = it == registers_.end() ? 0 : it->second;
        }
        return true;
    }

    void SetNak(bool nak) {
        std::lock_guard lock(mutex_);
        nak_ = nak;
    }
    void Set(std::uint32_t subAddress, std::uint8_t value) {
        std::lock_guard lock(mutex_);
        registers_[subAddress] = value;
    }
    std::uint8_t Get(std::uint32_t subAddress) const {
        std::lock_guard lock(mutex_);
        auto it = registers_.find(subAddress);
        return it == registers_.end() ? 0 : it->second;
    }
    std::vector<WriteRecord> Writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::uint32_t, std::uint8_t> registers_;
    std::vector<WriteRecord> writes_;
    bool nak_ = false;
};

}  // namespace ovra::sim
