// The bridge-chip model from the host's side: what each channel's requests do.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "sim/bridge_chip/BridgeChipModel.h"
#include "sim/bridge_chip/RegisterFileI2cDevice.h"

namespace ovra::sim {
namespace {

class BridgeChipModelTest : public ::testing::Test {
protected:
    BridgeChipModelTest() { model.AttachI2c(0xA4, &headset); }

    TransferResult Xu(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint8_t selector,
                      std::vector<std::uint8_t>& data) {
        SetupPacket s{bmRequestType, bRequest, static_cast<std::uint16_t>(selector << 8),
                      static_cast<std::uint16_t>(6 << 8 | 0), static_cast<std::uint16_t>(data.size())};
        return model.HandleControl(s, data);
    }
    void Command(std::vector<std::uint8_t> block) {
        ASSERT_EQ(Xu(0x21, 0x01, 10, block).status, TransferStatus::Ok);
    }
    std::uint8_t Status() {
        std::vector<std::uint8_t> b(8);
        Xu(0xA1, 0x81, 10, b);
        return b[0];
    }
    TransferResult Vendor(std::uint8_t type, std::uint8_t request, std::uint16_t value,
                          std::uint16_t index, std::vector<std::uint8_t>& data) {
        return model.HandleControl(
            {type, request, value, index, static_cast<std::uint16_t>(data.size())}, data);
    }

