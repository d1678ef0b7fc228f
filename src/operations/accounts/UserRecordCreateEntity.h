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
    f.text("serial", &serial, "echoed only");
    f.text("name", &name, "the holder's name (identity, with email, group and comment)");
    f.int64("login", &login, "the new account's number", Check::kLogin);
    f.int64("agent", &agent, "the agent account; 0: none", Check::kAgent);
    f.text("email", &email, "the account's e-mail (identity)");
    f.text("phone", &phone, "the account's phone");
    f.text("country", &country, "the account's country");
    f.text("id", &id, "the account's ID field");
    f.int32("leverage", &leverage, "the account's leverage");
    f.text("group", &group, "the account's trading group (identity)");
    f.text("masterPass", &masterPass, "the master password");
    f.text("investorPass", &investorPass, "the investor password");
    f.text("comment", &comment, "the account's comment (identity)");
    f.text("leadSource", &leadSource,
           "the lead source; one equal to the known account's identifies it alone");
    f.text("city", &city, "the account's city");
    f.text("town", &town, "the account's state");
    f.text("postalCode", &postalCode, "the account's postal code");
    f.text("addressLine", &addressLine, "the account's address");
    f.int32("valid", &valid, "1: the account trades; anything else: it is read-only");
    f.routeType(&routeType, "echoed only");
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_USER_RECORD_CREATE_ENTITY_H_
