// The memory of the requests a consumer has answered, for recognising the
// broker's redelivery of one whose acknowledgement was lost: such a request
// is not run again. The last 1000 requests are kept.
#ifndef MT4BRIDGE_MESSAGING_ANSWERED_REQUESTS_H_
#define MT4BRIDGE_MESSAGING_ANSWERED_REQUESTS_H_

#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>

namespace proton {
class message;
}

namespace messaging {

// How a handled request ended.
struct Answer {
  bool undelivered = false;  // its reply could not be delivered
  std::string reply;         // that reply
  bool refused = false;      // it could not be taken (no reply)
};

// What identifies one request across its redeliveries: the message id,
// which the broker assigns to every message and keeps in its store, also
// across a restart of the broker (whose redelivery count starts again at
// 0). Without an id, text identifies a message the broker marks as
// redelivered. False when the message has no key (it is then never taken
// for another).
bool requestKey(const proton::message& message, const std::string& text, std::string* key);

class AnsweredRequests {
 public:
  static constexpr size_t kCapacity = 1000;

  // The answer of the request with this key; null when it is not known.
  // The pointer is valid until the next remember().
  const Answer* find(const std::string& key) const;

  // Records (or replaces) the answer of key, forgetting the oldest key
  // beyond kCapacity.
  void remember(const std::string& key, Answer answer);

 private:
  std::unordered_map<std::string, Answer> answers_;
  std::deque<std::string> order_;  // oldest first
};

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_ANSWERED_REQUESTS_H_
