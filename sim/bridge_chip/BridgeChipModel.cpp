#include "sim/bridge_chip/BridgeChipModel.h"

#include <algorithm>
#include <cstring>

namespace ovra::sim {

namespace {
constexpr std::uint8_t kSignature[8] = {'V', 'E', 'L', 'T', 'R', 'I', 'X', 0};

std::uint16_t Word(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t BigEndian(std::span<const std::uint8_t> bytes) {
    std::uint32_t v = 0;
    for (std::uint8_t b : bytes) v = (v << 8) | b;
    return v;
}
std::vector<std::uint8_t> StringDescriptor(const std::string& text) {
    std::vector<std::uint8_t> d{static_cast<std::uint8_t>(2 + 2 * text.size()), 0x03};
    for (char c : text) d.insert(d.end(), {static_cast<std::uint8_t>(c), 0});
    return d;
}
TransferResult Answer(std::span<std::uint8_t> data, std::span<const std::uint8_t> bytes) {
    const std::size_t n = std::min(data.size(), bytes.size());
    std::copy_n(bytes.begin(), n, data.begin());
    return {TransferStatus::Ok, n};
}
constexpr TransferResult kStall{TransferStatus::Stall, 0};
}  // namespace

std::vector<std::uint8_t> BuildConfiguration(const BridgeChipConfig& c);

BridgeChipModel::BridgeChipModel(BridgeChipConfig config)
    : config_(std::move(config)), memory_(kChipMemorySize, 0) {
    // Status block: firmware identification up front, the signature at 24.
    const std::uint8_t head[8] = {0x4B, 0x56, 0x01, 0x0B, 0x20, 0x17, 0x04, 0x14};
    std::copy(std::begin(head), std::end(head), statusBlock_.begin());
    std::copy(std::begin(kSignature), std::end(kSignature), statusBlock_.begin() + 24);
    statusBlock_[64] = 0x01;
}

void BridgeChipModel::AttachI2c(std::uint8_t address8, I2cDevice* device) {
    std::lock_guard lock(mutex_);
    i2c_[address8] = device;
}

void BridgeChipModel::InjectFault(TransferFault fault, int count) {
    std::lock_guard lock(mutex_);
    for (int i = 0; i < count; ++i) faults_.push_back(fault);
}

void BridgeChipModel::SetConfigurationOverride(std::vector<std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    configOverride_ = std::move(bytes);
}

void BridgeChipModel::SetStatusSignature(std::span<const std::uint8_t, 8> signature) {
    std::lock_guard lock(mutex_);
    std::copy(signature.begin(), signature.end(), statusBlock_.begin() + 24);
}

bool BridgeChipModel::Plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}
std::size_t BridgeChipModel::Interleaves() const {
    std::lock_guard lock(mutex_);
    return interleaves_;
}
std::vector<SetupPacket> BridgeChipModel::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}
void BridgeChipModel::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}
std::vector<std::uint16_t> BridgeChipModel::CustomerControls() const {
    std::lock_guard lock(mutex_);
    return customerControls_;
}
std::uint8_t BridgeChipModel::Memory(std::uint32_t address) const {
    std::lock_guard lock(mutex_);
    return memory_[address % kChipMemorySize];
}
void BridgeChipModel::SetMemory(std::uint32_t address, std::uint8_t value) {
    std::lock_guard lock(mutex_);
    memory_[address % kChipMemorySize] = value;
}

I2cDevice* BridgeChipModel::Slave(std::uint8_t address8) const {
    auto it = i2c_.find(static_cast<std::uint8_t>(address8 & 0xFE));
    return it == i2c_.end() ? nullptr : it->second;
}

TransferResult BridgeChipModel::HandleControl(const SetupPacket& setup,
                                              std::span<std::uint8_t> data) {
    std::lock_guard lock(mutex_);
    if (!plugged_) return {TransferStatus::Gone, 0};
    requests_.push_back(setup);
    if (data.size() > setup.wLength) data = data.first(setup.wLength);
    std::optional<TransferFault> fault;
    if (!faults_.empty()) {
        fault = faults_.front();
        faults_.erase(faults_.begin());
    }
    if (fault == TransferFault::Stall) return kStall;
    if (fault == TransferFault::Timeout) return {TransferStatus::Timeout, 0};
    if (fault == TransferFault::Unplug) {
        plugged_ = false;
        return {TransferStatus::Gone, 0};
    }
    TransferResult r = Dispatch(setup, data);
    if (fault == TransferFault::Short && r.status == TransferStatus::Ok && setup.In())
        r.length = r.length / 2;
    return r;
}

