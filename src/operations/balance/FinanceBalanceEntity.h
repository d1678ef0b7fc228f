// The request record of a balance or credit movement.
#ifndef MT4BRIDGE_OPERATIONS_BALANCE_FINANCE_BALANCE_ENTITY_H_
#define MT4BRIDGE_OPERATIONS_BALANCE_FINANCE_BALANCE_ENTITY_H_

#include <cstdint>
#include <string>

#include "operations/FieldCheck.h"

namespace operations {

// Texts hold the request's UTF-8 bytes as received; the operation sets
// amount to the working amount, comment to the comment given to the server
// and order to the movement's ticket.
struct FinanceBalanceEntity {
  std::string serial;
  std::int64_t login = 0;
  double amount = 0;   // > 0 deposit or grant, < 0 withdrawal or removal
  int type = 0;        // 1 = balance, anything else = credit
  std::string comment;
  std::string routeType;
  int order = -1;      // -1 until a ticket is known
  double floating = 0; // read only when the request has a routeType
  double margin = 0;
  double creditLimit = 0;  // 0 = no limit

  // The request keys, read by RequestReader and echoed by EchoWriter.
  template <typename Fields>
  void fields(Fields& f) {
    f.text("serial", &serial);
    f.int64("login", &login, Check::kLogin);
    f.real("amount", &amount, Check::kMoney);
    f.int32("type", &type);
    f.text("comment", &comment);
    f.routeType(&routeType);
    f.replyInt32("order", &order);
    f.routedReal("floating", &floating, Check::kMoney);
    f.real("margin", &margin, Check::kMoney);
    f.real("creditLimit", &creditLimit, Check::kMoney);
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_FINANCE_BALANCE_ENTITY_H_
