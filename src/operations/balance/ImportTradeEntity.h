// The request record of a trade import.
#ifndef MT4BRIDGE_OPERATIONS_BALANCE_IMPORT_TRADE_ENTITY_H_
#define MT4BRIDGE_OPERATIONS_BALANCE_IMPORT_TRADE_ENTITY_H_

#include <string>

#include "operations/FieldCheck.h"

namespace operations {

// Texts hold the request's UTF-8 bytes as received. Times are in seconds
// as read (the request gives milliseconds), without the time-zone shift.
struct ImportTradeEntity {
  std::string serial;
  std::string routeType;
  int order = 0;       // reply: the earlier ticket of a repeated balance import
  int login = 0;
  std::string symbol;
  int cmd = 0;         // 0-5 trades and orders, 6 balance, 7 credit
  int volume = 0;
  int openTime = 0;
  double openPrice = 0;  // the amount for cmd 6 and 7
  double sl = 0;
  double tp = 0;
  int closeTime = 0;   // 0 or less: still open
  double commission = 0;
  double closePrice = 0;
  double profit = 0;
  std::string comment;
  double taxes = 0;
  double storage = 0;
  int newOrder = 0;    // 1 or more: an existing trade; reply: the ticket created

  // The request keys, read by RequestReader and echoed by EchoWriter.
  template <typename Fields>
  void fields(Fields& f) {
    f.text("serial", &serial,
           "the import's key on its account, needed unless newOrder is 1 or more");
    f.routeType(&routeType, "echoed only");
    f.int32("order", &order, "not used; reply: the earlier ticket of a repeated cmd 6 or 7 import");
    f.int32("login", &login, "the account", Check::kLogin);
    f.text("symbol", &symbol, "the trade's symbol");
    f.int32("cmd", &cmd,
            "0-5: a trade or order of that command; 6: balance, 7: credit (only openPrice and "
            "the times used)");
    f.int32("volume", &volume, "the trade's volume");
    f.millisAsSeconds("openTime", &openTime,
                      "the record's open time (plus the configured timeZone)");
    f.real("openPrice", &openPrice,
           "the trade's open price; the amount for cmd 6 and 7", Check::kMoney);
    f.real("sl", &sl, "the trade's stop loss", Check::kMoney);
    f.real("tp", &tp, "the trade's take profit", Check::kMoney);
    f.millisAsSeconds("closeTime", &closeTime,
                      "the record's close time (plus timeZone); 1 s or more closes an open trade");
    f.real("commission", &commission, "the trade's commission", Check::kMoney);
    f.real("closePrice", &closePrice,
           "the trade's close price, at which an open trade is closed", Check::kMoney);
    f.real("profit", &profit, "the trade's profit", Check::kMoney);
    f.text("comment", &comment, "the comment of a trade this import opens (cmd 0-5)");
    f.real("taxes", &taxes, "the trade's taxes", Check::kMoney);
    f.real("storage", &storage, "the trade's swaps", Check::kMoney);
    f.truncatedInt32("newOrder", &newOrder,
                     "1 or more: the trade of login to rewrite; reply: the ticket opened");
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_IMPORT_TRADE_ENTITY_H_
