#include "messaging/RequestConsumer.h"

#include <proton/connection.hpp>
#include <proton/delivery.hpp>
#include <proton/error_condition.hpp>
#include <proton/message.hpp>
#include <proton/receiver.hpp>
#include <proton/receiver_options.hpp>
#include <proton/source.hpp>
#include <proton/source_options.hpp>
#include <proton/tracker.hpp>
#include <proton/value.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "messaging/AnsweredRequests.h"
#include "messaging/BrokerEndpoint.h"
#include "messaging/DeadLetterMove.h"
#include "messaging/ReplyProducer.h"
#include "util/Console.h"
#include "util/Log.h"
#include "util/Mask.h"
#include "util/Metrics.h"

namespace messaging {
namespace {

constexpr int kCloseTimeoutMs = 5000;  // orderly close before a hard stop
constexpr const char* kNotText = "NOT A TEXTMESSAGE!";
// A request delivered more often than this without being acknowledged
// ended the service (or its connection) every time it ran: it is not run
// again but moved to the dead-letter queue.
constexpr uint32_t kMaxDeliveries = 5;

using Clock = std::chrono::steady_clock;

// The message text: an AMQP string body (what a JMS TextMessage becomes);
// anything else is not a text message.
std::string messageText(const proton::message& message) {
  const proton::value& body = message.body();
  if (body.type() == proton::STRING) return proton::get<std::string>(body);
  return kNotText;
}

void printReceived(const std::string& destURI, const std::string& text) {
  std::string shown = util::maskSecrets(text);
  util::printAndLog("\ndestURI #%s Received: %s\n", destURI.c_str(), shown.c_str());
}

}  // namespace

// Runs the requests of one queue, one at a time, on its own thread, so a
// long operation never holds up the connection's event loop.
class RequestConsumer::Worker {
 public:
  Worker(std::string destURI, std::string queue, Operation operation, ReplyProducer& replies)
      : destURI_(std::move(destURI)),
        queue_(std::move(queue)),
        operation_(std::move(operation)),
        replies_(replies) {}

  void setEndpoint(Endpoint* endpoint) { endpoint_ = endpoint; }
  void setRefusal(std::function<bool(const std::string&)> refuse) { refuse_ = std::move(refuse); }

  // Queues a received message (connection thread). The worker is woken
  // after the lock is released, so it does not wake only to wait for it.
  void push(uint64_t sequence, std::string text) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back(Request{sequence, std::move(text), Clock::now()});
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
  void run();

  // Whether run() is on its loop and for how long its request has run.
  bool alive(int hungAfterMs) const {
    const int64_t since = busySinceMs_;
    return running_ && (since == 0 || nowMs() - since < hungAfterMs);
  }

 private:
  struct Request {
    uint64_t sequence = 0;
    std::string text;
    Clock::time_point received;
  };

  // The reply of one request: delivered or not, it says so to the consumer.
  class Reply : public ReplySender {
   public:
    Reply(Worker& worker, const Request& request) : worker_(worker), request_(request) {}

    bool send(const std::string& text) override;
    const Answer& answer() const { return answer_; }
    // The request's acknowledgement is handed over with its stored reply.
    bool acknowledged() const { return acknowledged_; }
    bool sent() const { return sent_; }

   private:
    Worker& worker_;
    const Request& request_;
    Answer answer_;
    bool acknowledged_ = false;  // set on the connection's thread before send returns
    bool sent_ = false;
  };

  // Seconds since request was received.
  static double secondsSince(const Request& request) {
    return std::chrono::duration<double>(Clock::now() - request.received).count();
  }

  const std::string destURI_;
  const std::string queue_;
  const Operation operation_;
  ReplyProducer& replies_;
  Endpoint* endpoint_ = nullptr;
  std::function<bool(const std::string&)> refuse_;

  static int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               Clock::now().time_since_epoch()).count() + 1;  // never 0
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Request> requests_;
  bool stopping_ = false;
  std::atomic<bool> running_{false};
  std::atomic<int64_t> busySinceMs_{0};  // 0: waiting for a request
};

