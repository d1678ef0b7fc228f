// The one shape of every request operation:
//   1. the operation's fixed pause (none when 0), then its first step when
//      it has one that comes before the request is read (only while both
//      links have an interface);
//   2. the request record read by its field list (RequestReader.h); a value
//      JsonCpp cannot convert throws Json::LogicError out of the runner
//      before any manager call, and no reply is sent;
//   3. a value that failed its check at the door (FieldCheck.h): its
//      refusal printed and logged, its code, without any manager call;
//   4. when a manager link has no interface: the operation's console line
//      (if it has one) and code -1, without any manager call;
//   5. otherwise the operation's body, which returns the reply code;
//   6. exactly one reply, echoing the record as the body left it.
//
// An operation is its record and its body:
//
//   int closeTrades(OperationContext& ctx, CloseUserTradesEntity& record) {
//     ...
//     return codes::kSuccess;
//   }
//   int closeUserTrades(OperationContext& ctx, const Json::Value& request,
//                       messaging::ReplySender& reply) {
//     return runOperation<CloseUserTradesEntity>({1000}, ctx, request, reply,
//                                                closeTrades);
//   }
//
// The body may change the record: the money operations put the working
// amount and the ticket there (a ticket the request does not carry is a
// reply-only field, EchoWriter.h).
#ifndef MT4BRIDGE_OPERATIONS_OPERATION_RUNNER_H_
#define MT4BRIDGE_OPERATIONS_OPERATION_RUNNER_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"
#include "operations/Refusal.h"
#include "operations/Reply.h"
#include "operations/ReplyCodes.h"
#include "operations/RequestReader.h"
#include "util/Console.h"
#include "util/Pause.h"

namespace operations {

struct OperationShape {
  int pauseMs = 0;                         // before the request is read
  const char* noInterfaceLine = nullptr;   // console, when a link has none
  void (*beforeRead)(OperationContext&) = nullptr;  // after the pause
};

// Runs body(ctx, record) -> int in the shape above and returns the code
// replied with.
template <typename Record, typename Body>
int runOperation(const OperationShape& shape, OperationContext& ctx,
                 const Json::Value& request, messaging::ReplySender& reply,
                 Body&& body) {
  if (shape.pauseMs > 0) util::pauseMs(shape.pauseMs);
  if (shape.beforeRead != nullptr && ctx.hasInterfaces()) shape.beforeRead(ctx);
  Record record;
  const Refusal refusal = readRecord(request, &record);
  int code = codes::kNoInterface;
  if (refusal.code != 0) {
    code = refuse(refusal);
  } else if (ctx.hasInterfaces()) {
    code = body(ctx, record);
  } else if (shape.noInterfaceLine != nullptr) {
    util::consolePrint("%s", shape.noInterfaceLine);
  }
  return replyEcho(reply, record, code);
}

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_OPERATION_RUNNER_H_
