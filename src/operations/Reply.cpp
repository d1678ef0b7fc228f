#include "operations/Reply.h"

namespace operations {

int sendReply(messaging::ReplySender& reply, const Json::Value& data,
              int code) {
  reply.send(messaging::writeReply(data, code));
  return code;
}

}  // namespace operations
