// The KvProxyRequest and URB wire layouts, byte for byte, in both forms.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/ProxyRecords.h"

namespace ovra::proxy {
namespace {

TEST(ProxyRecordsTest, ControlCodesAreTheBufferedUnknownDeviceCodes) {
    // CTL_CODE(FILE_DEVICE_UNKNOWN = 0x22, function, METHOD_BUFFERED, FILE_ANY_ACCESS)
    auto ctl = [](std::uint32_t function) { return (0x22u << 16) | (function << 2); };
    EXPECT_EQ(kIoctlCloseDevice, ctl(0x11));
    EXPECT_EQ(kIoctlSendUrb, ctl(0x12));
    EXPECT_EQ(kIoctlOpenDeviceByHandle, ctl(0x13));
}

TEST(ProxyRecordsTest, RequestFormsLayOutEveryFieldAtItsOffset) {
    KvProxyRequest r;
    r.interfaceHandle = 0x42010203;
    r.deviceContext = 0x1122334455667788;
    r.urbAddress = 0x0A0B0C0D;
    r.timeoutMs = 5000;

    std::array<std::uint8_t, kRequestSize32> small{};
    EncodeRequest(r, RecordForm::Bits32, small);
    const std::array<std::uint8_t, 24> expected32{
        0, 0, 0, 0,  0x03, 0x02, 0x01, 0x42,  0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,
        0x0D, 0x0C, 0x0B, 0x0A,  0x88, 0x13, 0, 0};
    EXPECT_EQ(small, expected32);

    std::array<std::uint8_t, kRequestSize64> large{};
    EncodeRequest(r, RecordForm::Bits64, large);
    const std::array<std::uint8_t, 32> expected64{
        0, 0, 0, 0, 0, 0, 0, 0,  0x03, 0x02, 0x01, 0x42, 0, 0, 0, 0,
        0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,  0x0D, 0x0C, 0x0B, 0x0A, 0, 0, 0, 0};
    EXPECT_EQ(large, expected64);  // no time-out in the 64-bit form

    auto back32 = DecodeRequest(small);
    ASSERT_TRUE(back32);
    EXPECT_EQ(back32->deviceContext, r.deviceContext);
    EXPECT_EQ(back32->timeoutMs, 5000u);
    auto back64 = DecodeRequest(large);
    ASSERT_TRUE(back64);
    EXPECT_EQ(back64->urbAddress, r.urbAddress);
    EXPECT_EQ(back64->timeoutMs, 0u);
    EXPECT_EQ(ContextOffset(RecordForm::Bits32), 8u);
    EXPECT_EQ(ContextOffset(RecordForm::Bits64), 16u);
}

TEST(ProxyRecordsTest, RecordsOfAnyOtherSizeAreRejected) {
    for (std::size_t size : {0u, 8u, 23u, 25u, 31u, 33u, 64u}) {
        std::vector<std::uint8_t> bytes(size);
        EXPECT_FALSE(DecodeRequest(bytes)) << size;
    }
}

TEST(ProxyRecordsTest, FitsFormRefusesAddressesAbove32BitsForTheSmallForm) {
    KvProxyRequest r;
    r.urbAddress = 0x1'0000'0000;
    EXPECT_FALSE(FitsForm(r, RecordForm::Bits32));
    EXPECT_TRUE(FitsForm(r, RecordForm::Bits64));
}

// A vendor request and a descriptor request in both layouts, field offsets as
// the kernel structures have them.
struct UrbCase {
    RecordForm form;
    std::size_t size, flags, length, buffer, tail;
};

TEST(ProxyRecordsTest, UrbLayoutsMatchTheKernelStructures) {
    for (const UrbCase& c : {UrbCase{RecordForm::Bits32, 80, 20, 24, 28, 72},
                             UrbCase{RecordForm::Bits64, 136, 32, 36, 40, 128}}) {
        ControlUrb u;
        u.function = kUrbFunctionVendorDevice;
        u.transferFlags = kTransferDirectionIn;
        u.transferBufferLength = 8;
        u.transferBuffer = 0x12345678;
        u.requestType = 0xC0;
        u.request = 0x07;
        u.value = 0x0102;
        u.index = 0x0304;
        std::vector<std::uint8_t> bytes(UrbSize(c.form), 0xEE);
        EncodeUrb(u, c.form, bytes);
        ASSERT_EQ(bytes.size(), c.size);
        EXPECT_EQ(Le16(bytes, 0), c.size);
        EXPECT_EQ(Le16(bytes, 2), 0x0017);
        EXPECT_EQ(Le32(bytes, c.flags), 1u);
        EXPECT_EQ(Le32(bytes, c.length), 8u);
        EXPECT_EQ(Le32(bytes, c.buffer), 0x12345678u);
        EXPECT_EQ(bytes[c.tail], 0xC0);
        EXPECT_EQ(bytes[c.tail + 1], 0x07);
        EXPECT_EQ(Le16(bytes, c.tail + 2), 0x0102);
        EXPECT_EQ(Le16(bytes, c.tail + 4), 0x0304);
        EXPECT_EQ(Le16(bytes, c.tail + 6), 0);

        ControlUrb d;
        d.function = kUrbFunctionGetDescriptorFromDevice;
        d.transferBufferLength = 18;
        d.descriptorType = 1;
        EncodeUrb(d, c.form, bytes);
        EXPECT_EQ(Le16(bytes, 2), 0x000B);
        EXPECT_EQ(bytes[c.tail + 2], 0);  // Index
        EXPECT_EQ(bytes[c.tail + 3], 1);  // DescriptorType
        EXPECT_EQ(Le32(bytes, c.length), 18u);

        auto back = DecodeUrb(bytes, c.form);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->descriptorType, 1);
        EXPECT_EQ(back->transferFlags, kTransferDirectionIn);

        WriteUrbResult(bytes, c.form, kUsbdStatusStallPid, 3);
        EXPECT_EQ(Le32(bytes, 4), kUsbdStatusStallPid);
        EXPECT_EQ(Le32(bytes, c.length), 3u);
    }
}

TEST(ProxyRecordsTest, UrbWithWrongLengthOrSizeIsRejected) {
    std::vector<std::uint8_t> bytes(136);
    ControlUrb u;
    u.function = kUrbFunctionClassInterface;
    EncodeUrb(u, RecordForm::Bits64, bytes);
    EXPECT_TRUE(DecodeUrb(bytes, RecordForm::Bits64));
    EXPECT_FALSE(DecodeUrb(bytes, RecordForm::Bits32));  // size differs
    PutLe16(bytes, 0, 80);
    EXPECT_FALSE(DecodeUrb(bytes, RecordForm::Bits64));  // Hdr.Length lies
    bytes.resize(135);
    EXPECT_FALSE(DecodeUrb(bytes, RecordForm::Bits64));
}

TEST(ProxyRecordsTest, InterfaceHandleNamesBusAddressAndInterface) {
    const std::uint32_t h = MakeInterfaceHandle(3, 17, 2);
    auto l = DecodeInterfaceHandle(h);
    ASSERT_TRUE(l);
    EXPECT_EQ(l->bus, 3);
    EXPECT_EQ(l->address, 17);
    EXPECT_EQ(l->interfaceNumber, 2);
    EXPECT_FALSE(DecodeInterfaceHandle(0x00030102));            // no tag
    EXPECT_FALSE(DecodeInterfaceHandle(0x1'4203'1102ull));       // above 32 bits
    EXPECT_FALSE(DecodeInterfaceHandle(MakeInterfaceHandle(0, 1, 0)));  // bus 0 does not exist
}

}  // namespace
}  // namespace ovra::proxy
