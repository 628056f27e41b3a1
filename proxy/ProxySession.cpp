#include "proxy/ProxySession.h"

#include "platform/linux/proxy/ProxyWire.h"

namespace ovra::proxy {

namespace {
struct OutcomeMapping {
    ProxyError error;
    std::uint32_t status;
};
OutcomeMapping Map(TransferOutcome o) {
    switch (o) {
        case TransferOutcome::Ok: return {ProxyError::Ok, kUsbdStatusSuccess};
        case TransferOutcome::Stall: return {ProxyError::GenFailure, kUsbdStatusStallPid};
        case TransferOutcome::Timeout: return {ProxyError::SemTimeout, kUsbdStatusTimeout};
        case TransferOutcome::Gone: return {ProxyError::DeviceNotConnected, kUsbdStatusDeviceGone};
        case TransferOutcome::Busy: return {ProxyError::Busy, kUsbdStatusDevNotResponding};
        case TransferOutcome::TooLong: return {ProxyError::InvalidParameter, kUsbdStatusInvalidParameter};
        case TransferOutcome::Failed: break;
    }
    return {ProxyError::GenFailure, kUsbdStatusDevNotResponding};
}
std::vector<std::uint8_t> Answer(ProxyError e, std::span<const std::uint8_t> output = {},
                                 std::span<const std::uint8_t> urb = {},
                                 std::span<const std::uint8_t> data = {}) {
    return EncodeAnswerFrame(e, output, urb, data);
}
}  // namespace

ProxySession::ProxySession(UsbBackend& backend, DebugLog& log, std::chrono::milliseconds urbTimeout)
    : backend_(backend), log_(log), urbTimeout_(urbTimeout), random_(std::random_device{}()) {}

std::uint64_t ProxySession::NewContext() {
    // Unpredictable and never 0, so that a client cannot use a context it
    // was not given (contexts are per connection anyway).
    for (;;) {
        const std::uint64_t c = random_();
        if (c != 0 && !contexts_.contains(c)) return c;
    }
}

std::vector<std::uint8_t> ProxySession::Handle(std::span<const std::uint8_t> frame) {
    auto checked = ValidateRequest(frame);
    if (auto* why = std::get_if<Rejection>(&checked)) return Refuse(*why, frame);
    const auto& v = std::get<ValidatedRequest>(checked);
    if (const auto* open = std::get_if<OpenRequest>(&v.request)) return Open(v, *open);
    if (const auto* close = std::get_if<CloseRequest>(&v.request)) return Close(*close);
    return Send(v, std::get<UrbRequest>(v.request));
}

std::vector<std::uint8_t> ProxySession::Refuse(const Rejection& why,
                                               std::span<const std::uint8_t> frame) {
    log_.Printf("KvsUpx: refused a request: %s (error %u)\n", why.reason,
                static_cast<unsigned>(why.error));
    if (why.urbStatus) {
        // The URB was readable: complete it in place with the status.
        const auto f = DecodeRequestFrame(frame);
        const auto form = f ? RequestFormOfSize(f->record.size()) : std::nullopt;
        if (f && form && f->urb.size() == UrbSize(*form)) {
            std::vector<std::uint8_t> urb(f->urb.begin(), f->urb.end());
            WriteUrbResult(urb, *form, *why.urbStatus, 0);
            return Answer(why.error, {}, urb);
        }
    }
    return Answer(why.error);
}

std::vector<std::uint8_t> ProxySession::Open(const ValidatedRequest& v, const OpenRequest& r) {
    if (contexts_.size() >= kMaxContextsPerSession) {
        log_.Printf("KvsUpx: too many open device contexts on one connection\n");
        return Answer(ProxyError::InvalidParameter);
    }
    ProxyError error = ProxyError::Ok;
    auto device = backend_.Open(r.where, error);
    if (!device) {
        log_.Printf("KvsUpx: cannot hold bus %u device %u interface %u: %s\n", r.where.bus,
                    r.where.address, r.where.interfaceNumber, ToString(error));
        return Answer(error == ProxyError::Ok ? ProxyError::GenFailure : error);
    }
    const std::uint64_t context = NewContext();
    contexts_[context] = Held{std::move(device), r.where.interfaceNumber};
    std::vector<std::uint8_t> out(v.record.begin(), v.record.end());
    PutLe64(out, ContextOffset(v.form), context);
    return Answer(ProxyError::Ok, out);
}

std::vector<std::uint8_t> ProxySession::Close(const CloseRequest& r) {
    if (contexts_.erase(r.context) == 0) {
        log_.Printf("KvsUpx: close of a device context this client was not given\n");
        return Answer(ProxyError::InvalidHandle);
    }
    return Answer(ProxyError::Ok);
}

std::vector<std::uint8_t> ProxySession::Send(const ValidatedRequest& v, const UrbRequest& r) {
    std::vector<std::uint8_t> urb(v.urbBytes.begin(), v.urbBytes.end());
    auto fail = [&](ProxyError e, std::uint32_t status, const char* why) {
        log_.Printf("KvsUpx: refused a URB: %s\n", why);
        WriteUrbResult(urb, v.form, status, 0);
        return Answer(e, {}, urb);
    };
    const auto held = contexts_.find(r.context);
    if (held == contexts_.end())
        return fail(ProxyError::InvalidHandle, kUsbdStatusInvalidParameter,
                    "device context this client was not given");
    if (r.urb.function == kUrbFunctionClassInterface &&
        (r.wIndex & 0xFF) != held->second.interfaceNumber)
        return fail(ProxyError::InvalidParameter, kUsbdStatusInvalidParameter,
                    "class request to an interface the client did not open");

    std::vector<std::uint8_t> data(v.data.begin(), v.data.end());
    ControlSetup setup;
    setup.bmRequestType = r.bmRequestType;
    setup.bRequest = r.urb.function == kUrbFunctionGetDescriptorFromDevice ? 0x06 : r.urb.request;
    setup.wValue = r.wValue;
    setup.wIndex = r.wIndex;
    setup.wLength = static_cast<std::uint16_t>(data.size());
    const auto timeout = r.timeoutMs ? std::chrono::milliseconds(r.timeoutMs) : urbTimeout_;
    const TransferResult t = held->second.device->Control(setup, data, timeout);
    const OutcomeMapping m = Map(t.outcome);
    const std::size_t moved = m.error == ProxyError::Ok ? std::min(t.transferred, data.size()) : 0;
    WriteUrbResult(urb, v.form, m.status, static_cast<std::uint32_t>(moved));
    const std::span<const std::uint8_t> back =
        r.in ? std::span<const std::uint8_t>(data.data(), moved) : std::span<const std::uint8_t>();
    return Answer(m.error, {}, urb, back);
}

}  // namespace ovra::proxy
