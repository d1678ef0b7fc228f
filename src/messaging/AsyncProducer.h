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
  // accepted it. A message the broker refuses, or does not confirm within
  // 10 s, is sent again, up to 8 attempts with growing pauses between them
  // (through the pause function); a connection lost meanwhile under a
  // failover address is reconnected and the reply sent on it. When every
  // attempt failed the reply is noted as undelivered for the calling thread
  // (SendOutcome.h). On a producer that was never opened prints one line
  // and returns. Thread-safe; attempts on one producer are serialised.
  //
  // The connection of an open producer lost for good (no failover) ends
  // the process with status 1, as a consumer's does (ConnectionLoss.h).
  void send(const std::string& text) override;

  // Closes the connection and ends its thread. Safe to call more than once
  // and on a never-opened producer.
  void close();

  const std::string& destURI() const { return destURI_; }

 private:
  class Handler;

  // One attempt: 0 sent, 1 not accepted, 2 not open.
  int sendOnce(const std::string& text);

  std::string brokerURI_;
  std::string destURI_;
  bool useTopic_ = false;

  std::mutex sendMutex_;  // serialises send attempts, open and close
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
