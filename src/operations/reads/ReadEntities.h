// The request records of the three account reads: the account's number
// (and the history's window), echoed with serial and routeType, and what
// was read, which only the reply carries.
#ifndef MT4BRIDGE_OPERATIONS_READS_READ_ENTITIES_H_
#define MT4BRIDGE_OPERATIONS_READS_READ_ENTITIES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "operations/FieldCheck.h"
#include "operations/reads/AccountFields.h"
#include "operations/reads/TradeFields.h"

namespace operations {

struct UserRecordGetEntity {
  int login = 0;
  std::string serial;
  std::string routeType;
  AccountFields account;
  double equity = 0.0;

  template <typename Fields>
  void fields(Fields& f) {
    f.truncatedInt32("login", &login, "the account read", Check::kLogin);
    f.text("serial", &serial, "echoed only");
    f.routeType(&routeType, "echoed only");
    f.replyObject("account", &account, "the account as the server holds it");
    f.replyReal("equity", &equity,
                "balance plus credit plus the profit, swaps and commission of its open trades");
  }
};

struct UserTradesGetEntity {
  int login = 0;
  std::string serial;
  std::string routeType;
  std::vector<TradeFields> trades;

  template <typename Fields>
  void fields(Fields& f) {
    f.truncatedInt32("login", &login, "the account whose open trades are read", Check::kLogin);
    f.text("serial", &serial, "echoed only");
    f.routeType(&routeType, "echoed only");
    f.replyList("trades", &trades, "its open trades and pending orders, by ticket");
  }
};

struct UserHistoryGetEntity {
  int login = 0;
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::string serial;
  std::string routeType;
  std::vector<TradeFields> trades;

  template <typename Fields>
  void fields(Fields& f) {
    f.truncatedInt32("login", &login, "the account whose history is read", Check::kLogin);
    f.int64("from", &from,
            "the window's start in milliseconds (plus timeZone), closing times from it on");
    f.int64("to", &to, "the window's end in milliseconds (plus timeZone), included; at most "
                       "31 days after from");
    f.text("serial", &serial, "echoed only");
    f.routeType(&routeType, "echoed only");
    f.replyList("trades", &trades,
                "its trades closed and its balance and credit operations in the window, as "
                "the server lists them");
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_READS_READ_ENTITIES_H_
