#include "operations/accounts/AccountRewrite.h"

#include "operations/ReplyCodes.h"

namespace operations {

int rewriteAccount(OperationContext& ctx, int login, const AccountChange& change,
                   const util::ResultSet& stored) {
  mt::UserRecord user{};
  if (const int failed = ctx.readAccount(login, &user)) return failed;
  if (!change(user)) return codes::kSuccess;
  return replyCode(
      ctx.callNormal([&](mt::CManagerInterface& m) { return m.UserRecordUpdate(&user); }), stored);
}

}  // namespace operations
