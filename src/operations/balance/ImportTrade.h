// Trade import: one trade from the back office written into the server's
// records as it happened (times, prices, commission, swaps, taxes, profit).
#ifndef MT4BRIDGE_OPERATIONS_BALANCE_IMPORT_TRADE_H_
#define MT4BRIDGE_OPERATIONS_BALANCE_IMPORT_TRADE_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// A request with newOrder >= 1 rewrites that trade. Otherwise a balance or
// credit movement (cmd 6, 7) is made once per serial and login, recognised
// through the balance-history store and the server's history; a trade or
// order (cmd 0-5) is opened once per serial and login, remembered in
// ctx.imports before it is opened and after, and closed when the request
// gives a close time. The record is then overwritten with the request's
// values (times shifted by the configured time zone) and the account's
// balance recomputed. A repeated trade import is answered 200 with the
// first ticket in newOrder and rewrites nothing; an import that stopped
// half-way is finished. Replies once; returns the reply's code.
int importTrade(OperationContext& ctx, const Json::Value& request,
                messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_IMPORT_TRADE_H_
