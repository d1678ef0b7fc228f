#include "messaging/ReplyProducer.h"

#include <proton/connection.hpp>
#include <proton/message.hpp>
#include <proton/sender.hpp>
#include <proton/sender_options.hpp>
#include <proton/target_options.hpp>
#include <proton/tracker.hpp>

#include <chrono>
#include <cstdint>

#include "messaging/BrokerEndpoint.h"
#include "util/Console.h"
#include "util/Log.h"
#include "util/Mask.h"
#include "util/Metrics.h"
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

}  // namespace

// The producer's connection. The sending thread hands one reply at a time
// over (sendAndWait) and waits for the broker's outcome; the event thread
// sends it whenever the link is up and settles it.
class ReplyProducer::Endpoint : public BrokerEndpoint {
 public:
  enum class State { kConnecting, kOpen, kEnded };

  Endpoint(BrokerAddress address, const std::string& destURI, const std::string& queue)
      : BrokerEndpoint(std::move(address), "mt4bridge-producer-" + destURI),
        target_(destURI),
        queue_(queue) {}

  // Sending thread --------------------------------------------------------

  // Waits until the sender is open or the connection failed, at most ms.
  bool waitOpened(int ms, std::string* failure) {
    std::unique_lock<std::mutex> lock(mutex());
    changed().wait_for(lock, std::chrono::milliseconds(ms),
                       [this] { return state_ != State::kConnecting; });
    const bool open = state_ == State::kOpen;
    lock.unlock();
    *failure = error().empty() ? "no answer from the broker" : error();
    return open;
  }

  // Hands text to the event thread and waits for the broker's outcome.
  bool sendAndWait(const std::string& text, const std::function<void()>& stored, int ms,
                   std::string* failure) {
    uint64_t id = 0;
    {
      std::lock_guard<std::mutex> lock(mutex());
      if (state_ == State::kOpen) {
        id = ++lastId_;
        pending_ = Pending();
        pending_.id = id;
        pending_.text = text;
        pending_.stored = stored;
      }
    }
    if (id == 0) {
      const std::string last = error();
      *failure = last.empty() ? "connection not open" : last;
      return false;
    }
    const bool queued = post([this] { transmit(); });
    std::unique_lock<std::mutex> lock(mutex());
    if (!queued) {
      if (pending_.id == id) pending_ = Pending();
      *failure = "connection closed";
      return false;
    }
    const bool done = changed().wait_for(lock, std::chrono::milliseconds(ms), [this, id] {
      return pending_.id != id || pending_.done;
    });
    if (!done || pending_.id != id) {
      pending_ = Pending();
      *failure = "no confirmation from the broker within " + std::to_string(ms / 1000) + " s";
      return false;
    }
    const bool ok = pending_.ok;
    *failure = pending_.error;
    pending_ = Pending();
    return ok;
  }

 private:
  struct Pending {
    uint64_t id = 0;  // 0: nothing waiting
    std::string text;
    std::function<void()> stored;
    bool done = false;
    bool ok = false;
    std::string error;
  };

  // Event side ------------------------------------------------------------

  bool starting() const override {
    std::lock_guard<std::mutex> lock(mutex());
    return state_ == State::kConnecting;
  }

  void opened(proton::connection& c, bool first) override {
    if (first) c.open_sender(target_, proton::sender_options().target(
                                          proton::target_options().address(target_)));
  }

  void on_sender_open(proton::sender& s) override {
    // A broker refuses a link by answering its attach without a target and
    // closing it at once with the reason (on_sender_error).
    if (s.target().address().empty()) return;
    sender_ = s;
    linkUp_ = true;
    metrics::brokerConnected(queue_, "producer", true);
    {
      std::lock_guard<std::mutex> lock(mutex());
      if (state_ == State::kConnecting) state_ = State::kOpen;
    }
    changed().notify_all();
    transmit();
  }

  void on_sender_close(proton::sender&) override { linkUp_ = false; }

  void on_sender_error(proton::sender& s) override {
    linkUp_ = false;
    metrics::brokerConnected(queue_, "producer", false);
    setError("sender refused: " + s.error().what());
    failOpen();
    s.connection().close();
  }

  void interrupted(bool refused, const std::string& refusal) override {
    // With failover the connection is reopened after this; a reply in
    // flight is sent again on the new link.
    linkUp_ = false;
    trackerId_ = 0;
    metrics::brokerConnected(queue_, "producer", false);
    // A refused certificate fails the open at once.
    if (refused && !refusal.empty()) failOpen();
  }

  bool ended() override {
    linkUp_ = false;
    trackerId_ = 0;
    metrics::brokerConnected(queue_, "producer", false);
    tracker_ = proton::tracker();
    sender_ = proton::sender();
    if (!closing() && error().empty()) setError("connection closed by the broker");
    const std::string last = error();
    bool lost;
    {
      std::lock_guard<std::mutex> lock(mutex());
      lost = state_ == State::kOpen;
      state_ = State::kEnded;
      if (pending_.id != 0 && !pending_.done) {
        pending_.done = true;
        pending_.error = last;
      }
    }
    changed().notify_all();
    return lost;
  }

