#pragma once
// The operation set that both command channels of the bridge chip offer: the
// extension-unit channel (ExtUnitChannel) and the vendor-request channel
// (VendorRequestChannel). Every operation answers 0 on success, otherwise an
// error code (an HRESULT, or 1 when the extension unit's lock was not had).
// Only the operations that the library's exports reach are part of the set;
// a channel that lacks one answers E_NOTIMPL.

#include <cstdint>
#include <span>

#include "bridge_library/ErrorCodes.h"

namespace ovra::brx {

// Called after each piece of a chunked transfer with the bytes of that piece.
using ProgressCallback = void (*)(void* user, std::uint32_t bytes);

class VendorCmdCommon {
public:
    virtual ~VendorCmdCommon() = default;

    // The vendor status block, `length` bytes (a multiple of 8) from piece
    // `firstPiece` on.
    virtual std::uint32_t GetDevStatus(std::uint32_t firstPiece, std::span<std::uint8_t> buffer) = 0;

    // Bridge-chip memory at 16-bit addresses (the I2C block's registers).
    virtual std::uint32_t ReadMem(std::uint32_t address, std::span<std::uint8_t> buffer,
                                  ProgressCallback progress, void* user) = 0;
    virtual std::uint32_t WriteMem(std::uint32_t address, std::span<const std::uint8_t> buffer,
                                   ProgressCallback progress, void* user) = 0;

    // A super-register transfer with the packet the exports build
    // (SuperRegisterPacket). A read leaves `length` data bytes at the start
    // of the packet; a write's `length` counts the 8 header bytes.
    virtual std::uint32_t I2CSuperRead(std::uint32_t slave, std::uint32_t length,
                                       std::span<std::uint8_t> packet) = 0;
    virtual std::uint32_t I2CSuperWrite(std::uint32_t slave, std::uint32_t length,
                                        std::span<const std::uint8_t> packet) = 0;

    // The customer-control request (modes 2 and 3 bracket a run of writes).
    virtual std::uint32_t CustomerControl(std::uint32_t /*mode*/) { return kHresultNotImpl; }
};

}  // namespace ovra::brx
