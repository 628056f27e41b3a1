#include "platform/linux/audio/PulseLoopback.h"

#include "platform/linux/audio/PulseSession.h"

namespace ovra {

LoopbackStatus PulseLoopback::Connect(std::unique_ptr<LoopbackSession>* session) {
    auto created = std::make_unique<pulse::PulseSession>(serverTimeout_, fragment_);
    const LoopbackStatus status = created->Connect();
    if (status == LoopbackStatus::Ok) *session = std::move(created);
    return status;
}

}  // namespace ovra
