#pragma once
// Test double: keeps every text written, in order.

#include <mutex>
#include <string>
#include <vector>

#include "platform/DebugLog.h"

namespace ovra {

class RecordingDebugLog final : public DebugLog {
public:
    void Write(std::string_view text) override {
        std::lock_guard lock(mutex_);
        texts_.emplace_back(text);
    }
    std::vector<std::string> Texts() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    bool Contains(std::string_view text) const {
        std::lock_guard lock(mutex_);
        for (const auto& t : texts_)
            if (t == text) return true;
        return false;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        texts_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};

}  // namespace ovra
