#include "operations/balance/BalanceHistoryCheck.h"

#include <cmath>
#include <string>
#include <utility>

#include "operations/Refusal.h"
#include "operations/ReplyCodes.h"
#include "operations/TradeComment.h"
#include "server/FieldText.h"
#include "server/ManagerResults.h"
#include "util/Console.h"

namespace operations {
namespace {

// Amounts as requested compare with this tolerance.
constexpr double kTolerance = 0.00001;

using Store = store::FinanceBalanceStore;
using Trades = server::ManagerArray<mt::TradeRecord>;

// The trades of a search, and whether they tell the history: some call
// returned an array, and an empty one came while the link was connected.
struct History {
  Trades trades;
  bool readable = false;
};

Trades fetchRecentHistory(server::ManagerLink& normal, int login) {
  return normal.fetchArray<mt::TradeRecord>(
      [login](mt::CManagerInterface& iface, int* count) {
        const mt::ServerTimeT now = iface.ServerTime();
        return iface.TradesUserHistory(login, now - kHistorySearchSeconds, now,
                                       count);
      });
}

// Up to kHistorySearchCalls calls while none returns a trade; between two
// calls pauses, then runs reconnect when given.
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
  bool answered = false;
  History history;
  history.trades = server::fetchWithRetry<mt::TradeRecord>(plan, [&] {
    Trades trades = fetchRecentHistory(normal, login);
    answered = answered || trades.returned();
    return trades;
  });
  util::consolePrint("TradesUserHistory end\n");
  history.readable =
      !history.trades.empty() ||
      (answered && normal.call(0, [](mt::CManagerInterface& m) { return m.IsConnected(); }) != 0);
  return history;
}

// The first trade of history that is target's movement and that no other
// record holds, claimed for the record under key: its ticket (record
// updated), or 0 when there is none.
int claimMovement(Store& balances, const store::HistoryKey& key,
                  const store::FinanceBalance& target, const std::string& kept, History& history,
                  store::FinanceBalance* record) {
  for (const mt::TradeRecord& trade : history.trades) {
    if (!isMovementOf(trade, target, kept)) continue;
    store::FinanceBalance stored;
    switch (balances.claim(key, trade.order, &stored)) {
      case Store::Claim::kClaimed:
        stored.order = trade.order;
        break;
      case Store::Claim::kTicketed:  // marked meanwhile by the pumped event
        break;
      case Store::Claim::kTaken:
      case Store::Claim::kAbsent:
        continue;
    }
    history.trades.reset();
    record->isHandle = 1;
    record->order = stored.order;
    record->amount = target.amount;
    return stored.order;
  }
  return 0;
}

// The refusal of a movement the store could not record.
int notRecorded(const store::FinanceBalance& record) {
  return refuse(codes::kNotDurable,
                util::formatText("\"%s\" on account %d could not be recorded; nothing moved",
                                 record.comment.c_str(), record.login));
}

// The same request: kind and amount as requested, when the stored record
// knows them (records of older files do not).
bool sameRequest(const store::FinanceBalance& stored, const store::FinanceBalance& asked) {
  return stored.cmd == 0 ||
         (stored.cmd == asked.cmd && std::fabs(stored.requested - asked.requested) <= kTolerance);
}

}  // namespace

bool isMovementOf(const mt::TradeRecord& trade, const store::FinanceBalance& record,
                  const std::string& kept) {
  const bool kind = record.cmd == 0 ? trade.cmd == mt::OP_BALANCE || trade.cmd == mt::OP_CREDIT
                                    : trade.cmd == record.cmd;
  return kind && trade.login == record.login && !kept.empty() &&
         mt::fieldText(trade.comment) == kept &&
         std::fabs(trade.profit - record.amount) <= kAmountMatch;
}

int checkFinanceBalanceHistory(server::ManagerLink& normal, RememberedAction& movement,
                               const std::function<int()>& reconnectNormal) {
  using Start = RememberedAction::Start;
  Store& balances = movement.history();
  const store::HistoryKey& key = movement.key();
  store::FinanceBalance* record = &movement.record();
  const int login = record->login;
  util::consolePrint("mapFinanceBalanceHistory.find start\n");
  const Start start = movement.remember();
  store::FinanceBalance stored = movement.earlier();
  util::consolePrint("mapFinanceBalanceHistory.find end\n");
  const std::string kept = tradeComment(record->comment);

  if (start == Start::kNotDurable) {
    return notRecorded(*record);
  }
  if (start == Start::kNew) {
    util::consolePrint("ite == mapFinanceBalanceHistory.end()\n");
    util::consolePrint("outFinanceBalanceHistoryFile\n");
    // Never started by this service: whatever the history tells, it may
    // move.
    History history = searchHistory(normal, login, nullptr);
    return claimMovement(balances, key, *record, kept, history, record);
  }

  util::consolePrint("ite != mapFinanceBalanceHistory.end()\n");
  if (!sameRequest(stored, *record)) {
    return refuse(codes::kKeyConflict,
                  util::formatText("\"%s\" on account %d was used for another movement "
                                   "(cmd %d, amount %.2f); this one is cmd %d, amount %.2f",
                                   record->comment.c_str(), login, stored.cmd, stored.requested,
                                   record->cmd, record->requested));
  }
  if (start == Start::kDone) {
    util::consolePrint("ite->second.isHandle == 1\n");
    if (stored.order == 0) {
      // Handled without a ticket: look for the movement that carries the
      // serial as its comment.
      History history = searchHistory(normal, login, &reconnectNormal);
      const int ticket = claimMovement(balances, key, stored, tradeComment(stored.serial),
                                       history, record);
      if (ticket != 0) return ticket;
    }
    util::consolePrint(
        "crm balance:%s, order %d,balacne Operation completed %.02f for %d\n",
        stored.comment.c_str(), stored.order, stored.amount, login);
    record->isHandle = 1;
    record->order = stored.order;
    record->amount = stored.amount;
    return stored.order;
  }

  // On file and not known to be carried out: the earlier run may have moved
  // the stored amount before it stopped.
  History history = searchHistory(normal, login, nullptr);
  const int ticket = claimMovement(balances, key, stored, kept, history, record);
  if (ticket != 0) return ticket;
  if (!history.readable) {
    return refuse(codes::kHistoryUnreadable,
                  util::formatText("\"%s\" on account %d is on file and may have been moved; "
                                   "the server's history cannot be read to tell. Send it "
                                   "again later",
                                   record->comment.c_str(), login));
  }
  // Never moved: from now on the record is this run's movement.
  if (stored.amount != record->amount || stored.cmd != record->cmd) {
    stored.amount = record->amount;
    stored.cmd = record->cmd;
    stored.requested = record->requested;
    if (!balances.putAndSave(key, stored)) {
      return notRecorded(*record);
    }
  }
  return 0;
}

int checkFinanceBalanceHistory(OperationContext& ctx, RememberedAction& movement) {
  return checkFinanceBalanceHistory(ctx.normal, movement,
                                    [&ctx] { return ctx.reconnectNormal(); });
}

}  // namespace operations
