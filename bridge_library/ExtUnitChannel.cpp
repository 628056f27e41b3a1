#include "bridge_library/ExtUnitChannel.h"

#include <algorithm>
#include <cstdio>

namespace ovra::brx {
namespace {

constexpr std::uint8_t kSetCur = 0x01;
constexpr std::uint8_t kGetCur = 0x81;
constexpr std::uint8_t kClassOut = 0x21;
constexpr std::uint8_t kClassIn = 0xA1;
constexpr std::uint8_t kCommandControl = 10;
constexpr std::uint8_t kDataControl = 11;
constexpr std::uint32_t kTransportTimeoutMs = 5000;
constexpr std::uint32_t kDeviceNotConnectedHresult = 0x8007048Fu;
constexpr std::uint32_t kLockNotObtained = 1;
constexpr std::size_t kSplitAbove = 0xFFFF;
constexpr std::size_t kSplitPiece = 0x8000;

ExtUnitCommand Block(std::uint8_t group, std::uint8_t code, std::uint16_t p1, std::uint16_t p2,
                     std::uint16_t p3 = 0) {
    return {group,
            code,
            static_cast<std::uint8_t>(p1),
            static_cast<std::uint8_t>(p1 >> 8),
            static_cast<std::uint8_t>(p2),
            static_cast<std::uint8_t>(p2 >> 8),
            static_cast<std::uint8_t>(p3),
            static_cast<std::uint8_t>(p3 >> 8)};
}

std::string Format(const char* format, std::uint32_t value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

const char* ExtUnitStatusName(std::uint8_t code) {
    switch (code) {
        case 0x00: return "VCMD_STS_CMD";
        case 0x01: return "VCMD_STS_DATA_IN";
        case 0x02: return "VCMD_STS_DATA_OUT";
        case 0x03: return "VCMD_STS_ERR_DIR";
        case 0x04: return "VCMD_STS_NOT_FINISH";
        case 0x05: return "VCMD_STS_ERR_LEN";
        case 0x06: return "VCMD_STS_UNKNOWN_SCMD";
        case 0x07: return "VCMD_STS_ERR_OUTRANGE";
        case 0x08: return "VCMD_STS_UNKNOWN_CMD";
        case 0x09: return "VCMD_STS_HW_ERR";
        case 0xFE: return "VCMD_STS_RET_NO_ERR";
        default: return "Undefined ExtUnit error code\n";
    }
}

// Takes the cross-process lock for one operation and gives it back at the
// end of the scope. An abandoned lock is held (and released) but the
// operation does not go on: the other process died mid-command, so the
// device may be between a command block and its data.
class ExtUnitChannel::SyncOperate {
public:
    SyncOperate(NamedMutex* mutex, std::chrono::milliseconds wait, BrxLog& log, const char* name)
        : mutex_(mutex) {
        const WaitResult result = mutex_ ? mutex_->Lock(wait) : WaitResult::Failed;
        switch (result) {
            case WaitResult::Signaled:
                held_ = true;
                proceed_ = true;
                break;
            case WaitResult::Abandoned:
                held_ = true;
                log.Line("%s : WAIT_ABANDONED\n", name);
                break;
            case WaitResult::Timeout:
                log.Line("%s wait time out\n", name);
                break;
            case WaitResult::Failed:
                log.Line("%s WAIT_FAILED\n", name);
                break;
        }
    }
    ~SyncOperate() {
        if (held_) mutex_->Unlock();
    }
    SyncOperate(const SyncOperate&) = delete;
    SyncOperate& operator=(const SyncOperate&) = delete;

    bool Proceed() const { return proceed_; }

private:
    NamedMutex* mutex_;
    bool held_ = false;
    bool proceed_ = false;
};

ExtUnitChannel::ExtUnitChannel(UsbRequests& requests, const CamLocation& location,
                               std::uint8_t unitId, NamedObjects& named, BrxLog& log,
                               std::chrono::milliseconds lockWait)
    : requests_(requests), location_(location), unitId_(unitId), log_(log),
      lock_(named.CreateMutex(kOperateLockName, false, nullptr)), lockWait_(lockWait) {}

std::uint32_t ExtUnitChannel::Control(bool in, std::uint8_t selector, std::span<std::uint8_t> buffer,
                                      const char* failureFormat) {
    ClassRequest request;
    request.bmRequestType = in ? kClassIn : kClassOut;
    request.bRequest = in ? kGetCur : kSetCur;
    request.controlSelector = selector;
    request.unitId = unitId_;
    request.interfaceNumber = location_.interfaceNumber;
    request.in = in;
    request.timeoutMs = kTransportTimeoutMs;
    const RequestOutcome outcome = requests_.ClassInterfaceRequest(location_.context, request, buffer);
    if (!outcome.ok) {
        log_.Line(failureFormat, outcome.lastError);
        return HresultFromError(outcome.lastError);
    }
    if (in && outcome.transferred < buffer.size()) {
        // A short answer would leave stale bytes where the device's belong.
        log_.Line(failureFormat, 0u);
        return kHresultFail;
    }
    return 0;
}

std::uint32_t ExtUnitChannel::SetCmd(const ExtUnitCommand& block) {
    ExtUnitCommand copy = block;
    return Control(false, kCommandControl, copy, "SetCmd failed %d\n");
}

std::uint32_t ExtUnitChannel::GetCmdStatus(std::span<std::uint8_t, 8> status) {
    return Control(true, kCommandControl, status, "GetCmdStatus failed %d\n");
}

std::uint32_t ExtUnitChannel::GetData(std::span<std::uint8_t> piece) {
    return Control(true, kDataControl, piece, "GetData failed %d\n");
}

std::uint32_t ExtUnitChannel::SetData(std::span<const std::uint8_t> piece) {
    std::array<std::uint8_t, 1024> copy{};
    std::copy(piece.begin(), piece.end(), copy.begin());
    return Control(false, kDataControl, std::span(copy).first(piece.size()), "SetData failed %d\n");
}

std::uint32_t ExtUnitChannel::ReadData(std::span<std::uint8_t> buffer, std::uint32_t* done,
                                       ProgressCallback progress, void* user) {
    const std::size_t size = dataControlSize_;
    std::size_t offset = 0;
    *done = 0;
    while (offset < buffer.size()) {
        const std::size_t n = std::min(size, buffer.size() - offset);
        std::uint32_t code;
        if (n == size) {
            code = GetData(buffer.subspan(offset, n));
        } else {
            std::fill_n(dataBuffer_.begin(), size, 0);
            code = GetData(std::span(dataBuffer_).first(size));
            if (code == 0) std::copy_n(dataBuffer_.begin(), n, buffer.begin() + static_cast<std::ptrdiff_t>(offset));
        }
        if (code != 0) return code;
        if (n == size) *done += static_cast<std::uint32_t>(n);
        if (progress) progress(user, static_cast<std::uint32_t>(n));
        offset += n;
    }
    return 0;
}

std::uint32_t ExtUnitChannel::WriteData(std::span<const std::uint8_t> buffer, std::uint32_t* done,
                                        ProgressCallback progress, void* user) {
    const std::size_t size = dataControlSize_;
    std::size_t offset = 0;
    *done = 0;
    while (offset < buffer.size()) {
        const std::size_t n = std::min(size, buffer.size() - offset);
        std::uint32_t code;
        if (n == size) {
            code = SetData(buffer.subspan(offset, n));
        } else {
            // The last partial piece goes out whole, zero-padded.
            std::fill_n(dataBuffer_.begin(), size, 0);
            std::copy_n(buffer.begin() + static_cast<std::ptrdiff_t>(offset), n, dataBuffer_.begin());
            code = SetData(std::span(dataBuffer_).first(size));
        }
        if (code != 0) return code;
        if (n == size) *done += static_cast<std::uint32_t>(n);
        if (progress) progress(user, static_cast<std::uint32_t>(n));
        offset += n;
    }
    return 0;
}

void ExtUnitChannel::ReportError(const std::string& text, std::uint32_t code) {
    std::string line = text;
    lastStatus_ = 0xFF;
    if (code == kDeviceNotConnectedHresult) {
        line += "Device not connected";
    } else {
        std::fill_n(dataBuffer_.begin(), 8, 0);
        const std::uint32_t statusCode = GetCmdStatus(std::span(dataBuffer_).first<8>());
        char tail[160];
        if (statusCode == 0) {
            std::snprintf(tail, sizeof tail, " error %x, %s", code, ExtUnitStatusName(dataBuffer_[0]));
            lastStatus_ = dataBuffer_[0];
        } else {
            std::snprintf(tail, sizeof tail, " error %x, and fail to get err_code %x", code, statusCode);
        }
        line += tail;
        SetCmd(Block(0xFF, 0x00, 0, 0));  // clears the device's error status
    }
    log_.Line("%s\n", line.c_str());
}

std::uint32_t ExtUnitChannel::MemCall(bool read, std::uint32_t address, std::span<std::uint8_t> buffer,
                                      ProgressCallback progress, void* user) {
    const char* name = read ? "CExtUnitBase::ReadMem" : "CExtUnitBase::WriteMem";
    SyncOperate sync(lock_.get(), lockWait_, log_, name);
    if (!sync.Proceed()) return kLockNotObtained;
    const auto length = static_cast<std::uint16_t>(buffer.size());
    if (const std::uint32_t code =
            SetCmd(Block(0x00, read ? 0xC2 : 0x82, static_cast<std::uint16_t>(address & 0xFFFF), length))) {
        ReportError(read ? "ReadMem SetCmd" : "WriteMem SetCmd", code);
        return code;
    }
    std::uint32_t done = 0;
    const std::uint32_t code = read ? ReadData(buffer, &done, progress, user)
                                    : WriteData(buffer, &done, progress, user);
    if (code != 0) {
        ReportError(Format(read ? "ReadMem GetData 0x%X" : "WriteMem SetData 0x%X", address + done), code);
    }
    return code;
}

std::uint32_t ExtUnitChannel::ReadMem(std::uint32_t address, std::span<std::uint8_t> buffer,
                                      ProgressCallback progress, void* user) {
    while (buffer.size() > kSplitAbove) {
        if (const std::uint32_t code = MemCall(true, address, buffer.first(kSplitPiece), progress, user)) {
            return code;
        }
        address += kSplitPiece;
        buffer = buffer.subspan(kSplitPiece);
    }
    return buffer.empty() ? 0 : MemCall(true, address, buffer, progress, user);
}

std::uint32_t ExtUnitChannel::WriteMem(std::uint32_t address, std::span<const std::uint8_t> buffer,
                                       ProgressCallback progress, void* user) {
    // MemCall only reads from the buffer when it writes to the device.
    std::span<std::uint8_t> bytes(const_cast<std::uint8_t*>(buffer.data()), buffer.size());
    while (bytes.size() > kSplitAbove) {
        if (const std::uint32_t code = MemCall(false, address, bytes.first(kSplitPiece), progress, user)) {
            return code;
        }
        address += kSplitPiece;
        bytes = bytes.subspan(kSplitPiece);
    }
    return bytes.empty() ? 0 : MemCall(false, address, bytes, progress, user);
}

std::uint32_t ExtUnitChannel::GetDevStatus(std::uint32_t firstPiece, std::span<std::uint8_t> buffer) {
    SyncOperate sync(lock_.get(), lockWait_, log_, "CExtUnitBase::GetDevStatus");
    if (!sync.Proceed()) return kLockNotObtained;
    for (std::size_t piece = 0; piece * 8 < buffer.size(); ++piece) {
        if (const std::uint32_t code =
                SetCmd(Block(0x00, 0xCD, static_cast<std::uint16_t>(firstPiece + piece), 8))) {
            ReportError("GetDevStatus SetCmd", code);
            return code;
        }
        std::array<std::uint8_t, 8> answer{};
        if (const std::uint32_t code = GetData(answer)) {
            ReportError("GetDevStatus GetData", code);
            return code;
        }
        const std::size_t n = std::min<std::size_t>(8, buffer.size() - piece * 8);
        std::copy_n(answer.begin(), n, buffer.begin() + static_cast<std::ptrdiff_t>(piece * 8));
    }
    return 0;
}

std::uint32_t ExtUnitChannel::I2CSuperRead(std::uint32_t slave, std::uint32_t length,
                                           std::span<std::uint8_t> packet) {
    if (length > packet.size()) return kHresultInvalidArg;
    SyncOperate sync(lock_.get(), lockWait_, log_, "CExtUnitBase::I2CSuperRead");
    if (!sync.Proceed()) return kLockNotObtained;
    if (const std::uint32_t code = SetCmd(Block(0x00, 0xF2, static_cast<std::uint16_t>(slave & 0xFF),
                                                static_cast<std::uint16_t>(length)))) {
        ReportError("I2CSuperRead SetCmd", code);
        return code;
    }
    std::uint32_t done = 0;
    const std::uint32_t code = ReadData(packet.first(length), &done, nullptr, nullptr);
    if (code != 0) ReportError(Format("I2CSuperRead GetData SlaveAddr=0x%02X", (slave & 0xFF) + done), code);
    return code;
}

std::uint32_t ExtUnitChannel::I2CSuperWrite(std::uint32_t slave, std::uint32_t length,
                                            std::span<const std::uint8_t> packet) {
    if (length > packet.size()) return kHresultInvalidArg;
    SyncOperate sync(lock_.get(), lockWait_, log_, "CExtUnitBase::I2CSuperWrite");
    if (!sync.Proceed()) return kLockNotObtained;
    if (const std::uint32_t code = SetCmd(Block(0x00, 0xB2, static_cast<std::uint16_t>(slave & 0xFF),
                                                static_cast<std::uint16_t>(length)))) {
        ReportError("I2CSuperWrite", code);
        return code;
    }
    std::uint32_t done = 0;
    const std::uint32_t code = WriteData(packet.first(length), &done, nullptr, nullptr);
    if (code != 0) ReportError(Format("I2CSuperWrite SetData SlaveAddr=0x%02X", (slave & 0xFF) + done), code);
    return code;
}

bool ExtUnitChannel::DevQualify() {
    SyncOperate sync(lock_.get(), lockWait_, log_, "CExtUnitBase::DevQualify");
    if (!sync.Proceed()) return false;
    if (const std::uint32_t code = SetCmd(Block(0x00, 0xD0, 0, 8))) {
        ReportError("DevQualify SetCmd", code);
        return false;
    }
    std::fill_n(dataBuffer_.begin(), 8, 0);
    if (const std::uint32_t code = GetData(std::span(dataBuffer_).first(8))) {
        ReportError("DevQualify GetData", code);
        return false;
    }
    if (!IsBridgeSignature(std::span(dataBuffer_).first(8))) {
        log_.Line("Not veltrix device");
        return false;
    }
    return true;
}

}  // namespace ovra::brx
