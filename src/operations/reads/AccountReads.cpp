#include "operations/reads/AccountReads.h"

#include <algorithm>

#include "operations/OpenTrades.h"
#include "operations/OperationRunner.h"
#include "operations/ReplyCodes.h"
#include "operations/reads/ReadEntities.h"
#include "operations/reads/ServerRecords.h"

namespace operations {
namespace {

std::vector<TradeFields> listed(const server::ManagerArray<mt::TradeRecord>& trades,
                                int timeZone) {
  std::vector<TradeFields> out;
  for (const mt::TradeRecord& trade : trades) out.push_back(tradeFields(trade, timeZone));
  std::sort(out.begin(), out.end(),
            [](const TradeFields& a, const TradeFields& b) { return a.order < b.order; });
  return out;
}

int readAccountRecord(OperationContext& ctx, UserRecordGetEntity& record) {
  mt::UserRecord user{};
  if (const int failed = ctx.readAccount(record.login, &user)) return failed;
  record.account = accountFields(user);
  record.equity = user.balance + user.credit;
  for (const mt::TradeRecord& trade : openTradesOf(ctx.pumping, user)) {
    record.equity += trade.profit + trade.storage + trade.commission;
  }
  return codes::kSuccess;
}

int readTrades(OperationContext& ctx, UserTradesGetEntity& record) {
  mt::UserRecord user{};
  if (const int failed = ctx.readAccount(record.login, &user)) return failed;
  const server::ManagerArray<mt::TradeRecord> trades = openTradesOf(ctx.pumping, user);
  if (!trades.returned()) return codes::kNoTradeList;
  record.trades = listed(trades, ctx.config.timeZone);
  return codes::kSuccess;
}

int readHistory(OperationContext& ctx, UserHistoryGetEntity& record) {
  std::int64_t span = 0;
  if (__builtin_sub_overflow(record.to, record.from, &span) || span < 0 ||
      span > kHistoryWindowMaxMs) {
    return codes::kBadWindow;
  }
  mt::UserRecord user{};
  if (const int failed = ctx.readAccount(record.login, &user)) return failed;
  const mt::ServerTimeT from = record.from / 1000 + ctx.config.timeZone;
  const mt::ServerTimeT to = record.to / 1000 + ctx.config.timeZone;
  const server::ManagerArray<mt::TradeRecord> trades =
      ctx.normal.fetchArray<mt::TradeRecord>([&](mt::CManagerInterface& m, int* count) {
        return m.TradesUserHistory(record.login, from, to, count);
      });
  if (!trades.returned()) return codes::kNoTradeList;
  record.trades = listed(trades, ctx.config.timeZone);
  return codes::kSuccess;
}

}  // namespace

int userRecordGet(OperationContext& ctx, const Json::Value& request,
                  messaging::ReplySender& reply) {
  return runOperation<UserRecordGetEntity>({}, ctx, request, reply, readAccountRecord);
}

int userTradesGet(OperationContext& ctx, const Json::Value& request,
                  messaging::ReplySender& reply) {
  return runOperation<UserTradesGetEntity>({}, ctx, request, reply, readTrades);
}

int userHistoryGet(OperationContext& ctx, const Json::Value& request,
                   messaging::ReplySender& reply) {
  return runOperation<UserHistoryGetEntity>({}, ctx, request, reply, readHistory);
}

}  // namespace operations
