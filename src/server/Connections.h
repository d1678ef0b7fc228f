// The two connection routines: connect and log in the normal manager or the
// pumping manager with the configured server address, manager login and
// password (config::current()). Both return 1 when connected and logged in
// and -1 otherwise; callers treat a result greater than 0 as success.
//
// Each server call takes the link's lock for that call only; the routines
// never pause, so they may be called from any thread (the reconnection
// thread, and operations that find the link lost). The stop flag is read
// before each step: once it is set, no further server call is made.
//
// A connection made but not logged in (login refused, or stop requested
// between Connect and Login) is disconnected again before -1 is returned,
// so that IsConnected never reports a session that is not logged in; the
// pumping manager would otherwise pass for connected at the next attempt
// and never be logged in or switched to pumping mode.
#ifndef MT4BRIDGE_SERVER_CONNECTIONS_H_
#define MT4BRIDGE_SERVER_CONNECTIONS_H_

#include "server/ManagerApi.h"
#include "server/ManagerLink.h"

namespace server {

// The links' names in the metrics (util/Metrics.h). Both routines record
// whether their link is connected after each attempt.
constexpr const char* kNormalLinkName = "normal";
constexpr const char* kPumpingLinkName = "pumping";

// Connects and logs in normal, always anew. Log lines (log file only):
// "Connect to %s success\n", "Connect to %s failed\n",
// "Connect to %d as '%s' failed (%s)\n" (the password shown as "***"),
// "Thread ended\n" when the stop flag was set during the attempt.
// -1 without any server call or log line when the stop flag is set or the
// link has no interface.
int connectNormalManager(ManagerLink& normal);

// Returns 1 at once when pumping already reports itself connected.
// Otherwise connects and logs in like connectNormalManager (same log lines,
// except that no success line is written) and switches the connection to
// pumping mode with handler (a null parameter) and the flags that
// pumpingFlags() gives for the configured pumpUpdateBidAsk.
int connectPumpingManager(ManagerLink& pumping,
                          mt::PumpingNotifyFunc handler);

// The pumping flags for a pumpUpdateBidAsk setting: all events (quotes
// included) for 1, no quotes for any other value.
int pumpingFlags(int pumpUpdateBidAsk);

}  // namespace server

#endif  // MT4BRIDGE_SERVER_CONNECTIONS_H_
