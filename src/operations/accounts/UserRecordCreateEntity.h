// The request record of account creation: one field per request key.
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_CREATE_ENTITY_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_CREATE_ENTITY_H_

#include <cstdint>
#include <string>

#include "operations/FieldCheck.h"

namespace operations {

// Texts hold the request's UTF-8 bytes as received.
struct UserRecordCreateEntity {
  std::string serial;
  std::string name;
  std::int64_t login = 0;
  std::int64_t agent = 0;
  std::string email;
  std::string phone;
  std::string country;
  std::string id;
  int leverage = 0;
  std::string group;
  std::string masterPass;
  std::string investorPass;
  std::string comment;
  std::string leadSource;
  std::string city;
  std::string town;
  std::string postalCode;
  std::string addressLine;
  std::string routeType;
  int valid = 0;

  // The request keys, read by RequestReader and echoed by EchoWriter.
  template <typename Fields>
  void fields(Fields& f) {
    f.text("serial", &serial);
    f.text("name", &name);
    f.int64("login", &login, Check::kLogin);
    f.int64("agent", &agent, Check::kAgent);
    f.text("email", &email);
    f.text("phone", &phone);
    f.text("country", &country);
    f.text("id", &id);
    f.int32("leverage", &leverage);
    f.text("group", &group);
    f.text("masterPass", &masterPass);
    f.text("investorPass", &investorPass);
    f.text("comment", &comment);
    f.text("leadSource", &leadSource);
    f.text("city", &city);
    f.text("town", &town);
    f.text("postalCode", &postalCode);
    f.text("addressLine", &addressLine);
    f.int32("valid", &valid);
    f.routeType(&routeType);
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_CREATE_ENTITY_H_
