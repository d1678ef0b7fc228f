// The two small account changes: a password, a leverage.
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNTS_PASSWORD_AND_LEVERAGE_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNTS_PASSWORD_AND_LEVERAGE_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// Reads a UserPasswordUpdateEntity (no wait). Types 1 and 3 check the
// master password first (UserPasswordCheck); type 3 sets the investor
// password, types 1 and 2 the master password (UserPasswordSet). 0 and 1
// count as success; a failed check answers -r and sets nothing; any other
// type answers -1 without a server call. Without an interface prints
// "UpdatePassWord manager is null" and answers -1. A second run sets the
// same password again (or, when checked, finds the old one changed and
// answers the check's failure). Replies once; returns the reply's code.
int userRecordPasswordUpdate(OperationContext& ctx, const Json::Value& request,
                             messaging::ReplySender& reply);

// Waits 10 ms and reads a UserLeverageUpdateEntity; sets the account's
// leverage unless it already is the requested one (200 without a write).
// Only leverage changes in the record written back; 0 and 1 count as
// success (rewriteAccount). Replies once; returns the reply's code.
int userLeverageUpdate(OperationContext& ctx, const Json::Value& request,
                       messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_PASSWORD_AND_LEVERAGE_H_
