// Request-to-reply latency and throughput of the service's messaging path
// (consumer, dispatch, an operation without pause, reply producer) beside a
// bare AMQP echo responder written directly with Proton C++, against the
// same broker, in one run, rounds interleaved.
//
// All responders give the same guarantees: one request in flight, the
// reply sent durable and accepted by the broker before the request is
// acknowledged, and only then the next request taken. The echo runs twice:
// with one connection for request and reply, and with two connections (one
// receiving, one sending, both on one thread), the service's layout, where
// each request queue and its reply queue have a connection each on one
// event-loop thread, and the operation runs on a worker thread beside it.
//
// With --metrics the service's rounds run twice, without and with the
// metrics endpoint open (on 127.0.0.1, a free port), interleaved.
//
// Usage: messaging_latency_bench [--metrics] <amqp-url> [rounds] [requests-per-round]
// Figures go to standard error; the service's console lines to standard
// output (redirect them).
#include <proton/connection.hpp>
#include <proton/connection_options.hpp>
#include <proton/container.hpp>
#include <proton/delivery.hpp>
#include <proton/message.hpp>
#include <proton/messaging_handler.hpp>
#include <proton/receiver.hpp>
#include <proton/receiver_options.hpp>
#include <proton/sender.hpp>
#include <proton/tracker.hpp>
#include <proton/work_queue.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/Config.h"
#include "config/QueueTable.h"
#include "messaging/Dispatch.h"
#include "messaging/QueueSet.h"
#include "messaging/ReplyWriter.h"
#include "util/Json.h"
#include "util/Log.h"
#include "util/Metrics.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> stopping{false};  // connection errors are expected then

// The bare echo: replies with the request's text, durable; accepts the
// request once the broker has accepted the reply; one request at a time.
class EchoResponder : public proton::messaging_handler {
 public:
  EchoResponder(std::string url, std::string in, std::string out, bool twoConnections)
      : url_(std::move(url)), in_(std::move(in)), out_(std::move(out)),
        twoConnections_(twoConnections) {}

  void on_container_start(proton::container& c) override {
    proton::connection in = c.connect(url_);
    // The broker wants a client id (container id) of its own per connection.
    proton::connection out =
        twoConnections_ ? c.connect(url_, proton::connection_options().container_id(c.id() + "-out"))
                        : in;
    sender_ = out.open_sender(out_);
    in.open_receiver(in_, proton::receiver_options().credit_window(0).auto_accept(false));
    // A connection is touched only from its own events; work for the other
    // connection goes through its work queue (same thread, woken).
    inQueue_ = &in.work_queue();
    outQueue_ = &out.work_queue();
  }
  void on_receiver_open(proton::receiver& r) override { r.add_credit(1); }
  void on_message(proton::delivery& d, proton::message& m) override {
    request_ = d;
    std::string text = proton::get<std::string>(m.body());
    auto send = [this, text] {
      proton::message reply;
      reply.body(text);
      reply.durable(true);
      sender_.send(reply);
    };
    if (twoConnections_) {
      outQueue_->add(send);
    } else {
      send();
    }
  }
  void on_tracker_accept(proton::tracker&) override {
    auto acknowledge = [this] {
      request_.accept();
      request_.receiver().add_credit(1);
    };
    if (twoConnections_) {
      inQueue_->add(acknowledge);
    } else {
      acknowledge();
    }
  }
  void on_error(const proton::error_condition& e) override {
    if (!stopping) std::fprintf(stderr, "echo: %s\n", e.what().c_str());
  }

 private:
  std::string url_, in_, out_;
  bool twoConnections_;
  proton::work_queue* inQueue_ = nullptr;
  proton::work_queue* outQueue_ = nullptr;
  proton::sender sender_;
  proton::delivery request_;
};

// The back office's side: sends requests and waits for their replies.
class Client : public proton::messaging_handler {
 public:
  Client(std::string url, std::string request, std::string reply)
      : url_(std::move(url)), request_(std::move(request)), reply_(std::move(reply)) {}

