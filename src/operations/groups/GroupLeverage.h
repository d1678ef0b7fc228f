// A trading group's leverage per symbol, and the leverage of a list of
// accounts.
#ifndef MT4BRIDGE_OPERATIONS_GROUPS_GROUP_LEVERAGE_H_
#define MT4BRIDGE_OPERATIONS_GROUPS_GROUP_LEVERAGE_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// Every used symbol setting of the group (secmargins) that the request
// names gets the requested leverage as its margin_divider; the group is
// written back only when one changed. With accounts listed and a
// "ForeignExchange" entry, their leverage is set to that entry's. Replies
// 200; kGroupNotUpdated (-1001) when the group cannot be read or written,
// -r when the accounts' change answers r. A second run finds the values
// set and writes nothing but the accounts' leverage again.
int groupLeverage(OperationContext& ctx, const Json::Value& request,
                  messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_GROUPS_GROUP_LEVERAGE_H_
