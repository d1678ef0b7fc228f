// One request queue's consumer: a connection of its own, on the event loop
// of its queue, and a worker thread that runs the requests. One message is
// in flight at a time (credit 1): the worker prints and logs it and runs
// its operation; the delivery is acknowledged, on the connection's thread,
// as soon as the broker has stored its reply (or once the operation has
// returned, when it sent none). A request whose reply the broker did not
// store is moved to the dead-letter queue instead (DeadLetterMove.h), one
// that cannot be taken is rejected (the broker dead-letters it), one the
// broker has delivered too often is dead-lettered without being run, and a
// request whose connection was lost first is redelivered by the broker and
// recognised (AnsweredRequests.h). Requests of one queue are thus handled
// one at a time in arrival order; a long operation holds up only its own
// queue.
#ifndef MT4BRIDGE_MESSAGING_REQUEST_CONSUMER_H_
#define MT4BRIDGE_MESSAGING_REQUEST_CONSUMER_H_

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "messaging/Dispatch.h"

namespace messaging {

class EventLoop;
class ReplyProducer;

class RequestConsumer {
 public:
  // Replies through replies, which must outlive the consumer. queue: the
  // configuration key of the route, which labels its numbers
  // (util/Metrics.h).
  RequestConsumer(std::string destURI, std::string queue, Operation operation,
                  ReplyProducer& replies);
  ~RequestConsumer();  // closes

  RequestConsumer(const RequestConsumer&) = delete;
  RequestConsumer& operator=(const RequestConsumer&) = delete;

  // Connects on loop and starts the worker; the subscription is made on
  // the connection's thread. False when the broker address is not accepted
  // (reported). Once per consumer; loop must be stopped before the consumer
  // is freed.
  bool start(EventLoop& loop, const std::string& brokerURI);

  // The first half of close: after it no new request starts. Lets several
  // consumers wind down at the same time.
  void beginClose();

  // Stops taking messages, waits for the request in progress to return and
  // be acknowledged, and closes the connection. Idempotent.
  void close();

  // True while the connection to the broker is open. From any thread, but
  // not while start() or close() runs.
  bool connected() const;
  // True while the worker runs and has not been on one request for
  // hungAfterMs or more; from any thread.
  bool workerAlive(int hungAfterMs) const;

  // For tests: a reply refuse(text) is true for is not sent and counts as
  // undelivered.
  void refuseReplies(std::function<bool(const std::string&)> refuse);

 private:
  class Endpoint;
  class Worker;

  const std::string destURI_;
  const std::string queue_;
  std::unique_ptr<Endpoint> endpoint_;
  std::unique_ptr<Worker> worker_;
  std::thread workerThread_;
};

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_REQUEST_CONSUMER_H_