// The consumer's connection events, on the event loop's thread. Other
// threads reach it only through post().
//
// Each request ends in one of four ways: its reply was delivered (or it
// had none) and it is accepted; its reply could not be delivered and it is
// moved to the dead-letter queue with that reply attached, then accepted;
// it could not be taken (not a JSON object, no operation, an error while
// it was read) and it is rejected, which the broker's dead-letter policy
// moves to the same queue; or its connection was lost first and the broker
// redelivers it. A redelivered request that this consumer has already
// handled is not run again: it ends as it ended the first time. One that
// the broker has delivered more than kMaxDeliveries times is not run: it is
// moved to the dead-letter queue with the reason attached.
class RequestConsumer::Endpoint : public BrokerEndpoint {
 public:
  Endpoint(BrokerAddress address, std::string destURI, std::string queue, Worker& worker)
      : BrokerEndpoint(std::move(address), "mt4bridge-consumer-" + destURI),
        destURI_(std::move(destURI)),
        queue_(std::move(queue)),
        worker_(worker),
        deadLetters_(destURI_, [this](uint64_t sequence, bool stored) {
          deadLettered(sequence, stored);
        }) {}

  // Event thread: the reply of request sequence is stored, or its
  // operation has returned (answer: how it ended).
  void finished(uint64_t sequence, const Answer& answer) {
    auto it = inFlight_.find(sequence);
    if (it == inFlight_.end()) return;  // acknowledged with its reply
    answered_.remember(it->second.key, answer);
    if (it->second.generation != generation_) {
      inFlight_.erase(it);  // redelivered later, and recognised
      grantCredit();
      return;
    }
    if (answer.undelivered) {
      deadLetter(it->first, it->second, DeadLetterMove::kUndeliveredReply, answer.reply,
                 kReplyUndelivered);
      return;
    }
    if (answer.refused) {
      reject(it->second.delivery);
    } else {
      it->second.delivery.accept();
    }
    inFlight_.erase(it);
    grantCredit();
  }

 private:
  struct InFlight {
    proton::delivery delivery;
    proton::message message;     // for the dead-letter queue
    uint64_t generation = 0;     // connection it arrived on
    std::string key;             // requestKey
    bool deadLettering = false;  // handled; its move to the dead-letter queue is under way
    std::string why;             // of that move, for the console
  };

  static constexpr const char* kReplyUndelivered = "its reply could not be delivered";

  bool starting() const override { return !subscribed_; }

  void opened(proton::connection& c, bool first) override {
    ++generation_;
    if (!first) {
      util::printAndLog("destURI #%s connection restored\n", destURI_.c_str());
      metrics::brokerConnected(queue_, "consumer", true);
      return;  // the subscription is reattached with the connection
    }
    // Credit is granted one message at a time.
    c.open_receiver(destURI_, proton::receiver_options().credit_window(0).auto_accept(false).source(
                                  proton::source_options().address(destURI_)));
  }

