// The read-modify-write of an account's record.
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNTS_ACCOUNT_REWRITE_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNTS_ACCOUNT_REWRITE_H_

#include <functional>

#include "operations/OperationContext.h"
#include "server/ManagerApi.h"
#include "util/Retry.h"

namespace operations {

// change(user) applies a request to the record; false when the record
// already holds what was asked (nothing to write).
using AccountChange = std::function<bool(mt::UserRecord& user)>;

// UserRecordGet of login on the pumping manager into a zero-filled record
// (0 and 1 go on, any other result r answers -r), then change, then
// UserRecordUpdate of the whole record on the normal manager: 200 when its
// result is in stored, else -r. 200 without a write when change answers
// false. Every field change does not set keeps what UserRecordGet filled.
int rewriteAccount(OperationContext& ctx, int login, const AccountChange& change,
                   const util::ResultSet& stored);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_ACCOUNT_REWRITE_H_
