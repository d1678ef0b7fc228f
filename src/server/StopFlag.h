// The process-wide stop flag: set = stop requested. Read before each step
// by the connection routines and the reconnection thread; set by shut-down.
// The flag is a lock-free atomic, so a signal handler may set it.
#ifndef MT4BRIDGE_SERVER_STOP_FLAG_H_
#define MT4BRIDGE_SERVER_STOP_FLAG_H_

#include <atomic>

namespace server {

// The flag itself (clear at process start).
std::atomic<bool>& stopFlag();

inline bool stopRequested() { return stopFlag().load(); }
inline void requestStop() { stopFlag().store(true); }
// Clears the flag; start-up and tests only.
inline void clearStop() { stopFlag().store(false); }

}  // namespace server

#endif  // MT4BRIDGE_SERVER_STOP_FLAG_H_
