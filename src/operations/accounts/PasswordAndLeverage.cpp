#include "operations/accounts/PasswordAndLeverage.h"

#include "operations/AccountNumber.h"
#include "operations/OperationRunner.h"
#include "operations/ReplyCodes.h"
#include "operations/accounts/AccountRewrite.h"
#include "operations/accounts/UserLeverageUpdateEntity.h"
#include "operations/accounts/UserPasswordUpdateEntity.h"
#include "server/ManagerResults.h"

namespace operations {
namespace {

constexpr int kLeveragePauseMs = 10;
constexpr const char* kPasswordNoInterfaceLine = "UpdatePassWord manager is null\n";

constexpr int kMasterChecked = 1;
constexpr int kMaster = 2;
constexpr int kInvestorChecked = 3;

int setPassword(OperationContext& ctx, UserPasswordUpdateEntity& request) {
  if (request.type != kMasterChecked && request.type != kMaster &&
      request.type != kInvestorChecked) {
    return codes::kNotCarriedOut;
  }
  const int login = accountOf(request.login);
  if (request.type != kMaster) {
    const CallResult checked = ctx.callNormal([&](mt::CManagerInterface& m) {
      return m.UserPasswordCheck(login, request.masterPass.c_str());
    });
    if (!checked.in(server::kSuccessZeroOrOne)) {
      return replyCode(checked, server::kSuccessZeroOrOne);
    }
  }
  const int investor = request.type == kInvestorChecked ? 1 : 0;
  return replyCode(ctx.callNormal([&](mt::CManagerInterface& m) {
                     return m.UserPasswordSet(login, request.newPass.c_str(), investor, 0);
                   }),
                   server::kSuccessZeroOrOne);
}

int setLeverage(OperationContext& ctx, UserLeverageUpdateEntity& request) {
  return rewriteAccount(
      ctx, accountOf(request.login),
      [&](mt::UserRecord& user) {
        if (user.leverage == request.leverage) return false;
        user.leverage = request.leverage;
        return true;
      },
      server::kSuccessZeroOrOne);
}

}  // namespace

int userRecordPasswordUpdate(OperationContext& ctx, const Json::Value& request,
                             messaging::ReplySender& reply) {
  return runOperation<UserPasswordUpdateEntity>({0, kPasswordNoInterfaceLine}, ctx, request,
                                                reply, setPassword);
}

int userLeverageUpdate(OperationContext& ctx, const Json::Value& request,
                       messaging::ReplySender& reply) {
  return runOperation<UserLeverageUpdateEntity>({kLeveragePauseMs}, ctx, request, reply,
                                                setLeverage);
}

}  // namespace operations
