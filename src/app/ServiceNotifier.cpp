#include "app/ServiceNotifier.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "util/Platform.h"

namespace app {
namespace {

// How often the status is refreshed when the unit sets no watchdog.
constexpr int kStatusPeriodMs = 5000;

}  // namespace

ServiceNotifier::ServiceNotifier(std::function<bool()> alive,
                                 std::function<std::string()> status)
    : alive_(std::move(alive)), status_(std::move(status)) {}

ServiceNotifier::~ServiceNotifier() { halt(); }

void ServiceNotifier::ready() {
  if (thread_.joinable()) return;
  if (!platform::notifyServiceManager("READY=1\nSTATUS=" + status_())) return;
  const int watchdogMs = platform::serviceWatchdogMs();
  thread_ = std::thread(&ServiceNotifier::run, this,
                        watchdogMs > 0 ? std::max(watchdogMs / 2, 1) : kStatusPeriodMs);
}

void ServiceNotifier::stopping() {
  halt();
  platform::notifyServiceManager("STOPPING=1\nSTATUS=stopping");
}

void ServiceNotifier::halt() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    halted_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ServiceNotifier::run(int periodMs) {
  const bool watchdog = platform::serviceWatchdogMs() > 0;
  std::string sent;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, std::chrono::milliseconds(periodMs), [this] { return halted_; })) {
    lock.unlock();
    std::string message;
    const std::string status = status_();
    if (status != sent) message = "STATUS=" + status;
    // A part that no longer runs stops the feeding: the service manager
    // then restarts the service once the interval has passed.
    if (watchdog && alive_()) message += std::string(message.empty() ? "" : "\n") + "WATCHDOG=1";
    if (!message.empty() && platform::notifyServiceManager(message)) sent = status;
    lock.lock();
  }
}

}  // namespace app
