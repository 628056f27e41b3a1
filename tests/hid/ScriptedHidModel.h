#pragma once
// A small HID device model for the adapter tests: 16-byte reports with report
// id 1 in both directions, answers scripted by the test, every output report
// recorded and echoed back as an interrupt-in report.

#include <algorithm>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/hid/HidDeviceModel.h"

namespace ovra::test {

// Vendor-defined page, report id 1, 15 data bytes in, 15 out: 16-byte reports.
inline std::vector<std::uint8_t> SixteenByteDescriptor() {
    return {0x06, 0x00, 0xFF,  // usage page (vendor)
            0x09, 0x01,        // usage
            0xA1, 0x01,        // collection (application)
            0x85, 0x01,        //   report id 1
            0x15, 0x00, 0x26, 0xFF, 0x00,  // logical 0..255
            0x75, 0x08, 0x95, 0x0F,        // 15 x 8 bits
            0x09, 0x01, 0x81, 0x02,        //   input
            0x09, 0x01, 0x91, 0x02,        //   output
            0xC0};
}

class ScriptedHidModel final : public sim::HidDeviceModel {
public:
    ScriptedHidModel(std::uint16_t vendor, std::uint16_t product,
                     std::vector<std::uint8_t> descriptor = SixteenByteDescriptor())
        : vendor_(vendor), product_(product), descriptor_(std::move(descriptor)) {}

    std::uint16_t VendorId() const override { return vendor_; }
    std::uint16_t ProductId() const override { return product_; }
    std::string ProductName() const override { return "Test HID device"; }
    std::vector<std::uint8_t> ReportDescriptor() const override { return descriptor_; }

    sim::ModelReply OnOutputReport(std::span<const std::uint8_t> report) override {
        std::lock_guard lock(mutex_);
        outputs_.emplace_back(report.begin(), report.end());
        const sim::ModelAction action = Next(outputActions_);
        if (action == sim::ModelAction::Accept && echo_) interrupts_.emplace_back(report.begin(), report.end());
        return {action, 0};
    }
    sim::ModelReply OnGetInputReport(std::span<std::uint8_t> buffer) override {
        std::lock_guard lock(mutex_);
        ++inputRequests_;
        const sim::ModelAction action = Next(inputActions_);
        const std::size_t length = std::min(buffer.size(), inputAnswer_.size());
        std::copy_n(inputAnswer_.begin(), length, buffer.begin());
        return {action, answerLength_.value_or(length)};
    }
    std::optional<std::vector<std::uint8_t>> TakeInterruptReport() override {
        std::lock_guard lock(mutex_);
        if (interrupts_.empty()) return std::nullopt;
        auto report = std::move(interrupts_.front());
        interrupts_.pop_front();
        return report;
    }

    // What the next output / input requests do (Accept once the script ends).
    void ScriptOutputs(std::vector<sim::ModelAction> actions) {
        std::lock_guard lock(mutex_);
        outputActions_.assign(actions.begin(), actions.end());
    }
    void ScriptInputs(std::vector<sim::ModelAction> actions) {
        std::lock_guard lock(mutex_);
        inputActions_.assign(actions.begin(), actions.end());
    }
    void SetInputAnswer(std::vector<std::uint8_t> answer, std::optional<std::size_t> claimedLength = {}) {
        std::lock_guard lock(mutex_);
        inputAnswer_ = std::move(answer);
        answerLength_ = claimedLength;
    }
    void SendInterrupt(std::vector<std::uint8_t> report) {
        std::lock_guard lock(mutex_);
        interrupts_.push_back(std::move(report));
    }
    void SetEcho(bool echo) {
        std::lock_guard lock(mutex_);
        echo_ = echo;
    }
    std::vector<std::vector<std::uint8_t>> Outputs() const {
        std::lock_guard lock(mutex_);
        return outputs_;
    }
    int InputRequests() const {
        std::lock_guard lock(mutex_);
        return inputRequests_;
    }

private:
    static sim::ModelAction Next(std::deque<sim::ModelAction>& script) {
        if (script.empty()) return sim::ModelAction::Accept;
        const sim::ModelAction action = script.front();
        script.pop_front();
        return action;
    }

    const std::uint16_t vendor_, product_;
    const std::vector<std::uint8_t> descriptor_;
    mutable std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> outputs_;
    std::deque<std::vector<std::uint8_t>> interrupts_;
    std::deque<sim::ModelAction> outputActions_, inputActions_;
    std::vector<std::uint8_t> inputAnswer_;
    std::optional<std::size_t> answerLength_;
    bool echo_ = true;
    int inputRequests_ = 0;
};

}  // namespace ovra::test