  // Sends the waiting reply when the link is up and it is not yet in flight
  // on this link.
  void transmit() {
    uint64_t id;
    std::string text;
    {
      std::lock_guard<std::mutex> lock(mutex());
      if (pending_.id == 0 || pending_.done) return;
      id = pending_.id;
      text = pending_.text;
    }
    if (!linkUp_ || trackerId_ == id) return;
    proton::message message;
    message.body(text);  // an AMQP string: a TextMessage for JMS clients
    message.durable(true);
    tracker_ = sender_.send(message);
    trackerId_ = id;
  }

  void settled(proton::tracker& t, bool ok, const char* error) override {
    if (trackerId_ == 0 || t != tracker_) return;
    const uint64_t id = trackerId_;
    trackerId_ = 0;
    {
      std::lock_guard<std::mutex> lock(mutex());
      if (pending_.id != id || pending_.done) return;
      // Under the lock, before the sending thread learns the outcome: it
      // cannot give up on the reply meanwhile.
      if (ok && pending_.stored) pending_.stored();
      pending_.done = true;
      pending_.ok = ok;
      pending_.error = error;
    }
    changed().notify_all();  // after the lock: the caller wakes to a free mutex
  }

  void failOpen() {
    {
      std::lock_guard<std::mutex> lock(mutex());
      if (state_ == State::kConnecting) state_ = State::kEnded;
    }
    changed().notify_all();
  }

  const std::string target_;
  const std::string queue_;

  // Shared with the sending thread, under mutex().
  State state_ = State::kConnecting;
  uint64_t lastId_ = 0;
  Pending pending_;

  // Event thread only.
  proton::sender sender_;
  proton::tracker tracker_;
  uint64_t trackerId_ = 0;  // the pending reply in flight on this link
  bool linkUp_ = false;
};

ReplyProducer::ReplyProducer(std::string queue) : queue_(std::move(queue)) {}

ReplyProducer::~ReplyProducer() { close(); }

int ReplyProducer::open(EventLoop& loop, const std::string& brokerURI,
                        const std::string& destURI) {
  std::lock_guard<std::mutex> lock(sendMutex_);
  destURI_ = destURI;
  BrokerAddress address;
  if (BrokerEndpoint::readAddress(brokerURI, &address)) {
    // Kept, open or not, until the producer is freed: its connection's
    // events may come until the loop stops.
    endpoint_ = std::make_unique<Endpoint>(address, destURI, queue_);
    endpoint_->connect(loop);
    std::string failure;
    if (endpoint_->waitOpened(kOpenTimeoutMs, &failure)) {
      open_ = true;
      return 1;
    }
    util::consolePrint("Producer destURI:%s open failed: %s\n", destURI_.c_str(),
                       failure.c_str());
  }
  util::writeLog("Producer destURI:%s init fail\n", destURI_.c_str());
  if (endpoint_) endpoint_->close(kCloseTimeoutMs);
  return -1;
}

int ReplyProducer::openAnnounced(EventLoop& loop, const std::string& brokerURI,
                                 const std::string& destURI, const char* label) {
  util::consolePrint("producer destUrl(%s) start\n", label);
  if (destURI.empty()) {
    util::consolePrint("producer destUrl(%s) is null\n", label);
    return 1;
  }
  if (open(loop, brokerURI, destURI) != 1) {
    util::consolePrint("producer destUrl(%s )fail\n", label);
    return 0;
  }
  util::consolePrint("producer destUrl(%s) success\n", label);
  return 1;
}

bool ReplyProducer::send(const std::string& text) { return send(text, nullptr); }

bool ReplyProducer::send(const std::string& text, const std::function<void()>& stored) {
  util::RetryPlan plan;
  plan.attempts = kSendAttempts;
  plan.pauseMs = kSendRetryPauseMs;
  plan.maxPauseMs = kSendRetryMaxPauseMs;
  plan.retryable = util::ResultSet{kNotAccepted};
  int attempts = 0;
  const int result = util::retry(plan, [&] {
    if (++attempts > 1) metrics::replyRetried(queue_);
    return sendOnce(text, stored);
  });
  if (result != kNotAccepted) return true;
  util::printAndLog("DestURI:%s,reply not delivered after %d attempts\n", destURI_.c_str(),
                    kSendAttempts);
  return false;
}

int ReplyProducer::sendOnce(const std::string& text, const std::function<void()>& stored) {
  // Held for one attempt only, never across the pause between attempts.
  std::lock_guard<std::mutex> lock(sendMutex_);
  if (!open_) {
    util::printAndLog("DestURI:%s,reply not sent: the producer is not open\n", destURI_.c_str());
    return kNotOpen;
  }
  std::string failure;
  if (endpoint_->sendAndWait(text, stored, kSendTimeoutMs, &failure)) {
    std::string shown = util::maskSecrets(text);
    util::writeLog("DestURI:%s,Send: %s\n", destURI_.c_str(), shown.c_str());
    util::consolePrint("DestURI:%s,Send: %s\n", destURI_.c_str(), shown.c_str());
    return kSent;
  }
  util::printAndLog("DestURI:%s,Send fail: %s\n", destURI_.c_str(), failure.c_str());
  return kNotAccepted;
}

bool ReplyProducer::connected() const { return endpoint_ && endpoint_->connected(); }

void ReplyProducer::close() {
  std::lock_guard<std::mutex> lock(sendMutex_);
  if (endpoint_) endpoint_->close(kCloseTimeoutMs);
}

}  // namespace messaging
