#include "operations/balance/ImportTrade.h"

#include <string>

#include "operations/OpenTrades.h"
#include "operations/OperationRunner.h"
#include "operations/Refusal.h"
#include "operations/RememberedAction.h"
#include "operations/ReplyCodes.h"
#include "operations/TradeComment.h"
#include "operations/balance/BalanceHistoryCheck.h"
#include "operations/balance/ImportTradeEntity.h"
#include "operations/balance/MovementInfo.h"
#include "server/FieldText.h"
#include "server/ManagerResults.h"
#include "util/Console.h"
#include "util/Pause.h"

namespace operations {
namespace {

constexpr int kImportPauseMs = 50;
constexpr int kRecordFetchCalls = 10;
constexpr int kExistingFetchPauseMs = 100;
constexpr int kNewFetchPauseMs = 50;
constexpr int kClosePauseMs = 50;
constexpr int kBalanceFixCalls = 4;
constexpr int kBalanceFixPauseMs = 50;

bool isMovement(int cmd) { return cmd == mt::OP_BALANCE || cmd == mt::OP_CREDIT; }

// What one import works with beside its request.
struct Import {
  ImportTradeEntity& request;
  std::string comment;     // the request's comment as the server keeps it
  std::string serial;      // the request's serial as the server keeps it
  mt::TradeTransInfo info{};  // the opening transaction (zero for an existing trade)
  bool opened = false;     // the trade was opened by this import
};

// The record of ticket (TradeRecordsRequest on the normal manager), up to
// kRecordFetchCalls calls, each after a pause of pauseMs.
bool fetchTrade(OperationContext& ctx, int ticket, int pauseMs, mt::TradeRecord* out) {
  util::RetryPlan plan;
  plan.attempts = kRecordFetchCalls;
  plan.pauseMs = pauseMs;
  plan.pauseFirst = true;
  const server::ManagerArray<mt::TradeRecord> found = server::fetchWithRetry<mt::TradeRecord>(
      plan, [&] {
        return ctx.normal.fetchArray<mt::TradeRecord>([&](mt::CManagerInterface& m, int* count) {
          *count = 1;
          return m.TradeRecordsRequest(&ticket, count);
        });
      });
  if (found.empty()) return false;
  *out = found[0];
  return true;
}

// The ticket of the open trade that the import under key opened before
// the service stopped, before its ticket was remembered: a trade of the
// account with the import's serial (as the server keeps it) as its
// comment, its command, symbol and volume, that no other import holds. 0
// when there is none.
int openedBefore(OperationContext& ctx, const store::HistoryKey& key, const Import& import) {
  const ImportTradeEntity& r = import.request;
  mt::UserRecord user{};
  const CallResult got =
      ctx.callPumping([&](mt::CManagerInterface& m) { return m.UserRecordGet(r.login, &user); });
  if (!got.in(server::kSuccessZeroOrOne)) return 0;
  for (const mt::TradeRecord& trade : openTradesOf(ctx.pumping, user)) {
    if (mt::fieldText(trade.comment) == import.serial && trade.cmd == r.cmd &&
        trade.volume == r.volume && mt::fieldText(trade.symbol) == r.symbol &&
        !ctx.imports.ticketHeld(r.login, trade.order, key)) {
      return trade.order;
    }
  }
  return 0;
}

// Overwrites trade with the request's values (closing it first when the
// request closes it and the server has it open), then recomputes the
// account's balance.
int rewrite(OperationContext& ctx, Import& import, mt::TradeRecord trade) {
  const ImportTradeEntity& r = import.request;
  const mt::ServerTimeT shift = ctx.config.timeZone;
  if (isMovement(r.cmd)) {
    trade.close_time = r.closeTime + shift;
  } else {
    if (r.closeTime >= 1) {
      if (trade.close_time <= 0) {
        mt::TradeTransInfo close = import.info;
        close.type = mt::TT_BR_ORDER_CLOSE;
        close.order = r.newOrder;
        close.volume = r.volume;
        close.cmd = r.cmd;
        mt::setFieldTerminated(close.symbol, r.symbol);
        close.orderby = r.login;
        close.price = r.closePrice;
        close.expiration = r.closeTime;
        util::pauseMs(kClosePauseMs);
        const CallResult closed =
            ctx.callNormal([&](mt::CManagerInterface& m) { return m.TradeTransaction(&close); });
        if (!closed.is(mt::RET_OK)) return replyCode(closed, server::kSuccessZeroOnly);
      }
      trade.close_price = r.closePrice;
      trade.close_time = r.closeTime + shift;
      trade.state = mt::kTradeStateClosed;
    } else {
      trade.state = trade.close_time > 0 ? mt::kTradeStateClosed : mt::kTradeStateOpen;
    }
    trade.volume = r.volume;
    trade.taxes = r.taxes;
    trade.storage = r.storage;
    trade.commission = r.commission;
    trade.profit = r.profit;
    trade.sl = r.sl;
    trade.tp = r.tp;
    trade.open_price = r.openPrice;
    // Opened with the serial as its comment (openedBefore); now the request's.
    if (import.opened) mt::setFieldTerminated(trade.comment, import.comment);
  }
  trade.timestamp = ctx.serverTime();
  trade.open_time = r.openTime + shift;
  // Refused, the import stays unfinished: a repeat rewrites the record.
  const CallResult modified =
      ctx.callNormal([&](mt::CManagerInterface& m) { return m.AdmTradeRecordModify(&trade); });
  if (!modified.in(server::kSuccessZeroOrOne)) {
    return replyCode(modified, server::kSuccessZeroOrOne);
  }

  util::RetryPlan plan;
  plan.attempts = kBalanceFixCalls;
  plan.pauseMs = kBalanceFixPauseMs;
  const int login = r.login;
  const int fixed = util::retry(plan, [&] {
    return ctx.callNormal([&](mt::CManagerInterface& m) { return m.AdmBalanceFix(&login, 1); })
        .result();
  });
  return server::kSuccessZeroOrOne.contains(fixed) ? codes::kSuccess : -fixed;
}

// Whether a movement's record carries the times rewrite gives it.
bool carriesRequestTimes(const OperationContext& ctx, const ImportTradeEntity& r,
                         const mt::TradeRecord& trade) {
  const mt::ServerTimeT shift = ctx.config.timeZone;
  return trade.open_time == r.openTime + shift && trade.close_time == r.closeTime + shift;
}

// The refusal of an import whose ticket could not be recorded: its record
// is not rewritten, so that a repeat still finds what was opened (a
// rewritten movement leaves the server's recent history, a rewritten trade
// is closed).
int ticketNotRecorded() {
  return refuse(codes::kNotDurable, "importTrade: the ticket could not be recorded; the record "
                                    "is not rewritten, a repeat finishes it");
}

// Opens the movement or trade of import.info and rewrites its record.
// remember(ticket) -> bool runs right after the server gave the ticket;
// false (not on disk) stops the import before the rewrite.
template <typename Remember>
int openAndRewrite(OperationContext& ctx, Import& import, Remember&& remember) {
  const CallResult done =
      ctx.callNormal([&](mt::CManagerInterface& m) { return m.TradeTransaction(&import.info); });
  if (!done.is(mt::RET_OK)) return replyCode(done, server::kSuccessZeroOnly);
  const int ticket = import.info.order;
  import.request.newOrder = ticket;
  if (!remember(ticket)) return ticketNotRecorded();
  mt::TradeRecord trade{};
  if (ticket < 1 || !fetchTrade(ctx, ticket, kNewFetchPauseMs, &trade)) return codes::kNoRecord;
  return rewrite(ctx, import, trade);
}

int importMovement(OperationContext& ctx, Import& import) {
  ImportTradeEntity& r = import.request;
  RememberedAction movement(ctx.balances,
                            {r.serial, r.serial, r.openPrice, r.login, 0, 0, r.cmd, r.openPrice});
  const store::FinanceBalance& record = movement.record();
  const int earlier = checkFinanceBalanceHistory(ctx, movement);
  if (earlier < 0) return earlier;
  if (earlier > 0 || record.isHandle == 1) {
    r.order = record.order;
    // Moved before; a stop between the movement and its rewrite left the
    // record with the server's times: rewrite it now, moving nothing.
    mt::TradeRecord trade{};
    if (record.order > 0 && fetchTrade(ctx, record.order, kNewFetchPauseMs, &trade) &&
        !carriesRequestTimes(ctx, r, trade)) {
      // The mark may be in memory only (a full disk): on disk first.
      if (!movement.save()) return ticketNotRecorded();
      return rewrite(ctx, import, trade);
    }
    return codes::kSuccess;
  }
  import.info = movementInfo(ctx, r.cmd, r.login, r.openPrice, import.serial);
  return openAndRewrite(ctx, import, [&](int ticket) { return movement.markHandled(ticket); });
}

// A trade or order is remembered by serial and login in ctx.imports: order
// 0 before it is opened, its ticket once opened, isHandle 1 once its record
// is rewritten. A repeat answers the ticket of a finished import, finishes
// one that stopped half-way, and opens one that never was. Nothing is
// opened or rewritten unless the import is remembered first.
int importNewTrade(OperationContext& ctx, Import& import) {
  ImportTradeEntity& r = import.request;
  RememberedAction opening(ctx.imports, {r.serial, r.serial, r.openPrice, r.login, 0, 0});
  const store::FinanceBalance& earlier = opening.earlier();
  int ticket = 0;
  switch (opening.remember()) {
    case RememberedAction::Start::kNotDurable:
      return refuse(codes::kNotDurable, "importTrade: the import could not be recorded; nothing "
                                        "opened");
    case RememberedAction::Start::kDone:
      r.newOrder = earlier.order;
      return codes::kSuccess;
    case RememberedAction::Start::kUnfinished:
      ticket = earlier.order != 0 ? earlier.order : openedBefore(ctx, opening.key(), import);
      break;
    case RememberedAction::Start::kNew:
      break;
  }

  import.info.type = mt::TT_BR_ORDER_OPEN;
  import.info.cmd = r.cmd;
  import.info.volume = r.volume;
  mt::setFieldTerminated(import.info.symbol, r.symbol);
  import.info.orderby = r.login;
  import.info.price = r.openPrice;
  mt::setFieldTerminated(import.info.comment, import.serial);
  import.opened = true;

  int code = codes::kNoRecord;
  if (ticket > 0) {
    r.newOrder = ticket;
    if (!opening.noteTicket(ticket)) return ticketNotRecorded();
    mt::TradeRecord trade{};
    if (fetchTrade(ctx, ticket, kNewFetchPauseMs, &trade)) code = rewrite(ctx, import, trade);
  } else {
    code = openAndRewrite(ctx, import, [&](int opened) { return opening.noteTicket(opened); });
  }
  if (code == codes::kSuccess) opening.markHandled(opening.record().order);
  return code;
}

// An existing trade (newOrder) is rewritten only when it is the account's;
// a new movement or trade needs its serial, the key that finds it again.
int importOne(OperationContext& ctx, ImportTradeEntity& request) {
  Import import{request, tradeComment(request.comment), tradeComment(request.serial)};
  if (request.newOrder >= 1) {
    mt::TradeRecord trade{};
    if (!fetchTrade(ctx, request.newOrder, kExistingFetchPauseMs, &trade)) return codes::kNoRecord;
    if (trade.login != request.login) {
      return refuse(codes::kOtherAccountsTrade,
                    util::formatText("importTrade: ticket %d is a trade of account %d, not of %d",
                                     request.newOrder, trade.login, request.login));
    }
    return rewrite(ctx, import, trade);
  }
  if (import.serial.empty()) {
    return refuse(codes::kNoMovementKey, "importTrade: the serial, the import's key on its "
                                         "account, is empty as the server keeps it");
  }
  return isMovement(request.cmd) ? importMovement(ctx, import) : importNewTrade(ctx, import);
}

}  // namespace

int importTrade(OperationContext& ctx, const Json::Value& request,
                messaging::ReplySender& reply) {
  return runOperation<ImportTradeEntity>({kImportPauseMs}, ctx, request, reply, importOne);
}

}  // namespace operations
