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

// Reads the account from the pumping manager, chooses the movement and its
// working amount, and runs financeBalanceTransaction. Every movement is
// recorded in the balance-history store (journaled) before the money moves,
// under its key, the comment and the account, so a repeated request is
// answered 200 with the first movement's amount and ticket instead of
// moving the money again. Refused without a call to the server: an empty
// comment (as the server keeps it), kNoMovementKey. Replies once; returns
// the reply's code.
int tradeTransInfo(OperationContext& ctx, const Json::Value& request,
                   messaging::ReplySender& reply);

// The second stage, for the working amount amount (credit limits applied)
// and the command cmd (6 balance, 7 credit) on the account user as read:
// the history check (its refusals: kKeyConflict, kHistoryUnreadable,
// kNotDurable), the withdrawal checks, the transaction on the normal
// manager. Sets request's amount, comment and order; returns the reply
// code. Used by tradeTransInfo; no reply of its own.
int financeBalanceTransaction(OperationContext& ctx, double amount,
                              FinanceBalanceEntity& request, const mt::UserRecord& user,
                              int cmd);

// The sum of profit over the account's open trades (TradesGetByLogin on
// the pumping manager, up to 10 calls 100 ms apart while none comes back;
// 0 when none does).
double openTradesProfit(OperationContext& ctx, const mt::UserRecord& user);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_TRADE_TRANS_INFO_H_
