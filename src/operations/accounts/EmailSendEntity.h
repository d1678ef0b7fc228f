// The request record of an internal mail.
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNTS_EMAIL_SEND_ENTITY_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNTS_EMAIL_SEND_ENTITY_H_

#include <string>
#include <vector>

#include "operations/FieldCheck.h"

namespace operations {

// subject and content hold the server's single-byte text (converted as
// read, content first); the reply echoes them so.
struct EmailSendEntity {
  std::string serial;
  std::vector<int> logins;  // the recipients, in request order
  std::string content;
  std::string subject;
  std::string routeType;

  // The request keys, read by RequestReader and echoed by EchoWriter.
  template <typename Fields>
  void fields(Fields& f) {
    f.text("serial", &serial,
           "the mail's key: a serial already sent is not sent again; empty: always sent");
    f.intList("logins", &logins, "the recipients' accounts", Check::kLogin);
    f.convertedText("content", &content, "the mail's body");
    f.convertedText("subject", &subject, "the mail's subject, cut to 127 bytes");
    f.routeType(&routeType, "echoed only");
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_EMAIL_SEND_ENTITY_H_
