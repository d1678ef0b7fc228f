#include "app/Service.h"

#include <cstdio>
#include <string>
#include <thread>

#include "app/ConsoleInput.h"
#include "config/Config.h"
#include "operations/PumpEvent.h"
#include "operations/Routes.h"
#include "server/Connections.h"
#include "server/FieldText.h"
#include "server/ManagerResults.h"
#include "server/StopFlag.h"
#include "util/Console.h"
#include "util/Log.h"
#include "util/Pause.h"
#include "util/Platform.h"
#include "util/TextConvert.h"

namespace app {
namespace {

constexpr int kListRetryMs = 10000;
// Held for the life of the process: a second service in the same working
// folder would share and overwrite the stores.
constexpr const char* kFolderLockFile = "mt4bridge.lock";

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

  bool started = config::loadConfig() >= 0 && lockFolder() &&
                 store::loadFinanceBalanceHistory(balances_) >= 0 && users_.load() >= 0 &&
                 imports_.load() >= 0 && mails_.load() >= 0 && init() > 0;
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

bool Service::lockFolder() {
  std::string error;
  if (folderLock_.acquire(kFolderLockFile, &error)) return true;
  util::printAndLog("working folder in use: %s; one service per folder keeps its stores\n",
                    error.c_str());
  return false;
}

int Service::init() {
  const config::ConfigRecord& cfg = config::current();
  util::consoleWPrint(L"Server: %ls\n", util::stringToLPCWSTR(cfg.server).c_str());

  operations::setPumpTargets(&balances_, &users_, &pumping_);
  server::clearStop();
  reconnection_.start();
  util::pauseMs(cfg.startupPauseMs);

  subscribeSymbols();
  if (cfg.pumpUpdateBidAsk == 1) loadAccountList();

  std::lock_guard<std::mutex> lock(lifecycle_);
  if (server::stopRequested()) return -1;
  if (queues_.openReplies() <= 0) {
    cleanup();
    return -1;
  }
  queues_.startRequests();
  util::printAndLog("init success\n");
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
  std::lock_guard<std::mutex> lock(lifecycle_);
  stopAll();
  // No request or pumped event changes a store any more: each writes its
  // whole snapshot and starts its journal anew.
  balances_.close();
  imports_.close();
  mails_.close();
  util::printAndLog("service stopped\n");
}

void Service::signalLoop() {
  int sig = platform::waitTerminationSignal();
  util::consolePrint("\nsignal %d: stopping\n", sig);
  if (startFailed_) platform::exitNow(255);
  shutdown();
  platform::exitNow(0);
}

}  // namespace app
