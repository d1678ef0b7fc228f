// One reply queue's producer: its own broker connection, served by its own
// event-loop thread. Replies are durable messages whose body is an AMQP
// string (a JMS client reads a TextMessage). The fifteen producers are
// process-wide objects owned by the application.
#ifndef MT4BRIDGE_MESSAGING_ASYNC_PRODUCER_H_
#define MT4BRIDGE_MESSAGING_ASYNC_PRODUCER_H_

#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "messaging/ReplySender.h"

namespace proton {
class container;
}

namespace messaging {

class AsyncProducer : public ReplySender {
 public:
  AsyncProducer();
  ~AsyncProducer() override;  // closes

  AsyncProducer(const AsyncProducer&) = delete;
  AsyncProducer& operator=(const AsyncProducer&) = delete;

  // Stores the broker address and the reply queue name (a topic when
  // useTopic). Call on an unopened or closed producer.
  void configure(const std::string& brokerURI, const std::string& destURI,
                 bool useTopic = false);

  // Connects and opens the sender; returns once both are open (1) or have
  // failed or timed out (-1, reported on the console and in the log).
  int open();

  // Sends text as one durable message and returns once the broker has
  // accepted it, or once it has failed or a bounded wait has passed (the
  // failure is printed and noted for the calling thread, SendOutcome.h).
  // On a producer that was never opened prints one line and returns.
  // Thread-safe; sends on one producer are serialised.
  void send(const std::string& text) override;

  // Closes the connection and ends its thread. Safe to call more than once
  // and on a never-opened producer.
  void close();

  const std::string& destURI() const { return destURI_; }

 private:
  class Handler;

  std::string brokerURI_;
  std::string destURI_;
  bool useTopic_ = false;

  std::mutex sendMutex_;  // serialises send, open and close
  std::unique_ptr<Handler> handler_;
  std::unique_ptr<proton::container> container_;
  std::thread thread_;
};

// Opens producer for the reply queue destURI, printing the start-up lines
// with label in place of the queue name. 1 when opened, or skipped because
// destURI is empty; 0 when opening failed.
int createProducer(const std::string& brokerURI, const std::string& destURI,
                   const std::string& label, AsyncProducer* producer);

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_ASYNC_PRODUCER_H_