  void on_receiver_open(proton::receiver& r) override {
    // A refused subscription is answered without a source and closed at
    // once with the reason (on_receiver_error).
    if (r.source().address().empty()) return;
    receiver_ = r;
    subscribed_ = true;
    metrics::brokerConnected(queue_, "consumer", true);
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
      if (const Answer* known = answered_.find(entry.key)) {
        answerAgain(std::move(entry), text, *known);
        return;
      }
    }
    const uint32_t deliveries = entry.message.delivery_count() + 1;
    if (deliveries > kMaxDeliveries) {
      const std::string count = std::to_string(deliveries);
      deadLetterUnrun(std::move(entry), DeadLetterMove::kReason,
                      "delivered " + count + " times without an acknowledgement: not run again",
                      "delivered " + count + " times, not run");
      return;
    }
    const uint64_t sequence = ++lastSequence_;
    inFlight_.emplace(sequence, std::move(entry));
    worker_.push(sequence, std::move(text));
  }

  void on_receiver_error(proton::receiver& r) override {
    util::printAndLog("destURI #%s subscription refused: %s\n", destURI_.c_str(),
                      r.error().what().c_str());
    r.connection().close();
  }

  void on_sender_open(proton::sender& s) override { deadLetters_.senderOpened(s); }
  void on_sender_error(proton::sender& s) override { deadLetters_.senderRefused(s); }
  void settled(proton::tracker& t, bool accepted, const char*) override {
    deadLetters_.settled(t, accepted);
  }

  void interrupted(bool refused, const std::string&) override {
    // Deliveries of the lost connection can no longer be acknowledged; the
    // broker redelivers them on the next one. A dead-letter move in flight
    // is given up: its request is remembered and moved again when it comes
    // back.
    ++generation_;
    metrics::brokerConnected(queue_, "consumer", false);
    if (refused) return;
    const bool wasConnected = connected();
    deadLetters_.connectionLost();
    for (auto it = inFlight_.begin(); it != inFlight_.end();) {
      it = it->second.deadLettering ? inFlight_.erase(it) : std::next(it);
    }
    if (failover() && subscribed_ && wasConnected) {  // once per outage
      util::printAndLog("destURI #%s connection interrupted: %s\n", destURI_.c_str(),
                        error().c_str());
    }
  }

  bool ended() override {
    metrics::brokerConnected(queue_, "consumer", false);
    inFlight_.clear();
    receiver_ = proton::receiver();
    deadLetters_.connectionEnded();
    if (closing() || subscribed_) return subscribed_;
    // Never subscribed: this queue stays unserved, the others go on.
    const std::string last = error();
    util::printAndLog("Consumer destURI:%s start fail: %s\n", destURI_.c_str(),
                      last.empty() ? "connection closed" : last.c_str());
    worker_.stop();
    return false;
  }

  // A redelivered request handled before: answered from what is known of it.
  void answerAgain(InFlight entry, const std::string& text, const Answer& answer) {
    printReceived(destURI_, text);
    metrics::redeliveryRecognised(queue_);
    if (answer.undelivered) {
      deadLetterUnrun(std::move(entry), DeadLetterMove::kUndeliveredReply, answer.reply,
                      kReplyUndelivered);
      return;
    }
    if (answer.refused) {
      reject(entry.delivery);
      grantCredit();
      return;
    }
    util::printAndLog("destURI #%s request already answered: acknowledged without running it again\n",
                      destURI_.c_str());
    entry.delivery.accept();
    grantCredit();
  }

  // A request that could not be taken: the broker moves it to the
  // dead-letter queue.
  void reject(proton::delivery& delivery) {
    util::printAndLog("destURI #%s request rejected to the dead-letter queue: it could not be "
                      "taken\n",
                      destURI_.c_str());
    metrics::deadLettered(queue_);
    delivery.reject();
  }

  // The request is accepted once the broker has it on the dead-letter
  // queue, with property set to value; why is said on the console. Nothing
  // else is taken from the queue meanwhile.
  void deadLetter(uint64_t sequence, InFlight& entry, const char* property,
                  const std::string& value, std::string why) {
    entry.deadLettering = true;
    entry.why = std::move(why);
    deadLetters_.start(connection(), sequence, std::move(entry.message), property, value);
  }

  // The same for a request just received, which is not run.
  void deadLetterUnrun(InFlight entry, const char* property, const std::string& value,
                       std::string why) {
    const uint64_t sequence = ++lastSequence_;
    InFlight& stored = inFlight_.emplace(sequence, std::move(entry)).first->second;
    deadLetter(sequence, stored, property, value, std::move(why));
  }

  void deadLettered(uint64_t sequence, bool stored) {
    auto it = inFlight_.find(sequence);
    if (it == inFlight_.end()) return;
    metrics::deadLettered(queue_);
    if (stored) {
      util::printAndLog("destURI #%s request moved to the dead-letter queue %s: %s\n",
                        destURI_.c_str(), deadLetters_.target().c_str(), it->second.why.c_str());
      it->second.delivery.accept();
    } else {
      // The broker dead-letters the request itself, without the property
      // (the log holds it).
      util::printAndLog("destURI #%s request rejected to the broker's dead-letter queue: %s\n",
                        destURI_.c_str(), it->second.why.c_str());
      it->second.delivery.reject();
    }
    inFlight_.erase(it);
    grantCredit();
  }

  // One message at a time: credit only when nothing is in flight.
  void grantCredit() {
    if (!receiver_ || !inFlight_.empty() || closing()) return;
    if (receiver_.credit() <= 0) receiver_.add_credit(1);
  }

  const std::string destURI_;
  const std::string queue_;
  Worker& worker_;

  // Event thread only.
  DeadLetterMove deadLetters_;
  AnsweredRequests answered_;
  proton::receiver receiver_;
  std::map<uint64_t, InFlight> inFlight_;
  uint64_t lastSequence_ = 0;
  uint64_t generation_ = 0;
  bool subscribed_ = false;
};

