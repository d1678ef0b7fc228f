// Whether a balance or credit movement was already carried out, decided
// from the balance-history store and the trading server's recent history.
#ifndef MT4BRIDGE_OPERATIONS_BALANCE_BALANCE_HISTORY_CHECK_H_
#define MT4BRIDGE_OPERATIONS_BALANCE_BALANCE_HISTORY_CHECK_H_

#include <functional>
#include <string>

#include "operations/OperationContext.h"
#include "operations/RememberedAction.h"
#include "server/ManagerApi.h"
#include "server/ManagerLink.h"
#include "store/FinanceBalance.h"
#include "store/FinanceBalanceStore.h"

namespace operations {

// How far back the server's history is searched: three days.
constexpr int kHistorySearchSeconds = 259200;
// History calls per search, and the pause between two of them.
constexpr int kHistorySearchCalls = 6;
constexpr int kHistorySearchPauseMs = 1000;
// A server that keeps money in cents may round an amount: a trade's amount
// within this much of a record's is the record's.
constexpr double kAmountMatch = 0.01;

// True when trade may be the movement of record: the same login, the same
// kind (record.cmd; either kind when it is 0), kept (the record's key text
// as the server keeps it, tradeComment) as its comment, and record.amount
// (within kAmountMatch) as its amount. Whether another record holds its
// ticket is the store's to tell (FinanceBalanceStore::claim).
bool isMovementOf(const mt::TradeRecord& trade, const store::FinanceBalance& record,
                  const std::string& kept);

// movement: the caller's new record of the movement under its key, not
// yet remembered (isHandle 0, order 0, the working amount, the kind and
// the amount as requested); its record() is updated in place.
//
// Returns the movement's ticket (> 0) when it was already carried out (the
// ticket is then also in record().order, and record().amount is the amount
// moved then), 0 when it was not and may be moved now, or a refusal (its
// reply code, printed and logged), with nothing moved:
// - kNotDurable: the store could not record the movement;
// - kKeyConflict: the key is on file for another movement (another kind,
//   or another amount as requested);
// - kHistoryUnreadable: the key is on file, not known to be carried out,
//   and the server's history cannot be read (no call returned an array,
//   or they came back empty while the normal link is not connected).
// When the movement was carried out, record().isHandle is 1 on return,
// also in the one case that returns 0: a stored record handled without a
// ticket that the history does not show (it was carried out; its ticket
// is unknown). Once a movement that returned 0 is carried out, the caller
// marks it (movement.markHandled).
//
// - key absent: the record is remembered (movement.remember()), then the
//   normal manager's last three days of history (TradesUserHistory, up to
//   six calls 1 s apart while none comes back) are searched for the
//   movement (isMovementOf, with its comment as the server keeps it);
// - present, not handled: the same search for the stored movement; not
//   found, the stored record takes the caller's amount (journaled);
// - present and handled: the stored order is the answer; a stored order of
//   0 is first looked for in the history as the movement with the stored
//   serial as its comment, running reconnectNormal after each pause
//   between failed calls.
// A trade found is claimed in the store for the record (isHandle 1, its
// ticket), unless another record of the login holds that ticket: a trade
// is never taken for two movements. Prints its progress on the console.
// Every array fetched is freed. No store lock is held while the server is
// called or the thread pauses. normal and reconnectNormal are used only
// during the call.
int checkFinanceBalanceHistory(server::ManagerLink& normal, RememberedAction& movement,
                               const std::function<int()>& reconnectNormal);

// The same on the context's normal manager (movement on ctx.balances),
// reconnecting with ctx.reconnectNormal().
int checkFinanceBalanceHistory(OperationContext& ctx, RememberedAction& movement);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_BALANCE_HISTORY_CHECK_H_
