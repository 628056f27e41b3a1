#pragma once
// The Gen2 / Gen2Entry HID headset as the device sees it: a 256-byte bridge
// memory behind report id 1, a register file of the lighting controller at
// device address 0x52, and an animation frame counter that runs with time.
//
// Output reports (16 bytes incl. report id 1):
//   01 AH AL n d0..d(n-1)   write n (1-12) bytes at address AH:AL
//   01 00 FE n 00 AL        read request: the next input report answers n
//                           (1-10) bytes from address AL
// A command runs when a write leaves 0x9A at 0x94 and 0x80 at 0x95: the block
// at 0x80 names the device (0x52 write / 0x53 read registers), the first
// register (0x81), the data (0x83..) and the register count (0x93). Bit 7 of
// 0x94 clears once the command is carried out.
// Input report answer: 01 00 00 AH AL n data...

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "sim/hid/HidDeviceModel.h"

namespace ovra::sim {

struct Gen2HeadsetConfig {
    std::uint16_t vendorId = 0x0B05;
    std::uint16_t productId = 0x1855;
    std::string productName = "Virtual Gen2 headset";
    // Time per animation frame: the counter at register 0x0B advances by one
    // per period and wraps at 256.
    Clock::Duration framePeriod = std::chrono::milliseconds(20);
    // Time from a command's trigger until bit 7 of 0x94 reads back clear.
    Clock::Duration commandLatency = Clock::Duration::zero();
};

Gen2HeadsetConfig Gen2HeadsetConfigFor(std::uint16_t vendorId, std::uint16_t productId);
inline Gen2HeadsetConfig Gen2Config() { return Gen2HeadsetConfigFor(0x0B05, 0x1855); }
inline Gen2HeadsetConfig Gen2SecondIdConfig() { return Gen2HeadsetConfigFor(0x0D8C, 0x01AC); }
inline Gen2HeadsetConfig Gen2EntryConfig() { return Gen2HeadsetConfigFor(0x0B05, 0x1859); }

// What a person looking at the headset sees.
struct HeadsetShows {
    bool on = false;
    std::string effect;  // "static", "breathing", ..., or "mode<N>" for an unknown mode
    std::uint8_t mode = 0;
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const HeadsetShows&) const = default;
};
std::string Describe(const HeadsetShows& shows);  // "on effect=static color=FF0000 mode=1"

enum class InputFault {
    NoAnswer,     // the request never completes
    ShortAnswer,  // only the first 5 bytes come back
    StaleAnswer,  // the answer carries another address than the last read request
    Reject,       // the device refuses the request
};

class Gen2HeadsetModel final : public HidDeviceModel {
public:
    static constexpr std::size_t kReportLength = 16;  // report id included
    static constexpr std::uint8_t kReportId = 0x01;

    Gen2HeadsetModel(Gen2HeadsetConfig config, Clock& clock);

    std::uint16_t VendorId() const override { return config_.vendorId; }
    std::uint16_t ProductId() const override { return config_.productId; }
    std::string ProductName() const override { return config_.productName; }
    std::vector<std::uint8_t> ReportDescriptor() const override;
    ModelReply OnOutputReport(std::span<const std::uint8_t> report) override;
    ModelReply OnGetInputReport(std::span<std::uint8_t> buffer) override;

    // Fault injection. `skip` requests of that kind pass normally, then the
    // next one gets the fault (one-shot).
    void InjectOutputFault(ModelAction action, std::size_t skip = 0);
    void InjectInputFault(InputFault fault, std::size_t skip = 0);
    // Commands stay "busy" (bit 7 of 0x94 set) for this long after their trigger.
    void SetCommandLatency(Clock::Duration latency);
    // The device disappears: every later request answers Unplug.
    void Unplug();
    bool Unplugged() const;

    // Observation.
    HeadsetShows Shows() const;
    // Called (outside the model's lock) whenever Shows() changes.
    void OnShowsChanged(std::function<void(const HeadsetShows&)> callback);
    std::vector<std::vector<std::uint8_t>> OutputReports() const;  // every one that reached the device
    std::size_t InputReportsFetched() const;
    void ClearTraffic();
    std::array<std::uint8_t, 256> Memory() const;
    std::uint8_t Register(std::uint8_t reg) const;
    void SetRegister(std::uint8_t reg, std::uint8_t value);  // e.g. a colour stored before the test
    std::uint8_t FrameCounter() const;

private:
    struct ReadRequest {
        std::uint8_t address = 0;
        std::uint8_t count = 0;
    };

    ModelReply HandleWriteLocked(std::span<const std::uint8_t> report);
    void ExecuteCommandLocked();
    void SettleLocked() const;
    std::uint8_t ReadRegisterLocked(std::uint8_t reg) const;
    void WriteRegisterLocked(std::uint8_t reg, std::uint8_t value);
    HeadsetShows ShowsLocked() const;
    void NotifyIfChanged(const HeadsetShows& before);
    std::optional<ModelAction> TakeOutputFaultLocked();
    std::optional<InputFault> TakeInputFaultLocked();

    const Gen2HeadsetConfig config_;
    Clock& clock_;
    mutable std::mutex mutex_;
    mutable std::array<std::uint8_t, 256> memory_{};
    std::array<std::uint8_t, 256> registers_{};
    std::uint8_t frameBase_ = 0;
    Clock::TimePoint frameBaseTime_;
    Clock::Duration commandLatency_;
    mutable std::optional<Clock::TimePoint> busyUntil_;
    std::optional<ReadRequest> lastRead_;
    std::optional<ReadRequest> previousRead_;
    bool unplugged_ = false;
    std::size_t outputSeen_ = 0;
    std::size_t inputSeen_ = 0;
    std::map<std::size_t, ModelAction> outputFaults_;  // keyed by request number
    std::map<std::size_t, InputFault> inputFaults_;
    std::vector<std::vector<std::uint8_t>> outputReports_;
    std::function<void(const HeadsetShows&)> showsChanged_;
};

}  // namespace ovra::sim
