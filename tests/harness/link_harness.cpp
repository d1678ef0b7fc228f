// Runs the trading-server link on its own, for the end-to-end tests: the
// two manager links (plugin ../libs/mtmanapi.so), the two stores the
// pumping handler keeps (balance history and account identities, files in
// the working directory), the pumping handler and the reconnection thread
// with real pauses, until SIGTERM or SIGINT. Reads config.ini from the
// working directory (server, login, password, pumpUpdateBidAsk); the log
// goes to ../log/mt4 as in the service.
//
// Prints, besides the reconnection thread's lines:
//   "harness ready" once the links are built, just before the thread starts;
//   "pump code=C type=T" for every pumped event, followed for trades by
//     " order=O login=L cmd=M comment=TEXT" and for accounts by
//     " login=L identity=0|1" (whether the identity store holds the
//     account after the handler ran);
//   "harness stopped" after the shut-down steps.
// Exit status: 0, or 3 when config.ini or a store cannot be read.
#include <csignal>
#include <string>

#include "config/Config.h"
#include "server/FieldText.h"
#include "server/ManagerLink.h"
#include "operations/PumpEvent.h"
#include "server/ReconnectionThread.h"
#include "server/StopFlag.h"
#include "store/FinanceBalanceStore.h"
#include "store/UserInfoStore.h"
#include "util/Console.h"
#include "util/Pause.h"

namespace {

store::UserInfoStore* gUsers = nullptr;

void onSignal(int) { server::requestStop(); }

// The service's handler, with a line about each event once it is handled.
void printingPumpEvent(int code, int type, void* data, void* param) {
  operations::pumpEvent(code, type, data, param);
  std::string line = util::formatText("pump code=%d type=%d", code, type);
  if (code == mt::PUMP_UPDATE_TRADES && data != nullptr) {
    const auto* t = static_cast<const mt::TradeRecord*>(data);
    line += util::formatText(" order=%d login=%d cmd=%d comment=%s", t->order,
                             t->login, t->cmd,
                             mt::fieldText(t->comment).c_str());
  } else if (code == mt::PUMP_UPDATE_USERS && data != nullptr) {
    const auto* u = static_cast<const mt::UserRecord*>(data);
    store::UserIdentity identity;
    bool held = gUsers != nullptr && gUsers->find(u->login, &identity);
    line += util::formatText(" login=%d identity=%d", u->login, held ? 1 : 0);
  }
  util::consolePrint("%s\n", line.c_str());
}

}  // namespace

int main() {
  if (config::loadConfig() != 1) {
    util::consolePrint("harness: config.ini missing or incomplete\n");
    return 3;
  }
  store::FinanceBalanceStore balances;
  store::UserInfoStore users;
  if (balances.load() != 1 || users.load() != 1) {
    util::consolePrint("harness: a store file is not a JSON array\n");
    return 3;
  }
  gUsers = &users;

  server::ManagerLink normal(server::managerLibraryPath());
  server::ManagerLink pumping(server::managerLibraryPath());
  operations::setPumpTargets(&balances, &users, &pumping);

  std::signal(SIGTERM, onSignal);
  std::signal(SIGINT, onSignal);

  {
    server::ReconnectionThread thread({&normal, &pumping}, &printingPumpEvent);
    util::consolePrint("harness ready\n");
    thread.start();
    while (!server::stopRequested()) util::pauseMs(100);
    // Shut-down: the thread first, then the links in the service's order.
    thread.stop();
  }
  normal.disconnect();
  pumping.disconnect();
  normal.release();
  pumping.release();
  operations::setPumpTargets(nullptr, nullptr, nullptr);
  util::consolePrint("harness stopped\n");
  return 0;
}
