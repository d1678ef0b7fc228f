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
    f.text("serial", &serial);
    f.routeType(&routeType);
    f.int32("order", &order);
    f.int32("login", &login, Check::kLogin);
    f.text("symbol", &symbol);
    f.int32("cmd", &cmd);
    f.int32("volume", &volume);
    f.millisAsSeconds("openTime", &openTime);
    f.real("openPrice", &openPrice, Check::kMoney);
    f.real("sl", &sl, Check::kMoney);
    f.real("tp", &tp, Check::kMoney);
    f.millisAsSeconds("closeTime", &closeTime);
    f.real("commission", &commission, Check::kMoney);
    f.real("closePrice", &closePrice, Check::kMoney);
    f.real("profit", &profit, Check::kMoney);
    f.text("comment", &comment);
    f.real("taxes", &taxes, Check::kMoney);
    f.real("storage", &storage, Check::kMoney);
    f.truncatedInt32("newOrder", &newOrder);
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_IMPORT_TRADE_ENTITY_H_
