#pragma once
// Test double: a device tree that tests script. Plug/Unplug change the list
// and queue the change notices a real tree would send to every watcher.

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/DeviceTree.h"

namespace ovra {

class ScriptedDeviceTree final : public DeviceTree {
public:
    bool ListPresentDevices(std::vector<DeviceNode>& nodes) override {
        std::lock_guard lock(state_->mutex);
        ++state_->listCount;
        if (state_->listFails) return false;
        nodes = state_->nodes;
        return true;
    }

    std::unique_ptr<DeviceChangeSource> WatchChanges() override {
        std::lock_guard lock(state_->mutex);
        if (state_->watchFails) return nullptr;
        auto source = std::make_unique<Source>(state_);
        state_->queues.push_back(source->queue);
        return source;
    }

    // Adds a node (a nullopt id models one whose ID cannot be read) without notice.
    void Add(std::optional<std::string> id, DeviceNodeStatus status = DeviceNodeStatus::Started) {
        std::lock_guard lock(state_->mutex);
        state_->nodes.push_back({std::move(id), {}, status, {}});
    }
    void Plug(const std::string& id) {
        Add(id);
        Notify(DeviceChangeCode::Arrival, id);
        Notify(DeviceChangeCode::TreeChanged, id);
    }
    void Unplug(const std::string& id) {
        {
            std::lock_guard lock(state_->mutex);
            std::erase_if(state_->nodes, [&](const DeviceNode& n) { return n.instanceId == id; });
        }
        Notify(DeviceChangeCode::RemoveComplete, id);
        Notify(DeviceChangeCode::TreeChanged, id);
    }
    void Notify(DeviceChangeCode code, const std::string& id) {
        std::lock_guard lock(state_->mutex);
        for (auto& weak : state_->queues)
            if (auto queue = weak.lock()) queue->push_back({code, id});
    }
    void Clear() {
        std::lock_guard lock(state_->mutex);
        state_->nodes.clear();
    }
    void SetListFails(bool fails) {
        std::lock_guard lock(state_->mutex);
        state_->listFails = fails;
    }
    void SetWatchFails(bool fails) {
        std::lock_guard lock(state_->mutex);
        state_->watchFails = fails;
    }
    int ListCount() const {
        std::lock_guard lock(state_->mutex);
        return state_->listCount;
    }

private:
    using Queue = std::vector<DeviceChange>;
    struct State {
        mutable std::mutex mutex;
        std::vector<DeviceNode> nodes;
        std::vector<std::weak_ptr<Queue>> queues;
        bool listFails = false;
        bool watchFails = false;
        int listCount = 0;
    };

    class Source final : public DeviceChangeSource {
    public:
        explicit Source(std::shared_ptr<State> state) : state_(std::move(state)) {}
        int PollFd() const override { return -1; }
        std::vector<DeviceChange> TakeChanges() override {
            std::lock_guard lock(state_->mutex);
            return std::exchange(*queue, {});
        }
        std::shared_ptr<Queue> queue = std::make_shared<Queue>();

    private:
        std::shared_ptr<State> state_;
    };

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace ovra
