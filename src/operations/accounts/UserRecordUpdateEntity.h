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
    f.text("name", &name, "the holder's name (personal data)");
    f.int64("login", &login, "the account", Check::kLogin);
    f.int64("agent", &agent, "the agent account, 0: none (personal data)", Check::kAgent);
    f.text("email", &email, "the account's e-mail (personal data)");
    f.text("phone", &phone, "the account's phone (personal data)");
    f.text("country", &country, "the account's country (personal data)");
    f.text("id", &id, "the account's ID field (personal data)");
    f.int32("leverage", &leverage, "the account's leverage");
    f.int32("groupType", &groupType, "2 or 9: the personal data is left as it is");
    f.text("group", &group, "the account's trading group (personal data)");
    f.text("comment", &comment,
           "the account's comment; \"-1\" keeps the stored one (personal data)");
    f.text("city", &city, "the account's city (personal data)");
    f.text("town", &town, "the account's state (personal data)");
    f.text("postalCode", &postalCode, "the account's postal code (personal data)");
    f.text("addressLine", &addressLine, "the account's address");
    f.text("serial", &serial, "echoed only");
    f.routeType(&routeType, "USER_ENABLE_READ_ONLY_UPDATE: only valid and updatePassword are set");
    f.int32("valid", &valid, "1: the account trades; anything else: it is read-only");
    f.int32("updatePassword", &updatePassword,
            "1: the account may change its password; anything else: it may not");
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_UPDATE_ENTITY_H_
