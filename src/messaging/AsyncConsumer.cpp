#include "messaging/AsyncConsumer.h"

#include <proton/connection.hpp>
#include <proton/container.hpp>
#include <proton/delivery.hpp>
#include <proton/error_condition.hpp>
#include <proton/message.hpp>
#include <proton/messaging_handler.hpp>
#include <proton/receiver.hpp>
#include <proton/receiver_options.hpp>
#include <proton/message_id.hpp>
#include <proton/sender.hpp>
#include <proton/sender_options.hpp>
#include <proton/source_options.hpp>
#include <proton/target_options.hpp>
#include <proton/tracker.hpp>
#include <proton/transport.hpp>
#include <proton/uuid.hpp>
#include <proton/value.hpp>
#include <proton/work_queue.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "messaging/BrokerAddress.h"
#include "messaging/BrokerConnection.h"
#include "messaging/ConnectionLoss.h"
#include "messaging/Dispatch.h"
#include "messaging/SendOutcome.h"
#include "util/Console.h"
#include "util/Log.h"
#include "util/Mask.h"

namespace messaging {
namespace {

constexpr int kCloseTimeoutMs = 5000;  // orderly close before a hard stop
constexpr const char* kNotText = "NOT A TEXTMESSAGE!";
// Requests remembered as answered, per consumer, for recognising the
// broker's redelivery of one whose acknowledgement was lost.
constexpr size_t kAnsweredMemory = 1000;
// The dead-letter queue of a request queue (the broker's own naming for
// queues, "DLQ." + name) and the property that carries the reply.
constexpr const char* kDeadLetterPrefix = "DLQ.";
constexpr const char* kUndeliveredReplyProperty = "undeliveredReply";

std::chrono::steady_clock::time_point deadlineAfter(int ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

// The message text: an AMQP string body (what a JMS TextMessage becomes);
// anything else is not a text message.
std::string messageText(const proton::message& message) {
  const proton::value& body = message.body();
  if (body.type() == proton::STRING) return proton::get<std::string>(body);
  return kNotText;
}

// What identifies one request across its redeliveries: the message id,
// which the broker assigns to every message and keeps in its store, also
// across a restart of the broker (whose redelivery count starts again at
// 0). Without an id, the text identifies a message the broker marks as
// redelivered.
bool requestKey(const proton::message& message, const std::string& text, std::string* key) {
  const proton::message_id id = message.id();
  if (!id.empty()) {
    // The broker's ids are strings, taken as they are; other kinds are
    // written out.
    *key = id.type() == proton::STRING ? "id:" + proton::get<std::string>(id)
                                       : "id#" + proton::to_string(id);
    return true;
  }
  *key = "text:" + text;
  return message.delivery_count() > 0;
}

// How a handled request ended.
struct Outcome {
  bool undelivered = false;  // its reply could not be delivered
  std::string reply;         // that reply
};

}  // namespace

// Runs the requests of one queue, one at a time, on its own thread, so a
// long operation never holds up the connection's event loop.
class AsyncConsumer::Worker {
 public:
  using Completion = std::function<void(uint64_t sequence, Outcome outcome)>;

  Worker(std::string destURI, Completion completion)
      : destURI_(std::move(destURI)), completion_(std::move(completion)) {}

  // Queues a received message (connection thread). The worker is woken
  // after the lock is released, so it does not wake only to wait for it.
  void push(uint64_t sequence, std::string text) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      queue_.emplace_back(sequence, std::move(text));
    }
    cv_.notify_one();
  }

  // No request starts after this; the one in progress finishes.
  void stop() {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
    cv_.notify_one();
  }

  // Thread body.
  void run() {
    for (;;) {
      std::pair<uint64_t, std::string> item;
      {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        item = std::move(queue_.front());
        queue_.pop_front();
      }
      std::string shown = util::maskSecrets(item.second);
      util::printAndLog("\ndestURI #%s Received: %s\n", destURI_.c_str(), shown.c_str());
      beginRequestOutcome();
      try {
        dispatchRequest(destURI_, item.second);
      } catch (...) {
        util::printAndLog("destURI #%s request not handled: unknown error\n", destURI_.c_str());
      }
      Outcome outcome;
      outcome.undelivered = replyUndelivered(&outcome.reply);
      completion_(item.first, std::move(outcome));
    }
  }

