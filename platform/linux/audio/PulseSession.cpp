#include "platform/linux/audio/PulseSession.h"

#include "platform/linux/audio/PulseStream.h"

namespace ovra::pulse {

namespace {

struct Deadline {
    pa_threaded_mainloop* loop;
    bool expired = false;
};

void OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
    auto* deadline = static_cast<Deadline*>(data);
    deadline->expired = true;
    pa_threaded_mainloop_signal(deadline->loop, 0);
}

struct ServerInfoResult {
    explicit ServerInfoResult(pa_threaded_mainloop* l) : loop(l) {}
    pa_threaded_mainloop* loop;
    std::string defaultSink;
};

struct SinkInfoResult {
    explicit SinkInfoResult(pa_threaded_mainloop* l) : loop(l) {}
    pa_threaded_mainloop* loop;
    bool found = false;
    std::string name, monitor;
    pa_sample_spec sampleSpec{};
    pa_channel_map map{};
};

struct SuccessResult {
    pa_threaded_mainloop* loop;
    bool success = false;
};

}  // namespace

PulseSession::PulseSession(std::chrono::milliseconds serverTimeout, std::chrono::milliseconds fragment)
    : serverTimeout_(serverTimeout), fragment_(fragment) {}

PulseSession::~PulseSession() {
    if (context_) {
        if (loopRunning_) pa_threaded_mainloop_lock(loop_);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);  // cancels every pending operation
        pa_context_unref(context_);
        if (loopRunning_) pa_threaded_mainloop_unlock(loop_);
    }
    if (loop_) {
        if (loopRunning_) pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }
}

void PulseSession::OnContextState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseSession*>(self)->loop_, 0);
}

LoopbackStatus PulseSession::LastError(LoopbackStatus fallback) const {
    if (!context_) return fallback;
    switch (pa_context_errno(context_)) {
        case PA_ERR_CONNECTIONREFUSED:
        case PA_ERR_CONNECTIONTERMINATED:
        case PA_ERR_ACCESS:
        case PA_ERR_INVALIDSERVER:
            return LoopbackStatus::ServerUnavailable;
        case PA_ERR_NOENTITY:
        case PA_ERR_KILLED:
            return LoopbackStatus::DeviceInvalidated;
        case PA_ERR_NOTSUPPORTED:
            return LoopbackStatus::UnsupportedFormat;
        case PA_ERR_TIMEOUT:
            return LoopbackStatus::TimedOut;
        default:
            return fallback;
    }
}

LoopbackStatus PulseSession::WaitLocked(const std::function<bool()>& done) {
    Deadline deadline{loop_};
    const pa_usec_t usec = static_cast<pa_usec_t>(serverTimeout_.count()) * PA_USEC_PER_MSEC;
    pa_time_event* timer = pa_context_rttime_new(context_, pa_rtclock_now() + usec, OnDeadline, &deadline);
    if (!timer) return LoopbackStatus::OutOfMemory;
    while (!done() && !deadline.expired && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
        pa_threaded_mainloop_wait(loop_);
    pa_threaded_mainloop_get_api(loop_)->time_free(timer);
    if (done()) return LoopbackStatus::Ok;
    if (deadline.expired) return LoopbackStatus::TimedOut;
    return LastError(LoopbackStatus::ServerUnavailable);
}

LoopbackStatus PulseSession::WaitForOperation(pa_operation* operation) {
    if (!operation) return LastError(LoopbackStatus::Failed);
    const LoopbackStatus status =
        WaitLocked([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    // Its callback points at the caller's stack: it must never run later.
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
    const bool finished = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    if (status != LoopbackStatus::Ok) return status;
    return finished ? LoopbackStatus::Ok : LastError(LoopbackStatus::ServerUnavailable);
}

LoopbackStatus PulseSession::Connect() {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) return LoopbackStatus::OutOfMemory;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "ovra music capture");
    if (!context_) return LoopbackStatus::OutOfMemory;
    pa_context_set_state_callback(context_, OnContextState, this);
    // No autospawn: a desktop's sound server is already running (or socket
    // activated); without one there is no playback device to follow.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return LastError(LoopbackStatus::ServerUnavailable);
    if (pa_threaded_mainloop_start(loop_) < 0) return LoopbackStatus::Failed;
    loopRunning_ = true;

    LoopLock lock(loop_);
    const LoopbackStatus status = WaitLocked([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; });
    if (status == LoopbackStatus::Ok) return status;
    return status == LoopbackStatus::TimedOut ? status : LoopbackStatus::ServerUnavailable;
}

void PulseSession::OnServerEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t, void* self) {
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SERVER) return;
    // The event does not say what changed: ask for the default sink.
    if (pa_operation* op = pa_context_get_server_info(context, OnServerInfoForWatch, self)) pa_operation_unref(op);
}

