// An account as the reads and the server's events give it to the back
// office: one field list, written by EchoWriter and described by
// SchemaWriter (the request never carries it).
#ifndef MT4BRIDGE_OPERATIONS_READS_ACCOUNT_FIELDS_H_
#define MT4BRIDGE_OPERATIONS_READS_ACCOUNT_FIELDS_H_

#include <string>

namespace operations {

// Texts are the server's bytes as it keeps them.
struct AccountFields {
  int login = 0;
  std::string group;
  std::string name;
  std::string email;
  std::string comment;
  int leverage = 0;
  int enable = 0;
  int enableReadOnly = 0;
  int enableChangePassword = 0;
  double balance = 0.0;
  double credit = 0.0;

  template <typename Fields>
  void fields(Fields& f) {
    f.replyInt32("login", &login, "the account");
    f.replyText("group", &group, "its trading group");
    f.replyText("name", &name, "its holder's name");
    f.replyText("email", &email, "its e-mail");
    f.replyText("comment", &comment, "its comment");
    f.replyInt32("leverage", &leverage, "its leverage");
    f.replyInt32("enable", &enable, "1: the account may log in");
    f.replyInt32("enableReadOnly", &enableReadOnly, "1: it may not trade");
    f.replyInt32("enableChangePassword", &enableChangePassword,
                 "1: its holder may change the password");
    f.replyReal("balance", &balance, "its balance");
    f.replyReal("credit", &credit, "its credit");
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_READS_ACCOUNT_FIELDS_H_
