#include "server/ReconnectionThread.h"

#include "server/Connections.h"
#include "server/StopFlag.h"
#include "util/Console.h"
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
// False when it ended because of the stop flag.
template <typename Connect>
bool reconnect(const char* startLine, const char* attemptLine,
               const char* endLine, Connect&& connect) {
  util::consolePrint("%s", startLine);
  while (!stopRequested()) {
    util::consolePrint("%s", attemptLine);
    if (!stopRequested() && connect() > 0) {
      util::consolePrint("%s", endLine);
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
  while (!stopRequested()) {
    bool stopped = false;
    if (!stopRequested() && !isConnected(pumping)) {
      stopped = !reconnect("ExtManagerPump reconnect start\n",
                           "ExtManagerPump reconnect\n",
                           "ExtManagerPump reconnect end\n", [&] {
                             return connectPumpingManager(pumping, handler);
                           });
    }
    if (!stopped && !stopRequested() &&
        (!isConnected(normal) || pingFails(normal))) {
      reconnect("manager reconnect start\n", "manager reconnect\n",
                "manager reconnect end\n",
                [&] { return connectNormalManager(normal); });
    }
    waitCycle();
  }
}

ReconnectionThread::ReconnectionThread(const ManagerLinks& links,
                                       mt::PumpingNotifyFunc handler)
    : links_(links), handler_(handler) {}

ReconnectionThread::~ReconnectionThread() { stop(); }

bool ReconnectionThread::start() {
  if (thread_.joinable()) return false;
  thread_ = std::thread([this] { runGetManagerThread(links_, handler_); });
  return true;
}

void ReconnectionThread::stop() {
  if (!thread_.joinable()) return;
  requestStop();
  thread_.join();
}

}  // namespace server
