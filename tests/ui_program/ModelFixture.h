#pragma once
// A LightingModel over doubles: scripted device tree, recording device
// links and store, in-process named objects on a manual clock.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/fake/FakeNamedObjects.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/fake/ScriptedDeviceTree.h"
#include "tests/ui_program/UiDoubles.h"
#include "ui_program/core/LightingModel.h"

namespace ovra::test {

inline const std::string kGen2Id = "USB\\VID_0B05&PID_1855\\5&1A2B&0&1";
inline const std::string kGen2AltId = "USB\\VID_0D8C&PID_01AC\\5&1A2B&0&2";
inline const std::string kEntryId = "USB\\VID_0B05&PID_1859\\5&1A2B&0&3";
inline const std::string kMidId = "USB\\VID_0B05&PID_1858\\5&1A2B&0&4";
inline const std::string kTv520Id = "USB\\VID_0B05&PID_1876\\5&1A2B&0&5";
inline const std::string kMicId = "USB\\VID_0B05&PID_1842\\5&1A2B&0&6";

class ModelFixture : public ::testing::Test {
protected:
    void MakeModel() {
        model = std::make_unique<LightingModel>(
            LightingModelDeps{tree, links, store, objects, clock, log, notifier, host});
        ASSERT_TRUE(model->CreateHandshakeEvents());
    }
    // Lists the nodes and runs one discovery pass.
    void Discover(std::initializer_list<std::string> ids) {
        tree.Clear();
        for (const auto& id : ids) tree.Add(id);
        model->DiscoverDevices();
    }
    bool Logged(const std::string& text) const { return log.Contains(text); }
    int LoggedCount(const std::string& text) const {
        const auto texts = log.Texts();
        return static_cast<int>(std::count(texts.begin(), texts.end(), text));
    }
    // Device operations other than the frame-sync thread's frame writes.
    static std::vector<std::string> LightOps(const RecordingDevice& device) {
        std::vector<std::string> ops;
        for (auto& op : device.Ops())
            if (op.rfind("frame", 0) != 0) ops.push_back(op);
        return ops;
    }
    std::vector<FakeNamedObjects::Op> EventOps(const std::string& name) const {
        std::vector<FakeNamedObjects::Op> ops;
        for (auto& r : objects.JournalOf(name))
            if (r.op != FakeNamedObjects::Op::Create) ops.push_back(r.op);
        return ops;
    }

    ManualClock clock;
    RecordingDebugLog log;
    FakeNamedObjects objects{&clock};
    ScriptedDeviceTree tree;
    FakeDeviceLinks links{clock};
    RecordingStore store;
    RecordingNotifier notifier;
    RecordingHost host;
    std::unique_ptr<LightingModel> model;  // last: goes first
};

}  // namespace ovra::test
