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
    f.text("serial", &serial, "kept on file with the movement; not its key");
    f.int64("login", &login, "the account", Check::kLogin);
    f.real("amount", &amount,
           "> 0 deposit or credit grant, < 0 withdrawal or credit removal; reply: the amount moved",
           Check::kMoney);
    f.int32("type", &type, "1: balance; anything else: credit");
    f.text("comment", &comment,
           "the movement's key on its account; reply: as the server keeps it (31 bytes)");
    f.routeType(&routeType,
                "tradeCancellationCreditTransInfo (config.ini): remove all credit; "
                "TRADE_TRANS_ACTIVITY_GIVE_INFO: a balance withdrawal beyond the balance takes "
                "the whole balance");
    f.replyInt32("order", &order, "the movement's ticket; -1: none");
    f.routedReal("floating", &floating,
                 "not 0: a balance withdrawal is refused (-1001) while open trades' profit is 0",
                 Check::kMoney);
    f.real("margin", &margin,
           "what a balance withdrawal must leave, open losses counted (else -1000)", Check::kMoney);
    f.real("creditLimit", &creditLimit,
           "the most credit a grant leads to; 0: no limit", Check::kMoney);
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_FINANCE_BALANCE_ENTITY_H_
