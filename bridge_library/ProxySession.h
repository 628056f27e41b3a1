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
};

}  // namespace ovra::brx
