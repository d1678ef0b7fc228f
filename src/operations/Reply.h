// Sending an operation's one reply.
#ifndef MT4BRIDGE_OPERATIONS_REPLY_H_
#define MT4BRIDGE_OPERATIONS_REPLY_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "messaging/ReplyWriter.h"
#include "operations/EchoWriter.h"

namespace operations {

// Reply codes shared by the operations. A failed manager call with result r
// is answered with -r.
constexpr int kCodeSuccess = messaging::kReplySuccess;  // 200
constexpr int kCodeNoInterface = -1;  // a manager link without interface

// The code that answers a failed manager call with result r: -r. A result
// that is not a manager result code (0 or negative) gives -1.
constexpr int failedCallCode(int result) { return result > 0 ? -result : -1; }

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
