#pragma once
// The USB bridge chip seen from the device's side: a USB audio device whose
// audio-control interface carries the bridge's extension unit, a vendor status
// block that ends in the "VELTRIX" signature, the extension-unit command
// protocol (command block on control 10, data on control 11), the vendor
// requests, chip memory, and the I2C bus behind it. Hosts hand it one control
// transfer at a time (setup packet + data stage) from any thread.
//
// It also checks what a real bridge cannot tell apart but the product must
// avoid: a command block that arrives while another command's data phase is
// still open means two hosts mixed their commands (counted as an interleave).

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/i2c/I2cDevice.h"

namespace ovra::sim {

struct SetupPacket {
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;

    bool In() const { return (bmRequestType & 0x80) != 0; }
};

enum class TransferStatus {
    Ok,       // `length` bytes moved
    Stall,    // the device refused the request (STALL handshake)
    Timeout,  // the device never completes the request
    Gone,     // the device disappeared during the request
};

struct TransferResult {
    TransferStatus status = TransferStatus::Ok;
    std::size_t length = 0;
};

// Faults a test can put on the next transfers.
enum class TransferFault {
    Stall,
    Timeout,
    Short,   // an IN transfer answers half of what was asked (at least one byte less)
    Unplug,  // the device vanishes during the transfer and stays gone
};

struct BridgeChipConfig {
    std::uint16_t vendorId = 0x0B05;
    std::uint16_t productId = 0x1876;
    std::uint16_t bcdDevice = 0x0100;
    bool hasVendorChannel = true;  // answers the status read with the signature
    bool hasExtensionUnit = true;  // the audio-control interface carries the unit
    std::uint8_t extensionUnitId = 6;
    bool audioClass2 = false;      // extension unit subtype 0x09 instead of 0x08
    std::string product = "Bridge Headset";
};

// Status codes of the extension-unit command control.
enum ExtUnitStatus : std::uint8_t {
    kStsCmd = 0x00,
    kStsDataIn = 0x01,
    kStsDataOut = 0x02,
    kStsErrDir = 0x03,
    kStsErrLen = 0x05,
    kStsUnknownCmd = 0x08,
    kStsHwErr = 0x09,
};

inline constexpr std::uint8_t kControlCommand = 10;
inline constexpr std::uint8_t kControlData = 11;
inline constexpr std::size_t kDataControlSize = 8;
inline constexpr std::size_t kStatusBlockSize = 96;
inline constexpr std::size_t kChipMemorySize = 1u << 20;  // 20-bit addresses

class BridgeChipModel {
public:
    explicit BridgeChipModel(BridgeChipConfig config = {});

    const BridgeChipConfig& Config() const { return config_; }
    std::vector<std::uint8_t> DeviceDescriptor() const;
    // The configuration descriptor the device answers (a malformed one when a
    // test set it).
    std::vector<std::uint8_t> ConfigurationDescriptor() const;
    // What the kernel keeps in sysfs: the device descriptor followed by the
    // well-formed configuration descriptor (the kernel checks descriptors
    // before it publishes them).
    std::vector<std::uint8_t> SysfsDescriptors() const;

    // I2C devices by their 8-bit bus address (the 7-bit address shifted left),
    // the byte the programs pass to the library (0x52, 0x5A, 0xCC, 0xCE). The
    // extension unit's command block carries that byte; a vendor request
    // carries the 7-bit address in wValue.
    void AttachI2c(std::uint8_t address8, I2cDevice* device);

    // One control transfer. For an OUT transfer `data` holds the wLength
    // bytes of the data stage; for an IN transfer the model writes up to
    // wLength bytes into it and answers the count.
    TransferResult HandleControl(const SetupPacket& setup, std::span<std::uint8_t> data);

    // Faults, applied to the next `count` transfers.
    void InjectFault(TransferFault fault, int count = 1);
    void SetConfigurationOverride(std::vector<std::uint8_t> bytes);  // garbage descriptors
    void SetStatusSignature(std::span<const std::uint8_t, 8> signature);
    bool Plugged() const;

    // Observations for tests.
    std::size_t Interleaves() const;
    std::vector<SetupPacket> Requests() const;  // every transfer seen, in order
    void ClearRequests();
    std::vector<std::uint16_t> CustomerControls() const;
    std::uint8_t Memory(std::uint32_t address) const;
    void SetMemory(std::uint32_t address, std::uint8_t value);

private:
    TransferResult Dispatch(const SetupPacket& s, std::span<std::uint8_t> data);
    TransferResult Standard(const SetupPacket& s, std::span<std::uint8_t> data);
    TransferResult ExtensionUnit(const SetupPacket& s, std::span<std::uint8_t> data);
    TransferResult Vendor(const SetupPacket& s, std::span<std::uint8_t> data);
    void StartCommand(std::span<const std::uint8_t, 8> block);
    bool DataPieceIn(std::span<std::uint8_t> piece);
    bool DataPieceOut(std::span<const std::uint8_t> piece);
    void FinishWrite();
    I2cDevice* Slave(std::uint8_t address8) const;
    bool SuperWrite(std::uint8_t address8, std::span<const std::uint8_t> packetTail,
                    std::size_t width, std::span<const std::uint8_t> payload);

    BridgeChipConfig config_;
    mutable std::mutex mutex_;
    std::map<std::uint8_t, I2cDevice*> i2c_;
    std::vector<std::uint8_t> memory_;
    std::array<std::uint8_t, kStatusBlockSize> statusBlock_{};
    std::optional<std::vector<std::uint8_t>> configOverride_;
    std::vector<TransferFault> faults_;
    bool plugged_ = true;

    // extension-unit command state
    std::array<std::uint8_t, 8> command_{};
    std::uint8_t status_ = kStsCmd;
    std::vector<std::uint8_t> pendingIn_;   // data the open command still hands out
    std::vector<std::uint8_t> pendingOut_;  // data the open command has collected
    std::size_t expectOut_ = 0;             // bytes the open command still expects
    std::size_t inPos_ = 0;
    std::map<std::uint8_t, std::uint32_t> lastSubAddress_;  // per slave

    // vendor super-read state: the address phase waiting for its read
    struct PendingRead {
        std::uint16_t wValue, wIndex;
        std::uint32_t subAddress;
    };
    std::optional<PendingRead> pendingRead_;

    std::size_t interleaves_ = 0;
    std::vector<SetupPacket> requests_;
    std::vector<std::uint16_t> customerControls_;
};

}  // namespace ovra::sim
