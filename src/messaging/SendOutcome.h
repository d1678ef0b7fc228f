// Whether the replies sent while one request was handled reached the
// broker. The consumer asks after the operation has returned: a request
// whose reply was not stored is handed back to the broker for redelivery
// instead of being acknowledged, so it is not lost unanswered.
// The record is per thread: the operation sends on the consumer's thread.
#ifndef MT4BRIDGE_MESSAGING_SEND_OUTCOME_H_
#define MT4BRIDGE_MESSAGING_SEND_OUTCOME_H_

namespace messaging {

// Clears the calling thread's record; called before each request.
void beginRequestOutcome();

// Notes that a reply sent on the calling thread was not stored.
void noteReplyFailed();

// True when a reply failed on the calling thread since beginRequestOutcome.
bool replyFailedSinceBegin();

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_SEND_OUTCOME_H_
