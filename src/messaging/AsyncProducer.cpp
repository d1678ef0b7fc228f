#include "messaging/AsyncProducer.h"

#include <proton/connection.hpp>
#include <proton/container.hpp>
#include <proton/error_condition.hpp>
#include <proton/message.hpp>
#include <proton/messaging_handler.hpp>
#include <proton/sender.hpp>
#include <proton/sender_options.hpp>
#include <proton/target_options.hpp>
#include <proton/tracker.hpp>
#include <proton/transport.hpp>
#include <proton/uuid.hpp>
#include <proton/work_queue.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>

#include "messaging/BrokerAddress.h"
#include "messaging/BrokerConnection.h"
#include "messaging/ConnectionLoss.h"
#include "messaging/SendOutcome.h"
#include "util/Console.h"
#include "util/Log.h"
#include "util/Mask.h"
#include "util/Retry.h"

namespace messaging {
namespace {

constexpr int kOpenTimeoutMs = 30000;   // connection and sender open
constexpr int kSendTimeoutMs = 10000;   // broker's acceptance of one reply
constexpr int kCloseTimeoutMs = 3000;   // orderly close before a hard stop
// A reply the broker did not accept is sent again: 8 attempts in all, 0.2 s
// after the first failure, doubling up to 5 s (about 16 s of pauses plus
// the attempts' own waits).
constexpr int kSendAttempts = 8;
constexpr int kSendRetryPauseMs = 200;
constexpr int kSendRetryMaxPauseMs = 5000;

// One attempt's outcome, as the retry routine sees it.
constexpr int kSent = 0;
constexpr int kNotAccepted = 1;
constexpr int kNotOpen = 2;

std::chrono::steady_clock::time_point deadlineAfter(int ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

}  // namespace

// The producer's connection events. Runs on the producer's event-loop
// thread; the caller's thread reaches it only through the mutex-guarded
// members and the connection's work queue.
class AsyncProducer::Handler : public proton::messaging_handler {
 public:
  enum class State { kConnecting, kOpen, kFailed, kClosed };

  Handler(BrokerAddress address, std::string address_name)
      : address_(std::move(address)), target_(std::move(address_name)), reconnection_(address_) {}

  // Caller side -----------------------------------------------------------

  // Waits until the sender is open or the connection failed, at most ms.
  State waitOpened(int ms, std::string* error) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait_until(lock, deadlineAfter(ms),
                   [this] { return state_ != State::kConnecting; });
    *error = error_.empty() ? "no answer from the broker" : error_;
    return state_;
  }

  // Hands text to the event thread and waits for the broker's outcome.
  bool sendAndWait(const std::string& text, int ms, std::string* error) {
    uint64_t id;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (state_ != State::kOpen) {
        *error = error_.empty() ? "connection not open" : error_;
        return false;
      }
      id = ++lastId_;
      pendingId_ = id;
      pendingText_ = text;
      pendingDone_ = false;
    }
    // Without mu_ held, so the event thread can take the reply at once.
    bool queued = onEventThread([this] { transmitPending(); });
    std::unique_lock<std::mutex> lock(mu_);
    if (!queued) {
      if (pendingId_ == id) pendingId_ = 0;
      *error = "connection closed";
      return false;
    }
    bool done = cv_.wait_until(lock, deadlineAfter(ms), [this, id] {
      return pendingId_ != id || pendingDone_;
    });
    if (!done || pendingId_ != id) {
      pendingId_ = 0;
      *error = "no confirmation from the broker within " +
               std::to_string(ms / 1000) + " s";
      return false;
    }
    pendingId_ = 0;
    *error = pendingError_;
    return pendingOk_;
  }

