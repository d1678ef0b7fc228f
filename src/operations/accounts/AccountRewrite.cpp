#include "operations/accounts/AccountRewrite.h"

#include "operations/ReplyCodes.h"
#include "server/ManagerResults.h"

namespace operations {

int rewriteAccount(OperationContext& ctx, int login, const AccountChange& change,
                   const util::ResultSet& stored) {
  mt::UserRecord user{};
  const CallResult got =
      ctx.callPumping([&](mt::CManagerInterface& m) { return m.UserRecordGet(login, &user); });
  if (!got.in(server::kSuccessZeroOrOne)) return replyCode(got, server::kSuccessZeroOrOne);
  if (!change(user)) return codes::kSuccess;
  return replyCode(
      ctx.callNormal([&](mt::CManagerInterface& m) { return m.UserRecordUpdate(&user); }), stored);
}

}  // namespace operations
