#pragma once
// What the model asks of the window that shows it: redraws and the
// microphone poll timer. The GTK window binds these to queue_draw and a GLib
// timeout; tests record them.

#include <chrono>

namespace ovra {

class WindowHost {
public:
    virtual ~WindowHost() = default;
    virtual void RequestRedraw() = 0;
    // The 500 ms microphone poll: while started, the window calls
    // LightingModel::OnMicPollTimer every period.
    virtual void StartMicPollTimer(std::chrono::milliseconds period) = 0;
    virtual void StopMicPollTimer() = 0;
};

}  // namespace ovra
