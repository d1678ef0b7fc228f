// Liquidating one account: every open position closed by the broker at the
// price the server shows for it, every pending order deleted.
#ifndef MT4BRIDGE_OPERATIONS_BALANCE_CLOSE_USER_TRADES_H_
#define MT4BRIDGE_OPERATIONS_BALANCE_CLOSE_USER_TRADES_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// Closes each open position of the account (comment "stopout") and deletes
// each pending order (cmd 2-5), in the order the server lists them,
// stopping at the first failure. Replies 200 when every one is done, -r
// when a call answers r, kNoTradeList (-1002) when the server returns no
// list. A second run finds nothing left open.
int closeUserTrades(OperationContext& ctx, const Json::Value& request,
                    messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_CLOSE_USER_TRADES_H_
