// The transaction of a balance or credit movement.
#ifndef MT4BRIDGE_OPERATIONS_BALANCE_MOVEMENT_INFO_H_
#define MT4BRIDGE_OPERATIONS_BALANCE_MOVEMENT_INFO_H_

#include <string>

#include "operations/OperationContext.h"
#include "server/ManagerApi.h"

namespace operations {

// A credit expires this long after it is granted: 3650 days.
constexpr mt::ServerTimeT kCreditLifetimeSeconds = 315360000;

// Type 83 (balance operation) for cmd 6 (balance) or 7 (credit) on login,
// price amount, comment (the server's text, cut to its field); a credit
// expires kCreditLifetimeSeconds after the normal manager's ServerTime.
// Every other field is zero.
mt::TradeTransInfo movementInfo(OperationContext& ctx, int cmd, int login, double amount,
                                const std::string& comment);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_MOVEMENT_INFO_H_
