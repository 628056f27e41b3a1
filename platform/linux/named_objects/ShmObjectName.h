#pragma once
// Maps an object name as the programs use it ("Global\ledsettingdataevent",
// "waitsyncevent_main", ...) to a POSIX shared-memory name. Every user and
// every namespace tag gets names of its own; characters that shm names cannot
// carry ('/' and anything unusual) are escaped, so two different object names
// never share one shm object, and over-long names are shortened with a hash.

#include <string>
#include <string_view>

namespace ovra {

// `namespaceTag` separates independent runs (tests, several desktops of one
// user); empty for the normal case. The result starts with '/', contains no
// other '/', and is at most 200 characters long.
std::string ShmObjectName(std::string_view objectName, std::string_view namespaceTag,
                          unsigned userId);

// The namespace tag of this process: $OVRA_IPC_NAMESPACE, or empty.
std::string IpcNamespaceFromEnvironment();

}  // namespace ovra
