#pragma once
// Abstract-namespace Unix sockets (SOCK_SEQPACKET) of one user: names that
// need no file, vanish with their owner, and whose peers are identified by
// the kernel (SO_PEERCRED).

#include <string>
#include <sys/types.h>

namespace ovra::proxy {

// A listening socket bound to the abstract `name`; -1 with errno set
// (EADDRINUSE: somebody serves the name already).
int ListenAbstract(const std::string& name);
// A connected socket; -1 with errno set (ECONNREFUSED: nobody serves it).
int ConnectAbstract(const std::string& name);
// The user id of the process on the other end; false when unknown.
bool PeerUid(int fd, uid_t& uid);

}  // namespace ovra::proxy