 private:
  const std::string destURI_;
  const Completion completion_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::pair<uint64_t, std::string>> queue_;
  bool stopping_ = false;
};

// The consumer's connection events, on the connection's event-loop thread.
// Other threads reach it only through complete(), requestClose() and the
// finish flag.
//
// Each request ends in one of three ways: its reply was delivered (or it
// had none) and it is accepted; its reply could not be delivered and it is
// moved to the dead-letter queue with that reply attached, then accepted;
// or its connection was lost first and the broker redelivers it. A
// redelivered request that this consumer has already handled is not run
// again: it is accepted at once, or dead-lettered when its reply was never
// delivered.
class AsyncConsumer::Handler : public proton::messaging_handler {
 public:
  Handler(BrokerAddress address, std::string source, std::string destURI)
      : address_(std::move(address)),
        source_(std::move(source)),
        destURI_(std::move(destURI)),
        reconnection_(address_) {}

  void setWorker(Worker* worker) { worker_ = worker; }

  // Caller side -----------------------------------------------------------

  // The worker has finished request sequence.
  void complete(uint64_t sequence, Outcome outcome) {
    std::lock_guard<std::mutex> lock(mu_);
    if (workQueue_ == nullptr) return;  // the broker redelivers it
    workQueue_->add([this, sequence, outcome = std::move(outcome)] { finish(sequence, outcome); });
  }

  // Queues the close behind every acknowledgement already handed over.
  bool requestClose() {
    std::lock_guard<std::mutex> lock(mu_);
    closing_ = true;
    if (workQueue_ == nullptr) return false;
    return workQueue_->add([this] {
      if (connection_) connection_.close();
    });
  }

  void markFinished() {
    std::lock_guard<std::mutex> lock(mu_);
    finished_ = true;
    workQueue_ = nullptr;
    cv_.notify_all();
  }

