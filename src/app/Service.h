// The service as a whole: the process-wide objects, start-up (init), the
// clean-up after a failed start, and the orderly stop.
//
// The objects are built in this order: the normal manager, the pumping
// manager, the four stores (balance history, trade imports, mails, account
// identities), the working folder's lock, the reconnection thread, the
// operations' context, and the queues (their connections are opened by
// init). The configuration record is the config module's process-wide
// record.
#ifndef MT4BRIDGE_APP_SERVICE_H_
#define MT4BRIDGE_APP_SERVICE_H_

#include <atomic>
#include <mutex>

#include "app/ServiceNotifier.h"
#include "config/QueueTable.h"
#include "messaging/EventPublisher.h"
#include "messaging/QueueSet.h"
#include "operations/OperationContext.h"
#include "server/ManagerLink.h"
#include "server/ReconnectionThread.h"
#include "store/FinanceBalanceStore.h"
#include "store/UserInfoStore.h"
#include "util/Platform.h"

namespace app {

class Service {
 public:
  Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // The program: reads the settings and the stores, starts the service and
  // waits at the exit prompt. Returns -1 after a failed start (once the
  // operator has pressed a key); ends the process with 0 after the
  // operator's stop or a termination signal.
  int run();

 private:
  // The start-up steps before init(), in this order. Each returns false
  // after one console and log line that names the cause and where it lies.
  //
  // Reads config.ini into the process-wide record, and the log's retention
  // from it.
  bool loadSettings();
  // Takes the working folder's lock before any store is read; false (with
  // one console and log line) when another process holds it.
  bool lockFolder();
  // Opens the metrics endpoint when config.ini names metricsAddress.
  bool startMetrics();
  // Loads the four stores.
  bool loadStores();
  // When the plugin could not give an interface, one console and log line
  // says why. Start-up goes on without it, as before: the links have no
  // interface, and the service waits on the server's symbol list.
  void tellMissingInterface();
  // Brings the service up: 1 when every producer and consumer was created,
  // -1 otherwise (after cleanup()).
  int init();
  // Undoes a failed start: stopAll(), then prints "cleanup success\n".
  void cleanup();
  // The orderly stop: stopAll(), then each store writes its snapshot;
  // prints "service stopped\n". Safe to call from the signal thread while
  // init() runs.
  void shutdown();
  // No new requests are taken, the requests in progress are finished and
  // answered, the broker connections are closed, the managers stopped and
  // released.
  void stopAll();
  // Waits for SIGTERM/SIGINT, stops the service and ends the process.
  void signalLoop();

  // The service manager's view: every part that must run is alive, and a
  // status line of the links and the broker connections.
  bool alive();
  std::string statusText();
  void subscribeSymbols();
  void loadAccountList();
  messaging::QueueSet::Operations boundOperations();

  // Before the links: the pumping handler offers to it until pumping ends.
  messaging::EventPublisher events_;
  server::ManagerLink normal_;
  server::ManagerLink pumping_;
  store::FinanceBalanceStore balances_;
  store::FinanceBalanceStore imports_{store::kTradeImportHistoryFile};
  store::FinanceBalanceStore mails_{store::kEmailSendHistoryFile};
  store::UserInfoStore users_;
  platform::FileLock folderLock_;
  server::ReconnectionThread reconnection_;
  operations::OperationContext context_;
  messaging::QueueSet queues_;
  ServiceNotifier notifier_{[this] { return alive(); }, [this] { return statusText(); }};

  // Held by the steps of init() that open broker endpoints and by
  // shutdown(), so a signal never closes what is being opened.
  std::mutex lifecycle_;
  std::atomic<bool> startFailed_{false};
};

}  // namespace app

#endif  // MT4BRIDGE_APP_SERVICE_H_
