#pragma once
// Wire format between the bridge library and its USB proxy "KvsUpx": the three
// control codes, the KvProxyRequest record and the two control-transfer URB
// structures, each in its 32-bit and its 64-bit pointer-width form. Both sides
// include this header; every field is read and written byte by byte in
// little-endian order, so no struct padding or host byte order leaks into the
// wire. The 64-bit forms are the ones in use (the library runs as a 64-bit
// process); the 32-bit forms are kept complete because the proxy must accept
// and validate both.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace ovra::proxy {

// ---- control codes (METHOD_BUFFERED, FILE_DEVICE_UNKNOWN, any access) ----
inline constexpr std::uint32_t kIoctlCloseDevice = 0x220044;         // in: record with context
inline constexpr std::uint32_t kIoctlSendUrb = 0x220048;             // in: record with context + URB
inline constexpr std::uint32_t kIoctlOpenDeviceByHandle = 0x22004C;  // in/out: record

// The name the library opens; the Linux channel adapter maps it to a socket.
inline constexpr char kControlChannelName[] = "\\\\.\\KvsUpx";
inline constexpr char kServiceName[] = "KvsUpx";
inline constexpr char kServiceDisplayName[] = "KvsUpx Driver";

enum class RecordForm { Bits32, Bits64 };

