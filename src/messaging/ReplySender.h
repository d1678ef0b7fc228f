// Where an operation sends its one reply. ReplyProducer implements it for a
// reply queue; unit tests use a recorder.
#ifndef MT4BRIDGE_MESSAGING_REPLY_SENDER_H_
#define MT4BRIDGE_MESSAGING_REPLY_SENDER_H_

#include <string>

namespace messaging {

class ReplySender {
 public:
  virtual ~ReplySender() = default;
  // Sends text as one message and returns once the broker has stored it or
  // the failure has been reported. False only when the reply could not be
  // delivered: the request it answers is then moved to its dead-letter
  // queue with this reply attached. True when it was delivered, or there is
  // no reply queue to deliver it to (reported).
  virtual bool send(const std::string& text) = 0;
};

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_REPLY_SENDER_H_
