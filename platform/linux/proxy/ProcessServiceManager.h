#pragma once
// The service manager on Linux: a "service" is a registered program that is
// started as a detached process of this user and tracked by a pid record
// (with the process start time, so a reused pid is not mistaken for it).
// Registrations and pid records live in the user's private folder. Start
// checks the image first (a private regular file of this user, in a private
// folder, carrying the version note of a program with the service's name)
// and executes exactly the file it checked; it returns once the program
// reports ready.

#include <chrono>
#include <string>

#include "platform/ServiceManager.h"
#include "platform/linux/proxy/LinuxPrivateFolder.h"

namespace ovra::proxy {

class ProcessServiceManager final : public ServiceManager {
public:
    // `mayManage` false acts like a caller without the right to change
    // services (Connect fails).
    explicit ProcessServiceManager(LinuxPrivateFolder& folder, bool mayManage = true,
                                   std::chrono::milliseconds readyTimeout = std::chrono::seconds(5));

    ServiceError Connect() override;
    ServiceError Exists(std::string_view name) override;
    ServiceError Create(const ServiceDefinition& definition) override;
    ServiceError Delete(std::string_view name) override;
    ServiceError Start(std::string_view name) override;
    ServiceError Stop(std::string_view name) override;
    ServiceError Query(std::string_view name, ServiceState& state) override;

    // The pid of the running program, 0 when it does not run.
    int RunningPid(std::string_view name);

private:
    bool ReadRegistration(std::string_view name, std::string& image);

    LinuxPrivateFolder& folder_;
    bool mayManage_;
    std::chrono::milliseconds readyTimeout_;
};

}  // namespace ovra::proxy
