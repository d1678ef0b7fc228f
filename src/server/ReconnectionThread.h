// The reconnection thread: keeps the pumping manager and the normal manager
// connected and logged in. Each cycle, until the stop flag is set:
//   1. pumping not connected: "ExtManagerPump reconnect start\n", then
//      "ExtManagerPump reconnect\n" and connectPumpingManager every 100 ms
//      until it succeeds ("ExtManagerPump reconnect end\n") or stop is set;
//   2. normal not connected, or connected but Ping fails: the same with
//      "manager reconnect start\n", "manager reconnect\n",
//      connectNormalManager and "manager reconnect end\n";
//   3. a 10 s wait, then the next cycle.
// The lines go to the console. Retries have no limit. The pumping manager
// is always restored before the normal manager.
//
// The cycle's wait is made of 1 s pauses with the stop flag read between
// them, so a stop request ends the thread within about a second (plus any
// server call in progress) instead of up to ten. No link lock is held
// across any pause.
#ifndef MT4BRIDGE_SERVER_RECONNECTION_THREAD_H_
#define MT4BRIDGE_SERVER_RECONNECTION_THREAD_H_

#include <atomic>
#include <thread>

#include "server/ManagerApi.h"
#include "server/ManagerLink.h"

namespace server {

// The pause between connection attempts and the cycle's wait.
constexpr int kReconnectRetryMs = 100;
constexpr int kReconnectCycleMs = 10000;
constexpr int kReconnectCycleSliceMs = 1000;

// The two links the thread keeps alive; both must outlive the thread. The
// thread does nothing when either is null.
struct ManagerLinks {
  ManagerLink* normal = nullptr;
  ManagerLink* pumping = nullptr;
};

// The thread's body: runs cycles on the calling thread until the stop flag
// is found set at the head of a cycle (or after a cycle's wait). handler is
// what the pumping connection is switched to.
void runGetManagerThread(const ManagerLinks& links,
                         mt::PumpingNotifyFunc handler);

// Owns the running thread.
//   start-up:  clearStop() (only if a stop may be left over), then start();
//   shut-down: stop() (sets the stop flag and joins), then the links'
//              disconnect()/release().
// The destructor stops a running thread the same way.
class ReconnectionThread {
 public:
  // links and handler are used by the thread; the links must outlive it.
  ReconnectionThread(const ManagerLinks& links,
                     mt::PumpingNotifyFunc handler);
  ~ReconnectionThread();
  ReconnectionThread(const ReconnectionThread&) = delete;
  ReconnectionThread& operator=(const ReconnectionThread&) = delete;

  // Starts the thread; false when it is already running. Does not touch
  // the stop flag: a stop requested before start() makes the thread end at
  // once.
  bool start();

  // Sets the stop flag and waits for the thread to end (within about a
  // second plus a server call in progress; at once with a pause hook that
  // does not wait). No-op when not running. Not for signal handlers: a
  // handler sets the flag (requestStop()) and the main thread calls stop().
  void stop();

  bool running() const { return thread_.joinable(); }
  // True while the thread is on its cycle (started, and not ended).
  bool alive() const { return thread_.joinable() && !ended_; }

 private:
  const ManagerLinks links_;
  const mt::PumpingNotifyFunc handler_;
  std::thread thread_;
  std::atomic<bool> ended_{false};
};

}  // namespace server

#endif  // MT4BRIDGE_SERVER_RECONNECTION_THREAD_H_
