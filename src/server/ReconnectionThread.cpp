#include "server/ReconnectionThread.h"

#include "server/Connections.h"
#include "server/StopFlag.h"
#include "util/Console.h"
#include "util/Metrics.h"
#include "util/Pause.h"

namespace server {
namespace {

bool isConnected(ManagerLink& link) {
  return link.call(0, [](mt::CManagerInterface& m) {
           return m.IsConnected();
         }) != 0;
}

// Ping nonzero means the link is dead.
bool pingFails(ManagerLink& link) {
  return link.call(1, [](mt::CManagerInterface& m) { return m.Ping(); }) != 0;
}

// Retries connect every kReconnectRetryMs until it succeeds or stop is set.
// False when it ended because of the stop flag. link: its name in the
// metrics; restored: it was connected before, and is counted once it is
// again.
template <typename Connect>
bool reconnect(const char* link, bool restored, const char* startLine,
               const char* attemptLine, const char* endLine, Connect&& connect) {
  metrics::managerConnected(link, false);
  util::consolePrint("%s", startLine);
  while (!stopRequested()) {
    util::consolePrint("%s", attemptLine);
    if (!stopRequested() && connect() > 0) {
      util::consolePrint("%s", endLine);
      if (restored) metrics::managerReconnected(link);
      return true;
    }
    util::pauseMs(kReconnectRetryMs);
  }
  return false;
}

// The cycle's wait, in slices so that a stop request is seen promptly.
void waitCycle() {
  for (int waited = 0; waited < kReconnectCycleMs && !stopRequested();
       waited += kReconnectCycleSliceMs) {
    util::pauseMs(kReconnectCycleSliceMs);
  }
}

}  // namespace

void runGetManagerThread(const ManagerLinks& links,
                         mt::PumpingNotifyFunc handler) {
  if (links.normal == nullptr || links.pumping == nullptr) return;
  ManagerLink& pumping = *links.pumping;
  ManagerLink& normal = *links.normal;
  // After the first cycle both links have been connected: a loss is then
  // a reconnection.
  bool connectedBefore = false;
  while (!stopRequested()) {
    bool stopped = false;
    if (!stopRequested() && !isConnected(pumping)) {
      stopped = !reconnect(kPumpingLinkName, connectedBefore,
                           "ExtManagerPump reconnect start\n",
                           "ExtManagerPump reconnect\n",
                           "ExtManagerPump reconnect end\n", [&] {
                             return connectPumpingManager(pumping, handler);
                           });
    }
    if (!stopped && !stopRequested() &&
        (!isConnected(normal) || pingFails(normal))) {
      reconnect(kNormalLinkName, connectedBefore, "manager reconnect start\n",
                "manager reconnect\n", "manager reconnect end\n",
                [&] { return connectNormalManager(normal); });
    }
    connectedBefore = true;
    waitCycle();
  }
}

ReconnectionThread::ReconnectionThread(const ManagerLinks& links,
                                       mt::PumpingNotifyFunc handler)
    : links_(links), handler_(handler) {}

ReconnectionThread::~ReconnectionThread() { stop(); }

bool ReconnectionThread::start() {
  if (thread_.joinable()) return false;
  ended_ = false;
  thread_ = std::thread([this] {
    runGetManagerThread(links_, handler_);
    ended_ = true;
  });
  return true;
}

void ReconnectionThread::stop() {
  if (!thread_.joinable()) return;
  requestStop();
  thread_.join();
}

}  // namespace server
