// The move of requests to the dead-letter queue of their request queue
// ("DLQ." + the queue's name, the broker's own naming), each with a string
// property saying why: "undeliveredReply", the reply that could not be
// delivered, or "deadLetterReason". Used on the event thread of the request
// queue's connection only.
#ifndef MT4BRIDGE_MESSAGING_DEAD_LETTER_MOVE_H_
#define MT4BRIDGE_MESSAGING_DEAD_LETTER_MOVE_H_

#include <proton/message.hpp>
#include <proton/sender.hpp>
#include <proton/tracker.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace proton {
class connection;
}

namespace messaging {

class DeadLetterMove {
 public:
  // The dead-letter queue's name.
  const std::string& target() const { return target_; }

  // done(sequence, stored): the move of request sequence has ended; stored
  // when the broker has the message, otherwise it refused it (or refused
  // the dead-letter queue).
  using Done = std::function<void(uint64_t sequence, bool stored)>;

  DeadLetterMove(std::string queue, Done done);

  static constexpr const char* kUndeliveredReply = "undeliveredReply";
  static constexpr const char* kReason = "deadLetterReason";

  // Moves message, request sequence, with the string property (one of the
  // two above) set to value; the sender is opened on c at first use.
  void start(proton::connection& c, uint64_t sequence, proton::message message,
             const char* property, const std::string& value);

  // The connection's sender and tracker events; each is ignored (false)
  // when it is not about this move's sender. A refused dead-letter queue is
  // reported on the console and in the log, and ends every move under way
  // as not stored.
  bool senderOpened(proton::sender& s);
  bool senderRefused(proton::sender& s);
  void settled(const proton::tracker& t, bool stored);

  // The connection is lost: the moves under way are given up without
  // done() (their requests come back and are moved again).
  void connectionLost();

  // The connection has ended: its sender is released.
  void connectionEnded();

 private:
  struct Move {
    proton::message message;
    bool sent = false;
    proton::tracker tracker;
  };

  void transmit(Move& move);

  const std::string queue_;
  const std::string target_;
  const Done done_;
  proton::sender sender_;
  bool open_ = false;
  std::map<uint64_t, Move> moves_;  // by request sequence
};

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_DEAD_LETTER_MOVE_H_
