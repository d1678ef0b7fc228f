#include "sim/PumpHub.h"

#include <chrono>

#include "sim/Socket.h"
#include "sim/WireJson.h"

namespace sim {

namespace {

constexpr std::size_t kMaxQueuedBytes = 64u << 20;
constexpr int kSendTimeoutMs = 5000;
// How often a writer whose events are held looks whether its client is gone.
constexpr auto kHeldPoll = std::chrono::milliseconds(100);

std::string encodeEvent(int code, int type, const Json::Value& data) {
  Json::Value v(Json::objectValue);
  v["code"] = code;
  v["type"] = type;
  v["data"] = data;
  return makeFrame(compactJsonText(v));
}

bool wants(int flags, int code) {
  return code != mt::PUMP_UPDATE_BIDASK || (flags & kPumpFlagNoQuotes) == 0;
}

}  // namespace

PumpHub::~PumpHub() { stopAll(); }

void PumpHub::add(int fd, int session, int flags, const Json::Value& initialQuotes) {
  std::list<std::unique_ptr<Subscriber>> finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reapLocked(&finished);
    auto sub = std::make_unique<Subscriber>();
    sub->fd = fd;
    sub->session = session;
    sub->flags = flags;
    if (wants(flags, mt::PUMP_UPDATE_BIDASK) && initialQuotes.isArray() &&
        !initialQuotes.empty()) {
      enqueue(sub.get(), encodeEvent(mt::PUMP_UPDATE_BIDASK, 0, initialQuotes));
    }
    Subscriber* raw = sub.get();
    sub->writer = std::thread([this, raw] { writeLoop(raw); });
    subscribers_.push_back(std::move(sub));
  }
  for (auto& sub : finished) sub->writer.join();
}

void PumpHub::publish(const Event& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string frame;
  for (auto& sub : subscribers_) {
    if (sub->closed || !wants(sub->flags, event.code)) continue;
    if (frame.empty()) frame = encodeEvent(event.code, event.type, event.data);
    enqueue(sub.get(), frame);
  }
}

void PumpHub::enqueue(Subscriber* sub, const std::string& frame) {
  if (sub->queuedBytes + frame.size() > kMaxQueuedBytes) {
    // A client that does not read its events loses its pumping connection.
    sub->closed = true;
    shutdownSocket(sub->fd);
  } else {
    sub->queue.push_back(frame);
    sub->queuedBytes += frame.size();
  }
  sub->wake.notify_one();
}

void PumpHub::writeLoop(Subscriber* sub) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    bool ready = sub->wake.wait_for(lock, kHeldPoll, [this, sub] {
      return sub->closed || (!held_ && !sub->queue.empty());
    });
    if (!ready) {
      if (held_ && peerGone(sub->fd)) sub->closed = true;
      continue;
    }
    if (sub->closed) break;
    std::string frame = std::move(sub->queue.front());
    sub->queue.pop_front();
    sub->queuedBytes -= frame.size();
    lock.unlock();
    bool sent = sendAll(sub->fd, frame, kSendTimeoutMs);
    lock.lock();
    if (!sent) sub->closed = true;
  }
  shutdownSocket(sub->fd);
  closeSocket(sub->fd);
  sub->fd = -1;
  sub->done = true;
}

void PumpHub::reapLocked(std::list<std::unique_ptr<Subscriber>>* finished) {
  for (auto it = subscribers_.begin(); it != subscribers_.end();) {
    if ((*it)->done) {
      finished->push_back(std::move(*it));
      it = subscribers_.erase(it);
    } else {
      ++it;
    }
  }
}

void PumpHub::holdEvents(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  held_ = on;
  for (auto& sub : subscribers_) sub->wake.notify_one();
}

void PumpHub::dropSession(int session) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& sub : subscribers_) {
    if (sub->session != session || sub->closed) continue;
    sub->closed = true;
    sub->wake.notify_one();
  }
}

void PumpHub::dropAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& sub : subscribers_) {
    sub->closed = true;
    if (sub->fd >= 0) shutdownSocket(sub->fd);
    sub->wake.notify_one();
  }
}

void PumpHub::stopAll() {
  dropAll();
  std::list<std::unique_ptr<Subscriber>> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    all.swap(subscribers_);
  }
  for (auto& sub : all) {
    if (sub->writer.joinable()) sub->writer.join();
  }
}

Json::Value PumpHub::list() {
  std::lock_guard<std::mutex> lock(mutex_);
  Json::Value out(Json::arrayValue);
  for (auto& sub : subscribers_) {
    if (sub->closed) continue;
    Json::Value v(Json::objectValue);
    v["session"] = sub->session;
    v["flags"] = sub->flags;
    out.append(v);
  }
  return out;
}

}  // namespace sim
