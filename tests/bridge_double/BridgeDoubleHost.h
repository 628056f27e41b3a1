#pragma once
// The test side of the bridge-library double: which bridge devices are
// "attached" (their I2C devices are the sim models), and the record of every
// call the double received. A test gives each loaded copy a host through the
// copy's BridgeDouble_Attach export.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/i2c_devices/BridgeHeadsetModels.h"

namespace ovra::testing {

struct BridgeDoubleHost {
    // Attached bridge devices in the system's list order.
    std::vector<sim::I2cBusDevices*> devices;
    // Set to make every transfer fail as if the device had gone.
    bool unplugged = false;

    void Record(std::string call) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(call));
    }
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }
    void ClearCalls() {
        std::lock_guard lock(mutex);
        calls.clear();
    }

    std::mutex mutex;
    std::vector<std::string> calls;
};

}  // namespace ovra::testing

extern "C" {
using BridgeDoubleAttachFn = void(ovra::testing::BridgeDoubleHost* host);
// The copy's own state, to show that two copies never share it.
using BridgeDoubleOpenHandleFn = unsigned();
}
