#include "sim/hid/Gen2HeadsetModel.h"

#include <algorithm>
#include <cstdio>

namespace ovra::sim {
namespace {

constexpr std::uint8_t kControl = 0x94;      // command trigger / busy flag
constexpr std::uint8_t kControlHigh = 0x95;
constexpr std::uint8_t kTrigger = 0x9A;
constexpr std::uint8_t kTriggerHigh = 0x80;
constexpr std::uint8_t kBusyBit = 0x80;
constexpr std::uint16_t kReadRequestAddress = 0x00FE;
constexpr std::size_t kMaxWriteCount = 12;
constexpr std::size_t kMaxReadCount = 10;
constexpr std::size_t kShortAnswerLength = 5;

// Command block at 0x80.
constexpr std::uint8_t kBlockDevice = 0x80;
constexpr std::uint8_t kBlockRegister = 0x81;
constexpr std::uint8_t kBlockData = 0x83;
constexpr std::uint8_t kBlockCount = 0x93;
constexpr std::size_t kMaxRegisterCount = 16;  // 0x83..0x92
constexpr std::uint8_t kWriteRegisters = 0x52;
constexpr std::uint8_t kReadRegisters = 0x53;

// Registers of the lighting controller.
constexpr std::uint8_t kRegRed = 0x04;
constexpr std::uint8_t kRegGreen = 0x05;
constexpr std::uint8_t kRegBlue = 0x06;
constexpr std::uint8_t kRegMode = 0x07;
constexpr std::uint8_t kRegFrameRead = 0x0B;
constexpr std::uint8_t kRegFrameWrite = 0x0C;

const char* EffectOfMode(std::uint8_t mode) {
    switch (mode) {
        case 1: return "static";
        case 2: return "breathing";
        case 3: return "strobing";
        case 4: return "colorcycle";
        case 5: return "music";
        case 6: return "rainbow";
        default: return nullptr;
    }
}

}  // namespace

Gen2HeadsetConfig Gen2HeadsetConfigFor(std::uint16_t vendorId, std::uint16_t productId) {
    Gen2HeadsetConfig config;
    config.vendorId = vendorId;
    config.productId = productId;
    config.productName = productId == 0x1859 ? "Virtual Gen2Entry headset" : "Virtual Gen2 headset";
    return config;
}

std::string Describe(const HeadsetShows& shows) {
    char text[96];
    std::snprintf(text, sizeof text, "%s effect=%s color=%02X%02X%02X mode=%u",
                  shows.on ? "on" : "off", shows.effect.c_str(), shows.red, shows.green,
                  shows.blue, shows.mode);
    return text;
}

Gen2HeadsetModel::Gen2HeadsetModel(Gen2HeadsetConfig config, Clock& clock)
    : config_(std::move(config)),
      clock_(clock),
      frameBaseTime_(clock.Now()),
      commandLatency_(config_.commandLatency) {
    registers_[kRegMode] = 1;
}

std::vector<std::uint8_t> Gen2HeadsetModel::ReportDescriptor() const {
    // One vendor-defined collection with report id 1: 15 data bytes in each
    // direction, 16 bytes per report with the id.
    return {
        0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x85, 0x01,        //   Report ID (1)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
        0x95, 0x0F,        //   Report Count (15)
        0x09, 0x01,        //   Usage (1)
        0x81, 0x02,        //   Input (Data, Variable, Absolute)
        0x09, 0x01,        //   Usage (1)
        0x91, 0x02,        //   Output (Data, Variable, Absolute)
        0xC0,              // End Collection
    };
}

ModelReply Gen2HeadsetModel::OnOutputReport(std::span<const std::uint8_t> report) {
    HeadsetShows before;
    ModelReply reply;
    {
        std::lock_guard lock(mutex_);
        if (unplugged_) return {ModelAction::Unplug, 0};
        outputReports_.emplace_back(report.begin(), report.end());
        if (auto fault = TakeOutputFaultLocked()) {
            if (*fault == ModelAction::Unplug) unplugged_ = true;
            return {*fault, 0};
        }
        SettleLocked();
        before = ShowsLocked();
        reply = HandleWriteLocked(report);
    }
    NotifyIfChanged(before);
    return reply;
}

ModelReply Gen2HeadsetModel::HandleWriteLocked(std::span<const std::uint8_t> report) {
    if (report.size() != kReportLength || report[0] != kReportId) return {ModelAction::Reject, 0};
    const std::uint16_t address = static_cast<std::uint16_t>(report[1] << 8 | report[2]);
    const std::size_t count = report[3];

    if (address == kReadRequestAddress) {
        const std::size_t readAddress = report[4] << 8 | report[5];
        if (count == 0 || count > kMaxReadCount || readAddress + count > memory_.size())
            return {ModelAction::Reject, 0};
        previousRead_ = lastRead_;
        lastRead_ = ReadRequest{static_cast<std::uint8_t>(readAddress),
                                static_cast<std::uint8_t>(count)};
        return {ModelAction::Accept, 0};
    }

    if (count == 0 || count > kMaxWriteCount || address + count > memory_.size())
        return {ModelAction::Reject, 0};
    std::copy_n(report.begin() + 4, count, memory_.begin() + address);
    const bool touchesControl = address <= kControlHigh && address + count > kControl;
    if (touchesControl && memory_[kControl] == kTrigger && memory_[kControlHigh] == kTriggerHigh)
        ExecuteCommandLocked();
    return {ModelAction::Accept, 0};
}

void Gen2HeadsetModel::ExecuteCommandLocked() {
    const std::uint8_t device = memory_[kBlockDevice];
    const std::uint8_t first = memory_[kBlockRegister];
    const std::size_t count = std::min<std::size_t>(memory_[kBlockCount], kMaxRegisterCount);
    for (std::size_t i = 0; i < count && first + i < registers_.size(); ++i) {
        const auto reg = static_cast<std::uint8_t>(first + i);
        if (device == kWriteRegisters)
            WriteRegisterLocked(reg, memory_[kBlockData + i]);
        else if (device == kReadRegisters)
            memory_[kBlockData + i] = ReadRegisterLocked(reg);
    }
    // Any other device address finds nobody on the bus: the command still
    // completes, with no effect.
    busyUntil_ = clock_.Now() + commandLatency_;
    SettleLocked();
}

void Gen2HeadsetModel::SettleLocked() const {
    if (busyUntil_ && clock_.Now() >= *busyUntil_) {
        memory_[kControl] &= static_cast<std::uint8_t>(~kBusyBit);
        busyUntil_.reset();
    }
}

std::uint8_t Gen2HeadsetModel::ReadRegisterLocked(std::uint8_t reg) const {
    if (reg != kRegFrameRead) return registers_[reg];
    const auto period = std::max(config_.framePeriod, Clock::Duration(1));
    const auto frames = (clock_.Now() - frameBaseTime_) / period;
    return static_cast<std::uint8_t>((frameBase_ + frames) & 0xFF);
}

void Gen2HeadsetModel::WriteRegisterLocked(std::uint8_t reg, std::uint8_t value) {
    registers_[reg] = value;
    if (reg == kRegFrameWrite) {
        frameBase_ = value;
        frameBaseTime_ = clock_.Now();
    }
}

ModelReply Gen2HeadsetModel::OnGetInputReport(std::span<std::uint8_t> buffer) {
    std::lock_guard lock(mutex_);
    if (unplugged_) return {ModelAction::Unplug, 0};
    ++inputSeen_;
    const auto fault = TakeInputFaultLocked();
    if (fault == InputFault::NoAnswer) return {ModelAction::NoAnswer, 0};
    if (fault == InputFault::Reject) return {ModelAction::Reject, 0};
    if (buffer.empty() || buffer[0] != kReportId) return {ModelAction::Reject, 0};
    SettleLocked();

    std::array<std::uint8_t, kReportLength> answer{};
    answer[0] = kReportId;
    if (lastRead_) {
        ReadRequest request = *lastRead_;
        if (fault == InputFault::StaleAnswer) {
            request = previousRead_ && previousRead_->address != request.address
                          ? *previousRead_
                          : ReadRequest{static_cast<std::uint8_t>(request.address + request.count),
                                        request.count};
            request.count = static_cast<std::uint8_t>(
                std::min<std::size_t>(request.count, memory_.size() - request.address));
        }
        answer[3] = 0x00;
        answer[4] = request.address;
        answer[5] = request.count;
        std::copy_n(memory_.begin() + request.address, request.count, answer.begin() + 6);
    }
    std::size_t length = std::min(buffer.size(), answer.size());
    if (fault == InputFault::ShortAnswer) length = std::min(length, kShortAnswerLength);
    std::copy_n(answer.begin(), length, buffer.begin());
    return {ModelAction::Accept, length};
}

std::optional<ModelAction> Gen2HeadsetModel::TakeOutputFaultLocked() {
    const auto it = outputFaults_.find(outputSeen_++);
    if (it == outputFaults_.end()) return std::nullopt;
    const ModelAction action = it->second;
    outputFaults_.erase(it);
    return action;
}

std::optional<InputFault> Gen2HeadsetModel::TakeInputFaultLocked() {
    const auto it = inputFaults_.find(inputSeen_ - 1);
    if (it == inputFaults_.end()) return std::nullopt;
    const InputFault fault = it->second;
    inputFaults_.erase(it);
    return fault;
}

void Gen2HeadsetModel::InjectOutputFault(ModelAction action, std::size_t skip) {
    std::lock_guard lock(mutex_);
    outputFaults_[outputSeen_ + skip] = action;
}

void Gen2HeadsetModel::InjectInputFault(InputFault fault, std::size_t skip) {
    std::lock_guard lock(mutex_);
    inputFaults_[inputSeen_ + skip] = fault;
}

void Gen2HeadsetModel::SetCommandLatency(Clock::Duration latency) {
    std::lock_guard lock(mutex_);
    commandLatency_ = latency;
}

void Gen2HeadsetModel::Unplug() {
    std::lock_guard lock(mutex_);
    unplugged_ = true;
}

bool Gen2HeadsetModel::Unplugged() const {
    std::lock_guard lock(mutex_);
    return unplugged_;
}

HeadsetShows Gen2HeadsetModel::ShowsLocked() const {
    HeadsetShows shows;
    shows.mode = registers_[kRegMode];
    shows.red = registers_[kRegRed];
    shows.green = registers_[kRegGreen];
    shows.blue = registers_[kRegBlue];
    const char* effect = EffectOfMode(shows.mode);
    shows.effect = effect ? effect : "mode" + std::to_string(shows.mode);
    // Colour cycle and rainbow make their own colours; every other mode shows
    // the colour registers, so black is dark.
    const bool ownColours = shows.mode == 4 || shows.mode == 6;
    shows.on = ownColours || shows.red != 0 || shows.green != 0 || shows.blue != 0;
    return shows;
}

HeadsetShows Gen2HeadsetModel::Shows() const {
    std::lock_guard lock(mutex_);
    return ShowsLocked();
}

void Gen2HeadsetModel::OnShowsChanged(std::function<void(const HeadsetShows&)> callback) {
    std::lock_guard lock(mutex_);
    showsChanged_ = std::move(callback);
}

void Gen2HeadsetModel::NotifyIfChanged(const HeadsetShows& before) {
    std::function<void(const HeadsetShows&)> callback;
    HeadsetShows now;
    {
        std::lock_guard lock(mutex_);
        now = ShowsLocked();
        if (now == before || !showsChanged_) return;
        callback = showsChanged_;
    }
    callback(now);
}

std::vector<std::vector<std::uint8_t>> Gen2HeadsetModel::OutputReports() const {
    std::lock_guard lock(mutex_);
    return outputReports_;
}

std::size_t Gen2HeadsetModel::InputReportsFetched() const {
    std::lock_guard lock(mutex_);
    return inputSeen_;
}

void Gen2HeadsetModel::ClearTraffic() {
    std::lock_guard lock(mutex_);
    outputReports_.clear();
}

std::array<std::uint8_t, 256> Gen2HeadsetModel::Memory() const {
    std::lock_guard lock(mutex_);
    SettleLocked();
    return memory_;
}

std::uint8_t Gen2HeadsetModel::Register(std::uint8_t reg) const {
    std::lock_guard lock(mutex_);
    return ReadRegisterLocked(reg);
}

void Gen2HeadsetModel::SetRegister(std::uint8_t reg, std::uint8_t value) {
    HeadsetShows before;
    {
        std::lock_guard lock(mutex_);
        before = ShowsLocked();
        WriteRegisterLocked(reg, value);
    }
    NotifyIfChanged(before);
}

std::uint8_t Gen2HeadsetModel::FrameCounter() const { return Register(kRegFrameRead); }

}  // namespace ovra::sim