  bool waitFinished(int ms) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_until(lock, deadlineAfter(ms), [this] { return finished_; });
  }

  // Event side ------------------------------------------------------------

  void on_container_start(proton::container& c) override {
    connection_ = c.connect(address_.urls[0], brokerConnectionOptions(address_));
    std::lock_guard<std::mutex> lock(mu_);
    workQueue_ = &connection_.work_queue();
  }

  void on_connection_open(proton::connection& c) override {
    reconnection_.opened(c);
    ++generation_;
    connected_ = true;
    if (receiverRequested_) {
      util::printAndLog("destURI #%s connection restored\n", destURI_.c_str());
      return;  // the subscription is reattached with the connection
    }
    receiverRequested_ = true;
    proton::receiver_options options;
    options.credit_window(0);  // credit is granted one message at a time
    options.auto_accept(false);
    options.source(proton::source_options().address(source_));
    c.open_receiver(source_, options);
  }

  void on_receiver_open(proton::receiver& r) override {
    // A refused subscription is answered without a source and closed at
    // once with the reason (on_receiver_error).
    if (r.source().address().empty()) return;
    receiver_ = r;
    subscribed_ = true;
    grantCredit();
  }

  void on_message(proton::delivery& d, proton::message& m) override {
    std::string text = messageText(m);
    InFlight entry;
    entry.delivery = d;
    // Taken over rather than copied (a copy encodes and decodes it): the
    // client decodes the next message into a fresh one.
    entry.message = std::move(m);
    entry.generation = generation_;
    if (requestKey(entry.message, text, &entry.key)) {
      auto known = answered_.find(entry.key);
      if (known != answered_.end()) {
        answerAgain(std::move(entry), text, known->second);
        return;
      }
    }
    uint64_t sequence = ++lastSequence_;
    inFlight_.emplace(sequence, std::move(entry));
    worker_->push(sequence, std::move(text));
  }

  void on_receiver_error(proton::receiver& r) override {
    util::printAndLog("destURI #%s subscription refused: %s\n", destURI_.c_str(),
                      r.error().what().c_str());
    r.connection().close();
  }

  void on_sender_open(proton::sender& s) override {
    // Refused (no target): on_sender_error follows.
    if (s != deadLetters_ || s.target().address().empty()) return;
    deadLettersOpen_ = true;
    for (auto& item : inFlight_) {
      InFlight& entry = item.second;
      if (entry.deadLettering && !entry.deadLetterSent) transmitDeadLetter(entry);
    }
  }

  void on_sender_error(proton::sender& s) override {
    if (s != deadLetters_) return;
    util::printAndLog("destURI #%s dead-letter queue refused: %s\n", destURI_.c_str(),
                      s.error().what().c_str());
    deadLetters_ = proton::sender();
    deadLettersOpen_ = false;
    for (auto it = inFlight_.begin(); it != inFlight_.end();) {
      if (it->second.deadLettering) {
        rejectToBroker(it->second);
        it = inFlight_.erase(it);
      } else {
        ++it;
      }
    }
    grantCredit();
  }

  void on_tracker_accept(proton::tracker& t) override { deadLetterSettled(t, true); }
  void on_tracker_reject(proton::tracker& t) override { deadLetterSettled(t, false); }
  void on_tracker_release(proton::tracker& t) override { deadLetterSettled(t, false); }
  // Settled without an outcome (after one, the move is already finished).
  void on_tracker_settle(proton::tracker& t) override { deadLetterSettled(t, false); }

  void on_connection_error(proton::connection& c) override { lastError_ = c.error().what(); }

  void on_transport_error(proton::transport& t) override {
    // Deliveries of the lost connection can no longer be acknowledged; the
    // broker redelivers them on the next one. A dead-letter move in flight
    // is given up: its request is remembered and moved again when it comes
    // back.
    ++generation_;
    if (reconnection_.certificateRefused(t, !subscribed_, &lastError_)) return;
    lastError_ = t.error().what();
    bool wasConnected = connected_;
    connected_ = false;
    deadLettersOpen_ = false;
    for (auto it = inFlight_.begin(); it != inFlight_.end();) {
      it = it->second.deadLettering ? inFlight_.erase(it) : std::next(it);
    }
    if (address_.failover && subscribed_ && wasConnected) {  // once per outage
      util::printAndLog("destURI #%s connection interrupted: %s\n", destURI_.c_str(),
                        lastError_.c_str());
    }
  }

  void on_transport_close(proton::transport&) override {
    bool closing;
    {
      std::lock_guard<std::mutex> lock(mu_);
      workQueue_ = nullptr;
      closing = closing_;
    }
    // The connection is finished: release its objects on their own thread.
    inFlight_.clear();
    receiver_ = proton::receiver();
    deadLetters_ = proton::sender();
    connection_ = proton::connection();
    if (closing) return;
    if (!subscribed_) {
      // Never subscribed: this queue stays unserved, the others go on.
      util::printAndLog("Consumer destURI:%s start fail: %s\n", destURI_.c_str(),
                        lastError_.empty() ? "connection closed" : lastError_.c_str());
      worker_->stop();
      return;
    }
    AsyncConsumer::onException();
  }

  void on_error(const proton::error_condition& e) override { lastError_ = e.what(); }

 private:
  struct InFlight {
    proton::delivery delivery;
    proton::message message;  // for the dead-letter queue
    uint64_t generation = 0;  // connection it arrived on
    std::string key;          // requestKey
    bool deadLettering = false;  // handled; its move to the dead-letter queue is under way
    bool deadLetterSent = false;
    proton::tracker tracker;
  };

  void finish(uint64_t sequence, const Outcome& outcome) {
    auto it = inFlight_.find(sequence);
    if (it == inFlight_.end()) return;
    remember(it->second.key, outcome);
    if (it->second.generation != generation_) {
      inFlight_.erase(it);  // redelivered later, and recognised
      grantCredit();
      return;
    }
    if (outcome.undelivered) {
      deadLetter(it->second, outcome.reply);
      return;
    }
    it->second.delivery.accept();
    inFlight_.erase(it);
    grantCredit();
  }

  // A redelivered request handled before: answered from what is known of it.
  void answerAgain(InFlight entry, const std::string& text, const Outcome& outcome) {
    std::string shown = util::maskSecrets(text);
    util::printAndLog("\ndestURI #%s Received: %s\n", destURI_.c_str(), shown.c_str());
    if (outcome.undelivered) {
      InFlight& stored = inFlight_.emplace(++lastSequence_, std::move(entry)).first->second;
      deadLetter(stored, outcome.reply);
      return;
    }
    util::printAndLog("destURI #%s request already answered: acknowledged without running it again\n",
                      destURI_.c_str());
    entry.delivery.accept();
    grantCredit();
  }

  void remember(const std::string& key, const Outcome& outcome) {
    if (answered_.emplace(key, outcome).second) {
      answeredOrder_.push_back(key);
    } else {
      answered_[key] = outcome;
    }
    while (answeredOrder_.size() > kAnsweredMemory) {
      answered_.erase(answeredOrder_.front());
      answeredOrder_.pop_front();
    }
  }

  // Puts the request, with its undelivered reply as a property, on the
  // dead-letter queue; the request is accepted once the broker has that
  // message. Nothing else is taken from the queue meanwhile.
  void deadLetter(InFlight& entry, const std::string& reply) {
    entry.deadLettering = true;
    entry.message.properties().put(kUndeliveredReplyProperty, reply);
    entry.message.durable(true);
    if (!deadLetters_) {
      const std::string target = kDeadLetterPrefix + destURI_;
      proton::sender_options options;
      options.target(proton::target_options().address(target));
      deadLetters_ = connection_.open_sender(target, options);
      return;  // sent once the sender is open
    }
    if (deadLettersOpen_) transmitDeadLetter(entry);
  }

  void transmitDeadLetter(InFlight& entry) {
    entry.tracker = deadLetters_.send(entry.message);
    entry.deadLetterSent = true;
  }

  void deadLetterSettled(proton::tracker& t, bool stored) {
    for (auto it = inFlight_.begin(); it != inFlight_.end(); ++it) {
      InFlight& entry = it->second;
      if (!entry.deadLetterSent || entry.tracker != t) continue;
      if (stored) {
        util::printAndLog("destURI #%s request moved to the dead-letter queue %s%s: its reply "
                          "could not be delivered\n",
                          destURI_.c_str(), kDeadLetterPrefix, destURI_.c_str());
        entry.delivery.accept();
      } else {
        rejectToBroker(entry);
      }
      inFlight_.erase(it);
      grantCredit();
      return;
    }
  }

  // The dead-letter queue refused the message: the broker dead-letters the
  // request itself, without the reply (which the log holds).
  void rejectToBroker(InFlight& entry) {
    util::printAndLog("destURI #%s request rejected to the broker's dead-letter queue: its reply "
                      "could not be delivered\n",
                      destURI_.c_str());
    entry.delivery.reject();
  }

  // One message at a time: credit only when nothing is in flight.
  void grantCredit() {
    if (!receiver_ || !inFlight_.empty() || closing_) return;
    if (receiver_.credit() <= 0) receiver_.add_credit(1);
  }

  const BrokerAddress address_;
  const std::string source_;
  const std::string destURI_;
  BrokerReconnection reconnection_;  // event thread only
  Worker* worker_ = nullptr;

  // Shared with other threads.
  std::mutex mu_;
  std::condition_variable cv_;
  proton::work_queue* workQueue_ = nullptr;
  // Set under mu_; read without it on the event thread, which thus never
  // waits for a worker that is handing over an acknowledgement.
  std::atomic<bool> closing_{false};
  bool finished_ = false;

  // Event thread only.
  proton::connection connection_;
  proton::receiver receiver_;
  proton::sender deadLetters_;
  bool deadLettersOpen_ = false;
  std::map<uint64_t, InFlight> inFlight_;
  std::unordered_map<std::string, Outcome> answered_;
  std::deque<std::string> answeredOrder_;
  uint64_t lastSequence_ = 0;
  uint64_t generation_ = 0;
  bool receiverRequested_ = false;
  bool subscribed_ = false;
  bool connected_ = false;
  std::string lastError_;
};

