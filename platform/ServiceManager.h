#pragma once
// Port: the service manager as the bridge library's installer uses it:
// register, start, stop, query and delete a demand-start service whose image
// is a program file. On Linux (platform/linux/proxy/) a "service" is the
// registered program started as a detached process of the same user and
// tracked through a registration record in the user's private runtime folder.

#include <cstdint>
#include <string>
#include <string_view>

namespace ovra {

// Closed set of failures; the numbers are the error codes the installer logs
// ("Fail to start service %d").
enum class ServiceError : std::uint32_t {
    Ok = 0,
    FileNotFound = 2,               // the image file is missing
    AccessDenied = 5,               // may not manage services, or an unsafe image/folder
    GenFailure = 31,                // any other failure
    BadImage = 193,                 // the image is not a proxy program we can start
    RequestTimeout = 1053,          // the program did not report ready in time
    AlreadyRunning = 1056,
    DoesNotExist = 1060,
    NotActive = 1062,               // stop asked of a service that is not running
    Exists = 1073,                  // create of a name that is registered
};

enum class ServiceState {
    Stopped,
    Running,
};

struct ServiceDefinition {
    std::string name;         // "KvsUpx"
    std::string displayName;  // "KvsUpx Driver"
    std::string imagePath;    // the installed program
};

class ServiceManager {
public:
    virtual ~ServiceManager() = default;

    // Whether this caller may change services (opening the manager with full
    // access). AccessDenied when not; the library then uses whatever proxy
    // already runs.
    virtual ServiceError Connect() = 0;

    // Ok when the service is registered, DoesNotExist when not.
    virtual ServiceError Exists(std::string_view name) = 0;
    virtual ServiceError Create(const ServiceDefinition& definition) = 0;
    virtual ServiceError Delete(std::string_view name) = 0;

    // Starts the registered image after checking it (a regular file of this
    // user that nobody else may write, carrying the proxy's version note);
    // returns once the program is ready to take requests.
    virtual ServiceError Start(std::string_view name) = 0;
    // Asks the program to end and waits a bounded time for it.
    virtual ServiceError Stop(std::string_view name) = 0;
    virtual ServiceError Query(std::string_view name, ServiceState& state) = 0;
};

}  // namespace ovra
