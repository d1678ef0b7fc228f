// A trade, pending order, or balance or credit operation as the reads and
// the server's events give it to the back office: one field list, written
// by EchoWriter and described by SchemaWriter (the request never carries
// it). Times are milliseconds, with the configured timeZone taken off the
// server's time: the inverse of the trade import's reading, so a trade
// imported with an open time reads back with that time.
#ifndef MT4BRIDGE_OPERATIONS_READS_TRADE_FIELDS_H_
#define MT4BRIDGE_OPERATIONS_READS_TRADE_FIELDS_H_

#include <cstdint>
#include <string>

namespace operations {

struct TradeFields {
  int order = 0;
  int login = 0;
  int cmd = 0;
  std::string symbol;
  int volume = 0;
  double openPrice = 0.0;
  std::int64_t openTime = 0;
  double closePrice = 0.0;
  std::int64_t closeTime = 0;
  double sl = 0.0;
  double tp = 0.0;
  double swaps = 0.0;
  double commission = 0.0;
  double profit = 0.0;
  std::string comment;

  template <typename Fields>
  void fields(Fields& f) {
    f.replyInt32("order", &order, "the ticket");
    f.replyInt32("login", &login, "the account");
    f.replyInt32("cmd", &cmd,
                 "0 buy, 1 sell, 2-5 pending orders, 6 balance, 7 credit operation");
    f.replyText("symbol", &symbol, "the symbol (empty for cmd 6 and 7)");
    f.replyInt32("volume", &volume, "lots times 100");
    f.replyReal("openPrice", &openPrice, "the open price");
    f.replyInt64("openTime", &openTime, "the open time in milliseconds (less timeZone)");
    f.replyReal("closePrice", &closePrice, "the close price (the current one while open)");
    f.replyInt64("closeTime", &closeTime,
                 "the close time in milliseconds (less timeZone); 0 while open");
    f.replyReal("sl", &sl, "the stop loss");
    f.replyReal("tp", &tp, "the take profit");
    f.replyReal("swaps", &swaps, "the swaps");
    f.replyReal("commission", &commission, "the commission");
    f.replyReal("profit", &profit, "the profit (the amount for cmd 6 and 7)");
    f.replyText("comment", &comment, "the comment");
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_READS_TRADE_FIELDS_H_
