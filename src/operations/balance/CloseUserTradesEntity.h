// The request record of closing an account's trades.
#ifndef MT4BRIDGE_OPERATIONS_BALANCE_CLOSE_USER_TRADES_ENTITY_H_
#define MT4BRIDGE_OPERATIONS_BALANCE_CLOSE_USER_TRADES_ENTITY_H_

#include <string>

#include "operations/FieldCheck.h"

namespace operations {

struct CloseUserTradesEntity {
  int login = 0;  // sent as a number, possibly with a fraction (cut)
  std::string serial;
  std::string routeType;

  // The request keys, read by RequestReader and echoed by EchoWriter.
  template <typename Fields>
  void fields(Fields& f) {
    f.truncatedInt32("login", &login,
                     "the account whose trades are closed and orders deleted", Check::kLogin);
    f.text("serial", &serial, "echoed only");
    f.routeType(&routeType, "echoed only");
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_BALANCE_CLOSE_USER_TRADES_ENTITY_H_
