#include "operations/PumpEvent.h"

#include <atomic>

#include "server/FieldText.h"

namespace operations {
namespace {

std::atomic<store::FinanceBalanceStore*> gBalances{nullptr};
std::atomic<store::UserInfoStore*> gUsers{nullptr};
std::atomic<server::ManagerLink*> gPumping{nullptr};

void onTrade(int type, const mt::TradeRecord& trade) {
  if (type != mt::TRANS_DELETE) return;
  if (trade.cmd != mt::OP_BALANCE && trade.cmd != mt::OP_CREDIT) return;
  store::FinanceBalanceStore* balances = gBalances.load();
  if (balances == nullptr) return;
  balances->markHandled(
      store::HistoryKey{mt::fieldText(trade.comment), trade.login},
      trade.order);
}

void onUser(int type, const mt::UserRecord& user) {
  store::UserInfoStore* users = gUsers.load();
  if (users == nullptr) return;
  if (type == mt::TRANS_ADD || type == mt::TRANS_UPDATE) {
    store::UserIdentity identity;
    identity.login = user.login;
    identity.name = mt::fieldText(user.name);
    identity.email = mt::fieldText(user.email);
    identity.group = mt::fieldText(user.group);
    identity.comment = mt::fieldText(user.comment);
    identity.leadSource = mt::fieldText(user.lead_source);
    users->set(identity);
  } else if (type == mt::TRANS_DELETE) {
    users->remove(user.login);
  }
}

void onQuotes() {
  server::ManagerLink* pumping = gPumping.load();
  if (pumping == nullptr) return;
  mt::CManagerInterface* iface = pumping->interfaceForPumpHandler();
  if (iface == nullptr) return;
  mt::SymbolInfo infos[kQuoteBatch];
  for (int i = 0; i < kQuoteReadsMax; ++i) {
    if (iface->SymbolInfoUpdated(infos, kQuoteBatch) <= 0) break;
  }
}

}  // namespace

void setPumpTargets(store::FinanceBalanceStore* balances,
                    store::UserInfoStore* users, server::ManagerLink* pumping) {
  gBalances.store(balances);
  gUsers.store(users);
  gPumping.store(pumping);
}

void pumpEvent(int code, int type, void* data, void* /*param*/) {
  switch (code) {
    case mt::PUMP_UPDATE_TRADES:
      if (data != nullptr) onTrade(type, *static_cast<mt::TradeRecord*>(data));
      break;
    case mt::PUMP_UPDATE_USERS:
      if (data != nullptr) onUser(type, *static_cast<mt::UserRecord*>(data));
      break;
    case mt::PUMP_UPDATE_BIDASK:
      onQuotes();
      break;
    default:
      break;
  }
}

}  // namespace operations
