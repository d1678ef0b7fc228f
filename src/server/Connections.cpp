#include "server/Connections.h"

#include <string>

#include "config/Config.h"
#include "server/StopFlag.h"
#include "util/Log.h"
#include "util/Mask.h"
#include "util/Metrics.h"

namespace server {
namespace {

// Drops a connection that was made but not logged in, so that IsConnected
// never reports a session that cannot work.
void dropHalfOpen(ManagerLink& link) {
  link.call(0, [](mt::CManagerInterface& m) { return m.Disconnect(); });
}

// Connect and Login with the configured settings; writes the failure lines
// and, when logSuccess, the success line. 1 or -1.
int connectAndLogin(ManagerLink& link, bool logSuccess) {
  const config::ConfigRecord settings = config::current();
  const std::string& server = settings.server;

  int result = link.call(-1, [&](mt::CManagerInterface& m) {
    return m.Connect(server.c_str());
  });
  if (result != 0) {
    if (stopRequested()) {
      util::writeLog("Thread ended\n");
    } else {
      util::writeLog("Connect to %s failed\n", server.c_str());
    }
    return -1;
  }

  if (stopRequested()) {
    util::writeLog("Thread ended\n");
    dropHalfOpen(link);
    return -1;
  }
  result = link.call(-1, [&](mt::CManagerInterface& m) {
    return m.Login(settings.login, settings.password.c_str());
  });
  if (result == 0) {
    if (logSuccess) util::writeLog("Connect to %s success\n", server.c_str());
    return 1;
  }

  if (stopRequested()) {
    util::writeLog("Thread ended\n");
    dropHalfOpen(link);
    return -1;
  }
  std::string description =
      link.call(std::string(), [&](mt::CManagerInterface& m) {
        const char* text = m.ErrorDescription(result);
        return std::string(text ? text : "");
      });
  // The configured password is never written anywhere.
  util::writeLog("Connect to %d as '%s' failed (%s)\n", settings.login,
                 util::kSecretMask, description.c_str());
  dropHalfOpen(link);
  return -1;
}

// connectPumpingManager on a link with an interface.
int connectPumping(ManagerLink& pumping, mt::PumpingNotifyFunc handler) {
  int connected = pumping.call(0, [](mt::CManagerInterface& m) {
    return m.IsConnected();
  });
  if (connected != 0) return 1;
  if (connectAndLogin(pumping, /*logSuccess=*/false) < 0) return -1;
  const int flags = pumpingFlags(config::current().pumpUpdateBidAsk);
  pumping.call(0, [&](mt::CManagerInterface& m) {
    return m.PumpingSwitchEx(handler, flags, nullptr);
  });
  return 1;
}

}  // namespace

int pumpingFlags(int pumpUpdateBidAsk) {
  return pumpUpdateBidAsk == 1 ? mt::kPumpingFlagsAll
                               : mt::kPumpingFlagsNoQuotes;
}

int connectNormalManager(ManagerLink& normal) {
  if (stopRequested()) return -1;
  const int result =
      normal.hasInterface() ? connectAndLogin(normal, /*logSuccess=*/true) : -1;
  metrics::managerConnected(kNormalLinkName, result > 0);
  return result;
}

int connectPumpingManager(ManagerLink& pumping,
                          mt::PumpingNotifyFunc handler) {
  if (stopRequested()) return -1;
  const int result =
      pumping.hasInterface() ? connectPumping(pumping, handler) : -1;
  metrics::managerConnected(kPumpingLinkName, result > 0);
  return result;
}

}  // namespace server
