#include "messaging/SendOutcome.h"

namespace messaging {
namespace {
thread_local bool undelivered = false;
thread_local std::string undeliveredReply;
}  // namespace

void beginRequestOutcome() {
  undelivered = false;
  undeliveredReply.clear();
}

void noteReplyUndelivered(const std::string& reply) {
  undelivered = true;
  undeliveredReply = reply;
}

bool replyUndelivered(std::string* reply) {
  if (undelivered && reply != nullptr) *reply = undeliveredReply;
  return undelivered;
}

}  // namespace messaging
