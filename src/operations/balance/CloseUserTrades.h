// Liquidating one account: every open position closed by the broker at the
// price the server shows for it, every pending order deleted.
#ifndef MT4BRIDGE_OPERATIONS_BALANCE_CLOSE_USER_TRADES_H_
#define MT4BRIDGE_OPERATIONS_BALANCE_CLOSE_USER_TRADES_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// Reads the account and its open trades from the pumping manager, then on
// the normal manager closes each position (comment "stopout") or deletes
// each pending order (cmd 2-5) in the list's order, stopping at the first
// failure. -1002 when the server returns no trade list. A second run finds
// nothing left open. Replies once; returns the reply's code.
int closeUserTrades(OperationContext& ctx, const Json::Value& request,
                    messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_CLOSE_USER_TRADES_H_