  // Asks the event thread to close the connection. False when there is no
  // connection left to close.
  bool requestClose() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      closing_ = true;
    }
    return onEventThread([this] {
      if (connection_) connection_.close();
    });
  }

  void markFinished() {
    clearWorkQueue();
    std::lock_guard<std::mutex> lock(mu_);
    finished_ = true;
    if (state_ == State::kConnecting) {
      state_ = State::kFailed;
      if (error_.empty()) error_ = "connection ended";
    }
    cv_.notify_all();
  }

  bool waitFinished(int ms) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_until(lock, deadlineAfter(ms), [this] { return finished_; });
  }

  // Event side ------------------------------------------------------------

  void on_container_start(proton::container& c) override {
    proton::connection_options options = brokerConnectionOptions(address_);
    connection_ = c.connect(address_.urls[0], options);
    std::lock_guard<std::mutex> lock(queueMu_);
    workQueue_ = &connection_.work_queue();
  }

  void on_connection_open(proton::connection& c) override {
    reconnection_.opened(c);
    if (senderRequested_) return;  // a reconnection reattaches the sender
    senderRequested_ = true;
    proton::sender_options options;
    options.target(proton::target_options().address(target_));
    c.open_sender(target_, options);
  }

  void on_sender_open(proton::sender& s) override {
    // A broker refuses a link by answering its attach without a target and
    // closing it at once with the reason (on_sender_error).
    if (s.target().address().empty()) return;
    sender_ = s;
    linkUp_ = true;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (state_ == State::kConnecting) state_ = State::kOpen;
      cv_.notify_all();
    }
    transmitPending();
  }

  void on_sender_close(proton::sender&) override { linkUp_ = false; }

  void on_sender_error(proton::sender& s) override {
    linkUp_ = false;
    fail("sender refused: " + s.error().what());
    s.connection().close();
  }

  void on_tracker_accept(proton::tracker& t) override { settle(t, true, ""); }
  void on_tracker_reject(proton::tracker& t) override {
    settle(t, false, "rejected by the broker");
  }
  void on_tracker_release(proton::tracker& t) override {
    settle(t, false, "released by the broker");
  }
  void on_tracker_settle(proton::tracker& t) override {
    settle(t, false, "settled by the broker without outcome");
  }

  void on_transport_error(proton::transport& t) override {
    // With failover the connection is reopened after this; a reply in
    // flight is sent again on the new link.
    linkUp_ = false;
    trackerId_ = 0;
    bool starting;
    {
      std::lock_guard<std::mutex> lock(mu_);
      starting = state_ == State::kConnecting;
    }
    // A refused certificate fails the open at once.
    std::string refusal;
    if (reconnection_.certificateRefused(t, starting, &refusal)) {
      if (!refusal.empty()) fail(refusal);
      return;
    }
    std::lock_guard<std::mutex> lock(mu_);
    error_ = t.error().what();
  }

  void on_transport_close(proton::transport&) override {
    linkUp_ = false;
    trackerId_ = 0;
    // The connection is finished: release its objects on their own thread.
    tracker_ = proton::tracker();
    sender_ = proton::sender();
    connection_ = proton::connection();
    clearWorkQueue();
    bool lost;
    {
      std::lock_guard<std::mutex> lock(mu_);
      lost = !closing_ && state_ == State::kOpen;
      if (closing_) {
        state_ = State::kClosed;
      } else {
        state_ = State::kFailed;
        if (error_.empty()) error_ = "connection closed by the broker";
      }
      if (pendingId_ != 0 && !pendingDone_) {
        pendingDone_ = true;
        pendingOk_ = false;
        pendingError_ = error_;
      }
    }
    cv_.notify_all();
    // An open producer whose connection is gone for good (no failover, or
    // the reconnection gave up) ends the process like a consumer does: a
    // service that can no longer reply must not go on taking requests.
    if (lost) endProcessAfterConnectionLoss();
  }

  void on_connection_error(proton::connection& c) override {
    std::lock_guard<std::mutex> lock(mu_);
    error_ = c.error().what();
  }

  void on_error(const proton::error_condition& e) override {
    std::lock_guard<std::mutex> lock(mu_);
    error_ = e.what();
  }

 private:
  // Sends the waiting reply when the link is up and it is not yet in flight
  // on this link.
  void transmitPending() {
    uint64_t id;
    std::string text;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (pendingId_ == 0 || pendingDone_) return;
      id = pendingId_;
      text = pendingText_;
    }
    if (!linkUp_ || trackerId_ == id) return;
    proton::message message;
    message.body(text);  // an AMQP string: a TextMessage for JMS clients
    message.durable(true);
    tracker_ = sender_.send(message);
    trackerId_ = id;
  }

  void settle(proton::tracker& t, bool ok, const std::string& error) {
    if (trackerId_ == 0 || t != tracker_) return;
    uint64_t id = trackerId_;
    trackerId_ = 0;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (pendingId_ != id || pendingDone_) return;
      pendingDone_ = true;
      pendingOk_ = ok;
      pendingError_ = error;
    }
    cv_.notify_all();  // after the lock: the caller wakes to a free mutex
  }

  // Runs f on the event thread. False when the connection is gone.
  bool onEventThread(std::function<void()> f) {
    // Under queueMu_: the event thread clears workQueue_ (under the same
    // lock) before the connection and its queue are freed.
    std::lock_guard<std::mutex> lock(queueMu_);
    return workQueue_ != nullptr && workQueue_->add(std::move(f));
  }

  void clearWorkQueue() {
    std::lock_guard<std::mutex> lock(queueMu_);
    workQueue_ = nullptr;
  }

  void fail(const std::string& error) {
    std::lock_guard<std::mutex> lock(mu_);
    error_ = error;
    if (state_ == State::kConnecting) state_ = State::kFailed;
    cv_.notify_all();
  }

  const BrokerAddress address_;
  const std::string target_;
  BrokerReconnection reconnection_;  // event thread only

  // Shared with the caller's thread. The work queue has a lock of its own:
  // the event thread takes a reply while its caller is still handing it
  // over.
  std::mutex queueMu_;
  proton::work_queue* workQueue_ = nullptr;
  std::mutex mu_;
  std::condition_variable cv_;
  State state_ = State::kConnecting;
  std::string error_;
  bool closing_ = false;
  bool finished_ = false;
  uint64_t lastId_ = 0;
  uint64_t pendingId_ = 0;  // 0: nothing waiting
  std::string pendingText_;
  bool pendingDone_ = false;
  bool pendingOk_ = false;
  std::string pendingError_;

  // Event thread only.
  proton::connection connection_;
  proton::sender sender_;
  proton::tracker tracker_;
  uint64_t trackerId_ = 0;  // the pending reply in flight on this link
  bool senderRequested_ = false;
  bool linkUp_ = false;
};