TransferResult BridgeChipModel::Dispatch(const SetupPacket& s, std::span<std::uint8_t> data) {
    const std::uint8_t type = s.bmRequestType & 0x60;
    if (type == 0x00) return Standard(s, data);
    if (type == 0x20) return ExtensionUnit(s, data);
    if (type == 0x40) return Vendor(s, data);
    return kStall;
}

TransferResult BridgeChipModel::Standard(const SetupPacket& s, std::span<std::uint8_t> data) {
    if (s.bmRequestType == 0x80 && s.bRequest == 0x06) {
        const std::uint8_t kind = static_cast<std::uint8_t>(s.wValue >> 8);
        const std::uint8_t index = static_cast<std::uint8_t>(s.wValue);
        if (kind == 1) return Answer(data, DeviceDescriptor());
        if (kind == 2 && index == 0)
            return Answer(data, configOverride_ ? *configOverride_ : BuildConfiguration(config_));
        if (kind == 3 && index == 0) {
            const std::uint8_t langs[4] = {4, 0x03, 0x09, 0x04};
            return Answer(data, langs);
        }
        if (kind == 3 && index == 1) return Answer(data, StringDescriptor("Ovra Sim"));
        if (kind == 3 && index == 2) return Answer(data, StringDescriptor(config_.product));
        return kStall;
    }
    if (s.bmRequestType == 0x80 && s.bRequest == 0x00) {
        const std::uint8_t status[2] = {0, 0};
        return Answer(data, status);
    }
    if ((s.bmRequestType == 0x00 && s.bRequest == 0x09) ||  // SET_CONFIGURATION
        (s.bmRequestType == 0x01 && s.bRequest == 0x0B))    // SET_INTERFACE
        return {TransferStatus::Ok, 0};
    return kStall;
}

// ---- extension unit ----

TransferResult BridgeChipModel::ExtensionUnit(const SetupPacket& s, std::span<std::uint8_t> data) {
    const bool toInterface = (s.bmRequestType & 0x1F) == 0x01;
    const std::uint8_t unit = static_cast<std::uint8_t>(s.wIndex >> 8);
    const std::uint8_t interfaceNumber = static_cast<std::uint8_t>(s.wIndex);
    if (!config_.hasExtensionUnit || !toInterface || interfaceNumber != 0 ||
        unit != config_.extensionUnitId)
        return kStall;
    const std::uint8_t selector = static_cast<std::uint8_t>(s.wValue >> 8);
    const bool in = s.In();
    if (selector == kControlCommand && s.bRequest == 0x01 && !in) {
        if (s.wLength != 8 || data.size() < 8) return kStall;
        StartCommand(std::span<const std::uint8_t, 8>(data.data(), 8));
        return {TransferStatus::Ok, 8};
    }
    if (selector == kControlCommand && s.bRequest == 0x81 && in) {
        std::uint8_t block[8] = {status_, 0, 0, 0, 0, 0, 0, 0};
        return Answer(data, block);
    }
    if (selector == kControlData && s.bRequest == 0x85 && in) {  // GET_LEN
        const std::uint8_t size[2] = {kDataControlSize, 0};
        return Answer(data, size);
    }
    if (selector == kControlData && (s.bRequest == 0x81 || s.bRequest == 0x01)) {
        if (s.wLength != kDataControlSize || data.size() < kDataControlSize) {
            status_ = kStsErrLen;
            return kStall;
        }
        const auto piece = data.first(kDataControlSize);
        const bool ok = in ? DataPieceIn(piece) : DataPieceOut(piece);
        return ok ? TransferResult{TransferStatus::Ok, kDataControlSize} : kStall;
    }
    return kStall;
}

