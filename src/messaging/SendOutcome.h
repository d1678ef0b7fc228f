// Whether the reply sent while one request was handled reached the broker.
// The consumer asks after the operation has returned: a request whose reply
// could not be delivered within the producer's bound is moved to the
// dead-letter queue with that reply attached, and is not run again.
// The record is per thread: the operation sends on the consumer's thread.
#ifndef MT4BRIDGE_MESSAGING_SEND_OUTCOME_H_
#define MT4BRIDGE_MESSAGING_SEND_OUTCOME_H_

#include <string>

namespace messaging {

// Clears the calling thread's record; called before each request.
void beginRequestOutcome();

// Notes that reply, sent on the calling thread, was not delivered.
void noteReplyUndelivered(const std::string& reply);

// True when a reply was not delivered on the calling thread since
// beginRequestOutcome; *reply (when not null) gets the last such reply.
bool replyUndelivered(std::string* reply);

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_SEND_OUTCOME_H_
