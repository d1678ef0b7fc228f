// The request record of an account update.
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_UPDATE_ENTITY_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_UPDATE_ENTITY_H_

#include <cstdint>
#include <string>

#include "operations/FieldCheck.h"

namespace operations {

// Texts hold the request's UTF-8 bytes as received.
struct UserRecordUpdateEntity {
  std::string name;
  std::int64_t login = 0;
  std::int64_t agent = 0;
  std::string email;
  std::string phone;
  std::string country;
  std::string id;
  int leverage = 0;
  int groupType = 0;   // 2 or 9: the personal data is left alone
  std::string group;
  std::string comment; // "-1" keeps the stored comment
  std::string city;
  std::string town;
  std::string postalCode;
  std::string addressLine;
  std::string serial;
  std::string routeType;
  int valid = 0;           // 1 = not read-only
  int updatePassword = 0;  // 1 = the account may change its password

  // The request keys, read by RequestReader and echoed by EchoWriter.
  template <typename Fields>
  void fields(Fields& f) {
    f.text("name", &name);
    f.int64("login", &login, Check::kLogin);
    f.int64("agent", &agent, Check::kAgent);
    f.text("email", &email);
    f.text("phone", &phone);
    f.text("country", &country);
    f.text("id", &id);
    f.int32("leverage", &leverage);
    f.int32("groupType", &groupType);
    f.text("group", &group);
    f.text("comment", &comment);
    f.text("city", &city);
    f.text("town", &town);
    f.text("postalCode", &postalCode);
    f.text("addressLine", &addressLine);
    f.text("serial", &serial);
    f.routeType(&routeType);
    f.int32("valid", &valid);
    f.int32("updatePassword", &updatePassword);
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_UPDATE_ENTITY_H_
