#include "operations/groups/GroupLeverage.h"

#include <functional>
#include <map>
#include <string>

#include "operations/OperationRunner.h"
#include "operations/ReplyCodes.h"
#include "operations/groups/GroupLeverageEntity.h"
#include "server/FieldText.h"
#include "server/ManagerResults.h"
#include "util/Console.h"
#include "util/Log.h"

namespace operations {
namespace {

constexpr int kGroupFetchCalls = 100;
constexpr int kGroupWriteCalls = 3;

// Calls without a pause while the result is retryable; reconnect after a 6.
util::RetryPlan groupPlan(int attempts, std::function<void()> reconnect) {
  util::RetryPlan plan;
  plan.attempts = attempts;
  plan.success = server::kSuccessZeroOrOne;
  plan.retryable = server::kRetryable;
  plan.reconnect = std::move(reconnect);
  plan.reconnectOn = server::kNoConnection;
  return plan;
}

// Gives every used item of group that symbols names its requested leverage.
// True when an item changed.
bool setLeverages(mt::ConGroup& group, const std::map<std::string, GroupSymbolLeverage>& symbols) {
  bool changed = false;
  for (mt::ConGroupMargin& item : group.secmargins) {
    const std::string symbol = mt::fieldText(item.symbol);
    if (symbol.empty()) break;
    const auto wanted = symbols.find(symbol);
    if (wanted == symbols.end()) continue;
    util::consolePrint("group secmargins symbol:%s\n", symbol.c_str());
    util::consolePrint("group secmargins margin_divider:%f\n", item.margin_divider);
    const double leverage = wanted->second.leverage;
    if (item.margin_divider - leverage != 0.0) {
      changed = true;
      util::writeLog("group secmargins symbol:%s,oldLeverage:%f,newLeverage:%f\n", symbol.c_str(),
                     item.margin_divider, leverage);
      item.margin_divider = leverage;
    }
  }
  return changed;
}

// UsersGroupOp setting the leverage of every listed account.
int setAccountLeverage(OperationContext& ctx, const GroupLeverageEntity& request, int leverage) {
  mt::GroupCommandInfo info{};
  info.len = static_cast<int>(request.logins.size());
  info.command = mt::kGroupCommandLeverage;
  mt::setFieldTerminated(info.newgroup, request.group);
  info.leverage = leverage;
  const CallResult done = ctx.callNormal(
      [&](mt::CManagerInterface& m) { return m.UsersGroupOp(&info, request.logins.data()); });
  const char* line = done.in(server::kSuccessZeroOrOne) ? "UsersGroupOp success\n"
                                                        : "UsersGroupOp fail\n";
  util::consolePrint("%s", line);
  util::writeLog("%s", line);
  return replyCode(done, server::kSuccessZeroOrOne);
}

int changeGroup(OperationContext& ctx, GroupLeverageEntity& request) {
  mt::ConGroup group{};
  const CallResult fetched =
      ctx.retryPumping(groupPlan(kGroupFetchCalls, [&ctx] { ctx.reconnectPumping(); }),
                       [&](mt::CManagerInterface& m) {
                         return m.GroupRecordGet(request.group.c_str(), &group);
                       });
  if (!fetched.in(server::kSuccessZeroOrOne)) return codes::kGroupNotUpdated;
  util::consoleWPrint(L"success-group\n");

  if (setLeverages(group, request.symbols)) {
    const CallResult written =
        ctx.retryNormal(groupPlan(kGroupWriteCalls, [&ctx] { ctx.reconnectNormal(); }),
                        [&](mt::CManagerInterface& m) { return m.CfgUpdateGroup(&group); });
    if (!written.in(server::kSuccessZeroOrOne)) return codes::kGroupNotUpdated;
  }

  const auto accounts = request.symbols.find(kForeignExchange);
  if (request.logins.empty() || accounts == request.symbols.end()) return codes::kSuccess;
  return setAccountLeverage(ctx, request, accounts->second.leverage);
}

}  // namespace

int groupLeverage(OperationContext& ctx, const Json::Value& request,
                  messaging::ReplySender& reply) {
  return runOperation<GroupLeverageEntity>({}, ctx, request, reply, changeGroup);
}

}  // namespace operations