void BridgeChipModel::StartCommand(std::span<const std::uint8_t, 8> block) {
    // A new command while the previous one still moves data: two hosts mixed
    // their command blocks.
    if (expectOut_ > 0 || inPos_ < pendingIn_.size()) ++interleaves_;
    std::copy(block.begin(), block.end(), command_.begin());
    pendingIn_.clear();
    pendingOut_.clear();
    expectOut_ = 0;
    inPos_ = 0;
    const std::uint8_t group = block[0], code = block[1];
    const std::uint16_t p1 = Word(block, 2), p2 = Word(block, 4);
    if (group == 0xFF) {  // status clear
        status_ = kStsCmd;
        return;
    }
    if (group != 0x00) {
        status_ = kStsUnknownCmd;
        return;
    }
    switch (code) {
        case 0xD0:  // qualify: the signature
            pendingIn_.assign(statusBlock_.begin() + 24, statusBlock_.begin() + 32);
            break;
        case 0xCD:  // status block piece
            if (p1 >= kStatusBlockSize / 8) {
                status_ = 0x07;  // out of range
                return;
            }
            pendingIn_.assign(statusBlock_.begin() + p1 * 8, statusBlock_.begin() + p1 * 8 + 8);
            break;
        case 0xC2:  // read chip memory
            for (std::uint32_t i = 0; i < p2; ++i) pendingIn_.push_back(memory_[(p1 + i) & 0xFFFF]);
            break;
        case 0x82:  // write chip memory
        case 0xB2:  // super-register write: the whole packet follows
            expectOut_ = p2;
            break;
        case 0xF2: {  // super-register read from the slave's current address
            const std::uint8_t slave = static_cast<std::uint8_t>(p1);
            I2cDevice* device = Slave(slave);
            std::vector<std::uint8_t> bytes(p2);
            if (!device || !device->Read(lastSubAddress_[slave & 0xFE], bytes)) {
                status_ = kStsHwErr;
                return;
            }
            pendingIn_ = std::move(bytes);
            break;
        }
        default:
            status_ = kStsUnknownCmd;
            return;
    }
    status_ = !pendingIn_.empty() ? kStsDataIn : expectOut_ > 0 ? kStsDataOut : kStsCmd;
}

bool BridgeChipModel::DataPieceIn(std::span<std::uint8_t> piece) {
    if (status_ != kStsDataIn || inPos_ >= pendingIn_.size()) {
        status_ = kStsErrDir;
        return false;
    }
    for (std::size_t i = 0; i < piece.size(); ++i)
        piece[i] = inPos_ + i < pendingIn_.size() ? pendingIn_[inPos_ + i] : 0;
    inPos_ += piece.size();
    if (inPos_ >= pendingIn_.size()) {
        pendingIn_.clear();
        inPos_ = 0;
        status_ = kStsCmd;
    }
    return true;
}

bool BridgeChipModel::DataPieceOut(std::span<const std::uint8_t> piece) {
    if (status_ != kStsDataOut || expectOut_ == 0) {
        status_ = kStsErrDir;
        return false;
    }
    const std::size_t take = std::min(piece.size(), expectOut_ - pendingOut_.size());
    pendingOut_.insert(pendingOut_.end(), piece.begin(), piece.begin() + take);
    if (pendingOut_.size() == expectOut_) FinishWrite();
    return true;
}

void BridgeChipModel::FinishWrite() {
    const std::uint16_t p1 = Word(command_, 2);
    status_ = kStsCmd;
    if (command_[1] == 0x82) {
        for (std::size_t i = 0; i < pendingOut_.size(); ++i)
            memory_[(p1 + i) & 0xFFFF] = pendingOut_[i];
    } else if (command_[1] == 0xB2) {
        // The packet: direction, address width, address (most significant
        // first), zero padding up to 8, then the data.
        const std::span<const std::uint8_t> packet(pendingOut_);
        const std::size_t width = packet.size() >= 2 ? packet[1] : 0;
        if (packet.size() < 8 || packet[0] != 0 || width < 1 || width > 4) {
            status_ = kStsErrLen;
        } else if (!SuperWrite(static_cast<std::uint8_t>(p1), packet.subspan(2, width), width,
                               packet.subspan(8))) {
            status_ = kStsHwErr;
        }
    }
    pendingOut_.clear();
    expectOut_ = 0;
}

bool BridgeChipModel::SuperWrite(std::uint8_t address8, std::span<const std::uint8_t> addressBytes,
                                 std::size_t width, std::span<const std::uint8_t> payload) {
    I2cDevice* device = Slave(address8);
    if (!device || addressBytes.size() != width) return false;
    const std::uint32_t sub = BigEndian(addressBytes);
    lastSubAddress_[address8 & 0xFE] = sub;
    return device->Write(sub, payload);
}

