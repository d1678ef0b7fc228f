// Publishes the trading server's events to one queue or topic
// ("topic://name"): a bounded buffer filled by the pumping thread, emptied
// by a thread of its own through a producer (ReplyProducer.h) on an event
// loop of its own. The pumping thread never waits on the broker.
//
// Each message is one durable JSON object:
//   {"action":..,"data":..,"event":..,"sequence":n,"time":ms}
// where sequence counts the messages published by this process from 1 (a
// message the broker did not confirm keeps its number: the back office
// sees a gap, then a resync). A
// "resync" message says that events may have been missed, and the back
// office should read again:
//   action "start"      the pumping connection's first start;
//   action "reconnect"  every later start (a reconnection);
//   action "dropped"    events were dropped (the buffer was full, or the
//                       broker did not take one): sent once there is room.
// Its data is {"dropped": events dropped since the previous resync} and its
// time the newest event time offered so far (0 before any).
//
// Events still buffered when the service stops are not published; the next
// process starts with a resync.
#ifndef MT4BRIDGE_MESSAGING_EVENT_PUBLISHER_H_
#define MT4BRIDGE_MESSAGING_EVENT_PUBLISHER_H_

#include <json/json.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "messaging/EventLoop.h"
#include "messaging/EventSink.h"
#include "messaging/ReplyProducer.h"

namespace messaging {

class EventPublisher : public EventSink {
 public:
  EventPublisher();
  ~EventPublisher() override;  // stops

  EventPublisher(const EventPublisher&) = delete;
  EventPublisher& operator=(const EventPublisher&) = delete;

  // Turns buffering on, for at most capacity messages (1 or more); until
  // then every offer and resync is ignored. Call before pumping starts.
  void configure(int capacity);

  // Opens the producer to destURI, with the start-up lines of a reply
  // queue under the label "config.serverEvents", and starts publishing
  // what is buffered. 1 when open, 0 when it failed (line "producer
  // destUrl(config.serverEvents )fail"). Once.
  int open(const std::string& brokerURI, const std::string& destURI);

  // From any thread; never blocks on the broker. A full buffer drops the
  // event (counted, mt4bridge_events_dropped_total).
  void offer(Json::Value event) override;
  void resync() override;

  // Nothing more is published; the publishing thread ends (after the
  // broker's answer to a send in progress) and the producer closes.
  // Idempotent.
  void stop();

  // The messages waiting now; for tests.
  std::deque<Json::Value> waiting() const;

 private:
  // Under mutex_: queues message, or counts it dropped when the buffer is
  // full.
  void push(Json::Value message);
  // Under mutex_: the resync of action with the drops counted so far.
  Json::Value resyncMessage(const char* action);
  void publishLoop();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Json::Value> waiting_;
  std::size_t capacity_ = 0;  // 0: off
  std::uint64_t dropped_ = 0;  // since the last resync queued
  bool resyncDue_ = false;     // a "dropped" resync to queue when there is room
  bool started_ = false;       // the pumping connection has started once
  bool stopping_ = false;
  Json::Int64 newestTime_ = 0;
  Json::Int64 sequence_ = 0;   // the publishing thread's only

  ReplyProducer producer_;
  std::thread thread_;
  EventLoop loop_;  // last: stopped first, before the producer is freed
};

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_EVENT_PUBLISHER_H_
