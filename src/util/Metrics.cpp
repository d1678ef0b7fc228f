#include "util/Metrics.h"

#include <prometheus/counter.h>
#include <prometheus/exposer.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <atomic>
#include <exception>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "util/Log.h"

namespace metrics {
namespace {

// The operations' fixed pauses run from 10 ms to 30 s.
const prometheus::Histogram::BucketBoundaries kDurationBuckets = {
    0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};

// The series of one family, found by their label values under a short lock
// and kept: the family's own Add() builds a label map at every call.
template <typename Metric>
class Series {
 public:
  Series(prometheus::Family<Metric>& family, std::vector<std::string> labelNames)
      : family_(family), labelNames_(std::move(labelNames)) {}

  // values: one per label name, in their order.
  Metric& at(std::initializer_list<std::string_view> values) {
    std::string key;
    for (std::string_view value : values) {
      key += value;
      key += '\n';
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = byKey_.find(key);
    if (found != byKey_.end()) return *found->second;
    prometheus::Labels labels;
    size_t i = 0;
    for (std::string_view value : values) labels[labelNames_[i++]] = std::string(value);
    Metric* metric;
    if constexpr (std::is_same_v<Metric, prometheus::Histogram>) {
      metric = &family_.Add(labels, kDurationBuckets);
    } else {
      metric = &family_.Add(labels);
    }
    byKey_.emplace(std::move(key), metric);
    return *metric;
  }

 private:
  prometheus::Family<Metric>& family_;
  const std::vector<std::string> labelNames_;
  std::mutex mutex_;
  std::unordered_map<std::string, Metric*> byKey_;
};

prometheus::Family<prometheus::Counter>& counter(prometheus::Registry& registry,
                                                 const char* name, const char* help) {
  return prometheus::BuildCounter().Name(name).Help(help).Register(registry);
}

prometheus::Family<prometheus::Gauge>& gauge(prometheus::Registry& registry, const char* name,
                                             const char* help) {
  return prometheus::BuildGauge().Name(name).Help(help).Register(registry);
}

// Every series, registered once per process. Never freed: a recording that
// began before stop() may still be using it.
struct Registered {
  std::shared_ptr<prometheus::Registry> registry = std::make_shared<prometheus::Registry>();

