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
