#pragma once
// Loopback adapter on the sound server's asynchronous client API: records the
// monitor source of the current default sink as 32-bit float frames at the
// sink's rate and channel count, in fragments of `fragment` (10 ms: packets
// then match a 10 ms device period, 480 frames at 48 kHz).
//
// Each session runs its own threaded main loop; callbacks come from that
// loop's thread. Every wait for the server is bounded by `serverTimeout`.

#include <chrono>

#include "platform/AudioLoopback.h"

namespace ovra {

class PulseLoopback final : public AudioLoopback {
public:
    explicit PulseLoopback(std::chrono::milliseconds serverTimeout = std::chrono::seconds(5),
                           std::chrono::milliseconds fragment = std::chrono::milliseconds(10))
        : serverTimeout_(serverTimeout), fragment_(fragment) {}

    LoopbackStatus Connect(std::unique_ptr<LoopbackSession>* session) override;

private:
    std::chrono::milliseconds serverTimeout_;
    std::chrono::milliseconds fragment_;
};

}  // namespace ovra