AsyncConsumer::AsyncConsumer() = default;

AsyncConsumer::~AsyncConsumer() { close(); }

void AsyncConsumer::configure(const std::string& brokerURI, const std::string& destURI,
                              bool useTopic, bool sessionTransacted) {
  brokerURI_ = brokerURI;
  destURI_ = destURI;
  useTopic_ = useTopic;
  sessionTransacted_ = sessionTransacted;
}

int AsyncConsumer::run() {
  if (running_) return 1;
  BrokerAddress address;
  if (!parseBrokerAddress(brokerURI_, &address)) {
    reportUnsupportedBrokerAddress(brokerURI_);
    return -1;
  }
  if (!brokerTlsUsable(address)) return -1;
  std::string source = useTopic_ ? "topic://" + destURI_ : destURI_;
  handler_ = std::make_unique<Handler>(address, source, destURI_);
  Handler* handler = handler_.get();
  worker_ = std::make_unique<Worker>(destURI_, [handler](uint64_t sequence, Outcome outcome) {
    handler->complete(sequence, std::move(outcome));
  });
  handler_->setWorker(worker_.get());
  // The broker takes the container id as the client id, which must be
  // unique among its connections (also across a restart of the service).
  container_ = std::make_unique<proton::container>(
      *handler_, "mt4bridge-consumer-" + destURI_ + "-" + proton::uuid::random().str());
  proton::container* container = container_.get();
  workerThread_ = std::thread([worker = worker_.get()] { worker->run(); });
  connectionThread_ = std::thread([container, handler] {
    try {
      container->run();
    } catch (const std::exception& e) {
      util::consolePrint("consumer connection ended: %s\n", e.what());
    }
    handler->markFinished();
  });
  running_ = true;
  return 1;
}

