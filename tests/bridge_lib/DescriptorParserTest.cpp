#include "bridge_library/DescriptorParser.h"

#include <gtest/gtest.h>

#include "bridge_library/DeviceLocator.h"
#include "tests/bridge_lib/DescriptorBytes.h"

namespace ovra::brx {
namespace {

using namespace test;

TEST(DescriptorParser, FindsTheBridgeUnitInTheAudioControlRun) {
    for (std::uint8_t subtype : {0x08, 0x09}) {
        const Bytes config = Configuration({Iad(), Interface(0, 1), AcHeader(), InputTerminal(),
                                            ExtensionUnit(7, 0x1111, subtype),
                                            ExtensionUnit(6, 0x0BDA, subtype), Interface(1, 2)});
        const ExtensionUnitResult r = FindBridgeExtensionUnit(config);
        EXPECT_EQ(r.outcome, ExtensionUnitSearch::Found);
        EXPECT_EQ(r.unitId, 6);
        EXPECT_EQ(r.skippedBeforeInterface, 2u);  // the configuration header and the IAD
    }
}

TEST(DescriptorParser, UnitAfterTheSecondInterfaceIsNotTheBridgeUnit) {
    const Bytes config = Configuration({Interface(0, 1), AcHeader(), Interface(1, 2),
                                        ExtensionUnit(6, 0x0BDA)});
    EXPECT_EQ(FindBridgeExtensionUnit(config).outcome, ExtensionUnitSearch::NoUnit);
    EXPECT_EQ(FindBridgeExtensionUnit(Configuration({Iad()})).outcome, ExtensionUnitSearch::NoInterface);
}

struct MalformedCase {
    const char* name;
    Bytes bytes;
};

class MalformedConfiguration : public ::testing::TestWithParam<MalformedCase> {};

// Every one of these ends the walk without a unit and without reading past
// the buffer (the ASan build checks the latter).
TEST_P(MalformedConfiguration, NeverFindsAUnitNorLoops) {
    const Bytes& bytes = GetParam().bytes;
    const ExtensionUnitResult r = FindBridgeExtensionUnit(bytes);
    EXPECT_NE(r.outcome, ExtensionUnitSearch::Found);
    DescriptorWalker walker(bytes);
    std::size_t steps = 0;
    while (!walker.Next().empty()) ASSERT_LT(++steps, bytes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedConfiguration,
    ::testing::Values(
        MalformedCase{"ZeroLengthBeforeInterface", Concat({ConfigHeader(20), Bytes{0, 0x0B, 0, 0}})},
        MalformedCase{"ZeroLengthInClassRun", Concat({ConfigHeader(40), Interface(0, 1), Bytes{0, 0x24, 8}})},
        MalformedCase{"LengthOne", Concat({ConfigHeader(40), Interface(0, 1), Bytes{1, 0x24}})},
        MalformedCase{"UnitRunsPastTheEnd",
                      Concat({ConfigHeader(40), Interface(0, 1), Bytes{13, 0x24, 0x08, 6, 0xDA, 0x0B}})},
        // Too short to hold wExtensionCode: the bytes after it are not read.
        MalformedCase{"UnitTooShortForItsFields",
                      Concat({ConfigHeader(40), Interface(0, 1), Bytes{5, 0x24, 0x08, 6, 0xDA}, Bytes{0xDA, 0x0B}})},
        // Claims 200 input pins in a 13-byte descriptor.
        MalformedCase{"AbsurdPinCount",
                      Concat({ConfigHeader(40), Interface(0, 1), Bytes{13, 0x24, 0x08, 6, 0xDA, 0x0B, 200, 1, 2, 3, 0, 0, 0}})},
        MalformedCase{"InterfaceCutShort", Concat({ConfigHeader(40), Bytes{9, 0x04, 0}})},
        MalformedCase{"Empty", Bytes{}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(DescriptorParser, DeviceDescriptorAndConfigurationHeaderAreChecked) {
    Bytes device{18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x05, 0x0B, 0x76, 0x18, 0x00, 0x01, 1, 2, 3, 1};
    auto parsed = ParseDeviceDescriptor(device);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->idVendor, 0x0B05);
    EXPECT_EQ(parsed->idProduct, 0x1876);
    EXPECT_EQ(parsed->bcdDevice, 0x0100);
    device[0] = 17;
    EXPECT_FALSE(ParseDeviceDescriptor(device));
    device[0] = 18;
    device[1] = 2;
    EXPECT_FALSE(ParseDeviceDescriptor(device));
    EXPECT_FALSE(ParseDeviceDescriptor(std::span(device).first(17)));

    EXPECT_EQ(ConfigurationTotalLength(ConfigHeader(100)), 100);
    EXPECT_FALSE(ConfigurationTotalLength(ConfigHeader(8)));  // shorter than its own header
    Bytes wrongType = ConfigHeader(100);
    wrongType[1] = 4;
    EXPECT_FALSE(ConfigurationTotalLength(wrongType));
    Bytes shortHeader = ConfigHeader(100);
    shortHeader[0] = 2;
    EXPECT_FALSE(ConfigurationTotalLength(shortHeader));
}

TEST(DescriptorParser, SignatureSitsAtOffset24WithItsZeroByte) {
    std::array<std::uint8_t, 96> status{};
    const char text[] = "VELTRIX";
    std::copy(text, text + 8, status.begin() + 24);
    EXPECT_TRUE(HasBridgeSignature(status));
    status[31] = 'S';
    EXPECT_FALSE(HasBridgeSignature(status));
    EXPECT_FALSE(HasBridgeSignature(std::span(status).first(31)));
}

struct InterfaceIdCase {
    const char* id;
    std::optional<std::uint8_t> number;
    bool valid;
};

TEST(DeviceIds, InterfaceNumberAfterMiIsHexadecimal) {
    const InterfaceIdCase cases[] = {
        {"USB\\VID_0B05&PID_1876&MI_02\\1-1:1.2", 2, true},
        {"USB\\VID_0B05&PID_1876&MI_0A\\x", 10, true},
        {"usb\\vid_0b05&pid_1876&mi_1f\\x", 0x1F, true},
        {"USB\\VID_0B05&PID_1876\\1-1", std::nullopt, true},
        {"USB\\VID_0B05&PID_1876&MI_G1\\x", std::nullopt, false},
        {"USB\\VID_0B05&PID_1876&MI_", std::nullopt, false},
    };
    for (const auto& c : cases) {
        bool valid = true;
        EXPECT_EQ(InterfaceNumberFromId(c.id, &valid), c.number) << c.id;
        EXPECT_EQ(valid, c.valid) << c.id;
    }
}

TEST(DeviceIds, HubClassAndEndOfWalkByName) {
    EXPECT_EQ(HubClassOfId("USB\\ROOT_HUB30\\usb2"), HubClass::Usb3);
    EXPECT_EQ(HubClassOfId("usb\\asmediausbd_hub\\x"), HubClass::Usb3);
    EXPECT_EQ(HubClassOfId("USB\\ROOT_HUB20\\usb1"), HubClass::Usb2);
    EXPECT_EQ(HubClassOfId("USB\\VID_05E3&PID_0608\\1-1"), HubClass::Other);
    EXPECT_TRUE(IsEndOfWalk("USB\\ROOT_HUB\\usb3"));
    EXPECT_TRUE(IsEndOfWalk("USB\\ROOT_HUB20\\usb1"));
    EXPECT_TRUE(IsEndOfWalk("VMUSB\\HUB\\x"));
    EXPECT_FALSE(IsEndOfWalk("USB\\VID_05E3&PID_0608\\1-1"));
}

}  // namespace
}  // namespace ovra::brx
