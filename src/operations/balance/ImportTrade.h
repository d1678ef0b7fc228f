// Trade import: one trade from the back office written into the server's
// records as it happened (times, prices, commission, swaps, taxes, profit).
#ifndef MT4BRIDGE_OPERATIONS_BALANCE_IMPORT_TRADE_H_
#define MT4BRIDGE_OPERATIONS_BALANCE_IMPORT_TRADE_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// A request with newOrder >= 1 rewrites that trade of the account
// (kOtherAccountsTrade when it is another account's). Otherwise, once per
// serial and login (kNoMovementKey without a serial), a balance or credit
// movement (cmd 6, 7) is made like a money movement (TradeTransInfo.h), its
// ticket in order; a trade or order (cmd 0-5) is remembered in ctx.imports,
// opened, and closed when the request gives a close time, its ticket in
// newOrder (RememberedAction.h). The record then takes the request's values
// (times shifted by the configured time zone) and the account's balance is
// recomputed. Replies 200; -r when a server call answers r, 0 when the
// trade's record cannot be read, kNotDurable when the import or its ticket
// cannot be put on disk (the record is then not rewritten, so that a repeat
// finds it). A repeat is answered 200 with the first ticket, opening and
// moving nothing; an import that stopped half-way is finished.
int importTrade(OperationContext& ctx, const Json::Value& request,
                messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_IMPORT_TRADE_H_