void AsyncConsumer::beginClose() {
  if (running_) worker_->stop();
}

void AsyncConsumer::close() {
  if (!running_) return;
  running_ = false;
  worker_->stop();
  workerThread_.join();  // the request in progress has returned
  if (!handler_->requestClose() || !handler_->waitFinished(kCloseTimeoutMs)) container_->stop();
  connectionThread_.join();
  container_.reset();
  handler_.reset();
  worker_.reset();
}

void AsyncConsumer::onException() { endProcessAfterConnectionLoss(); }

namespace {

struct ConsumerRegistry {
  std::mutex mu;
  std::vector<std::unique_ptr<AsyncConsumer>> consumers;
};

// Never destroyed: at process exit the consumers' threads end with the
// process instead of being joined.
ConsumerRegistry& registry() {
  static ConsumerRegistry* r = new ConsumerRegistry;
  return *r;
}

}  // namespace

int createConsumer(const std::string& brokerURI, const std::string& destURI,
                   const std::string& label) {
  if (destURI.empty()) {
    util::consolePrint("consumer destUrl(%s) is null\n", label.c_str());
    return 1;
  }
  std::lock_guard<std::mutex> lock(registry().mu);
  for (const auto& running : registry().consumers) {
    if (running->destURI() == destURI) {
      // A second consumer would take turns with the first and break the
      // queue's one-at-a-time order; the earlier route serves it anyway.
      util::consolePrint("consumer destUrl(%s) already consumed: %s\n", label.c_str(),
                         destURI.c_str());
      return 1;
    }
  }
  auto consumer = std::make_unique<AsyncConsumer>();
  consumer->configure(brokerURI, destURI, false, false);
  if (consumer->run() != 1) return 1;
  registry().consumers.push_back(std::move(consumer));
  util::consolePrint("consumer destUrl(%s) success\n", label.c_str());
  return 1;
}

void stopConsumers() {
  std::vector<std::unique_ptr<AsyncConsumer>> consumers;
  {
    std::lock_guard<std::mutex> lock(registry().mu);
    consumers.swap(registry().consumers);
  }
  for (auto& consumer : consumers) consumer->beginClose();
  for (auto& consumer : consumers) consumer->close();
}

}  // namespace messaging
