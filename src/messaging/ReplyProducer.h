// One reply queue's producer: a connection of its own, on the event loop of
// its queue. Replies are durable messages whose body is an AMQP string (a
// JMS client reads a TextMessage).
#ifndef MT4BRIDGE_MESSAGING_REPLY_PRODUCER_H_
#define MT4BRIDGE_MESSAGING_REPLY_PRODUCER_H_

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "messaging/ReplySender.h"

namespace messaging {

class EventLoop;

class ReplyProducer : public ReplySender {
 public:
  // queue: the configuration key of the request queue it answers, which
  // labels its numbers (util/Metrics.h).
  explicit ReplyProducer(std::string queue = std::string());
  ~ReplyProducer() override;  // closes

  ReplyProducer(const ReplyProducer&) = delete;
  ReplyProducer& operator=(const ReplyProducer&) = delete;

  // Connects on loop and opens the sender to destURI; returns once both are
  // open (1) or have failed or timed out (-1, reported on the console and
  // in the log). Once per producer. loop must be stopped before the
  // producer is freed.
  int open(EventLoop& loop, const std::string& brokerURI, const std::string& destURI);

  // open() between the start-up lines of a producer labelled label:
  // "producer destUrl(<label>) start", then "... is null" for an empty
  // destURI (nothing opened), "... success", or "...( )fail". 0 when it
  // failed, else 1.
  int openAnnounced(EventLoop& loop, const std::string& brokerURI, const std::string& destURI,
                    const char* label);

  // Sends text as one durable message and returns once the broker has
  // accepted it (true). A message the broker refuses, or does not confirm
  // within 10 s, is sent again, up to 8 attempts with growing pauses
  // between them (through the pause function); a connection lost meanwhile
  // under a failover address is reconnected and the reply sent on it. False
  // when every attempt failed. On a producer that was never opened prints
  // one line and returns true: there is no queue to deliver to.
  // Thread-safe; attempts on one producer are serialised.
  //
  // The connection of an open producer lost for good ends the process
  // (BrokerEndpoint.h).
  bool send(const std::string& text) override;

  // As send(text); stored, when set, runs on the producer's connection
  // thread as soon as the broker has accepted the reply, before send
  // returns.
  bool send(const std::string& text, const std::function<void()>& stored);

  // Closes the connection. Safe to call more than once and on a producer
  // that was never opened.
  void close();

  // True once open() has made a connection (it may have been lost since),
  // and true while it is open. From any thread, but not while open() or
  // close() runs.
  bool opened() const { return endpoint_ != nullptr; }
  bool connected() const;

 private:
  class Endpoint;

  // One attempt: 0 sent, 1 not accepted, 2 not open.
  int sendOnce(const std::string& text, const std::function<void()>& stored);

  const std::string queue_;
  std::string destURI_;
  std::mutex sendMutex_;  // serialises send attempts, open and close
  std::unique_ptr<Endpoint> endpoint_;
  bool open_ = false;
};

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_REPLY_PRODUCER_H_
