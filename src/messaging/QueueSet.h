// The request queues and their reply queues, as configured: for
// each, a reply producer and a request consumer, both on one event-loop
// thread of the queue's own (EventLoop.h), and the operation that answers
// its requests. Start-up creates it and the service owns it; the messaging
// test harness and the latency benchmark use it the same way.
#ifndef MT4BRIDGE_MESSAGING_QUEUE_SET_H_
#define MT4BRIDGE_MESSAGING_QUEUE_SET_H_

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "config/QueueTable.h"
#include "messaging/Dispatch.h"

namespace messaging {

class QueueSet {
 public:
  // Each queue's operation, index = queue number - 1. The names and the
  // broker address are read from the configuration record at start.
  using Operations = std::array<Operation, config::kRouteCount>;

  explicit QueueSet(Operations operations);
  ~QueueSet();  // stops

  QueueSet(const QueueSet&) = delete;
  QueueSet& operator=(const QueueSet&) = delete;

  // Opens the reply producers in queue order, each with its start-up lines
  // ("producer destUrl(<label>) start", then "... is null" for an empty
  // name, "... success", or "...( )fail"). 1 when every named one opened;
  // 0 at the first that failed (the later ones are not tried).
  int openReplies();

  // Starts the request consumers in queue order, each with its start-up
  // line ("consumer destUrl(<label>) success", "... is null" for an empty
  // name). A consumer that cannot subscribe leaves its queue unserved
  // without stopping the others. A request queue named like an earlier one
  // gets no second consumer ("... already consumed: <name>"): one queue is
  // served one request at a time, in arrival order. The requests of a queue
  // are answered by the route of its name (config::routeFor) and its reply
  // producer; their numbers (util/Metrics.h) carry the route's key.
  void startRequests();

  // No new request starts; the requests in progress are finished and
  // acknowledged; then every connection is closed and the threads end.
  // Idempotent.
  void stop();

  // Broker connections open now, of those made (a consumer and a producer
  // per named queue). Not while a start or stop runs.
  int openConnections(int* made) const;
  // True while every started request worker runs and none has been on one
  // request for hungAfterMs or more.
  bool workersAlive(int hungAfterMs) const;

  // For tests: a reply of queue number that refuse(text) is true for is not
  // sent and counts as undelivered. Call before startRequests.
  void refuseReplies(int number, std::function<bool(const std::string&)> refuse);

 private:
  class Queue;

  Queue& queue(int number);

  std::array<std::unique_ptr<Queue>, config::kRouteCount> queues_;
};

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_QUEUE_SET_H_