  void on_container_start(proton::container& c) override {
    connection_ = c.connect(url_);
    sender_ = connection_.open_sender(request_);
    connection_.open_receiver(reply_, proton::receiver_options().credit_window(500));
    std::lock_guard<std::mutex> lock(mu_);
    queue_ = &connection_.work_queue();
  }
  void on_sender_open(proton::sender&) override {
    std::lock_guard<std::mutex> lock(mu_);
    ready_ = true;
    cv_.notify_all();
  }
  void on_message(proton::delivery&, proton::message& m) override {
    Json::Value v;
    std::string text = proton::get<std::string>(m.body());
    if (!util::parseJson(text, &v)) return;
    const Json::Value& s = v.isMember("data") ? v["data"]["serial"] : v["serial"];
    std::lock_guard<std::mutex> lock(mu_);
    received_.push_back(std::stoll(s.asString()));
    cv_.notify_all();
  }
  void on_error(const proton::error_condition& e) override {
    if (!stopping) std::fprintf(stderr, "client: %s\n", e.what().c_str());
  }

  void waitReady() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return ready_; });
  }
  // Sends serials [first, first+count) and waits for count replies.
  // Returns false on a 30 s stall.
  bool roundTrip(long long first, int count) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      received_.clear();
      queue_->add([this, first, count] {
        for (long long s = first; s < first + count; ++s) {
          proton::message m;
          m.body("{\"routeType\":\"bench\",\"serial\":\"" + std::to_string(s) + "\"}");
          m.durable(true);
          sender_.send(m);
        }
      });
    }
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(30),
                        [this, count] { return static_cast<int>(received_.size()) >= count; });
  }
  void close() {
    std::lock_guard<std::mutex> lock(mu_);
    queue_->add([this] { connection_.close(); });
  }

 private:
  std::string url_, request_, reply_;
  proton::connection connection_;
  proton::sender sender_;
  std::mutex mu_;
  std::condition_variable cv_;
  proton::work_queue* queue_ = nullptr;
  bool ready_ = false;
  std::vector<long long> received_;
};

