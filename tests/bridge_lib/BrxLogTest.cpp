#include "bridge_library/BrxLog.h"

#include <gtest/gtest.h>

#include "platform/fake/RecordingDebugLog.h"

namespace ovra::brx {
namespace {

TEST(BrxLog, StripsTrailingBlanksAndEndsInCrLf) {
    RecordingDebugLog sink;
    BrxLog log(sink);
    log.Line("KvProxy_Open hDev=%08X\n", 0x1234u);
    log.Line("a b \t \r\n\n");
    log.Line("   ");
    EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"KvProxy_Open hDev=00001234\r\n", "a b\r\n", "\r\n"}));
}

TEST(BrxLog, CutsTextAt4093Characters) {
    RecordingDebugLog sink;
    BrxLog log(sink);
    const std::string longText(5000, 'x');
    log.Line("%s", longText.c_str());
    ASSERT_EQ(sink.Texts().size(), 1u);
    EXPECT_EQ(sink.Texts()[0], std::string(4093, 'x') + "\r\n");
}

}  // namespace
}  // namespace ovra::brx

namespace ovra::brx {
namespace {

TEST(BrxLog, PlainWritersGetTheSameFraming) {
    RecordingDebugLog sink;
    FramedDebugLog framed(sink);
    framed.Printf("UsbVendorRequest failed, UrbStatus %08X\n", 0xC0000004u);
    framed.Write("100% done  ");
    EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"UsbVendorRequest failed, UrbStatus C0000004\r\n",
                                                      "100% done\r\n"}));
}

}  // namespace
}  // namespace ovra::brx
