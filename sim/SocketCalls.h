// The system calls under sim/Socket.cpp, defined once per system
// (SocketPosix.cpp, SocketWindows.cpp) beside the system parts of Socket.h.
#ifndef MT4BRIDGE_SIM_SOCKET_CALLS_H_
#define MT4BRIDGE_SIM_SOCKET_CALLS_H_

#include <cstddef>

namespace sim::sys {

// Waits until fd can be read (or written); 1 ready, 0 timeout, -1 error or
// fd shut down (shutdownSocket). A negative timeout waits without limit.
int waitFor(int fd, bool forWriting, int timeoutMs);

// What one receive or send did: bytes moved (> 0), the peer closed (0,
// receive only), or an error (-1); retry is set for an error worth
// repeating (interrupted, or would block).
struct Transfer {
  long bytes = -1;
  bool retry = false;
};
Transfer receiveSome(int fd, char* buf, std::size_t n);
// Never blocks and never raises SIGPIPE.
Transfer sendSome(int fd, const char* buf, std::size_t n);

}  // namespace sim::sys

#endif  // MT4BRIDGE_SIM_SOCKET_CALLS_H_
