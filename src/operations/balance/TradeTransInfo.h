// Balance and credit movements on one account: deposits, withdrawals,
// credit grants and removals, and the removal of all credit.
#ifndef MT4BRIDGE_OPERATIONS_BALANCE_TRADE_TRANS_INFO_H_
#define MT4BRIDGE_OPERATIONS_BALANCE_TRADE_TRANS_INFO_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"
#include "operations/balance/FinanceBalanceEntity.h"
#include "server/ManagerApi.h"

namespace operations {

// Moves money on the request's account once per comment and account. The
// working amount follows the request: a credit stays within zero and a
// positive creditLimit, a removal of all credit takes what the account
// holds. The movement is remembered in the balance-history store before
// the money moves and marked with its ticket after (RememberedAction.h):
// a repeated request, or one whose movement the server's recent history
// shows, is answered 200 with the first movement's amount and ticket
// without moving money again. Replies 200 with the amount moved and the
// ticket in order (200 without a movement when there is nothing to move).
// Refused with nothing moved: kNoMovementKey (no comment as the server
// keeps it), kKeyConflict, kHistoryUnreadable, kNotDurable (see
// BalanceHistoryCheck.h), kBelowMargin and kFloatingWithoutTrades (a
// withdrawal the account cannot cover); -r when a server call answers r.
int tradeTransInfo(OperationContext& ctx, const Json::Value& request,
                   messaging::ReplySender& reply);

// The second stage, for the working amount amount and the command cmd (6
// balance, 7 credit) on the account user as read: the history check, the
// withdrawal checks, the transaction, the mark. Sets request's amount,
// comment and order; returns the reply code, with no reply of its own.
int financeBalanceTransaction(OperationContext& ctx, double amount,
                              FinanceBalanceEntity& request, const mt::UserRecord& user,
                              int cmd);

// The sum of profit over the account's open trades as the pumping manager
// has them; 0 when it returns none.
double openTradesProfit(OperationContext& ctx, const mt::UserRecord& user);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_TRADE_TRANS_INFO_H_
