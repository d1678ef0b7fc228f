// Whether a balance or credit movement was already carried out, decided
// from the balance-history store and the trading server's recent history.
#ifndef MT4BRIDGE_OPERATIONS_BALANCE_BALANCE_HISTORY_CHECK_H_
#define MT4BRIDGE_OPERATIONS_BALANCE_BALANCE_HISTORY_CHECK_H_

#include <functional>

#include "operations/OperationContext.h"
#include "server/ManagerLink.h"
#include "store/FinanceBalance.h"
#include "store/FinanceBalanceStore.h"

namespace operations {

// How far back the server's history is searched: three days.
constexpr int kHistorySearchSeconds = 259200;
// History calls per search, and the pause between two of them.
constexpr int kHistorySearchCalls = 6;
constexpr int kHistorySearchPauseMs = 1000;

// record: the caller's new record (isHandle 0, order 0) of the movement of
// login stored under key (key is normally keyOf(*record)); updated in place.
//
// Returns the movement's ticket (> 0) when it was already carried out (the
// ticket is then also in record->order), else 0. When the movement was
// carried out, record->isHandle is 1 on return, also in the one case that
// returns 0: a stored record handled without a ticket that the history does
// not show (it was carried out; its ticket is unknown).
// - key absent: the record is stored under key and the file saved, then the
//   normal manager's last three days of history (TradesUserHistory, up to
//   six calls 1 s apart while none comes back) are searched for a balance
//   or credit trade (cmd 6 or 7) of login whose comment is record->comment
//   as the server keeps it (tradeComment: converted, cut to its field); an
//   empty comment matches nothing;
// - present, not handled: the same search, the store unchanged;
// - present and handled: the stored order is the answer; a stored order of
//   0 is first looked for in the history as a balance or credit trade whose
//   comment is the stored serial as the server keeps it, running
//   reconnectNormal after each pause between failed calls.
// A match stores the record as handled with the trade's ticket and saves
// the file. Prints its progress on the console. Every array fetched is
// freed. No store lock is held while the server is called or the thread
// pauses. normal, balances and reconnectNormal are used only during the
// call.
int checkFinanceBalanceHistory(server::ManagerLink& normal,
                               store::FinanceBalanceStore& balances, int login,
                               const store::HistoryKey& key, store::FinanceBalance* record,
                               const std::function<int()>& reconnectNormal);

// The same on the context's normal manager and balance-history store, for
// record->login, reconnecting with ctx.reconnectNormal().
int checkFinanceBalanceHistory(OperationContext& ctx, const store::HistoryKey& key,
                               store::FinanceBalance* record);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_BALANCE_HISTORY_CHECK_H_
