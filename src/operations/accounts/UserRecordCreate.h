// Account creation: opens a trading account unless its login is already
// known (account identity store first, then the pumping manager's account
// cache).
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_CREATE_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_CREATE_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// Replies 200 when the login is known with the same identity (nothing is
// written) or the account is created, -2 when the login is known with
// another identity, -r when UserRecordNew answers r != 0. A second run
// finds the account it created and answers 200.
int userRecordCreate(OperationContext& ctx, const Json::Value& request,
                     messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_CREATE_H_