// ---- little-endian field access ----
inline std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline std::uint64_t Le64(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint64_t>(Le32(b, at)) |
           (static_cast<std::uint64_t>(Le32(b, at + 4)) << 32);
}
inline void PutLe16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLe32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutLe64(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) {
    PutLe32(b, at, static_cast<std::uint32_t>(v));
    PutLe32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

// ---- KvProxyRequest ----
//   32-bit form (24 bytes): 0 reserved(4), 4 interface handle(4), 8 context(8),
//                           16 URB address(4), 20 URB time-out ms(4)
//   64-bit form (32 bytes): 0 reserved(8), 8 interface handle(8), 16 context(8),
//                           24 URB address(8); no time-out
inline constexpr std::size_t kRequestSize32 = 24;
inline constexpr std::size_t kRequestSize64 = 32;

struct KvProxyRequest {
    std::uint64_t reserved = 0;
    std::uint64_t interfaceHandle = 0;
    std::uint64_t deviceContext = 0;
    std::uint64_t urbAddress = 0;
    std::uint32_t timeoutMs = 0;  // 32-bit form only
};

inline constexpr std::size_t RequestSize(RecordForm form) {
    return form == RecordForm::Bits32 ? kRequestSize32 : kRequestSize64;
}

// The form a record of this size has, if any.
inline std::optional<RecordForm> RequestFormOfSize(std::size_t size) {
    if (size == kRequestSize32) return RecordForm::Bits32;
    if (size == kRequestSize64) return RecordForm::Bits64;
    return std::nullopt;
}

// Writes the record; `out` must hold RequestSize(form) bytes. Fields that do
// not fit the 32-bit form are cut to their low 32 bits (callers check first
// with FitsForm).
inline void EncodeRequest(const KvProxyRequest& r, RecordForm form, std::span<std::uint8_t> out) {
    if (form == RecordForm::Bits32) {
        PutLe32(out, 0, static_cast<std::uint32_t>(r.reserved));
        PutLe32(out, 4, static_cast<std::uint32_t>(r.interfaceHandle));
        PutLe64(out, 8, r.deviceContext);
        PutLe32(out, 16, static_cast<std::uint32_t>(r.urbAddress));
        PutLe32(out, 20, r.timeoutMs);
    } else {
        PutLe64(out, 0, r.reserved);
        PutLe64(out, 8, r.interfaceHandle);
        PutLe64(out, 16, r.deviceContext);
        PutLe64(out, 24, r.urbAddress);
    }
}

inline bool FitsForm(const KvProxyRequest& r, RecordForm form) {
    if (form == RecordForm::Bits64) return true;
    return r.reserved <= 0xFFFFFFFFu && r.interfaceHandle <= 0xFFFFFFFFu &&
           r.urbAddress <= 0xFFFFFFFFu;
}

// Reads a record; nullopt when `in` has the size of neither form.
inline std::optional<KvProxyRequest> DecodeRequest(std::span<const std::uint8_t> in) {
    const auto form = RequestFormOfSize(in.size());
    if (!form) return std::nullopt;
    KvProxyRequest r;
    if (*form == RecordForm::Bits32) {
        r.reserved = Le32(in, 0);
        r.interfaceHandle = Le32(in, 4);
        r.deviceContext = Le64(in, 8);
        r.urbAddress = Le32(in, 16);
        r.timeoutMs = Le32(in, 20);
    } else {
        r.reserved = Le64(in, 0);
        r.interfaceHandle = Le64(in, 8);
        r.deviceContext = Le64(in, 16);
        r.urbAddress = Le64(in, 24);
    }
    return r;
}

// Offset of the device context inside a record of the form: where open
// leaves it.
inline constexpr std::size_t ContextOffset(RecordForm form) {
    return form == RecordForm::Bits32 ? 8 : 16;
}

// ---- the interface handle ----
// The library hands the proxy an "interface handle" that names the USB
// interface it opened. On Linux there is no kernel object to share, so the
// handle names the interface by where it sits: bus number, device address and
// interface number, tagged so that a stray number is not mistaken for one.
// Bits 31-24 hold the tag 0x42, 23-16 the bus, 15-8 the address, 7-0 the
// interface number.
inline constexpr std::uint32_t kInterfaceHandleTag = 0x42;

inline constexpr std::uint32_t MakeInterfaceHandle(std::uint8_t bus, std::uint8_t address,
                                                   std::uint8_t interfaceNumber) {
    return (kInterfaceHandleTag << 24) | (static_cast<std::uint32_t>(bus) << 16) |
           (static_cast<std::uint32_t>(address) << 8) | interfaceNumber;
}

struct InterfaceLocation {
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    std::uint8_t interfaceNumber = 0;
};

// Nullopt for a number that is not such a handle.
inline std::optional<InterfaceLocation> DecodeInterfaceHandle(std::uint64_t handle) {
    if (handle > 0xFFFFFFFFu || (handle >> 24) != kInterfaceHandleTag) return std::nullopt;
    InterfaceLocation l;
    l.bus = static_cast<std::uint8_t>(handle >> 16);
    l.address = static_cast<std::uint8_t>(handle >> 8);
    l.interfaceNumber = static_cast<std::uint8_t>(handle);
    if (l.bus == 0 || l.address == 0) return std::nullopt;
    return l;
}

// ---- URBs ----
// Control-transfer URBs in the kernel's pointer-width layout, zero-filled,
// Hdr.Length = layout size, no MDL, no linked URB.
inline constexpr std::size_t kUrbSize32 = 80;
inline constexpr std::size_t kUrbSize64 = 136;

inline constexpr std::uint16_t kUrbFunctionGetDescriptorFromDevice = 0x000B;
inline constexpr std::uint16_t kUrbFunctionVendorDevice = 0x0017;
inline constexpr std::uint16_t kUrbFunctionClassInterface = 0x001B;

inline constexpr std::uint32_t kTransferDirectionIn = 0x1;  // USBD_TRANSFER_DIRECTION_IN
inline constexpr std::uint32_t kShortTransferOk = 0x2;      // USBD_SHORT_TRANSFER_OK

// Hdr.Status values (USBD_STATUS) the proxy leaves in the URB.
inline constexpr std::uint32_t kUsbdStatusSuccess = 0x00000000;
inline constexpr std::uint32_t kUsbdStatusStallPid = 0xC0000004;
inline constexpr std::uint32_t kUsbdStatusDevNotResponding = 0xC0000005;
inline constexpr std::uint32_t kUsbdStatusBufferOverrun = 0xC000000C;
inline constexpr std::uint32_t kUsbdStatusTimeout = 0xC0006000;
inline constexpr std::uint32_t kUsbdStatusDeviceGone = 0xC0007000;
inline constexpr std::uint32_t kUsbdStatusInvalidUrbFunction = 0x80000200;
inline constexpr std::uint32_t kUsbdStatusInvalidParameter = 0x80000300;

// Field offsets of both structures in one form. The descriptor request and
// the vendor/class request share everything up to the control fields.
struct UrbLayout {
    std::size_t size;
    std::size_t hdrLength = 0;       // USHORT
    std::size_t hdrFunction = 2;     // USHORT
    std::size_t hdrStatus = 4;       // LONG (USBD_STATUS)
    std::size_t transferFlags;       // ULONG (Reserved0 in the descriptor request)
    std::size_t transferBufferLength;  // ULONG
    std::size_t transferBuffer;      // PVOID
    std::size_t pointerWidth;
    std::size_t transferBufferMdl;   // PVOID, must be null
    std::size_t urbLink;             // PVOID, must be null
    // _URB_CONTROL_DESCRIPTOR_REQUEST tail
    std::size_t descIndex;           // UCHAR
    std::size_t descType;            // UCHAR
    std::size_t descLanguageId;      // USHORT
    // _URB_CONTROL_VENDOR_OR_CLASS_REQUEST tail
    std::size_t requestType;         // UCHAR RequestTypeReservedBits
    std::size_t request;             // UCHAR
    std::size_t value;               // USHORT
    std::size_t index;               // USHORT
};

// 32-bit: _URB_HEADER 16 bytes, Reserved PVOID @16, flags @20, length @24,
// buffer @28, MDL @32, UrbLink @36, hca (8 pointers) @40..71, tail @72.
inline constexpr UrbLayout kUrbLayout32{kUrbSize32, 0, 2, 4, 20, 24, 28, 4, 32, 36,
                                        74, 75, 76, 72, 73, 74, 76};
// 64-bit: _URB_HEADER 24 bytes, Reserved PVOID @24, flags @32, length @36,
// buffer @40, MDL @48, UrbLink @56, hca (8 pointers) @64..127, tail @128.
inline constexpr UrbLayout kUrbLayout64{kUrbSize64, 0, 2, 4, 32, 36, 40, 8, 48, 56,
                                        130, 131, 132, 128, 129, 130, 132};

inline constexpr const UrbLayout& LayoutOf(RecordForm form) {
    return form == RecordForm::Bits32 ? kUrbLayout32 : kUrbLayout64;
}
inline constexpr std::size_t UrbSize(RecordForm form) { return LayoutOf(form).size; }

// The fields of a control-transfer URB that matter, independent of form.
struct ControlUrb {
    std::uint16_t function = 0;
    std::uint32_t status = 0;
    std::uint32_t transferFlags = 0;
    std::uint32_t transferBufferLength = 0;
    std::uint64_t transferBuffer = 0;  // the caller's address of the data stage
    std::uint64_t transferBufferMdl = 0;
    std::uint64_t urbLink = 0;
    // descriptor request
    std::uint8_t descriptorIndex = 0;
    std::uint8_t descriptorType = 0;
    std::uint16_t languageId = 0;
    // vendor or class request
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
};

inline std::uint64_t ReadPointer(std::span<const std::uint8_t> b, std::size_t at, std::size_t width) {
    return width == 4 ? Le32(b, at) : Le64(b, at);
}
inline void WritePointer(std::span<std::uint8_t> b, std::size_t at, std::size_t width,
                         std::uint64_t v) {
    if (width == 4)
        PutLe32(b, at, static_cast<std::uint32_t>(v));
    else
        PutLe64(b, at, v);
}

// Zero-fills `out` (UrbSize(form) bytes) and writes the URB with Hdr.Length.
inline void EncodeUrb(const ControlUrb& u, RecordForm form, std::span<std::uint8_t> out) {
    const UrbLayout& l = LayoutOf(form);
    for (std::size_t i = 0; i < l.size; ++i) out[i] = 0;
    PutLe16(out, l.hdrLength, static_cast<std::uint16_t>(l.size));
    PutLe16(out, l.hdrFunction, u.function);
    PutLe32(out, l.hdrStatus, u.status);
    PutLe32(out, l.transferBufferLength, u.transferBufferLength);
    WritePointer(out, l.transferBuffer, l.pointerWidth, u.transferBuffer);
    WritePointer(out, l.transferBufferMdl, l.pointerWidth, u.transferBufferMdl);
    WritePointer(out, l.urbLink, l.pointerWidth, u.urbLink);
    if (u.function == kUrbFunctionGetDescriptorFromDevice) {
        out[l.descIndex] = u.descriptorIndex;
        out[l.descType] = u.descriptorType;
        PutLe16(out, l.descLanguageId, u.languageId);
    } else {
        PutLe32(out, l.transferFlags, u.transferFlags);
        out[l.requestType] = u.requestType;
        out[l.request] = u.request;
        PutLe16(out, l.value, u.value);
        PutLe16(out, l.index, u.index);
    }
}

// Reads the URB fields; nullopt when `in` is not exactly the layout size of
// the form or Hdr.Length disagrees with it. The function code is not judged
// here (the proxy does that and answers with a status).
inline std::optional<ControlUrb> DecodeUrb(std::span<const std::uint8_t> in, RecordForm form) {
    const UrbLayout& l = LayoutOf(form);
    if (in.size() != l.size || Le16(in, l.hdrLength) != l.size) return std::nullopt;
    ControlUrb u;
    u.function = Le16(in, l.hdrFunction);
    u.status = Le32(in, l.hdrStatus);
    u.transferBufferLength = Le32(in, l.transferBufferLength);
    u.transferBuffer = ReadPointer(in, l.transferBuffer, l.pointerWidth);
    u.transferBufferMdl = ReadPointer(in, l.transferBufferMdl, l.pointerWidth);
    u.urbLink = ReadPointer(in, l.urbLink, l.pointerWidth);
    if (u.function == kUrbFunctionGetDescriptorFromDevice) {
        u.descriptorIndex = in[l.descIndex];
        u.descriptorType = in[l.descType];
        u.languageId = Le16(in, l.descLanguageId);
        u.transferFlags = kTransferDirectionIn;  // a descriptor read always comes in
    } else {
        u.transferFlags = Le32(in, l.transferFlags);
        u.requestType = in[l.requestType];
        u.request = in[l.request];
        u.value = Le16(in, l.value);
        u.index = Le16(in, l.index);
    }
    return u;
}

// What the proxy writes back into the caller's URB after the transfer.
inline void WriteUrbResult(std::span<std::uint8_t> urb, RecordForm form, std::uint32_t status,
                           std::uint32_t transferred) {
    const UrbLayout& l = LayoutOf(form);
    PutLe32(urb, l.hdrStatus, status);
    PutLe32(urb, l.transferBufferLength, transferred);
}

// The largest data stage of one control transfer (wLength is 16 bits).
inline constexpr std::uint32_t kMaxTransferLength = 0xFFFF;

}  // namespace ovra::proxy