// ---- vendor requests ----

TransferResult BridgeChipModel::Vendor(const SetupPacket& s, std::span<std::uint8_t> data) {
    if ((s.bmRequestType & 0x1F) != 0x00) return kStall;  // device recipient only
    const bool in = s.In();
    if (in && s.bRequest == 0x07) {  // status block piece
        const std::size_t piece = s.wValue & 0xFF;
        if (piece >= kStatusBlockSize / 8) return kStall;
        std::array<std::uint8_t, 8> bytes{};
        if (config_.hasVendorChannel)
            std::copy_n(statusBlock_.begin() + piece * 8, 8, bytes.begin());
        return Answer(data, bytes);
    }
    if (in && s.bRequest == 0x06) {
        const std::uint8_t one[1] = {0};
        return Answer(data, one);
    }
    if (!config_.hasVendorChannel) return kStall;

    // Form B: address bits 19-16 in wValue bits 11-8, length bits 19-16 in
    // wValue bits 15-12.
    const std::uint32_t address = (static_cast<std::uint32_t>((s.wValue >> 8) & 0x0F) << 16) | s.wIndex;
    const std::uint32_t length = (static_cast<std::uint32_t>(s.wValue >> 12) << 16) | s.wLength;
    switch (in ? 0x100 | s.bRequest : s.bRequest) {
        case 0x125:  // read chip memory
            if (address + length > kChipMemorySize || length > data.size()) return kStall;
            std::copy_n(memory_.begin() + address, length, data.begin());
            return {TransferStatus::Ok, length};
        case 0x024:  // write chip memory
            if (address + length > kChipMemorySize || length > data.size()) return kStall;
            std::copy_n(data.begin(), length, memory_.begin() + address);
            return {TransferStatus::Ok, length};
        case 0x03D: {  // super-register read, address phase
            const std::size_t count = s.wIndex >> 8;
            if (s.wLength <= count || s.wLength - count > 4) return kStall;
            const std::size_t width = s.wLength - count;
            if (s.wValue > 0x7F) return kStall;  // wValue holds a 7-bit bus address
            const std::uint8_t slave8 = static_cast<std::uint8_t>(s.wValue << 1);
            if (!Slave(slave8)) return kStall;  // no device answers: NAK
            if (pendingRead_) ++interleaves_;   // the previous read never came
            pendingRead_ = PendingRead{s.wValue, s.wIndex, BigEndian(data.first(width))};
            return {TransferStatus::Ok, s.wLength};
        }
        case 0x13D: {  // super-register read, data phase
            if (!pendingRead_ || pendingRead_->wValue != s.wValue ||
                pendingRead_->wIndex != s.wIndex) {
                if (pendingRead_) ++interleaves_;
                pendingRead_.reset();
                return kStall;
            }
            const std::size_t count = s.wIndex >> 8;
            if (s.wValue > 0x7F) return kStall;  // wValue holds a 7-bit bus address
            const std::uint8_t slave8 = static_cast<std::uint8_t>(s.wValue << 1);
            const std::uint32_t sub = pendingRead_->subAddress;
            pendingRead_.reset();
            I2cDevice* device = Slave(slave8);
            if (!device || count > data.size()) return kStall;
            std::fill(data.begin(), data.end(), 0);
            if (!device->Read(sub, data.first(count))) return kStall;
            lastSubAddress_[slave8] = sub;
            return {TransferStatus::Ok, s.wLength};
        }
        case 0x03E: {  // super-register write
            const std::size_t count = s.wIndex >> 8;
            if (s.wLength <= count || s.wLength - count > 4 || data.size() < s.wLength) return kStall;
            const std::size_t width = s.wLength - count;
            if (s.wValue > 0x7F) return kStall;  // wValue holds a 7-bit bus address
            const std::uint8_t slave8 = static_cast<std::uint8_t>(s.wValue << 1);
            if (!SuperWrite(slave8, data.first(width), width, data.subspan(width, count)))
                return kStall;
            return {TransferStatus::Ok, s.wLength};
        }
        case 0x06A:  // customer control
            customerControls_.push_back(s.wValue);
            return {TransferStatus::Ok, 0};
        case 0x010:
            return {TransferStatus::Ok, 0};
        default:
            return kStall;
    }
}

}  // namespace ovra::sim
