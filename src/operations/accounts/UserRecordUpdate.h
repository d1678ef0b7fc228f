// Account update: a read-modify-write of an account's record in one of
// three modes chosen by the request.
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_UPDATE_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_UPDATE_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// routeType "USER_ENABLE_READ_ONLY_UPDATE" sets only the read-only and
// password-change flags; groupType 2 or 9 sets the address, the leverage
// and the flags; any other request sets the personal data too (a comment
// "-1" keeps the stored one). Every text is cut to its field. 200 when
// UserRecordUpdate answers 0, else -r (rewriteAccount). A second run sets
// the same values again.
int userRecordUpdate(OperationContext& ctx, const Json::Value& request,
                     messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_UPDATE_H_