AsyncProducer::AsyncProducer() = default;

AsyncProducer::~AsyncProducer() { close(); }

void AsyncProducer::configure(const std::string& brokerURI, const std::string& destURI,
                              bool useTopic) {
  std::lock_guard<std::mutex> lock(sendMutex_);
  brokerURI_ = brokerURI;
  destURI_ = destURI;
  useTopic_ = useTopic;
}

int AsyncProducer::open() {
  std::lock_guard<std::mutex> lock(sendMutex_);
  if (container_) return 1;
  BrokerAddress address;
  if (!parseBrokerAddress(brokerURI_, &address)) {
    reportUnsupportedBrokerAddress(brokerURI_);
    util::writeLog("Producer destURI:%s init fail\n", destURI_.c_str());
    return -1;
  }
  if (!brokerTlsUsable(address)) {
    util::writeLog("Producer destURI:%s init fail\n", destURI_.c_str());
    return -1;
  }
  std::string target = useTopic_ ? "topic://" + destURI_ : destURI_;
  handler_ = std::make_unique<Handler>(address, target);
  // The broker takes the container id as the client id, which must be
  // unique among its connections (also across a restart of the service).
  container_ = std::make_unique<proton::container>(
      *handler_, "mt4bridge-producer-" + destURI_ + "-" + proton::uuid::random().str());
  proton::container* container = container_.get();
  Handler* handler = handler_.get();
  thread_ = std::thread([container, handler] {
    try {
      container->run();
    } catch (const std::exception& e) {
      util::consolePrint("producer connection ended: %s\n", e.what());
    }
    handler->markFinished();
  });
  std::string error;
  if (handler_->waitOpened(kOpenTimeoutMs, &error) == Handler::State::kOpen) return 1;
  util::consolePrint("Producer destURI:%s open failed: %s\n", destURI_.c_str(), error.c_str());
  util::writeLog("Producer destURI:%s init fail\n", destURI_.c_str());
  if (!handler_->requestClose() || !handler_->waitFinished(kCloseTimeoutMs)) container_->stop();
  thread_.join();
  container_.reset();
  handler_.reset();
  return -1;
}

void AsyncProducer::send(const std::string& text) {
  util::RetryPlan plan;
  plan.attempts = kSendAttempts;
  plan.pauseMs = kSendRetryPauseMs;
  plan.maxPauseMs = kSendRetryMaxPauseMs;
  plan.retryable = util::ResultSet{kNotAccepted};
  const int result = util::retry(plan, [&] { return sendOnce(text); });
  if (result == kNotAccepted) {
    noteReplyUndelivered(text);
    util::printAndLog("DestURI:%s,reply not delivered after %d attempts\n", destURI_.c_str(),
                      kSendAttempts);
  }
}

int AsyncProducer::sendOnce(const std::string& text) {
  // Held for one attempt only, never across the pause between attempts.
  std::lock_guard<std::mutex> lock(sendMutex_);
  if (!handler_) {
    util::printAndLog("DestURI:%s,reply not sent: the producer is not open\n", destURI_.c_str());
    return kNotOpen;
  }
  std::string error;
  if (handler_->sendAndWait(text, kSendTimeoutMs, &error)) {
    std::string shown = util::maskSecrets(text);
    util::writeLog("DestURI:%s,Send: %s\n", destURI_.c_str(), shown.c_str());
    util::consolePrint("DestURI:%s,Send: %s\n", destURI_.c_str(), shown.c_str());
    return kSent;
  }
  util::printAndLog("DestURI:%s,Send fail: %s\n", destURI_.c_str(), error.c_str());
  return kNotAccepted;
}

void AsyncProducer::close() {
  std::lock_guard<std::mutex> lock(sendMutex_);
  if (!container_) return;
  if (!handler_->requestClose() || !handler_->waitFinished(kCloseTimeoutMs)) container_->stop();
  thread_.join();
  container_.reset();
  handler_.reset();
}

int createProducer(const std::string& brokerURI, const std::string& destURI,
                   const std::string& label, AsyncProducer* producer) {
  util::consolePrint("producer destUrl(%s) start\n", label.c_str());
  if (destURI.empty()) {
    util::consolePrint("producer destUrl(%s) is null\n", label.c_str());
    return 1;
  }
  producer->configure(brokerURI, destURI, false);
  if (producer->open() == 1) {
    util::consolePrint("producer destUrl(%s) success\n", label.c_str());
    return 1;
  }
  util::consolePrint("producer destUrl(%s )fail\n", label.c_str());
  return 0;
}

}  // namespace messaging
