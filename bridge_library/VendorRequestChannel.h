#pragma once
// The vendor-request channel: each step of an operation is one vendor control
// request to the device, no command block, no lock. Preferred over the
// extension unit whenever a device offers it.

#include "bridge_library/BrxLog.h"
#include "bridge_library/CamLocation.h"
#include "bridge_library/UsbRequests.h"
#include "bridge_library/VendorCmdCommon.h"

namespace ovra::brx {

inline constexpr std::uint32_t kVendorTimeoutMs = 5000;

// Reads the vendor status block in 8-byte pieces (request 0xC0/0x07, wValue =
// piece number). A failed or short piece fails the read.
std::uint32_t ReadVendorStatus(UsbRequests& requests, DeviceContext context,
                               std::uint32_t firstPiece, std::span<std::uint8_t> buffer);

class VendorRequestChannel final : public VendorCmdCommon {
public:
    VendorRequestChannel(UsbRequests& requests, const CamLocation& location, BrxLog& log)
        : requests_(requests), location_(location), log_(log) {}

    std::uint32_t GetDevStatus(std::uint32_t firstPiece, std::span<std::uint8_t> buffer) override;
    std::uint32_t ReadMem(std::uint32_t address, std::span<std::uint8_t> buffer,
                          ProgressCallback progress, void* user) override;
    std::uint32_t WriteMem(std::uint32_t address, std::span<const std::uint8_t> buffer,
                           ProgressCallback progress, void* user) override;
    std::uint32_t I2CSuperRead(std::uint32_t slave, std::uint32_t length,
                               std::span<std::uint8_t> packet) override;
    std::uint32_t I2CSuperWrite(std::uint32_t slave, std::uint32_t length,
                                std::span<const std::uint8_t> packet) override;
    std::uint32_t CustomerControl(std::uint32_t mode) override;

private:
    // One request; a read that brings fewer bytes than asked counts as failed.
    std::uint32_t Send(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                       std::uint16_t index, std::span<std::uint8_t> data);
    std::uint32_t MemPiece(bool read, std::uint32_t address, std::span<std::uint8_t> piece);

    UsbRequests& requests_;
    const CamLocation& location_;
    BrxLog& log_;
};

}  // namespace ovra::brx
