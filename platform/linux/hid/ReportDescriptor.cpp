#include "platform/linux/hid/ReportDescriptor.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace ovra {
namespace {

enum ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

// Main item tags.
constexpr std::uint8_t kInput = 0x8, kOutput = 0x9, kCollection = 0xA, kFeature = 0xB,
                       kEndCollection = 0xC;
// Global item tags.
constexpr std::uint8_t kReportSize = 0x7, kReportId = 0x8, kReportCount = 0x9, kPush = 0xA,
                       kPop = 0xB;

constexpr std::uint8_t kLongItemPrefix = 0xFE;
// Nesting limits far above what real devices use; they only stop absurd input.
constexpr std::size_t kMaxGlobalStack = 16;
constexpr std::size_t kMaxCollectionDepth = 64;
constexpr std::uint64_t kMaxReportBits = kMaxReportByteLength * 8;

struct Globals {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint8_t reportId = 0;
};

enum ReportKind { kInputKind = 0, kOutputKind = 1, kFeatureKind = 2, kKinds = 3 };

ReportDescriptorParse Fail(std::size_t offset, const char* reason) {
    ReportDescriptorParse result;
    result.errorOffset = offset;
    result.error = reason;
    return result;
}

std::uint32_t UnsignedData(const std::uint8_t* data, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    return value;
}

std::uint16_t ByteLength(std::uint64_t bits) {
    if (bits == 0) return 0;
    return static_cast<std::uint16_t>((bits + 7) / 8 + 1);  // + report id byte
}

}  // namespace

ReportDescriptorParse ParseReportDescriptor(std::span<const std::uint8_t> d) {
    if (d.empty()) return Fail(0, "empty report descriptor");
    if (d.size() > kMaxReportDescriptorSize) return Fail(0, "report descriptor longer than 4096 bytes");

    std::array<std::array<std::uint64_t, 256>, kKinds> bits{};  // per kind and report id
    std::array<Globals, kMaxGlobalStack> stack{};
    std::size_t stackDepth = 0;
    Globals globals;
    std::size_t collectionDepth = 0;
    bool usesReportIds = false;
    std::size_t unframedItemOffset = SIZE_MAX;  // first data item outside any report id

    std::size_t pos = 0;
    while (pos < d.size()) {
        const std::size_t itemOffset = pos;
        const std::uint8_t prefix = d[pos];
        if (prefix == kLongItemPrefix) {
            // Long item: prefix, data size, tag, data. No long item tags are
            // defined, so the data is skipped.
            if (d.size() - pos < 3) return Fail(itemOffset, "truncated long item");
            const std::size_t dataSize = d[pos + 1];
            if (d.size() - pos - 3 < dataSize) return Fail(itemOffset, "truncated long item data");
            pos += 3 + dataSize;
            continue;
        }
        static constexpr std::size_t kSizes[4] = {0, 1, 2, 4};
        const std::size_t size = kSizes[prefix & 0x3];
        const auto type = static_cast<ItemType>((prefix >> 2) & 0x3);
        const std::uint8_t tag = prefix >> 4;
        if (d.size() - pos - 1 < size) return Fail(itemOffset, "truncated item");
        const std::uint32_t value = UnsignedData(d.data() + pos + 1, size);
        pos += 1 + size;

        if (type == kGlobal) {
            switch (tag) {
                case kReportSize: globals.reportSize = value; break;
                case kReportCount: globals.reportCount = value; break;
                case kReportId:
                    if (value == 0 || value > 255) return Fail(itemOffset, "report id out of range 1-255");
                    globals.reportId = static_cast<std::uint8_t>(value);
                    usesReportIds = true;
                    break;
                case kPush:
                    if (stackDepth == kMaxGlobalStack) return Fail(itemOffset, "push nested too deep");
                    stack[stackDepth++] = globals;
                    break;
                case kPop:
                    if (stackDepth == 0) return Fail(itemOffset, "pop without push");
                    globals = stack[--stackDepth];
                    break;
                default: break;  // usage page, logical/physical ranges, units
            }
            continue;
        }
        if (type != kMain) continue;  // local items (usages) and reserved items carry no lengths

        int kind = -1;
        switch (tag) {
            case kInput: kind = kInputKind; break;
            case kOutput: kind = kOutputKind; break;
            case kFeature: kind = kFeatureKind; break;
            case kCollection:
                if (collectionDepth == kMaxCollectionDepth) return Fail(itemOffset, "collections nested too deep");
                ++collectionDepth;
                break;
            case kEndCollection:
                if (collectionDepth == 0) return Fail(itemOffset, "end collection without collection");
                --collectionDepth;
                break;
            default: break;
        }
        if (kind < 0) continue;
        const std::uint64_t fieldBits = static_cast<std::uint64_t>(globals.reportSize) * globals.reportCount;
        if (fieldBits > kMaxReportBits) return Fail(itemOffset, "report field longer than 16384 bytes");
        std::uint64_t& total = bits[static_cast<std::size_t>(kind)][globals.reportId];
        total += fieldBits;
        if (total > kMaxReportBits) return Fail(itemOffset, "report longer than 16384 bytes");
        if (globals.reportId == 0 && fieldBits > 0 && unframedItemOffset == SIZE_MAX)
            unframedItemOffset = itemOffset;
    }

    if (collectionDepth != 0) return Fail(d.size(), "collection not closed");
    // With report ids in use, data outside any id cannot be framed by the host.
    if (usesReportIds && unframedItemOffset != SIZE_MAX)
        return Fail(unframedItemOffset, "report data declared before the first report id");

    ReportDescriptorParse result;
    result.ok = true;
    result.capabilities.usesReportIds = usesReportIds;
    std::uint16_t* lengths[kKinds] = {&result.capabilities.inputReportByteLength,
                                      &result.capabilities.outputReportByteLength,
                                      &result.capabilities.featureReportByteLength};
    for (std::size_t kind = 0; kind < kKinds; ++kind) {
        const std::uint64_t longest = *std::max_element(bits[kind].begin(), bits[kind].end());
        *lengths[kind] = ByteLength(longest);
    }
    return result;
}

}  // namespace ovra
