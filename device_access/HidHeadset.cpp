#include "device_access/HidHeadset.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>

namespace ovra {
namespace {

using std::chrono::milliseconds;

constexpr std::uint8_t kReportId = 0x01;
constexpr std::size_t kMemorySize = 256;
constexpr std::uint16_t kCommandAddress = 0x80;
constexpr std::uint16_t kControlAddress = 0x94;  // 0x94, 0x95: the bridge's control bytes
constexpr std::uint16_t kReadRequestAddress = 0x00FE;
constexpr std::uint8_t kBusyBit = 0x80;           // bit 7 of 0x94: command not yet carried out
constexpr std::size_t kControlOffset = kControlAddress - kCommandAddress;  // 20 in a block

// Answer layout: echoed address high/low at 3/4, data from byte 6.
constexpr std::size_t kAnswerAddressHigh = 3;
constexpr std::size_t kAnswerAddressLow = 4;
constexpr std::size_t kAnswerData = 6;

// The headset needs a moment after a command before the next one, and its
// bridge needs 10 ms to fetch register values before they can be read back.
constexpr milliseconds kAfterCommand{1};
constexpr milliseconds kBeforeAnswer{10};
constexpr int kCompletionPolls = 4;

// The colour-only path writes one register per transaction: a 21-byte block
// (up to the 0x9A trigger at 0x94; 0x95 keeps its 0x80).
constexpr std::size_t kRegisterBlockLength = 21;
constexpr std::uint8_t kFirstColourRegister = 0x04;

using Report = std::array<std::uint8_t, HidHeadset::kReportLength>;

bool InRange(std::uint16_t address, std::size_t length) {
    return length != 0 && address + length <= kMemorySize;
}

}  // namespace

HidHeadset::HidHeadset(DeviceFamily family, HidControl& hid, Clock& clock, DebugLog& log)
    : family_(family), hid_(hid), clock_(clock), log_(log) {}

// ---- bridge memory -------------------------------------------------------

bool HidHeadset::WriteBridgeMemoryLocked(std::uint16_t address, std::span<const std::uint8_t> data) {
    if (data.empty() || !InRange(address, data.size())) return false;
    // One report buffer for the whole transfer: a shorter later piece leaves
    // the previous piece's bytes in its tail, exactly as the device expects
    // to see them.
    Report report{};
    for (std::size_t offset = 0; offset < data.size(); offset += kMaxWritePiece) {
        const std::size_t count = std::min(kMaxWritePiece, data.size() - offset);
        const auto pieceAddress = static_cast<std::uint16_t>(address + offset);
        report[0] = kReportId;
        report[1] = static_cast<std::uint8_t>(pieceAddress >> 8);
        report[2] = static_cast<std::uint8_t>(pieceAddress & 0xFF);
        report[3] = static_cast<std::uint8_t>(count);
        std::copy_n(data.begin() + offset, count, report.begin() + 4);
        // A failed piece ends the transfer: sending the rest could complete a
        // command trigger over a half-written block.
        if (!hid_.WriteOutputReport(report)) return false;
    }
    return true;
}

bool HidHeadset::SendReadRequest(std::uint16_t address, std::size_t count) {
    Report request{};
    request[0] = kReportId;
    request[1] = static_cast<std::uint8_t>(kReadRequestAddress >> 8);
    request[2] = static_cast<std::uint8_t>(kReadRequestAddress & 0xFF);
    request[3] = static_cast<std::uint8_t>(count);
    request[4] = 0x00;
    request[5] = static_cast<std::uint8_t>(address & 0xFF);
    return hid_.WriteOutputReport(request);
}

bool HidHeadset::ReadBridgeMemoryLocked(std::uint16_t address, std::span<std::uint8_t> buffer) {
    if (buffer.empty() || !InRange(address, buffer.size())) return false;
    for (std::size_t offset = 0; offset < buffer.size(); offset += kMaxReadPiece) {
        const std::size_t count = std::min(kMaxReadPiece, buffer.size() - offset);
        const auto pieceAddress = static_cast<std::uint16_t>(address + offset);
        if (!SendReadRequest(pieceAddress, count)) return false;
        clock_.SleepFor(kBeforeAnswer);
        Report answer{};
        answer[0] = kReportId;
        std::size_t length = 0;
        // Only a complete answer to this very request counts: a short, stale
        // or foreign answer fails the whole read.
        if (!hid_.GetInputReport(answer, length) || length < kAnswerData + count ||
            answer[0] != kReportId ||
            answer[kAnswerAddressHigh] != static_cast<std::uint8_t>(pieceAddress >> 8) ||
            answer[kAnswerAddressLow] != static_cast<std::uint8_t>(pieceAddress & 0xFF))
            return false;
        std::copy_n(answer.begin() + kAnswerData, count, buffer.begin() + offset);
    }
    return true;
}

bool HidHeadset::PrepareTransactionLocked() {
    static constexpr std::array<std::uint8_t, 2> kPrepare = {0x50, 0x80};
    return WriteBridgeMemoryLocked(kControlAddress, kPrepare);
}

bool HidHeadset::PrepareTransaction() {
    std::lock_guard lock(hid_.OperationLock());
    return PrepareTransactionLocked();
}

bool HidHeadset::WriteBridgeMemory(std::uint16_t address, std::span<const std::uint8_t> data) {
    std::lock_guard lock(hid_.OperationLock());
    return WriteBridgeMemoryLocked(address, data);
}

bool HidHeadset::ReadBridgeMemory(std::uint16_t address, std::span<std::uint8_t> buffer) {
    std::lock_guard lock(hid_.OperationLock());
    return ReadBridgeMemoryLocked(address, buffer);
}

// ---- commands -------------------------------------------------------------

bool HidHeadset::WriteCommand(const HeadsetCommandBlock& block, const char* failureLine) {
    std::lock_guard lock(hid_.OperationLock());
    if (!PrepareTransactionLocked()) return false;
    const bool written = WriteBridgeMemoryLocked(kCommandAddress, block);
    if (!written) log_.Write(failureLine);
    clock_.SleepFor(kAfterCommand);
    return written;
}

std::optional<HeadsetCommandBlock> HidHeadset::ReadCommand(const HeadsetCommandBlock& block,
                                                           const char* writeFailureLine,
                                                           const char* readFailureLine) {
    std::lock_guard lock(hid_.OperationLock());
    if (!PrepareTransactionLocked()) return std::nullopt;
    if (!WriteBridgeMemoryLocked(kCommandAddress, block)) {
        // Without the command the memory holds nothing of ours: reading it
        // back could only return stale values.
        log_.Write(writeFailureLine);
        clock_.SleepFor(kAfterCommand);
        return std::nullopt;
    }
    clock_.SleepFor(kAfterCommand);
    HeadsetCommandBlock answer{};
    bool read = ReadBridgeMemoryLocked(kCommandAddress, answer);
    // The register values are only there once the command was carried out.
    if (read && (answer[kControlOffset] & kBusyBit) != 0) read = false;
    if (!read) log_.Write(readFailureLine);
    clock_.SleepFor(kAfterCommand);
    if (!read) return std::nullopt;
    return answer;
}

bool HidHeadset::SetLEDEffect(LightingEffect effect, const Colour& colour) {
    return WriteCommand(EncodeSetLEDEffect(effect, colour), "\nSetLEDEffect to Headset Failed!\n");
}

bool HidHeadset::SetLEDOff() {
    return WriteCommand(EncodeSetLEDOff(), "\nSetLEDOff to Headset Failed!\n");
}

bool HidHeadset::SetLEDFrame(std::uint8_t frame) {
    return WriteCommand(EncodeSetLEDFrame(frame), "\nSetLEDFrame to Headset Failed!\n");
}

std::optional<std::uint8_t> HidHeadset::GetLEDFrame() {
    const auto answer = ReadCommand(EncodeGetLEDFrame(), "GetLEDFrame(W) From Headset Failed!!\n",
                                    "GetLEDFrame(R) From Headset Failed!!\n");
    if (!answer) return std::nullopt;
    return (*answer)[3];
}

std::optional<DeviceLightingState> HidHeadset::GetLEDSetting() {
    const auto answer =
        ReadCommand(EncodeGetLEDSetting(), "GetLEDSetting(W) From Headset Failed!!\n",
                    "GetLEDSetting(R) From Headset Failed!!\n");
    if (!answer) return std::nullopt;
    const DeviceLightingState state{(*answer)[3], (*answer)[4], (*answer)[5], (*answer)[6]};
    log_.Printf("HS: %lu %lu %lu %lu\n", static_cast<unsigned long>(state.red),
                static_cast<unsigned long>(state.green), static_cast<unsigned long>(state.blue),
                static_cast<unsigned long>(state.mode));
    return state;
}

// ---- colour-only path -------------------------------------------------------

bool HidHeadset::WaitForCommandDone() {
    if (!SendReadRequest(kControlAddress, 1)) return false;
    for (int poll = 0; poll < kCompletionPolls; ++poll) {
        Report answer{};
        answer[0] = kReportId;
        std::size_t length = 0;
        if (!hid_.GetInputReport(answer, length) || length <= kAnswerData ||
            answer[kAnswerAddressLow] != kControlAddress)
            continue;  // not the answer to our request: ask again at once
        if ((answer[kAnswerData] & kBusyBit) == 0) return true;
        clock_.SleepFor(kBeforeAnswer);
    }
    return false;
}

bool HidHeadset::WriteHeadsetEEPROMLocked(std::span<const std::uint8_t> record) {
    if (record.size() != std::tuple_size_v<HeadsetColourRecord>) return false;
    static constexpr std::array<std::uint8_t, 1> kArm = {0x50};
    static constexpr std::array<std::uint8_t, 1> kControlHigh = {0x80};
    if (!WriteBridgeMemoryLocked(kControlAddress, kArm)) return false;
    if (!WriteBridgeMemoryLocked(kControlAddress + 1, kControlHigh)) return false;

    for (std::size_t i = 0; i < record.size(); ++i) {
        const unsigned reg = kFirstColourRegister + i;
        if (!WriteBridgeMemoryLocked(kControlAddress, kArm)) return false;
        std::array<std::uint8_t, kRegisterBlockLength> block{};
        block[0] = static_cast<std::uint8_t>(0x52 | ((reg >> 7) & 0xFE));
        block[1] = static_cast<std::uint8_t>(reg & 0xFF);
        block[2] = 0x00;
        block[3] = record[i];
        block[19] = 1;
        block[20] = 0x9A;
        const bool blockWritten = WriteBridgeMemoryLocked(kCommandAddress, block);
        clock_.SleepFor(kBeforeAnswer);
        if (!WaitForCommandDone() || !blockWritten) return false;
    }
    return true;
}

bool HidHeadset::WriteHeadsetEEPROM(std::span<const std::uint8_t> record) {
    std::lock_guard lock(hid_.OperationLock());
    return WriteHeadsetEEPROMLocked(record);
}

bool HidHeadset::WriteColour(const Colour& colour) {
    const HeadsetColourRecord record = EncodeHeadsetColourRecord(colour);
    const bool written = WriteHeadsetEEPROM(record);
    if (!written) log_.Write("\nWrite EEPROM Fail!!\n");
    return written;
}

}  // namespace ovra
