// The three account reads. None changes the server, so a second run of one
// request reads again and answers what the server holds then. Each reads
// the account first on the pumping manager: an unknown account answers
// -r of that UserRecordGet (-65 on a server that says "not found").
#ifndef MT4BRIDGE_OPERATIONS_READS_ACCOUNT_READS_H_
#define MT4BRIDGE_OPERATIONS_READS_ACCOUNT_READS_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// The longest history window, in milliseconds: 31 days.
constexpr std::int64_t kHistoryWindowMaxMs = 31LL * 24 * 60 * 60 * 1000;

// The account and its equity (from its open trades; the balance and credit
// alone when no trade list comes back).
int userRecordGet(OperationContext& ctx, const Json::Value& request,
                  messaging::ReplySender& reply);

// The account's open trades and pending orders (TradesGetByLogin);
// codes::kNoTradeList when no list comes back.
int userTradesGet(OperationContext& ctx, const Json::Value& request,
                  messaging::ReplySender& reply);

// The account's closed trades and balance and credit operations closed in
// [from, to] (TradesUserHistory on the normal manager, both shifted by
// timeZone); codes::kBadWindow, without any call, when to is before from
// or more than kHistoryWindowMaxMs after it; codes::kNoTradeList when no
// list comes back.
int userHistoryGet(OperationContext& ctx, const Json::Value& request,
                   messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_READS_ACCOUNT_READS_H_
