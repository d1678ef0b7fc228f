#include "app/Service.h"

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/ConsoleInput.h"
#include "app/Version.h"
#include "config/Config.h"
#include "operations/PumpEvent.h"
#include "operations/Routes.h"
#include "server/Connections.h"
#include "server/FieldText.h"
#include "server/ManagerResults.h"
#include "server/StopFlag.h"
#include "store/StoreCheck.h"
#include "util/Console.h"
#include "util/Log.h"
#include "util/Metrics.h"
#include "util/Pause.h"
#include "util/Platform.h"
#include "util/TextConvert.h"

namespace app {
namespace {

constexpr int kListRetryMs = 10000;
// Held for the life of the process: a second service in the same working
// folder would share and overwrite the stores.
constexpr const char* kFolderLockFile = "mt4bridge.lock";

// Prints and logs why start-up stops; false.
bool refused(const std::string& cause) {
  // A store file changed between its load and its check: the check found
  // nothing, yet the load failed.
  util::printAndLog("%s\n", cause.empty() ? "a store file changed while it was loaded"
                                           : cause.c_str());
  return false;
}

}  // namespace

Service::Service()
    : normal_(server::managerLibraryPath()),
      pumping_(server::managerLibraryPath()),
      reconnection_(server::ManagerLinks{&normal_, &pumping_}, &operations::pumpEvent),
      context_{normal_, pumping_, balances_, users_, imports_, mails_, config::current()},
      queues_(boundOperations()) {}

messaging::QueueSet::Operations Service::boundOperations() {
  messaging::QueueSet::Operations bound;
  for (const operations::Route& route : operations::routeTable()) {
    bound[static_cast<size_t>(route.queue->number - 1)] =
        operations::bindOperation(context_, route.operation);
  }
  return bound;
}

int Service::run() {
  std::thread(&Service::signalLoop, this).detach();

  bool started = loadSettings() && lockFolder() && startMetrics() && loadStores() &&
                 init() > 0;
  if (!started) {
    startFailed_ = true;
    pauseConsole();
    return -1;
  }
  if (askExit(stdin)) {
    waitKeyToStop();
    shutdown();
    platform::exitNow(0);
  }
  // Standard input has ended: keep serving until a termination signal.
  for (;;) util::pauseMs(60 * 60 * 1000);
}

bool Service::loadSettings() {
  std::vector<std::string> problems;
  if (config::loadConfig(&problems) > 0) {
    util::setLogRetentionDays(config::current().logRetentionDays);
    return true;
  }
  return refused(problems.empty() ? std::string("config.ini cannot be used") : problems.front());
}

void Service::tellMissingInterface() {
  // Both links load the same library: one line says why.
  if (!normal_.hasInterface()) util::printAndLog("%s\n", normal_.problem().c_str());
}

bool Service::lockFolder() {
  std::string error;
  if (folderLock_.acquire(kFolderLockFile, &error)) return true;
  util::printAndLog("working folder in use: %s; one service per folder keeps its stores\n",
                    error.c_str());
  return false;
}

bool Service::startMetrics() {
  const std::string& address = config::current().metricsAddress;
  std::string error;
  if (address.empty() || metrics::start(address, versionText(), &error)) return true;
  return refused("metrics endpoint " + address + " cannot be opened: " + error);
}

bool Service::loadStores() {
  if (store::loadFinanceBalanceHistory(balances_) < 0) {
    return refused(store::historyStoreProblem(balances_.path()));
  }
  if (users_.load() < 0) return refused(store::userInfoProblem(store::kUserInfoFile));
  if (imports_.load() < 0) return refused(store::historyStoreProblem(imports_.path()));
  if (mails_.load() < 0) return refused(store::historyStoreProblem(mails_.path()));
  return true;
}

int Service::init() {
  tellMissingInterface();
  const config::ConfigRecord& cfg = config::current();
  util::consoleWPrint(L"Server: %ls\n", util::stringToLPCWSTR(cfg.server).c_str());

  messaging::EventSink* events = nullptr;
  if (!cfg.serverEvents.empty()) {
    events_.configure(cfg.serverEventsBuffer);
    events = &events_;
  }
  operations::setPumpTargets(&balances_, &users_, &pumping_, events, cfg.timeZone);
  server::clearStop();
  reconnection_.start();
  util::pauseMs(cfg.startupPauseMs);

  subscribeSymbols();
  if (cfg.pumpUpdateBidAsk == 1) loadAccountList();

  std::lock_guard<std::mutex> lock(lifecycle_);
  if (server::stopRequested()) return -1;
  if (queues_.openReplies() <= 0 ||
      (!cfg.serverEvents.empty() && events_.open(cfg.brokerURI, cfg.serverEvents) <= 0)) {
    cleanup();
    return -1;
  }
  queues_.startRequests();
  util::printAndLog("init success\n");
  notifier_.ready();
  return 1;
}

namespace {

// Fetches a list from the pumping manager until it holds at least one item:
// the first count is not printed, every repeated one is ("%s size(%d)\n"),
// 10 s apart, until a stop is requested.
template <typename T, typename Call>
server::ManagerArray<T> fetchUntilListed(server::ManagerLink& pumping, const char* name,
                                         Call call) {
  int count = 0;
  util::RetryPlan plan;
  plan.attempts = util::kUntilStopped;
  plan.pauseMs = kListRetryMs;
  plan.stop = &server::stopRequested;
  plan.afterCall = [&](int attempt, int) {
    if (attempt > 1) util::consolePrint("%s size(%d)\n", name, count);
  };
  return server::fetchWithRetry<T>(plan, [&] {
    server::ManagerArray<T> list = pumping.fetchArray<T>(call);
    count = list.count();
    return list;
  });
}

}  // namespace

void Service::subscribeSymbols() {
  server::ManagerArray<mt::ConSymbol> symbols = fetchUntilListed<mt::ConSymbol>(
      pumping_, "SymbolsGetAll",
      [](mt::CManagerInterface& m, int* total) { return m.SymbolsGetAll(total); });
  for (const mt::ConSymbol& symbol : symbols) {
    const std::string name = mt::fieldText(symbol.symbol);
    pumping_.call(0, [&](mt::CManagerInterface& m) { return m.SymbolAdd(name.c_str()); });
  }
}

void Service::loadAccountList() {
  server::ManagerArray<mt::UserRecord> users = fetchUntilListed<mt::UserRecord>(
      pumping_, "UsersGet",
      [](mt::CManagerInterface& m, int* total) { return m.UsersGet(total); });
  for (const mt::UserRecord& u : users) {
    users_.set(store::UserIdentity{u.login, mt::fieldText(u.name), mt::fieldText(u.email),
                                   mt::fieldText(u.group), mt::fieldText(u.comment),
                                   mt::fieldText(u.lead_source)});
  }
}

void Service::stopAll() {
  server::requestStop();
  queues_.stop();
  events_.stop();
  reconnection_.stop();
  normal_.disconnect();
  pumping_.disconnect();
  normal_.release();
  pumping_.release();
}

void Service::cleanup() {
  stopAll();
  util::printAndLog("cleanup success\n");
}

void Service::shutdown() {
  server::requestStop();
  notifier_.stopping();
  std::lock_guard<std::mutex> lock(lifecycle_);
  stopAll();
  // No request or pumped event changes a store any more: each writes its
  // whole snapshot and starts its journal anew.
  balances_.close();
  imports_.close();
  mails_.close();
  util::printAndLog("service stopped\n");
}

namespace {

// A request worker on one request this long is hung: no operation takes it
// (its calls and pauses are bounded), so the watchdog is no longer fed.
constexpr int kHungRequestMs = 5 * 60 * 1000;

const char* upOrDown(server::ManagerLink& link) {
  return link.call(0, [](mt::CManagerInterface& m) { return m.IsConnected(); }) != 0 ? "up"
                                                                                      : "down";
}

}  // namespace

bool Service::alive() {
  return reconnection_.alive() && queues_.workersAlive(kHungRequestMs);
}

std::string Service::statusText() {
  int made = 0;
  const int open = queues_.openConnections(&made);
  return util::formatText("trading server: normal %s, pumping %s; broker: %d of %d connections open",
                          upOrDown(normal_), upOrDown(pumping_), open, made);
}

void Service::signalLoop() {
  int sig = platform::waitTerminationSignal();
  util::consolePrint("\nsignal %d: stopping\n", sig);
  if (startFailed_) platform::exitNow(255);
  shutdown();
  platform::exitNow(0);
}

}  // namespace app