void PulseSession::OnServerInfoForWatch(pa_context*, const pa_server_info* info, void* data) {
    auto* self = static_cast<PulseSession*>(data);
    if (!info || !self->found_ || !self->onDefaultChanged_) return;
    const std::string current = info->default_sink_name ? info->default_sink_name : "";
    if (current != self->sinkName_) self->onDefaultChanged_();
}

LoopbackStatus PulseSession::WatchDefaultDevice(std::function<void()> onDefaultChanged) {
    LoopLock lock(loop_);
    onDefaultChanged_ = std::move(onDefaultChanged);
    pa_context_set_subscribe_callback(context_, OnServerEvent, this);
    SuccessResult result{loop_};
    pa_operation* op = pa_context_subscribe(
        context_, PA_SUBSCRIPTION_MASK_SERVER,
        [](pa_context*, int success, void* data) {
            auto* r = static_cast<SuccessResult*>(data);
            r->success = success != 0;
            pa_threaded_mainloop_signal(r->loop, 0);
        },
        &result);
    const LoopbackStatus status = WaitForOperation(op);
    if (status == LoopbackStatus::Ok && result.success) return status;
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    onDefaultChanged_ = nullptr;
    return status == LoopbackStatus::Ok ? LoopbackStatus::WatchFailed : status;
}

LoopbackStatus PulseSession::FindDefaultDevice() {
    LoopLock lock(loop_);
    ServerInfoResult server{loop_};
    LoopbackStatus status = WaitForOperation(pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* r = static_cast<ServerInfoResult*>(data);
            if (info && info->default_sink_name) r->defaultSink = info->default_sink_name;
            pa_threaded_mainloop_signal(r->loop, 0);
        },
        &server));
    if (status != LoopbackStatus::Ok) return status;
    if (server.defaultSink.empty()) return LoopbackStatus::NoDefaultDevice;

    SinkInfoResult sink{loop_};
    status = WaitForOperation(pa_context_get_sink_info_by_name(
        context_, server.defaultSink.c_str(),
        [](pa_context*, const pa_sink_info* info, int eol, void* data) {
            auto* r = static_cast<SinkInfoResult*>(data);
            if (eol == 0 && info) {
                r->found = true;
                r->name = info->name ? info->name : "";
                r->monitor = info->monitor_source_name ? info->monitor_source_name : "";
                r->sampleSpec = info->sample_spec;
                r->map = info->channel_map;
            }
            pa_threaded_mainloop_signal(r->loop, 0);
        },
        &sink));
    // A default sink that vanished in between, or one without a monitor, is
    // no device to follow.
    if (status == LoopbackStatus::DeviceInvalidated || (status == LoopbackStatus::Ok && !sink.found) ||
        (status == LoopbackStatus::Ok && sink.monitor.empty()))
        return LoopbackStatus::NoDefaultDevice;
    if (status != LoopbackStatus::Ok) return status;

    sinkName_ = sink.name;
    monitorName_ = sink.monitor;
    sinkSpec_ = sink.sampleSpec;
    sinkMap_ = sink.map;
    found_ = true;
    return LoopbackStatus::Ok;
}

std::string PulseSession::DeviceName() const {
    LoopLock lock(loop_);
    return sinkName_;
}

LoopbackStatus PulseSession::Activate(std::function<void()> wake, std::unique_ptr<LoopbackStream>* stream) {
    std::string monitor;
    pa_sample_spec sampleSpec;
    pa_channel_map map;
    {
        LoopLock lock(loop_);
        if (!found_) return LoopbackStatus::NoDefaultDevice;
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) return LoopbackStatus::DeviceInvalidated;
        monitor = monitorName_;
        sampleSpec = sinkSpec_;
        map = sinkMap_;
    }
    // The mix as float at the sink's own rate and channel count: no
    // resampling or remixing in the server.
    sampleSpec.format = PA_SAMPLE_FLOAT32NE;
    if (!pa_sample_spec_valid(&sampleSpec)) return LoopbackStatus::UnsupportedFormat;
    if (!pa_channel_map_valid(&map) || map.channels != sampleSpec.channels)
        pa_channel_map_init_extend(&map, sampleSpec.channels, PA_CHANNEL_MAP_DEFAULT);
    auto created = std::make_unique<PulseStream>(*this, monitor, sampleSpec, map, fragment_, std::move(wake));
    const LoopbackStatus status = created->Create();
    if (status == LoopbackStatus::Ok) *stream = std::move(created);
    return status;
}

}  // namespace ovra::pulse
