// Fuzzes what the proxy does with the bytes a client sends: frame decoding,
// record and URB validation, and the session's handling against the
// bridge-chip model. Byte 0 chooses whether the record's context is replaced
// by one the session issued, so that the URB paths behind the context check
// are reached too.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/proxy/ProxyWire.h"
#include "proxy/ProxySession.h"
#include "tests/bridge_usb/ModelUsbBackend.h"

namespace {

struct Fixture {
    ovra::sim::BridgeChipModel model;
    ovra::test::ModelUsbBackend backend{model, 1, 2};
    ovra::RecordingDebugLog log;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ovra::proxy;
    if (size < 1) return 0;
    static Fixture fixture;
    fixture.log.Clear();
    ProxySession session(fixture.backend, fixture.log, std::chrono::milliseconds(10));

    // Issue one context the normal way.
    KvProxyRequest open;
    open.interfaceHandle = MakeInterfaceHandle(1, 2, 0);
    std::vector<std::uint8_t> record(kRequestSize64);
    EncodeRequest(open, RecordForm::Bits64, record);
    const auto answer = session.Handle(EncodeRequestFrame(kIoctlOpenDeviceByHandle, 32, record, {}, {}));
    const auto a = DecodeAnswerFrame(answer);
    const std::uint64_t context = a && a->output.size() == 32 ? Le64(a->output, 16) : 0;

    std::vector<std::uint8_t> frame(data + 1, data + size);
    if ((data[0] & 1) && frame.size() >= kRequestHeaderSize) {
        const std::uint32_t recordLength = Le32(frame, 8);
        const auto form = RequestFormOfSize(recordLength);
        if (form && frame.size() >= kRequestHeaderSize + recordLength)
            PutLe64(std::span<std::uint8_t>(frame).subspan(kRequestHeaderSize), ContextOffset(*form), context);
    }
    (void)ValidateRequest(frame);
    const auto reply = session.Handle(frame);
    if (!DecodeAnswerFrame(reply)) __builtin_trap();  // every request gets a well-formed answer
    return 0;
}
