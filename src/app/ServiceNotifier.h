// Tells the service manager (systemd, through platform::notifyServiceManager)
// how the service is: READY=1 once it serves, a STATUS= line kept current,
// WATCHDOG=1 at half the unit's watchdog interval while every part that must
// run is alive, STOPPING=1 when it stops. Without a service manager that
// listens (NOTIFY_SOCKET unset, or on Windows) it sends nothing and starts
// no thread.
#ifndef MT4BRIDGE_APP_SERVICE_NOTIFIER_H_
#define MT4BRIDGE_APP_SERVICE_NOTIFIER_H_

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace app {

class ServiceNotifier {
 public:
  // alive: true while every part that must run is running (called on the
  // notifier's thread). status: the STATUS= text, a few words.
  ServiceNotifier(std::function<bool()> alive, std::function<std::string()> status);
  // Stops the thread (without STOPPING=1).
  ~ServiceNotifier();
  ServiceNotifier(const ServiceNotifier&) = delete;
  ServiceNotifier& operator=(const ServiceNotifier&) = delete;

  // READY=1 with the first status, then keeps the status current and feeds
  // the watchdog. Once only.
  void ready();
  // STOPPING=1; the status and the watchdog are no longer sent.
  void stopping();

 private:
  void run(int periodMs);
  void halt();

  const std::function<bool()> alive_;
  const std::function<std::string()> status_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool halted_ = false;
  std::thread thread_;
};

}  // namespace app

#endif  // MT4BRIDGE_APP_SERVICE_NOTIFIER_H_
