#include "operations/reads/ServerRecords.h"

#include <limits>

#include "server/FieldText.h"

namespace operations {

AccountFields accountFields(const mt::UserRecord& user) {
  AccountFields a;
  a.login = user.login;
  a.group = mt::fieldText(user.group);
  a.name = mt::fieldText(user.name);
  a.email = mt::fieldText(user.email);
  a.comment = mt::fieldText(user.comment);
  a.leverage = user.leverage;
  a.enable = user.enable;
  a.enableReadOnly = user.enable_read_only;
  a.enableChangePassword = user.enable_change_password;
  a.balance = user.balance;
  a.credit = user.credit;
  return a;
}

std::int64_t backOfficeMillis(mt::ServerTimeT time, int timeZone) {
  if (time == 0) return 0;
  std::int64_t ms = 0;
  if (__builtin_sub_overflow(time, timeZone, &ms) || __builtin_mul_overflow(ms, 1000, &ms)) {
    return time > 0 ? std::numeric_limits<std::int64_t>::max()
                    : std::numeric_limits<std::int64_t>::min();
  }
  return ms;
}

TradeFields tradeFields(const mt::TradeRecord& trade, int timeZone) {
  TradeFields t;
  t.order = trade.order;
  t.login = trade.login;
  t.cmd = trade.cmd;
  t.symbol = mt::fieldText(trade.symbol);
  t.volume = trade.volume;
  t.openPrice = trade.open_price;
  t.openTime = backOfficeMillis(trade.open_time, timeZone);
  t.closePrice = trade.close_price;
  t.closeTime = backOfficeMillis(trade.close_time, timeZone);
  t.sl = trade.sl;
  t.tp = trade.tp;
  t.swaps = trade.storage;
  t.commission = trade.commission;
  t.profit = trade.profit;
  t.comment = mt::fieldText(trade.comment);
  return t;
}

}  // namespace operations
