#pragma once
// What a device model saw on its bus: one entry per transfer, kept so that
// tests and benchmarks can count device transfers and compare them with the
// golden tables.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace ovra::sim {

struct I2cTransfer {
    bool write = true;
    std::uint32_t subAddress = 0;
    std::vector<std::uint8_t> data;  // written bytes, or the bytes answered to a read

    // "W 00 [80 20]" / "R 81 [07]": readable in golden tables and failures.
    std::string ToString() const;
    bool operator==(const I2cTransfer&) const = default;
};

class I2cTransferLog {
public:
    void Add(I2cTransfer transfer) {
        std::lock_guard lock(mutex_);
        transfers_.push_back(std::move(transfer));
    }
    std::vector<I2cTransfer> Transfers() const {
        std::lock_guard lock(mutex_);
        return transfers_;
    }
    std::size_t Count() const {
        std::lock_guard lock(mutex_);
        return transfers_.size();
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        transfers_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<I2cTransfer> transfers_;
};

}  // namespace ovra::sim
