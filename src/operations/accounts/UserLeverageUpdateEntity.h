// The request record of a leverage change.
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_LEVERAGE_UPDATE_ENTITY_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_LEVERAGE_UPDATE_ENTITY_H_

#include <cstdint>
#include <string>

#include "operations/FieldCheck.h"

namespace operations {

struct UserLeverageUpdateEntity {
  std::int64_t login = 0;
  int leverage = 0;
  std::string serial;
  std::string routeType;

  // The request keys, read by RequestReader and echoed by EchoWriter.
  template <typename Fields>
  void fields(Fields& f) {
    f.int64("login", &login, "the account", Check::kLogin);
    f.int32("leverage", &leverage, "the account's new leverage (already so: nothing written)");
    f.text("serial", &serial, "echoed only");
    f.routeType(&routeType, "echoed only");
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_LEVERAGE_UPDATE_ENTITY_H_
