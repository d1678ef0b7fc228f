#include "messaging/EventPublisher.h"

#include <utility>

#include "util/Json.h"
#include "util/Metrics.h"

namespace messaging {
namespace {

constexpr const char* kLabel = "config.serverEvents";

}  // namespace

EventPublisher::EventPublisher() : producer_("serverEvents") {}

EventPublisher::~EventPublisher() { stop(); }

void EventPublisher::configure(int capacity) {
  std::lock_guard<std::mutex> lock(mutex_);
  capacity_ = capacity > 0 ? static_cast<std::size_t>(capacity) : 1;
}

int EventPublisher::open(const std::string& brokerURI, const std::string& destURI) {
  if (producer_.openAnnounced(loop_, brokerURI, destURI, kLabel) == 0) return 0;
  thread_ = std::thread(&EventPublisher::publishLoop, this);
  return 1;
}

void EventPublisher::push(Json::Value message) {
  if (waiting_.size() >= capacity_) {
    ++dropped_;
    resyncDue_ = true;
    metrics::eventDropped();
    return;
  }
  waiting_.push_back(std::move(message));
  wake_.notify_one();
}

Json::Value EventPublisher::resyncMessage(const char* action) {
  Json::Value message(Json::objectValue);
  message["event"] = "resync";
  message["action"] = action;
  message["data"]["dropped"] = Json::UInt64(dropped_);
  message["time"] = newestTime_;
  dropped_ = 0;
  resyncDue_ = false;
  return message;
}

void EventPublisher::offer(Json::Value event) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (capacity_ == 0 || stopping_) return;
  const Json::Value& time = event["time"];
  if (time.isInt64() && time.asInt64() > newestTime_) newestTime_ = time.asInt64();
  push(std::move(event));
}

void EventPublisher::resync() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (capacity_ == 0 || stopping_) return;
  const char* action = started_ ? "reconnect" : "start";
  started_ = true;
  if (waiting_.size() >= capacity_) {
    resyncDue_ = true;  // the "dropped" resync stands for this one
    return;
  }
  push(resyncMessage(action));
}

void EventPublisher::publishLoop() {
  for (;;) {
    Json::Value message;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      if (stopping_) return;
      message = std::move(waiting_.front());
      waiting_.pop_front();
      // The slot just freed takes the resync owed for dropped events.
      if (resyncDue_) push(resyncMessage("dropped"));
    }
    message["sequence"] = ++sequence_;
    if (!producer_.send(util::writeCompactJson(message))) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++dropped_;
      metrics::eventDropped();
      if (!waiting_.empty() || stopping_) {
        resyncDue_ = true;
      } else {
        push(resyncMessage("dropped"));
      }
    }
  }
}

void EventPublisher::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    waiting_.clear();
  }
  wake_.notify_all();
  producer_.close();
  if (thread_.joinable()) thread_.join();
  loop_.stop();
}

std::deque<Json::Value> EventPublisher::waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_;
}

}  // namespace messaging
