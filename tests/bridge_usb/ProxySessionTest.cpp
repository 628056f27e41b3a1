// The proxy checks every request before it touches a device: a table of
// malformed frames, records and URBs, each answered with its error (and, when
// the URB was readable, a status in it), none reaching the device.

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/proxy/ProxyWire.h"
#include "proxy/ProxySession.h"
#include "tests/bridge_usb/ModelUsbBackend.h"

namespace ovra::proxy {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Record(RecordForm form, const KvProxyRequest& r) {
    Bytes b(RequestSize(form));
    EncodeRequest(r, form, b);
    return b;
}

Bytes StatusReadUrb(RecordForm form, std::uint32_t length = 8) {
    ControlUrb u;
    u.function = kUrbFunctionVendorDevice;
    u.transferFlags = kTransferDirectionIn;
    u.transferBufferLength = length;
    u.transferBuffer = 0x1000;
    u.requestType = 0xC0;
    u.request = 0x07;
    u.value = 3;
    Bytes b(UrbSize(form));
    EncodeUrb(u, form, b);
    return b;
}

class ProxySessionTest : public ::testing::Test {
protected:
    // Opens the audio-control interface; the context it was given.
    std::uint64_t OpenDevice(ProxySession& s, RecordForm form = RecordForm::Bits64) {
        KvProxyRequest r;
        r.interfaceHandle = MakeInterfaceHandle(1, 2, 0);
        const Bytes rec = Record(form, r);
        const auto answer = s.Handle(EncodeRequestFrame(kIoctlOpenDeviceByHandle, static_cast<std::uint32_t>(rec.size()), rec, {}, {}));
        const auto a = DecodeAnswerFrame(answer);
        EXPECT_TRUE(a && a->error == ProxyError::Ok);
        return a && a->output.size() == rec.size() ? Le64(a->output, ContextOffset(form)) : 0;
    }
    Bytes SendFrame(std::uint64_t context, RecordForm form, const Bytes& urb, const Bytes& data,
                    std::uint32_t timeout = 5000) {
        KvProxyRequest r;
        r.deviceContext = context;
        r.urbAddress = 0x2000;
        r.timeoutMs = timeout;
        return EncodeRequestFrame(kIoctlSendUrb, 0, Record(form, r), urb, data);
    }

