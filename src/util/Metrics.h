// The numbers an operator watches, served in the Prometheus text format on
// /metrics when config.ini names a metricsAddress.
//
// Every function is safe from any thread at any time and does nothing until
// start() has opened the endpoint: without metricsAddress the service
// behaves as if this file did not exist. Recording never blocks on the
// endpoint and never changes what the caller does. No label ever carries
// request data: `queue` is a queue's configuration key ("tradeTransInfo"),
// `link` is "normal" or "pumping", `endpoint` "consumer" or "producer",
// `store` a store's file name ("financeBalanceHistory").
#ifndef MT4BRIDGE_UTIL_METRICS_H_
#define MT4BRIDGE_UTIL_METRICS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace metrics {

// Opens the endpoint at address ("host:port"; port 0 takes a free one) with
// every series registered and mt4bridge_build_info{version} set, and prints
// and logs "metrics on http://host:port/metrics" with the port bound. False,
// with *error telling why, when the address cannot be bound, the endpoint
// is open already or this build has no endpoint.
bool start(const std::string& address, const std::string& version, std::string* error);
// Closes the endpoint; recording does nothing again. The series keep their
// values for a later start().
void stop();
bool enabled();
// The port the endpoint listens on; 0 while it is closed.
int port();

// A request of queue answered with code (0 when it had no reply), seconds
// from its receipt to its reply accepted by the broker (or to the end of
// its operation when it has no reply). A request whose reply was not
// delivered is not answered: it is dead-lettered.
void requestAnswered(const std::string& queue, int code, double seconds);
void replyRetried(const std::string& queue);
void deadLettered(const std::string& queue);
// A delivery recognised as already answered and acknowledged without a run.
void redeliveryRecognised(const std::string& queue);
// A queue's connection open (its link attached) or lost; the queue's
// counters show from its first connection on, at 0.
void brokerConnected(const std::string& queue, const char* endpoint, bool up);

// A link connected and logged in, or found lost; its reconnection counter
// shows from then on, at 0.
void managerConnected(const char* link, bool up);
// A lost link connected and logged in again.
void managerReconnected(const char* link);

// A trading-server event that was not published.
void eventDropped();

// A store's size after a change: records held and journal bytes.
void storeSize(const std::string& store, std::size_t records, std::uint64_t journalBytes);
void storeAppendFailed(const std::string& store);

}  // namespace metrics

#endif  // MT4BRIDGE_UTIL_METRICS_H_
