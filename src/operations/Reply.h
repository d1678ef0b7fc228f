// Sending an operation's one reply.
#ifndef MT4BRIDGE_OPERATIONS_REPLY_H_
#define MT4BRIDGE_OPERATIONS_REPLY_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "messaging/ReplyWriter.h"
#include "operations/EchoWriter.h"

namespace operations {

// Writes the reply envelope around data and code, sends it through reply
// and returns code.
int sendReply(messaging::ReplySender& reply, const Json::Value& data,
              int code);

// sendReply with the echo of record (see EchoWriter.h) as data.
template <typename Record>
int replyEcho(messaging::ReplySender& reply, Record& record, int code) {
  return sendReply(reply, echoRecord(record), code);
}

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_REPLY_H_
