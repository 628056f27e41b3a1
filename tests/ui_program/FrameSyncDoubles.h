#pragma once
// Two recording devices seen as a frame-sync pair.

#include <atomic>

#include "tests/ui_program/UiDoubles.h"
#include "ui_program/core/FrameSync.h"

namespace ovra::test {

class DevicePair final : public FrameSyncDevices {
public:
    DevicePair(RecordingDevice& headset, RecordingDevice& mic) : headset_(headset), mic_(mic) {}
    bool Gen2MidConnected() const override { return gen2Mid.load(); }
    LightingEffect CurrentEffect() const override { return effect.load(); }
    std::optional<std::uint8_t> ReadHeadsetFrame() override { return headset_.GetLEDFrame(); }
    void WriteHeadsetFrame(std::uint8_t frame) override { headset_.SetLEDFrame(frame); }
    std::optional<std::uint8_t> ReadMicFrame() override { return mic_.GetLEDFrame(); }
    void WriteMicFrame(std::uint8_t frame) override { mic_.SetLEDFrame(frame); }

    std::atomic<bool> gen2Mid{false};
    std::atomic<LightingEffect> effect{LightingEffect::Breathing};

private:
    RecordingDevice& headset_;
    RecordingDevice& mic_;
};

}  // namespace ovra::test
