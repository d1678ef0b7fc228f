#include "messaging/SendOutcome.h"

namespace messaging {
namespace {
thread_local bool replyFailed = false;
}  // namespace

void beginRequestOutcome() { replyFailed = false; }

void noteReplyFailed() { replyFailed = true; }

bool replyFailedSinceBegin() { return replyFailed; }

}  // namespace messaging
