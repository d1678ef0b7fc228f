// Internal mail: one message into the terminal mailbox of a list of
// accounts, from "Trading Platform".
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNTS_EMAIL_SEND_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNTS_EMAIL_SEND_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// Waits 2000 ms and reads an EmailSendEntity. ManagerRights on the normal
// manager must answer 0 (else -1); then MailSend with the subject cut to
// 127 bytes and the body in a buffer of its own. 200 when MailSend answers
// 0 or 1, else -r. A mail whose serial was sent before (ctx.mails) is
// answered 200 without sending it again; a serial is remembered before the
// send and marked sent after it. Replies once; returns the reply's code.
int emailSend(OperationContext& ctx, const Json::Value& request,
              messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNTS_EMAIL_SEND_H_
