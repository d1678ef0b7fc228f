// The two small account changes: a password, a leverage.
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNTS_PASSWORD_AND_LEVERAGE_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNTS_PASSWORD_AND_LEVERAGE_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// Types 1 and 3 check the master password first (UserPasswordCheck); type
// 3 sets the investor password, types 1 and 2 the master password
// (UserPasswordSet). 200 when the server answers 0 or 1, else -r; a failed
// check sets nothing; any other type answers -1 without a server call. A
// second run sets the same password again (or, when checked, finds the
// old one changed and answers the check's failure).
int userRecordPasswordUpdate(OperationContext& ctx, const Json::Value& request,
                             messaging::ReplySender& reply);

// Sets the account's leverage unless it already is the requested one (200
// without a write). Only leverage changes in the record written back; 200
// when the server answers 0 or 1, else -r (rewriteAccount). A second run
// finds the leverage set.
int userLeverageUpdate(OperationContext& ctx, const Json::Value& request,
                       messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_PASSWORD_AND_LEVERAGE_H_
