// Account creation: opens a trading account unless its login is already
// known (account identity store first, then the pumping manager's account
// cache). A known login with the same identity is answered as a success
// without a write; with another identity it is refused with code -2.
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_CREATE_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_CREATE_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// Waits 1000 ms, reads a UserRecordCreateEntity from request and sends one
// reply through reply echoing it: 200 (known with the same identity, or
// created), -2 (known with another identity), -1 (a manager link has no
// interface; nothing is called), or -r when UserRecordNew answers r != 0.
// Returns the code sent. A request value JsonCpp cannot convert throws
// Json::LogicError before any manager call, and no reply is sent.
int userRecordCreate(OperationContext& ctx, const Json::Value& request,
                     messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_CREATE_H_