    sim::BridgeChipModel model;
    test::ModelUsbBackend backend{model, 1, 2};
    RecordingDebugLog log;
    ProxySession session{backend, log, std::chrono::milliseconds(5000)};
};

TEST_F(ProxySessionTest, WellFormedRequestsInBothFormsRunOnTheDevice) {
    for (RecordForm form : {RecordForm::Bits64, RecordForm::Bits32}) {
        const std::uint64_t context = OpenDevice(session, form);
        ASSERT_NE(context, 0u);
        const auto answer = session.Handle(SendFrame(context, form, StatusReadUrb(form), Bytes(8)));
        const auto a = DecodeAnswerFrame(answer);
        ASSERT_TRUE(a);
        EXPECT_EQ(a->error, ProxyError::Ok);
        ASSERT_EQ(a->urb.size(), UrbSize(form));
        const auto urb = DecodeUrb(a->urb, form);
        EXPECT_EQ(urb->status, kUsbdStatusSuccess);
        EXPECT_EQ(urb->transferBufferLength, 8u);
        EXPECT_EQ(Bytes(a->data.begin(), a->data.end()), Bytes({'V', 'E', 'L', 'T', 'R', 'I', 'X', 0}));
    }
    EXPECT_EQ(session.OpenContexts(), 2u);
}

struct BadCase {
    const char* name;
    std::function<Bytes(std::uint64_t context)> frame;
    ProxyError error;
    std::optional<std::uint32_t> urbStatus;  // when the URB comes back with a status
};

TEST_F(ProxySessionTest, MalformedRequestsAreAnsweredWithAnErrorAndNeverReachTheDevice) {
    const auto f64 = RecordForm::Bits64;
    auto withUrb = [this, f64](std::function<void(Bytes&)> change, Bytes data = Bytes(8)) {
        return [this, f64, change, data](std::uint64_t c) {
            Bytes urb = StatusReadUrb(f64);
            change(urb);
            return SendFrame(c, f64, urb, data);
        };
    };
    const std::vector<BadCase> cases = {
        {"short frame", [](std::uint64_t) { return Bytes(10); }, ProxyError::InvalidParameter, {}},
        {"bad magic", [this](std::uint64_t c) { auto f = SendFrame(c, RecordForm::Bits64, StatusReadUrb(RecordForm::Bits64), Bytes(8)); f[0] ^= 1; return f; },
         ProxyError::InvalidParameter, {}},
        {"lengths do not add up", [this](std::uint64_t c) { auto f = SendFrame(c, RecordForm::Bits64, StatusReadUrb(RecordForm::Bits64), Bytes(8)); f.push_back(0); return f; },
         ProxyError::InvalidParameter, {}},
        {"unknown control code", [](std::uint64_t c) {
             KvProxyRequest r; r.deviceContext = c;
             return EncodeRequestFrame(0x220050, 0, Record(RecordForm::Bits64, r), {}, {}); },
         ProxyError::InvalidFunction, {}},
        {"record of 28 bytes", [](std::uint64_t) { return EncodeRequestFrame(kIoctlCloseDevice, 0, Bytes(28), {}, {}); },
         ProxyError::InvalidParameter, {}},
        {"reserved field set", [](std::uint64_t c) {
             KvProxyRequest r; r.deviceContext = c; r.reserved = 1;
             return EncodeRequestFrame(kIoctlCloseDevice, 0, Record(RecordForm::Bits64, r), {}, {}); },
         ProxyError::InvalidParameter, {}},
        {"open of a number that is no interface handle", [](std::uint64_t) {
             KvProxyRequest r; r.interfaceHandle = 0x1234;
             return EncodeRequestFrame(kIoctlOpenDeviceByHandle, 32, Record(RecordForm::Bits64, r), {}, {}); },
         ProxyError::InvalidHandle, {}},
        {"open without room for the answer", [](std::uint64_t) {
             KvProxyRequest r; r.interfaceHandle = MakeInterfaceHandle(1, 2, 0);
             return EncodeRequestFrame(kIoctlOpenDeviceByHandle, 16, Record(RecordForm::Bits64, r), {}, {}); },
         ProxyError::InsufficientBuffer, {}},
        {"open of the streaming interface", [](std::uint64_t) {
             KvProxyRequest r; r.interfaceHandle = MakeInterfaceHandle(1, 2, 1);
             return EncodeRequestFrame(kIoctlOpenDeviceByHandle, 32, Record(RecordForm::Bits64, r), {}, {}); },
         ProxyError::InvalidParameter, {}},
        {"close of a context never issued", [](std::uint64_t c) {
             KvProxyRequest r; r.deviceContext = c ^ 0x5A5A;
             return EncodeRequestFrame(kIoctlCloseDevice, 0, Record(RecordForm::Bits64, r), {}, {}); },
         ProxyError::InvalidHandle, {}},
        {"URB on a context never issued", [this](std::uint64_t c) { return SendFrame(c + 1, RecordForm::Bits64, StatusReadUrb(RecordForm::Bits64), Bytes(8)); },
         ProxyError::InvalidHandle, kUsbdStatusInvalidParameter},
        {"URB of the 32-bit size with a 64-bit record", [this](std::uint64_t c) { return SendFrame(c, RecordForm::Bits64, StatusReadUrb(RecordForm::Bits32), Bytes(8)); },
         ProxyError::InvalidParameter, {}},
        {"Hdr.Length lies", withUrb([](Bytes& u) { PutLe16(u, 0, 80); }), ProxyError::InvalidParameter, {}},
        {"bulk transfer function", withUrb([](Bytes& u) { PutLe16(u, 2, 0x0009); }),
         ProxyError::InvalidParameter, kUsbdStatusInvalidUrbFunction},
        {"length beyond the data carried", withUrb([](Bytes& u) { PutLe32(u, 36, 9); }),
         ProxyError::InvalidParameter, kUsbdStatusInvalidParameter},
        // a frame that large is refused whole
        {"length above 16 bits", withUrb([](Bytes& u) { PutLe32(u, 36, 0x10000); }, Bytes(0x10000)),
         ProxyError::InvalidParameter, {}},
        {"data stage without a buffer", withUrb([](Bytes& u) { PutLe64(u, 40, 0); }),
         ProxyError::InvalidParameter, kUsbdStatusInvalidParameter},
        {"transfer MDL set", withUrb([](Bytes& u) { PutLe64(u, 48, 0xDEAD); }),
         ProxyError::InvalidParameter, kUsbdStatusInvalidParameter},
        {"linked URB", withUrb([](Bytes& u) { PutLe64(u, 56, 0xBEEF); }),
         ProxyError::InvalidParameter, kUsbdStatusInvalidParameter},
        {"unknown transfer flags", withUrb([](Bytes& u) { PutLe32(u, 32, 0x81); }),
         ProxyError::InvalidParameter, kUsbdStatusInvalidParameter},
        {"class request to another interface", withUrb([](Bytes& u) {
             PutLe16(u, 2, kUrbFunctionClassInterface); PutLe16(u, 132, 0x0601); }),
         ProxyError::InvalidParameter, kUsbdStatusInvalidParameter},
        {"32-bit record without a time-out", [this](std::uint64_t c) {
             return SendFrame(c, RecordForm::Bits32, StatusReadUrb(RecordForm::Bits32), Bytes(8), 0); },
         ProxyError::InvalidParameter, kUsbdStatusInvalidParameter},
    };
    const std::uint64_t context = OpenDevice(session);
    model.ClearRequests();
    for (const BadCase& c : cases) {
        const auto answer = session.Handle(c.frame(context));
        const auto a = DecodeAnswerFrame(answer);
        ASSERT_TRUE(a) << c.name;
        EXPECT_EQ(a->error, c.error) << c.name;
        EXPECT_TRUE(a->output.empty()) << c.name;
        EXPECT_TRUE(a->data.empty()) << c.name;
        if (c.urbStatus) {
            ASSERT_FALSE(a->urb.empty()) << c.name;
            EXPECT_EQ(Le32(a->urb, 4), *c.urbStatus) << c.name;
        }
    }
    EXPECT_TRUE(model.Requests().empty());
    EXPECT_EQ(session.OpenContexts(), 1u);
}

TEST_F(ProxySessionTest, ContextsAreValidOnlyOnTheConnectionThatOpenedThem) {
    ProxySession other(backend, log, std::chrono::milliseconds(5000));
    const std::uint64_t mine = OpenDevice(session);
    const auto a = DecodeAnswerFrame(other.Handle(SendFrame(mine, RecordForm::Bits64, StatusReadUrb(RecordForm::Bits64), Bytes(8))));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->error, ProxyError::InvalidHandle);

