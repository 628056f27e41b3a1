#pragma once
// Both copies of the bridge-library double loaded from the test program's own
// folder, each with a host that sees the Gen2Mid and TV520 headset models.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device_access/BridgeBinding.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/module/DlModuleLoader.h"
#include "sim/i2c_devices/BridgeHeadsetModels.h"
#include "tests/bridge_double/BridgeDoubleHost.h"

namespace ovra::testing {

using Calls = std::vector<std::string>;

inline void Attach(const BridgeBinding& binding, BridgeDoubleHost& host) {
    auto* attach = BindExport<BridgeDoubleAttachFn>(binding.LoadedModule(), "BridgeDouble_Attach");
    ASSERT_NE(attach, nullptr);
    attach(&host);
}

inline unsigned OpenHandleOf(const BridgeBinding& binding) {
    auto* handle =
        BindExport<BridgeDoubleOpenHandleFn>(binding.LoadedModule(), "BridgeDouble_OpenHandle");
    return handle != nullptr ? handle() : 0;
}

struct BridgeFixture {
    explicit BridgeFixture(std::string folder = DlModuleLoader::ProgramFolder())
        : loader(std::move(folder)) {
        plainHost.devices = {&gen2mid, &tv520};
        eneHost.devices = {&gen2mid, &tv520};
        plain = BridgeBinding::Load(loader, kPlainBridgeLibrary, false, log);
        ene = BridgeBinding::Load(loader, kEneBridgeLibrary, true, log);
        if (plain->Loaded()) Attach(*plain, plainHost);
        if (ene->Loaded()) Attach(*ene, eneHost);
    }

    DlModuleLoader loader;
    RecordingDebugLog log;
    ManualClock clock;
    sim::Gen2MidHeadsetModel gen2mid;
    sim::Tv520HeadsetModel tv520;
    BridgeDoubleHost plainHost;
    BridgeDoubleHost eneHost;
    std::unique_ptr<BridgeBinding> plain;
    std::unique_ptr<BridgeBinding> ene;
};

}  // namespace ovra::testing
