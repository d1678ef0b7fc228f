// The request record of a password change.
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_PASSWORD_UPDATE_ENTITY_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_PASSWORD_UPDATE_ENTITY_H_

#include <cstdint>
#include <string>

#include "operations/FieldCheck.h"

namespace operations {

// Passwords are the request's UTF-8 bytes, given to the server as they are.
struct UserPasswordUpdateEntity {
  std::string serial;
  std::int64_t login = 0;
  std::string masterPass;  // the current master password (types 1 and 3)
  std::string newPass;
  int type = 0;            // 1 master (checked), 2 master, 3 investor (checked)
  std::string routeType;

  // The request keys, read by RequestReader and echoed by EchoWriter.
  template <typename Fields>
  void fields(Fields& f) {
    f.text("serial", &serial, "echoed only");
    f.int64("login", &login, "the account", Check::kLogin);
    f.text("masterPass", &masterPass, "the current master password, checked for types 1 and 3");
    f.text("newPass", &newPass,
           "the new password: the master one for types 1 and 2, the investor one for 3");
    f.int32("type", &type,
            "1 master (masterPass checked), 2 master, 3 investor (masterPass checked); else -1");
    f.routeType(&routeType, "echoed only");
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_PASSWORD_UPDATE_ENTITY_H_
