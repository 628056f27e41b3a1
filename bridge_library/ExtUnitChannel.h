#pragma once
// The extension-unit channel: an 8-byte command block written to control 10
// of the bridge's audio extension unit, the command's data moved through
// control 11 in pieces of the data-control size, and a status block read
// back from control 10. Every operation holds the cross-process mutex
// "ICOperateSync_2014_3_28" from its command block to its last data piece,
// so that two processes never interleave their commands on the device.

#include <array>
#include <memory>
#include <string>

#include "bridge_library/BrxLog.h"
#include "bridge_library/CamLocation.h"
#include "bridge_library/UsbRequests.h"
#include "bridge_library/VendorCmdCommon.h"
#include "platform/NamedObjects.h"

namespace ovra::brx {

inline constexpr const char* kOperateLockName = "ICOperateSync_2014_3_28";
inline constexpr std::chrono::milliseconds kOperateLockWait{10000};

using ExtUnitCommand = std::array<std::uint8_t, 8>;

// The status code names the device reports in byte 0 of its status block.
const char* ExtUnitStatusName(std::uint8_t code);

class ExtUnitChannel final : public VendorCmdCommon {
public:
    // `lockWait`: how long an operation waits for another process's command
    // to finish before it gives up.
    ExtUnitChannel(UsbRequests& requests, const CamLocation& location, std::uint8_t unitId,
                   NamedObjects& named, BrxLog& log,
                   std::chrono::milliseconds lockWait = kOperateLockWait);

    std::uint32_t GetDevStatus(std::uint32_t firstPiece, std::span<std::uint8_t> buffer) override;
    std::uint32_t ReadMem(std::uint32_t address, std::span<std::uint8_t> buffer,
                          ProgressCallback progress, void* user) override;
    std::uint32_t WriteMem(std::uint32_t address, std::span<const std::uint8_t> buffer,
                           ProgressCallback progress, void* user) override;
    std::uint32_t I2CSuperRead(std::uint32_t slave, std::uint32_t length,
                               std::span<std::uint8_t> packet) override;
    std::uint32_t I2CSuperWrite(std::uint32_t slave, std::uint32_t length,
                                std::span<const std::uint8_t> packet) override;

    // True when the bridge answers the qualify command with its signature.
    bool DevQualify();

    std::uint8_t LastStatus() const { return lastStatus_; }

private:
    class SyncOperate;

    // Transport: one class request each; failures are logged and returned as
    // HRESULTs.
    std::uint32_t SetCmd(const ExtUnitCommand& block);
    std::uint32_t GetCmdStatus(std::span<std::uint8_t, 8> status);
    std::uint32_t GetData(std::span<std::uint8_t> piece);
    std::uint32_t SetData(std::span<const std::uint8_t> piece);
    std::uint32_t Control(bool in, std::uint8_t selector, std::span<std::uint8_t> buffer,
                          const char* failureFormat);

    // The data phase in data-control-size pieces; `done` counts the bytes of
    // the whole pieces moved before a failure.
    std::uint32_t ReadData(std::span<std::uint8_t> buffer, std::uint32_t* done,
                           ProgressCallback progress, void* user);
    std::uint32_t WriteData(std::span<const std::uint8_t> buffer, std::uint32_t* done,
                            ProgressCallback progress, void* user);

    std::uint32_t MemCall(bool read, std::uint32_t address, std::span<std::uint8_t> buffer,
                          ProgressCallback progress, void* user);
    void ReportError(const std::string& text, std::uint32_t code);

    UsbRequests& requests_;
    const CamLocation& location_;
    std::uint8_t unitId_;
    BrxLog& log_;
    std::unique_ptr<NamedMutex> lock_;
    std::chrono::milliseconds lockWait_;
    std::array<std::uint8_t, 1024> dataBuffer_{};
    std::uint32_t dataControlSize_ = 8;
    std::uint8_t lastStatus_ = 0xFF;
};

}  // namespace ovra::brx
