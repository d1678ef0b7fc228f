// A trading group's leverage per symbol, and the leverage of a list of
// accounts.
#ifndef MT4BRIDGE_OPERATIONS_GROUPS_GROUP_LEVERAGE_H_
#define MT4BRIDGE_OPERATIONS_GROUPS_GROUP_LEVERAGE_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// Reads a GroupLeverageEntity (no wait) and fetches the group
// (GroupRecordGet on the pumping manager, up to 100 calls without a pause,
// reconnecting the pumping manager after a 6). Every used secmargins item
// whose symbol the request names gets the requested leverage as its
// margin_divider, unchanged; the group is written back (CfgUpdateGroup on
// the normal manager, up to 3 calls, reconnecting it after a 6) only when
// an item changed. A failed fetch or write answers -1001. With accounts
// listed and a "ForeignExchange" entry, one UsersGroupOp sets their
// leverage: 200, or -r when it fails. 0 and 1 count as success
// everywhere. A second run finds the values set and writes nothing but the
// accounts' leverage again. Replies once; returns the reply's code.
int groupLeverage(OperationContext& ctx, const Json::Value& request,
                  messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_GROUPS_GROUP_LEVERAGE_H_