    KvProxyRequest r;
    r.deviceContext = mine;
    const auto closed = DecodeAnswerFrame(session.Handle(
        EncodeRequestFrame(kIoctlCloseDevice, 0, Record(RecordForm::Bits64, r), {}, {})));
    EXPECT_EQ(closed->error, ProxyError::Ok);
    const auto again = DecodeAnswerFrame(session.Handle(
        EncodeRequestFrame(kIoctlCloseDevice, 0, Record(RecordForm::Bits64, r), {}, {})));
    EXPECT_EQ(again->error, ProxyError::InvalidHandle);  // a closed context is gone
}

TEST_F(ProxySessionTest, AVendorReadMarkedAsOutInTheFieldStillReadsByItsDirectionFlag) {
    // The library's one-byte read 0x06 puts 0x40 in the request-type field
    // with the direction "in": the direction flag decides.
    const std::uint64_t context = OpenDevice(session);
    ControlUrb u;
    u.function = kUrbFunctionVendorDevice;
    u.transferFlags = kTransferDirectionIn;
    u.transferBufferLength = 1;
    u.transferBuffer = 0x1000;
    u.requestType = 0x40;
    u.request = 0x06;
    Bytes urb(kUrbSize64);
    EncodeUrb(u, RecordForm::Bits64, urb);
    model.ClearRequests();
    const auto a = DecodeAnswerFrame(session.Handle(SendFrame(context, RecordForm::Bits64, urb, Bytes(1))));
    EXPECT_EQ(a->error, ProxyError::Ok);
    ASSERT_EQ(model.Requests().size(), 1u);
    EXPECT_EQ(model.Requests()[0].bmRequestType, 0xC0);
}

}  // namespace
}  // namespace ovra::proxy
