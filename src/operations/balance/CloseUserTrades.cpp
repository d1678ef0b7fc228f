#include "operations/balance/CloseUserTrades.h"

#include <cstring>

#include "operations/OpenTrades.h"
#include "operations/OperationRunner.h"
#include "operations/ReplyCodes.h"
#include "operations/balance/CloseUserTradesEntity.h"
#include "server/FieldText.h"
#include "server/ManagerResults.h"
#include "util/Console.h"

namespace operations {
namespace {

constexpr int kClosePauseMs = 1000;
constexpr const char* kStopoutComment = "stopout";

bool isPending(int cmd) { return cmd >= mt::OP_BUY_LIMIT && cmd <= mt::OP_SELL_STOP; }

// Closes or deletes one open trade on the normal manager.
CallResult liquidate(OperationContext& ctx, const mt::TradeRecord& trade) {
  if (isPending(trade.cmd)) {
    return ctx.callNormal(
        [&](mt::CManagerInterface& m) { return m.AdmTradesDelete(&trade.order, 1); });
  }
  mt::TradeTransInfo close{};
  close.type = mt::TT_BR_ORDER_CLOSE;
  close.order = trade.order;
  close.volume = trade.volume;
  close.cmd = trade.cmd;
  std::memcpy(close.symbol, trade.symbol, sizeof(close.symbol));
  close.orderby = trade.login;
  close.price = trade.close_price;
  mt::setFieldTerminated(close.comment, kStopoutComment);
  return ctx.callNormal([&](mt::CManagerInterface& m) { return m.TradeTransaction(&close); });
}

int closeAll(OperationContext& ctx, CloseUserTradesEntity& request) {
  mt::UserRecord user{};
  if (const int failed = ctx.readAccount(request.login, &user)) return failed;

  const server::ManagerArray<mt::TradeRecord> trades = openTradesOf(ctx.pumping, user);
  if (!trades.returned()) return codes::kNoTradeList;
  CallResult last(mt::RET_OK);
  for (const mt::TradeRecord& trade : trades) {
    util::consolePrint("close_price:%f,open_price:%f,profit:%f\n", trade.close_price,
                       trade.open_price, trade.profit);
    last = liquidate(ctx, trade);
    if (!last.in(server::kSuccessZeroOrOne)) break;
  }
  return replyCode(last, server::kSuccessZeroOrOne);
}

}  // namespace

int closeUserTrades(OperationContext& ctx, const Json::Value& request,
                    messaging::ReplySender& reply) {
  return runOperation<CloseUserTradesEntity>({kClosePauseMs}, ctx, request, reply, closeAll);
}

}  // namespace operations