    BridgeChipModel model;
    RegisterFileI2cDevice headset;
};

TEST_F(BridgeChipModelTest, ConfigurationCarriesTheExtensionUnitAfterTheFirstInterface) {
    const auto c = model.ConfigurationDescriptor();
    ASSERT_EQ(c[1], 0x02);
    EXPECT_EQ(c[2] | c[3] << 8, static_cast<int>(c.size()));
    // walk: first interface, then class-specific descriptors; the unit is there
    bool found = false;
    std::size_t at = 0;
    for (; at + 1 < c.size() && c[at] >= 2; at += c[at])
        if (c[at + 1] == 0x24 && c[at + 2] == 0x08 && (c[at + 4] | c[at + 5] << 8) == 0x0BDA)
            found = c[at + 3] == 6 && c[at] == 15;
    EXPECT_TRUE(found);
    EXPECT_EQ(at, c.size());  // every bLength adds up to wTotalLength
    EXPECT_EQ(model.SysfsDescriptors().size(), 18 + c.size());
}

TEST_F(BridgeChipModelTest, QualifyAndStatusBlockCarryTheSignature) {
    Command({0x00, 0xD0, 0, 0, 8, 0, 0, 0});
    EXPECT_EQ(Status(), kStsDataIn);
    std::vector<std::uint8_t> data(8);
    ASSERT_EQ(Xu(0xA1, 0x81, 11, data).status, TransferStatus::Ok);
    EXPECT_EQ(std::string(data.begin(), data.end()), std::string("VELTRIX\0", 8));
    EXPECT_EQ(Status(), kStsCmd);

    std::vector<std::uint8_t> piece(8);
    ASSERT_EQ(Vendor(0xC0, 0x07, 3, 0, piece).length, 8u);  // bytes 24-31
    EXPECT_EQ(piece, data);
}

// The programs name their headsets by 8-bit bus address (0x52, 0x5A, 0xCC,
// 0xCE). The extension unit's command block carries that byte as it is; a
// vendor request carries the 7-bit address (the byte >> 1) in wValue. Both
// reach the device attached at the 8-bit address; a wValue that is no 7-bit
// address reaches nobody.
TEST_F(BridgeChipModelTest, BothChannelsNameTheSlaveByTheProgramsAddress) {
    RegisterFileI2cDevice gen2mid;
    model.AttachI2c(0x52, &gen2mid);

    Command({0x00, 0xB2, 0x52, 0x00, 10, 0, 0, 0});
    std::vector<std::uint8_t> header{0, 1, 0x01, 0, 0, 0, 0, 0};
    std::vector<std::uint8_t> data{0x11, 0x22, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(Xu(0x21, 0x01, 11, header).status, TransferStatus::Ok);
    ASSERT_EQ(Xu(0x21, 0x01, 11, data).status, TransferStatus::Ok);
    EXPECT_EQ(gen2mid.Get(0x01), 0x11);
    EXPECT_TRUE(headset.Writes().empty());

    std::vector<std::uint8_t> write{0x03, 0x33};
    ASSERT_EQ(Vendor(0x40, 0x3E, 0x52 >> 1, 0x0100, write).status, TransferStatus::Ok);
    EXPECT_EQ(gen2mid.Get(0x03), 0x33);

    for (std::uint16_t notSevenBit : {0x00A9, 0x0129}) {
        std::vector<std::uint8_t> stray{0x04, 0x44};
        EXPECT_EQ(Vendor(0x40, 0x3E, notSevenBit, 0x0100, stray).status, TransferStatus::Stall);
        std::vector<std::uint8_t> address{0x04};
        EXPECT_EQ(Vendor(0x40, 0x3D, notSevenBit, 0x0100, address).status, TransferStatus::Stall);
    }
    EXPECT_EQ(gen2mid.Get(0x04), 0x00);
    EXPECT_EQ(headset.Get(0x04), 0x00);  // 0xA4 is another device
}

TEST_F(BridgeChipModelTest, VendorSuperRegisterWriteAndReadReachTheSlave) {
    // slave 0xA4 (7-bit 0x52) register 0x00 <- 11 22, as the library sends it
    std::vector<std::uint8_t> write{0x00, 0x11, 0x22};
    ASSERT_EQ(Vendor(0x40, 0x3E, 0x0052, 0x0200, write).status, TransferStatus::Ok);
    EXPECT_EQ(headset.Get(0), 0x11);
    EXPECT_EQ(headset.Get(1), 0x22);

    headset.Set(0x81, 0x5C);
    std::vector<std::uint8_t> address{0x81, 0x00};
    ASSERT_EQ(Vendor(0x40, 0x3D, 0x0052, 0x0100, address).status, TransferStatus::Ok);
    std::vector<std::uint8_t> answer(2);
    ASSERT_EQ(Vendor(0xC0, 0x3D, 0x0052, 0x0100, answer).status, TransferStatus::Ok);
    EXPECT_EQ(answer[0], 0x5C);
    EXPECT_EQ(model.Interleaves(), 0u);
}

TEST_F(BridgeChipModelTest, ExtensionUnitSuperWriteMovesThePacketInPieces) {
    // 8-byte header + 2 data bytes = 10 bytes: two pieces, the second padded
    Command({0x00, 0xB2, 0xA4, 0x00, 10, 0, 0, 0});
    std::vector<std::uint8_t> first{0, 1, 0x04, 0, 0, 0, 0, 0};
    std::vector<std::uint8_t> second{0xAB, 0xCD, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(Xu(0x21, 0x01, 11, first).status, TransferStatus::Ok);
    ASSERT_EQ(Xu(0x21, 0x01, 11, second).status, TransferStatus::Ok);
    EXPECT_EQ(Status(), kStsCmd);
    ASSERT_EQ(headset.Writes().size(), 1u);
    EXPECT_EQ(headset.Writes()[0].subAddress, 0x04u);
    EXPECT_EQ(headset.Writes()[0].data, (std::vector<std::uint8_t>{0xAB, 0xCD}));
}

TEST_F(BridgeChipModelTest, ACommandInsideAnotherCommandsDataPhaseCountsAsInterleaved) {
    Command({0x00, 0xB2, 0xA4, 0x00, 10, 0, 0, 0});
    std::vector<std::uint8_t> first{0, 1, 0x04, 0, 0, 0, 0, 0};
    Xu(0x21, 0x01, 11, first);
    Command({0x00, 0xC2, 0xAF, 0xFF, 1, 0, 0, 0});  // another host's ReadMem
    EXPECT_EQ(model.Interleaves(), 1u);
    EXPECT_TRUE(headset.Writes().empty());
}

TEST_F(BridgeChipModelTest, NakAndUnknownCommandsShowInTheStatus) {
    headset.SetNak(true);
    Command({0x00, 0xF2, 0xA4, 0x00, 1, 0, 0, 0});
    EXPECT_EQ(Status(), kStsHwErr);
    Command({0x00, 0x77, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Status(), kStsUnknownCmd);
    Command({0xFF, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Status(), kStsCmd);
    std::vector<std::uint8_t> nothing(8);
    EXPECT_EQ(Xu(0xA1, 0x81, 11, nothing).status, TransferStatus::Stall);  // no data phase open
}

TEST_F(BridgeChipModelTest, FaultsApplyToTheNextTransfers) {
    std::vector<std::uint8_t> piece(8);
    model.InjectFault(TransferFault::Stall);
    EXPECT_EQ(Vendor(0xC0, 0x07, 0, 0, piece).status, TransferStatus::Stall);
    model.InjectFault(TransferFault::Timeout);
    EXPECT_EQ(Vendor(0xC0, 0x07, 0, 0, piece).status, TransferStatus::Timeout);
    model.InjectFault(TransferFault::Short);
    EXPECT_EQ(Vendor(0xC0, 0x07, 0, 0, piece).length, 4u);
    EXPECT_EQ(Vendor(0xC0, 0x07, 0, 0, piece).length, 8u);
    model.InjectFault(TransferFault::Unplug);
    EXPECT_EQ(Vendor(0xC0, 0x07, 0, 0, piece).status, TransferStatus::Gone);
    EXPECT_EQ(Vendor(0xC0, 0x07, 0, 0, piece).status, TransferStatus::Gone);
    EXPECT_FALSE(model.Plugged());
}

TEST_F(BridgeChipModelTest, VendorMemoryAndCustomerControl) {
    std::vector<std::uint8_t> one{0x0F};
    ASSERT_EQ(Vendor(0x40, 0x24, 0x0000, 0xFFAF, one).status, TransferStatus::Ok);
    EXPECT_EQ(model.Memory(0xFFAF), 0x0F);
    std::vector<std::uint8_t> back(1);
    ASSERT_EQ(Vendor(0xC0, 0x25, 0x0000, 0xFFAF, back).length, 1u);
    EXPECT_EQ(back[0], 0x0F);
    std::vector<std::uint8_t> none;
    ASSERT_EQ(Vendor(0x40, 0x6A, 3, 0, none).status, TransferStatus::Ok);
    EXPECT_EQ(model.CustomerControls(), (std::vector<std::uint16_t>{3}));
}

}  // namespace
}  // namespace ovra::sim
