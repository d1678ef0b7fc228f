#include "operations/balance/TradeTransInfo.h"

#include <string>

#include "operations/AccountNumber.h"
#include "operations/OpenTrades.h"
#include "operations/OperationRunner.h"
#include "operations/Refusal.h"
#include "operations/RememberedAction.h"
#include "operations/ReplyCodes.h"
#include "operations/TradeComment.h"
#include "operations/balance/BalanceHistoryCheck.h"
#include "operations/balance/MovementInfo.h"
#include "server/FieldText.h"
#include "server/ManagerResults.h"
#include "util/Console.h"
#include "util/Log.h"

namespace operations {
namespace {

// Every comparison of amounts allows this much.
constexpr double kTolerance = 0.00001;
// A busy account read (result 2) is asked again this often, 100 ms apart.
constexpr int kAccountReadRetries = 50;
constexpr int kAccountReadPauseMs = 100;
constexpr int kProfitReadCalls = 10;
constexpr int kProfitReadPauseMs = 100;
constexpr const char* kActivityRoute = "TRADE_TRANS_ACTIVITY_GIVE_INFO";
constexpr const char* kNoInterfaceLine = "FinanceBalance manager is null\n";

bool negligible(double amount) { return -kTolerance < amount && amount <= kTolerance; }

// A credit movement never takes the credit below zero, nor above a positive
// creditLimit.
double withinCreditLimits(double amount, double credit, double creditLimit) {
  if (credit + amount < kTolerance) amount = -credit;
  if (creditLimit > 0 && credit + amount > creditLimit) amount = creditLimit - credit;
  return amount;
}

// UserRecordGet on the pumping manager; a busy answer (2) is asked again
// after a pause and a reconnect, at most kAccountReadRetries times.
CallResult readAccount(OperationContext& ctx, int login, mt::UserRecord* user) {
  util::consolePrint("UserRecordGet start \n");
  util::RetryPlan plan;
  plan.attempts = kAccountReadRetries + 1;
  plan.pauseMs = kAccountReadPauseMs;
  plan.success = server::kSuccessZeroOrOne;
  plan.retryable = util::ResultSet{mt::RET_ERROR};
  plan.reconnect = [&ctx] { ctx.reconnectPumping(); };
  const CallResult got = ctx.retryPumping(
      plan, [&](mt::CManagerInterface& m) { return m.UserRecordGet(login, user); });
  util::consolePrint("UserRecordGet end \n");
  return got;
}

// The request removes all of the account's credit (its type and amount are
// not used). An empty cancellation route (none configured) matches no
// request: a request without routeType is a deposit or a grant.
bool removesAllCredit(const OperationContext& ctx, const FinanceBalanceEntity& request) {
  const std::string& cancellation = ctx.config.tradeCancellationCreditTransInfo;
  return !cancellation.empty() && request.routeType == cancellation;
}

// The withdrawal checks of a balance movement: -1001 when the request
// reports floating profit but the account has none open, -1000 when the
// balance would fall below the request's margin (open losses counted),
// else 0.
int withdrawalCheck(const FinanceBalanceEntity& request, const mt::UserRecord& user,
                    double amount, double profit) {
  const bool floating = request.floating > kTolerance || request.floating < -kTolerance;
  if (floating && -kTolerance < profit && profit < kTolerance) {
    return codes::kFloatingWithoutTrades;
  }
  const double left = profit < 0 ? user.balance + profit + amount - request.margin
                                 : user.balance + amount - request.margin;
  return left < -kTolerance ? codes::kBelowMargin : 0;
}

// The first stage: the account, then the movement and its working amount.
// The comment is the movement's key on its account: without it there is
// no telling a repeat from a new movement, so nothing moves.
int moveMoney(OperationContext& ctx, FinanceBalanceEntity& request) {
  if (tradeComment(request.comment).empty()) {
    return refuse(codes::kNoMovementKey,
                  "tradeTransInfo: the comment, the movement's key on its account, is empty as "
                  "the server keeps it");
  }
  mt::UserRecord user{};
  const CallResult got = readAccount(ctx, accountOf(request.login), &user);
  if (!got.in(server::kSuccessZeroOrOne)) return replyCode(got, server::kSuccessZeroOrOne);

  double amount = request.amount;
  int cmd = mt::OP_CREDIT;
  if (removesAllCredit(ctx, request)) {
    amount = -user.credit;
  } else if (request.type == 1) {
    cmd = mt::OP_BALANCE;
    if (request.routeType == kActivityRoute && amount < 0 && user.balance > 0 &&
        user.balance + amount < -kTolerance) {
      amount = -user.balance;
    }
  } else if (amount < 0 && -kTolerance <= user.credit && user.credit <= kTolerance) {
    // No credit to remove; a removal on file (a repeat) is answered from it.
    const store::HistoryKey key{request.comment, accountOf(request.login)};
    if (!ctx.balances.find(key, nullptr)) return codes::kSuccess;
    amount = 0;
  } else {
    amount = withinCreditLimits(amount, user.credit, request.creditLimit);
  }
  return financeBalanceTransaction(ctx, amount, request, user, cmd);
}

}  // namespace

double openTradesProfit(OperationContext& ctx, const mt::UserRecord& user) {
  util::RetryPlan plan;
  plan.attempts = kProfitReadCalls;
  plan.pauseMs = kProfitReadPauseMs;
  const server::ManagerArray<mt::TradeRecord> trades = server::fetchWithRetry<mt::TradeRecord>(
      plan, [&] { return openTradesOf(ctx.pumping, user); });
  double profit = 0;
  for (const mt::TradeRecord& trade : trades) profit += trade.profit;
  return profit;
}

int financeBalanceTransaction(OperationContext& ctx, double amount,
                              FinanceBalanceEntity& request, const mt::UserRecord& user,
                              int cmd) {
  const int login = accountOf(request.login);
  const double requested = removesAllCredit(ctx, request) ? 0.0 : request.amount;
  RememberedAction movement(ctx.balances, {request.serial, request.comment, amount, login, 0, 0,
                                           cmd, requested});
  const store::FinanceBalance& record = movement.record();
  request.amount = amount;
  // Nothing to move, and no movement on file that a repeat is answered with.
  if (negligible(amount) && !ctx.balances.find(movement.key(), nullptr)) return codes::kSuccess;
  if (!ctx.normal.hasInterface()) {
    util::consolePrint("%s", kNoInterfaceLine);
    return codes::kNoInterface;
  }

  const int earlier = checkFinanceBalanceHistory(ctx, movement);
  if (earlier < 0) return earlier;
  if (earlier > 0 || record.isHandle == 1) {
    request.amount = record.amount;
    request.order = record.order;
    return codes::kSuccess;
  }
  if (negligible(amount)) return codes::kSuccess;

  // The credit limits were applied when the amount was chosen: the amount
  // on file is the amount moved.
  double profit = 0;
  if (cmd == mt::OP_BALANCE && amount < 0) {
    profit = openTradesProfit(ctx, user);
    const int refused = withdrawalCheck(request, user, amount, profit);
    if (refused != 0) return refused;
  }

  const std::string comment = tradeComment(request.comment);
  request.comment = comment;
  util::printAndLog("dealType:%s,balance:%.2f,profit:%.2f,amount:%.2f,floating:%.2f\n",
                    cmd == mt::OP_BALANCE ? "DEAL_BALANCE" : "DEAL_CREDIT", user.balance, profit,
                    amount, request.floating);

  mt::TradeTransInfo info = movementInfo(ctx, cmd, login, amount, comment);
  util::consolePrint("TradeTransaction start \n");
  const CallResult done =
      ctx.callNormal([&](mt::CManagerInterface& m) { return m.TradeTransaction(&info); });
  if (!done.in(server::kSuccessZeroOrOne)) {
    util::printAndLog("Transaction failed '%d''\n", done.result());
    return replyCode(done, server::kSuccessZeroOrOne);
  }
  util::consolePrint("TradeTransaction success \n");
  int code = -done.result();
  if (info.order > 0) {
    // A mark the disk cannot take stays in memory until the next snapshot.
    movement.markHandled(info.order);
    request.order = info.order;
    code = codes::kSuccess;
  }
  util::consolePrint(amount > 0 ? "crm balance:%s, Deposit %.02f for %d\n"
                                : "crm balance:%s, Withdrawal %.02f for %d\n",
                     record.comment.c_str(), amount, login);
  return code;
}

int tradeTransInfo(OperationContext& ctx, const Json::Value& request,
                   messaging::ReplySender& reply) {
  return runOperation<FinanceBalanceEntity>({0, kNoInterfaceLine}, ctx, request, reply,
                                            moveMoney);
}

}  // namespace operations
