// ovractl --device mic against the microphone model over umockdev hidraw,
// through our ITECCTdll.so.

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/module/DlModuleLoader.h"
#include "sim/mic/MicrophoneModel.h"
#include "sim/umockdev/UmockdevHidHost.h"
#include "tools/ovractl/MicFamilyProvider.h"
#include "tools/ovractl/Ovractl.h"

namespace ovra {
namespace {

std::string BinFolder() {
    const char* folder = std::getenv("OVRA_BIN_DIR");
    return folder != nullptr ? folder : DlModuleLoader::ProgramFolder() + "/../bin";
}

struct Result {
    int code;
    std::string out, err;
};

Result RunOvractl(ovractl::FamilyProvider& provider, std::vector<std::string> args) {
    std::ostringstream out, err;
    ovractl::FamilyProvider* providers[] = {&provider};
    const int code = ovractl::Run(args, providers, out, err);
    return {code, out.str(), err.str()};
}

TEST(MicFamilyCommand, SetsAndReadsTheMicrophone) {
    ASSERT_TRUE(sim::UmockdevHidHost::InMockEnvironment());
    sim::UmockdevHidHost host;
    auto model = std::make_shared<sim::MicrophoneModel>();
    DlModuleLoader loader(BinFolder());
    RecordingDebugLog log;
    {
        ovractl::MicFamilyProvider provider(loader, log);
        EXPECT_EQ(RunOvractl(provider, {"--device", "mic", "list"}).code, 3);
    }
    host.AddDevice(model);
    ovractl::MicFamilyProvider provider(loader, log);
    const auto list = RunOvractl(provider, {"--device", "mic", "list"});
    EXPECT_EQ(list.out, "MK470 0b05:1842 ITECCTdll.so\n");

    EXPECT_EQ(RunOvractl(provider, {"--device", "mic", "set", "strobing", "00FF00"}).code, 0);
    EXPECT_EQ(RunOvractl(provider, {"--device", "mic", "frame", "9"}).code, 0);
    EXPECT_EQ(RunOvractl(provider, {"--device", "mic", "get"}).out,
              "effect=colorcycle color=00FF00 mode=3 frame=9\n");
    EXPECT_EQ(RunOvractl(provider, {"--device", "mic", "off"}).code, 0);
    EXPECT_EQ(RunOvractl(provider, {"--device", "mic", "get"}).out, "color=00FF00 mode=4 frame=9\n");

    model->SetFault(sim::MicFault::NoAnswer);
    EXPECT_EQ(RunOvractl(provider, {"--device", "mic", "get"}).code, 1);
}

}  // namespace
}  // namespace ovra
