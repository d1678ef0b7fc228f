// One request queue's consumer: its own broker connection on its own
// event-loop thread, and a worker thread that runs the requests. One message
// is in flight at a time (credit 1): the worker prints and logs it, runs
// dispatchRequest to the operation's end, and only then is the delivery
// acknowledged, on the connection's thread. A request whose reply the broker
// did not store is handed back for redelivery instead. Requests of one queue
// are thus handled one at a time in arrival order; a long operation holds
// up only its own queue.
#ifndef MT4BRIDGE_MESSAGING_ASYNC_CONSUMER_H_
#define MT4BRIDGE_MESSAGING_ASYNC_CONSUMER_H_

#include <memory>
#include <string>
#include <thread>

namespace proton {
class container;
}

namespace messaging {

class AsyncConsumer {
 public:
  AsyncConsumer();
  ~AsyncConsumer();  // closes

  AsyncConsumer(const AsyncConsumer&) = delete;
  AsyncConsumer& operator=(const AsyncConsumer&) = delete;

  // Stores the broker address and the queue name (a topic when useTopic).
  // Acknowledgement always follows the operation's end, so sessionTransacted
  // changes nothing and is kept for the interface's sake.
  void configure(const std::string& brokerURI, const std::string& destURI,
                 bool useTopic, bool sessionTransacted);

  // Starts the connection thread and the worker; the subscription itself
  // is made on the connection thread. 1 when started, -1 when the broker
  // address is not accepted (reported on the console).
  int run();

  // Stops taking messages, waits for the request in progress to return and
  // be acknowledged, closes the connection and ends both threads.
  // Idempotent.
  void close();

  // The first half of close: after it no new request starts. Lets several
  // consumers wind down at the same time.
  void beginClose();

  // Ends the process at once with status 1 after a connection the client
  // has given up on.
  static void onException();

  const std::string& destURI() const { return destURI_; }

 private:
  class Handler;
  class Worker;

  std::string brokerURI_;
  std::string destURI_;
  bool useTopic_ = false;
  bool sessionTransacted_ = false;
  bool running_ = false;

  std::unique_ptr<Worker> worker_;
  std::unique_ptr<Handler> handler_;
  std::unique_ptr<proton::container> container_;
  std::thread connectionThread_;
  std::thread workerThread_;
};

// Starts the consumer of request queue destURI, printing the start-up lines
// with label in place of the queue name. Always 1: a consumer that cannot
// subscribe leaves its queue unserved without stopping the others. A queue
// that already has a consumer in this process gets no second one (one
// queue is served one request at a time, in arrival order).
int createConsumer(const std::string& brokerURI, const std::string& destURI,
                   const std::string& label);

// For SIGTERM/SIGINT: every consumer stops taking messages, the requests in
// progress are finished and acknowledged, the connections are closed.
// Idempotent; consumers created afterwards are not affected.
void stopConsumers();

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_ASYNC_CONSUMER_H_
