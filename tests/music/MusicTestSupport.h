#pragma once
// Small helpers shared by the music tests.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/Notifier.h"
#include "service/music/AudioCapture.h"

namespace ovra::music::testing {

class RecordingNotifier final : public Notifier {
public:
    void Notify(std::string_view text, std::string_view caption) override {
        std::lock_guard lock(mutex_);
        notices_.push_back(std::string(caption) + ": " + std::string(text));
    }
    std::vector<std::string> Notices() const {
        std::lock_guard lock(mutex_);
        return notices_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> notices_;
};

// A copy of every packet the capture delivered.
struct ReceivedPacket {
    std::vector<std::int16_t> samples;
    std::uint32_t frames;
    std::uint16_t channels;
    std::uint32_t sampleRate;
    std::uint32_t flags;
};

class PacketLog {
public:
    PacketCallback Callback() {
        return [this](const CapturedPacket& p) {
            ReceivedPacket copy{std::vector<std::int16_t>(p.samples, p.samples + std::size_t{p.frames} * p.channels),
                                p.frames, p.channels, p.sampleRate, p.flags};
            {
                std::lock_guard lock(mutex_);
                packets_.push_back(std::move(copy));
            }
            changed_.notify_all();
        };
    }
    bool WaitForCount(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return packets_.size() >= count; });
    }
    std::vector<ReceivedPacket> Packets() const {
        std::lock_guard lock(mutex_);
        return packets_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ReceivedPacket> packets_;
};

// True when `line` equals `pattern` with each "%u" standing for one or more
// digits (pass and frame counters depend on how wakes and packets meet).
inline bool MatchesLine(std::string_view line, std::string_view pattern) {
    const auto hole = pattern.find("%u");
    if (hole == std::string_view::npos) return line == pattern;
    if (line.substr(0, hole) != pattern.substr(0, hole)) return false;
    std::size_t digits = hole;
    while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
    if (digits == hole) return false;
    return MatchesLine(line.substr(digits), pattern.substr(hole + 2));
}

template <class Log>
bool HasLineMatching(const Log& log, std::string_view pattern) {
    for (const auto& line : log.Texts())
        if (MatchesLine(line, pattern)) return true;
    return false;
}

// Polls `condition` until it holds or `limit` passes.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace ovra::music::testing
