#include "messaging/QueueSet.h"

#include <set>

#include "config/Config.h"
#include "messaging/EventLoop.h"
#include "messaging/ReplyProducer.h"
#include "messaging/RequestConsumer.h"
#include "util/Console.h"

namespace messaging {

// One queue's endpoints and their thread. The loop is declared last: it is
// stopped first, before the endpoints whose events it runs are freed.
class QueueSet::Queue {
 public:
  Queue(const char* key, Operation operation) : operation(std::move(operation)), producer(key) {}

  const Operation operation;
  std::function<bool(const std::string&)> refuse;
  ReplyProducer producer;
  std::unique_ptr<RequestConsumer> consumer;
  EventLoop loop;
};

QueueSet::QueueSet(Operations operations) {
  for (size_t i = 0; i < queues_.size(); ++i) {
    const config::QueueInfo& info = config::queueTable()[i];
    queues_[i] = std::make_unique<Queue>(info.requestKey, std::move(operations[i]));
  }
}

QueueSet::~QueueSet() { stop(); }

int QueueSet::openConnections(int* made) const {
  int open = 0;
  *made = 0;
  for (const std::unique_ptr<Queue>& q : queues_) {
    if (q->producer.opened()) {
      ++*made;
      open += q->producer.connected() ? 1 : 0;
    }
    if (q->consumer) {
      ++*made;
      open += q->consumer->connected() ? 1 : 0;
    }
  }
  return open;
}

bool QueueSet::workersAlive(int hungAfterMs) const {
  for (const std::unique_ptr<Queue>& q : queues_) {
    if (q->consumer && !q->consumer->workerAlive(hungAfterMs)) return false;
  }
  return true;
}

QueueSet::Queue& QueueSet::queue(int number) { return *queues_[static_cast<size_t>(number - 1)]; }

void QueueSet::refuseReplies(int number, std::function<bool(const std::string&)> refuse) {
  queue(number).refuse = std::move(refuse);
}

namespace {

// An account read neither of whose keys is configured: nothing is printed
// or opened for it.
bool unconfigured(const config::ConfigRecord& cfg, const config::QueueInfo& info) {
  return info.optional && (cfg.*info.requestName).empty() && (cfg.*info.replyName).empty();
}

}  // namespace

int QueueSet::openReplies() {
  const config::ConfigRecord& cfg = config::current();
  for (const config::QueueInfo& info : config::queueTable()) {
    if (unconfigured(cfg, info)) continue;
    Queue& q = queue(info.number);
    if (q.producer.openAnnounced(q.loop, cfg.brokerURI, cfg.*info.replyName,
                                 info.producerLabel) == 0) {
      return 0;
    }
  }
  return 1;
}

void QueueSet::startRequests() {
  const config::ConfigRecord& cfg = config::current();
  std::set<std::string> consumed;
  for (const config::QueueInfo& info : config::queueTable()) {
    if (unconfigured(cfg, info)) continue;
    const char* label = info.consumerLabel;
    const std::string& name = cfg.*info.requestName;
    if (name.empty()) {
      util::consolePrint("consumer destUrl(%s) is null\n", label);
      continue;
    }
    if (!consumed.insert(name).second) {
      // A second consumer would take turns with the first and break the
      // queue's one-at-a-time order; the first serves it anyway.
      util::consolePrint("consumer destUrl(%s) already consumed: %s\n", label, name.c_str());
      continue;
    }
    Queue& q = queue(info.number);
    const int routed = config::routeFor(cfg, name);
    Queue& route = queue(routed);
    q.consumer = std::make_unique<RequestConsumer>(name, config::queueInfo(routed).requestKey,
                                                   route.operation, route.producer);
    if (route.refuse) q.consumer->refuseReplies(route.refuse);
    if (!q.consumer->start(q.loop, cfg.brokerURI)) continue;
    util::consolePrint("consumer destUrl(%s) success\n", label);
  }
}

void QueueSet::stop() {
  for (auto& q : queues_) {
    if (q->consumer) q->consumer->beginClose();
  }
  for (auto& q : queues_) {
    if (q->consumer) q->consumer->close();
  }
  for (auto& q : queues_) q->producer.close();
  for (auto& q : queues_) q->loop.stop();
}

}  // namespace messaging
