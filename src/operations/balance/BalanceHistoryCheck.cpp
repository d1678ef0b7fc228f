#include "operations/balance/BalanceHistoryCheck.h"

#include <string>

#include "operations/TradeComment.h"
#include "server/FieldText.h"
#include "server/ManagerResults.h"
#include "util/Console.h"

namespace operations {
namespace {

// Balance and credit trades: both are movements the store remembers.
bool isMovement(const mt::TradeRecord& trade) {
  return trade.cmd == mt::OP_BALANCE || trade.cmd == mt::OP_CREDIT;
}

using History = server::ManagerArray<mt::TradeRecord>;

History fetchRecentHistory(server::ManagerLink& normal, int login) {
  return normal.fetchArray<mt::TradeRecord>(
      [login](mt::CManagerInterface& iface, int* count) {
        const mt::ServerTimeT now = iface.ServerTime();
        return iface.TradesUserHistory(login, now - kHistorySearchSeconds, now,
                                       count);
      });
}

// Up to kHistorySearchCalls calls while none returns a trade; between two
// calls pauses, then runs reconnect when given. Empty when all failed.
History searchHistory(server::ManagerLink& normal, int login,
                      const std::function<int()>* reconnect) {
  util::consolePrint("TradesUserHistory start\n");
  util::RetryPlan plan;
  plan.attempts = kHistorySearchCalls;
  plan.pauseMs = kHistorySearchPauseMs;
  if (reconnect != nullptr && *reconnect) plan.reconnect = [reconnect] { (*reconnect)(); };
  plan.afterCall = [](int, int result) {
    if (result != server::kArrayReturned) util::consolePrint("TradesUserHistory fail\n");
  };
  History trades = server::fetchWithRetry<mt::TradeRecord>(
      plan, [&] { return fetchRecentHistory(normal, login); });
  util::consolePrint("TradesUserHistory end\n");
  return trades;
}

// Marks record handled with ticket, stores it under key and saves.
int acceptMatch(store::FinanceBalanceStore& balances, const store::HistoryKey& key,
                store::FinanceBalance* record, int ticket) {
  record->isHandle = 1;
  record->order = ticket;
  balances.putAndSave(key, *record);
  return ticket;
}

}  // namespace

int checkFinanceBalanceHistory(server::ManagerLink& normal,
                               store::FinanceBalanceStore& balances, int login,
                               const store::HistoryKey& key, store::FinanceBalance* record,
                               const std::function<int()>& reconnectNormal) {
  util::consolePrint("mapFinanceBalanceHistory.find start\n");
  store::FinanceBalance stored;
  const bool inserted = balances.insertIfAbsentAndSave(key, *record, &stored);
  util::consolePrint("mapFinanceBalanceHistory.find end\n");

  if (inserted) {
    util::consolePrint("ite == mapFinanceBalanceHistory.end()\n");
    util::consolePrint("outFinanceBalanceHistoryFile\n");
  } else {
    util::consolePrint("ite != mapFinanceBalanceHistory.end()\n");
    if (stored.isHandle == 1) {
      util::consolePrint("ite->second.isHandle == 1\n");
      if (stored.order == 0) {
        // Handled without a ticket: look for the movement that carries the
        // serial as its comment.
        const std::string serial = tradeComment(stored.serial);
        History trades = searchHistory(normal, login, &reconnectNormal);
        for (const mt::TradeRecord& trade : trades) {
          if (isMovement(trade) && mt::fieldText(trade.comment) == serial) {
            const int ticket = trade.order;
            trades.reset();
            return acceptMatch(balances, key, record, ticket);
          }
        }
      }
      util::consolePrint(
          "crm balance:%s, order %d,balacne Operation completed %.02f for %d\n",
          stored.comment.c_str(), stored.order, stored.amount, login);
      record->isHandle = 1;
      record->order = stored.order;
      return stored.order;
    }
  }

  const std::string comment = tradeComment(record->comment);
  History trades = searchHistory(normal, login, nullptr);
  for (const mt::TradeRecord& trade : trades) {
    if (!isMovement(trade) || trade.login != login) continue;
    if (comment.empty() || mt::fieldText(trade.comment) != comment) continue;
    const int ticket = trade.order;
    trades.reset();
    return acceptMatch(balances, key, record, ticket);
  }
  return 0;
}

int checkFinanceBalanceHistory(OperationContext& ctx, const store::HistoryKey& key,
                               store::FinanceBalance* record) {
  return checkFinanceBalanceHistory(ctx.normal, ctx.balances, record->login, key, record,
                                    [&ctx] { return ctx.reconnectNormal(); });
}

}  // namespace operations
