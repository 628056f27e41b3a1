#include "proxy/RequestValidator.h"

#include "platform/linux/proxy/ProxyWire.h"

namespace ovra::proxy {

namespace {
Rejection Reject(ProxyError e, const char* reason, std::optional<std::uint32_t> status = {}) {
    return Rejection{e, status, reason};
}
}  // namespace

std::variant<ValidatedRequest, Rejection> ValidateRequest(std::span<const std::uint8_t> frame) {
    const auto f = DecodeRequestFrame(frame);
    if (!f) return Reject(ProxyError::InvalidParameter, "malformed frame");
    if (f->code != kIoctlOpenDeviceByHandle && f->code != kIoctlCloseDevice &&
        f->code != kIoctlSendUrb)
        return Reject(ProxyError::InvalidFunction, "unknown control code");
    const auto form = RequestFormOfSize(f->record.size());
    if (!form) return Reject(ProxyError::InvalidParameter, "record size");
    const KvProxyRequest r = *DecodeRequest(f->record);
    if (r.reserved != 0) return Reject(ProxyError::InvalidParameter, "reserved field set");

    ValidatedRequest v;
    v.code = f->code;
    v.form = *form;
    v.record = f->record;
    v.urbBytes = f->urb;
    v.data = f->data;

    if (f->code != kIoctlSendUrb && (!f->urb.empty() || !f->data.empty()))
        return Reject(ProxyError::InvalidParameter, "URB with a request that takes none");

    if (f->code == kIoctlOpenDeviceByHandle) {
        if (f->outputCapacity < f->record.size())
            return Reject(ProxyError::InsufficientBuffer, "no room for the answer record");
        if (r.deviceContext != 0 || r.urbAddress != 0 || r.timeoutMs != 0)
            return Reject(ProxyError::InvalidParameter, "open record with other fields set");
        const auto where = DecodeInterfaceHandle(r.interfaceHandle);
        if (!where) return Reject(ProxyError::InvalidHandle, "not an interface handle");
        v.request = OpenRequest{*where};
        return v;
    }
    if (r.interfaceHandle != 0) return Reject(ProxyError::InvalidParameter, "handle on a device request");
    if (r.deviceContext == 0) return Reject(ProxyError::InvalidHandle, "no device context");
    if (f->code == kIoctlCloseDevice) {
        if (r.urbAddress != 0 || r.timeoutMs != 0)
            return Reject(ProxyError::InvalidParameter, "close record with other fields set");
        v.request = CloseRequest{r.deviceContext};
        return v;
    }

    // kIoctlSendUrb
    const auto urb = DecodeUrb(f->urb, *form);
    if (!urb) return Reject(ProxyError::InvalidParameter, "URB size or Hdr.Length");
    if (urb->transferBufferMdl != 0 || urb->urbLink != 0)
        return Reject(ProxyError::InvalidParameter, "URB with MDL or link", kUsbdStatusInvalidParameter);
    if (urb->transferBufferLength > kMaxTransferLength || urb->transferBufferLength != f->data.size())
        return Reject(ProxyError::InvalidParameter, "transfer length beyond the buffer carried",
                      kUsbdStatusInvalidParameter);
    if (urb->transferBufferLength > 0 && urb->transferBuffer == 0)
        return Reject(ProxyError::InvalidParameter, "data stage without a buffer",
                      kUsbdStatusInvalidParameter);
    if ((urb->transferFlags & ~(kTransferDirectionIn | kShortTransferOk)) != 0)
        return Reject(ProxyError::InvalidParameter, "unknown transfer flags", kUsbdStatusInvalidParameter);

    UrbRequest u;
    u.context = r.deviceContext;
    u.urb = *urb;
    u.in = (urb->transferFlags & kTransferDirectionIn) != 0;
    u.timeoutMs = *form == RecordForm::Bits32 ? r.timeoutMs : 0;
    if (*form == RecordForm::Bits32 && (r.timeoutMs == 0 || r.timeoutMs > 60000))
        return Reject(ProxyError::InvalidParameter, "time-out out of range", kUsbdStatusInvalidParameter);
    switch (urb->function) {
        case kUrbFunctionGetDescriptorFromDevice:
            if (urb->descriptorType < 1 || urb->descriptorType > 3)
                return Reject(ProxyError::InvalidParameter, "descriptor type", kUsbdStatusInvalidParameter);
            u.bmRequestType = 0x80;
            u.wValue = static_cast<std::uint16_t>(urb->descriptorType << 8 | urb->descriptorIndex);
            u.wIndex = urb->languageId;
            u.in = true;
            break;
        case kUrbFunctionVendorDevice:
            // The stack builds bmRequestType from the function and the
            // direction flag; the library's field may say 0x40 for a read.
            u.bmRequestType = static_cast<std::uint8_t>(0x40 | (u.in ? 0x80 : 0));
            u.wValue = urb->value;
            u.wIndex = urb->index;
            break;
        case kUrbFunctionClassInterface:
            u.bmRequestType = static_cast<std::uint8_t>(0x21 | (u.in ? 0x80 : 0));
            u.wValue = urb->value;
            u.wIndex = urb->index;
            break;
        default:
            return Reject(ProxyError::InvalidParameter, "URB function", kUsbdStatusInvalidUrbFunction);
    }
    v.request = u;
    return v;
}

}  // namespace ovra::proxy
