// Where an operation sends its one reply. AsyncProducer implements it for a
// reply queue; unit tests use a recorder.
#ifndef MT4BRIDGE_MESSAGING_REPLY_SENDER_H_
#define MT4BRIDGE_MESSAGING_REPLY_SENDER_H_

#include <string>

namespace messaging {

class ReplySender {
 public:
  virtual ~ReplySender() = default;
  // Sends text as one message. Returns when the message is stored by the
  // broker or the failure has been reported.
  virtual void send(const std::string& text) = 0;
};

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_REPLY_SENDER_H_