bool RequestConsumer::Worker::Reply::send(const std::string& text) {
  sent_ = true;
  const uint64_t sequence = request_.sequence;
  const bool delivered =
      !(worker_.refuse_ && worker_.refuse_(text)) &&
      worker_.replies_.send(text, [this, endpoint = worker_.endpoint_, sequence] {
        acknowledged_ = true;
        endpoint->post([endpoint, sequence] { endpoint->finished(sequence, Answer()); });
      });
  if (delivered) {
    metrics::requestAnswered(worker_.queue_, replyCode(text), secondsSince(request_));
  } else {
    answer_ = Answer{true, text};
  }
  return delivered;
}

void RequestConsumer::Worker::run() {
  running_ = true;
  for (;;) {
    Request request;
    {
      std::unique_lock<std::mutex> lock(mu_);
      busySinceMs_ = 0;
      cv_.wait(lock, [this] { return stopping_ || !requests_.empty(); });
      if (stopping_) break;
      request = std::move(requests_.front());
      requests_.pop_front();
      busySinceMs_ = nowMs();
    }
    printReceived(destURI_, request.text);
    Reply reply(*this, request);
    bool taken = false;
    try {
      taken = dispatchRequest(destURI_, operation_, reply, request.text);
    } catch (...) {
      util::printAndLog("destURI #%s request not handled: unknown error\n", destURI_.c_str());
    }
    if (!reply.sent()) metrics::requestAnswered(queue_, 0, secondsSince(request));
    if (reply.acknowledged()) continue;
    Answer answer = reply.answer();
    answer.refused = !taken && !reply.sent();
    // Lost with the connection, the request is redelivered.
    endpoint_->post([endpoint = endpoint_, sequence = request.sequence, answer] {
      endpoint->finished(sequence, answer);
    });
  }
  running_ = false;
}

RequestConsumer::RequestConsumer(std::string destURI, std::string queue, Operation operation,
                                 ReplyProducer& replies)
    : destURI_(std::move(destURI)),
      queue_(std::move(queue)),
      worker_(std::make_unique<Worker>(destURI_, queue_, std::move(operation), replies)) {}

RequestConsumer::~RequestConsumer() { close(); }

void RequestConsumer::refuseReplies(std::function<bool(const std::string&)> refuse) {
  worker_->setRefusal(std::move(refuse));
}

bool RequestConsumer::start(EventLoop& loop, const std::string& brokerURI) {
  BrokerAddress address;
  if (endpoint_ || !BrokerEndpoint::readAddress(brokerURI, &address)) return false;
  endpoint_ = std::make_unique<Endpoint>(address, destURI_, queue_, *worker_);
  worker_->setEndpoint(endpoint_.get());
  Worker* worker = worker_.get();
  workerThread_ = std::thread([worker] { worker->run(); });
  endpoint_->connect(loop);
  return true;
}

bool RequestConsumer::connected() const { return endpoint_ && endpoint_->connected(); }

bool RequestConsumer::workerAlive(int hungAfterMs) const { return worker_->alive(hungAfterMs); }

void RequestConsumer::beginClose() { worker_->stop(); }

void RequestConsumer::close() {
  worker_->stop();
  if (workerThread_.joinable()) workerThread_.join();  // the request in progress has returned
  if (endpoint_) endpoint_->close(kCloseTimeoutMs);
}

}  // namespace messaging