struct Figures {
  std::vector<double> latenciesUs;
  double requests = 0;
  double seconds = 0;
};

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// One round: sequential requests for latency, then one burst for throughput.
bool round(Client& client, long long* serial, int requests, Figures* f) {
  for (int i = 0; i < requests; ++i) {
    auto t0 = Clock::now();
    if (!client.roundTrip((*serial)++, 1)) return false;
    f->latenciesUs.push_back(
        std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  auto t0 = Clock::now();
  if (!client.roundTrip(*serial, requests)) return false;
  *serial += requests;
  f->seconds += std::chrono::duration<double>(Clock::now() - t0).count();
  f->requests += requests;
  return true;
}

// A round with the metrics endpoint open.
bool roundWithMetrics(Client& client, long long* serial, int requests, Figures* f) {
  std::string error;
  if (!metrics::start("127.0.0.1:0", "bench", &error)) {
    std::fprintf(stderr, "metrics: %s\n", error.c_str());
    return false;
  }
  const bool ok = round(client, serial, requests, f);
  metrics::stop();
  return ok;
}

void print(const char* name, const Figures& f) {
  std::fprintf(stderr, "%-9s latency median %8.0f us  p99 %8.0f us   throughput %8.1f req/s\n",
               name, percentile(f.latenciesUs, 0.5), percentile(f.latenciesUs, 0.99),
               f.requests / f.seconds);
}

void printRatio(const char* name, const Figures& f, const char* baseName, const Figures& base) {
  std::fprintf(stderr,
               "%s / %s: median latency %.3fx (target <= 1.10)  p99 %.3fx  "
               "throughput %.3f (target >= 0.90)\n",
               name, baseName, percentile(f.latenciesUs, 0.5) / percentile(base.latenciesUs, 0.5),
               percentile(f.latenciesUs, 0.99) / percentile(base.latenciesUs, 0.99),
               (f.requests / f.seconds) / (base.requests / base.seconds));
}

}  // namespace

int main(int argc, char** argv) {
  const bool withMetrics = argc > 1 && std::string(argv[1]) == "--metrics";
  if (withMetrics) {
    --argc;
    ++argv;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s [--metrics] amqp://host:port [rounds] [requests-per-round]\n",
                 argv[0]);
    return 2;
  }
  std::string url = argv[1];
  int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  int requests = argc > 3 ? std::atoi(argv[3]) : 200;
  std::string tag = std::to_string(std::chrono::system_clock::now().time_since_epoch().count());

  std::string logDir = (std::filesystem::temp_directory_path() / ("mt4bridge-bench-" + tag)).string();
  std::filesystem::create_directories(logDir);
  util::setLogDirectory(logDir);

  // The service's path on route 1 only.
  config::ConfigRecord cfg;
  cfg.brokerURI = url;
  cfg.userRecordCreate = "bench.svc.req." + tag;
  cfg.userRecordCreateCallback = "bench.svc.rep." + tag;
  config::setCurrent(cfg);
  messaging::QueueSet::Operations operations;
  operations[config::kUserRecordCreate - 1] = [](const Json::Value& request,
                                                 messaging::ReplySender& reply) {
    Json::Value data(Json::objectValue);
    data["serial"] = messaging::envelopeText(request, "serial");
    data["routeType"] = messaging::envelopeText(request, "routeType");
    reply.send(messaging::writeReply(data, 200));
  };
  messaging::QueueSet queues(std::move(operations));
  if (queues.openReplies() <= 0) return 1;
  queues.startRequests();

  // The bare echoes.
  EchoResponder echo1(url, "bench.echo1.req." + tag, "bench.echo1.rep." + tag, false);
  EchoResponder echo2(url, "bench.echo2.req." + tag, "bench.echo2.rep." + tag, true);
  proton::container echo1Container(echo1), echo2Container(echo2);
  std::thread echo1Thread([&] { echo1Container.run(); });
  std::thread echo2Thread([&] { echo2Container.run(); });

  Client serviceClient(url, cfg.userRecordCreate, cfg.userRecordCreateCallback);
  Client echo1Client(url, "bench.echo1.req." + tag, "bench.echo1.rep." + tag);
  Client echo2Client(url, "bench.echo2.req." + tag, "bench.echo2.rep." + tag);
  proton::container c1(serviceClient), c2(echo1Client), c3(echo2Client);
  std::thread t1([&] { c1.run(); }), t2([&] { c2.run(); }), t3([&] { c3.run(); });
  serviceClient.waitReady();
  echo1Client.waitReady();
  echo2Client.waitReady();

  long long serial = 1;
  Figures warm;
  bool ok = round(serviceClient, &serial, 50, &warm) && round(echo1Client, &serial, 50, &warm) &&
            round(echo2Client, &serial, 50, &warm);
  Figures service, serviceMetrics, bare1, bare2;
  // The service's rounds with and without metrics take turns at going first.
  auto serviceRounds = [&](int r) {
    if (!withMetrics) return round(serviceClient, &serial, requests, &service);
    if (r % 2 == 0) {
      return round(serviceClient, &serial, requests, &service) &&
             roundWithMetrics(serviceClient, &serial, requests, &serviceMetrics);
    }
    return roundWithMetrics(serviceClient, &serial, requests, &serviceMetrics) &&
           round(serviceClient, &serial, requests, &service);
  };
  for (int r = 0; ok && r < rounds; ++r) {
    ok = serviceRounds(r) && round(echo1Client, &serial, requests, &bare1) &&
         round(echo2Client, &serial, requests, &bare2);
  }
  if (!ok) {
    std::fprintf(stderr, "a round stalled (no reply within 30 s)\n");
    std::_Exit(1);
  }

  std::fprintf(stderr, "\n%d rounds x %d requests each (sequential for latency, one burst for throughput)\n",
               rounds, requests);
  print("service", service);
  if (withMetrics) print("service+m", serviceMetrics);
  print("echo 1c", bare1);
  print("echo 2c", bare2);
  printRatio("service", service, "echo 1c", bare1);
  printRatio("service", service, "echo 2c", bare2);
  if (withMetrics) {
    printRatio("service+metrics", serviceMetrics, "echo 2c", bare2);
    printRatio("service+metrics", serviceMetrics, "service", service);
  }

  stopping = true;
  queues.stop();
  serviceClient.close();
  echo1Client.close();
  echo2Client.close();
  echo1Container.stop();
  echo2Container.stop();
  t1.join();
  t2.join();
  t3.join();
  echo1Thread.join();
  echo2Thread.join();
  std::filesystem::remove_all(logDir);
  return 0;
}
