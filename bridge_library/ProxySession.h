#pragma once
// The library's hold on the proxy for the time between initialise and
// uninitialise: installing or updating the proxy, counting this process as a
// user, and opening the proxy's control channel (and the reverse).

namespace ovra::brx {

class ProxySession {
public:
    virtual ~ProxySession() = default;
    // 1 = the control channel is open (also when it already was), 0 = failed.
    virtual bool Initialize() = 0;
    virtual void Release() = 0;
    // Called while initialised before a device is opened: when the proxy
    // went away under an open channel (it was stopped or ended), open a new
    // channel, starting the proxy again when needed. False when none could
    // be opened.
    virtual bool Reestablish() { return true; }
};

}  // namespace ovra::brx