  Series<prometheus::Counter> requests{
      counter(*registry, "mt4bridge_requests_total",
              "Requests answered, by request queue and reply code (0: no reply)"),
      {"queue", "code"}};
  Series<prometheus::Histogram> durations{
      prometheus::BuildHistogram()
          .Name("mt4bridge_request_duration_seconds")
          .Help("Seconds from a request's receipt to its reply accepted by the broker")
          .Register(*registry),
      {"queue"}};
  Series<prometheus::Counter> replyRetries{
      counter(*registry, "mt4bridge_reply_retries_total",
              "Reply attempts made again after the broker did not accept one"),
      {"queue"}};
  Series<prometheus::Counter> deadLetters{
      counter(*registry, "mt4bridge_dead_lettered_total",
              "Requests moved or rejected to a dead-letter queue: reply not delivered, "
              "request not taken, or delivered too often"),
      {"queue"}};
  Series<prometheus::Counter> redeliveries{
      counter(*registry, "mt4bridge_redeliveries_recognised_total",
              "Redelivered requests recognised as handled and not run again"),
      {"queue"}};
  Series<prometheus::Gauge> brokerConnected{
      gauge(*registry, "mt4bridge_broker_connected",
            "1 while a queue's broker connection is open, else 0"),
      {"queue", "endpoint"}};
  Series<prometheus::Gauge> managerConnected{
      gauge(*registry, "mt4bridge_manager_connected",
            "1 while a trading-server link is connected and logged in, else 0"),
      {"link"}};
  Series<prometheus::Counter> managerReconnects{
      counter(*registry, "mt4bridge_manager_reconnects_total",
              "Trading-server links restored after a loss"),
      {"link"}};
  Series<prometheus::Gauge> storeRecords{
      gauge(*registry, "mt4bridge_store_records", "Records a history store holds"),
      {"store"}};
  Series<prometheus::Gauge> storeJournalBytes{
      gauge(*registry, "mt4bridge_store_journal_bytes",
            "Bytes in a history store's journal since its snapshot"),
      {"store"}};
  Series<prometheus::Counter> storeAppendFailures{
      counter(*registry, "mt4bridge_store_append_failures_total",
              "Changes a history store could not make durable"),
      {"store"}};
  prometheus::Counter& eventsDropped =
      counter(*registry, "mt4bridge_events_dropped_total",
              "Trading-server events not published: the buffer to the broker was full, or the "
              "broker did not take them")
          .Add({});
  Series<prometheus::Gauge> buildInfo{
      gauge(*registry, "mt4bridge_build_info", "1, labelled with the service's version"),
      {"version"}};
};

Registered& registered() {
  static Registered* const instance = new Registered();
  return *instance;
}

std::mutex lifecycle;                         // start() and stop()
std::unique_ptr<prometheus::Exposer> exposer;  // under lifecycle
std::atomic<Registered*> active{nullptr};      // set while the endpoint is open
std::atomic<int> listening{0};

Registered* on() { return active.load(std::memory_order_acquire); }

// The host part of "host:port".
std::string hostOf(const std::string& address) {
  const size_t colon = address.rfind(':');
  return colon == std::string::npos ? address : address.substr(0, colon);
}

}  // namespace

bool start(const std::string& address, const std::string& version, std::string* error) {
  std::lock_guard<std::mutex> lock(lifecycle);
  if (exposer) {
    *error = "the metrics endpoint is already open";
    return false;
  }
  Registered& r = registered();
  std::vector<int> ports;
  try {
    auto opened = std::make_unique<prometheus::Exposer>(address);
    opened->RegisterCollectable(r.registry);
    ports = opened->GetListeningPorts();
    exposer = std::move(opened);
  } catch (const std::exception&) {
    // The server's own text ("null context when constructing CivetServer")
    // tells an operator nothing.
    *error = "cannot listen on " + address +
             ": the port is in use, or the host is not an address of this machine";
    return false;
  }
  r.buildInfo.at({version}).Set(1);
  listening = ports.empty() ? 0 : ports.front();
  active.store(&r, std::memory_order_release);
  util::printAndLog("metrics on http://%s:%d/metrics\n", hostOf(address).c_str(),
                    listening.load());
  return true;
}

void stop() {
  std::lock_guard<std::mutex> lock(lifecycle);
  active.store(nullptr, std::memory_order_release);
  exposer.reset();
  listening = 0;
}

bool enabled() { return on() != nullptr; }

int port() { return listening; }

void requestAnswered(const std::string& queue, int code, double seconds) {
  Registered* r = on();
  if (r == nullptr) return;
  r->requests.at({queue, std::to_string(code)}).Increment();
  r->durations.at({queue}).Observe(seconds);
}

void eventDropped() {
  if (Registered* r = on()) r->eventsDropped.Increment();
}

void replyRetried(const std::string& queue) {
  if (Registered* r = on()) r->replyRetries.at({queue}).Increment();
}

void deadLettered(const std::string& queue) {
  if (Registered* r = on()) r->deadLetters.at({queue}).Increment();
}

void redeliveryRecognised(const std::string& queue) {
  if (Registered* r = on()) r->redeliveries.at({queue}).Increment();
}

void brokerConnected(const std::string& queue, const char* endpoint, bool up) {
  Registered* r = on();
  if (r == nullptr) return;
  r->brokerConnected.at({queue, endpoint}).Set(up ? 1 : 0);
  // The queue's counters start at 0, so that their first increase shows.
  r->durations.at({queue});
  r->replyRetries.at({queue});
  r->deadLetters.at({queue});
  r->redeliveries.at({queue});
}

void managerConnected(const char* link, bool up) {
  Registered* r = on();
  if (r == nullptr) return;
  r->managerConnected.at({link}).Set(up ? 1 : 0);
  r->managerReconnects.at({link});
}

void managerReconnected(const char* link) {
  if (Registered* r = on()) r->managerReconnects.at({link}).Increment();
}

void storeSize(const std::string& store, std::size_t records, std::uint64_t journalBytes) {
  Registered* r = on();
  if (r == nullptr) return;
  r->storeRecords.at({store}).Set(static_cast<double>(records));
  r->storeJournalBytes.at({store}).Set(static_cast<double>(journalBytes));
  r->storeAppendFailures.at({store});
}

void storeAppendFailed(const std::string& store) {
  if (Registered* r = on()) r->storeAppendFailures.at({store}).Increment();
}

}  // namespace metrics
