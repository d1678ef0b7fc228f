// Internal mail: one message into the terminal mailbox of a list of
// accounts, from "Trading Platform".
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNTS_EMAIL_SEND_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNTS_EMAIL_SEND_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// Sends the subject (cut to its field) and the content to the listed
// accounts. Replies 200 when the server takes the mail, -1 when the
// manager's rights cannot be read, else -r. A mail with a serial is sent
// once: remembered in ctx.mails before the send and marked after
// (RememberedAction.h). A repeat of a sent mail is answered 200 without a
// send; one whose send was not marked is sent again; one that cannot be
// remembered is refused (kNotDurable) and not sent. A mail without a
// serial is sent every time.
int emailSend(OperationContext& ctx, const Json::Value& request,
              messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_EMAIL_SEND_H_
