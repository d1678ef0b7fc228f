#include "messaging/DeadLetterMove.h"

#include <proton/connection.hpp>
#include <proton/error_condition.hpp>
#include <proton/sender_options.hpp>
#include <proton/target.hpp>
#include <proton/target_options.hpp>

#include "util/Log.h"

namespace messaging {
namespace {

constexpr const char* kDeadLetterPrefix = "DLQ.";

}  // namespace

DeadLetterMove::DeadLetterMove(std::string queue, Done done)
    : queue_(std::move(queue)), target_(kDeadLetterPrefix + queue_), done_(std::move(done)) {}

void DeadLetterMove::start(proton::connection& c, uint64_t sequence, proton::message message,
                           const char* property, const std::string& value) {
  Move& move = moves_[sequence];
  move = Move();
  move.message = std::move(message);
  move.message.properties().put(property, value);
  move.message.durable(true);
  if (!sender_) {
    proton::sender_options options;
    options.target(proton::target_options().address(target_));
    sender_ = c.open_sender(target_, options);
    return;  // sent once the sender is open
  }
  if (open_) transmit(move);
}

bool DeadLetterMove::senderOpened(proton::sender& s) {
  // Refused (no target): senderRefused follows.
  if (s != sender_ || s.target().address().empty()) return false;
  open_ = true;
  for (auto& item : moves_) {
    if (!item.second.sent) transmit(item.second);
  }
  return true;
}

bool DeadLetterMove::senderRefused(proton::sender& s) {
  if (s != sender_) return false;
  util::printAndLog("destURI #%s dead-letter queue refused: %s\n", queue_.c_str(),
                    s.error().what().c_str());
  sender_ = proton::sender();
  open_ = false;
  std::map<uint64_t, Move> ended;
  ended.swap(moves_);
  for (auto& item : ended) done_(item.first, false);
  return true;
}

void DeadLetterMove::settled(const proton::tracker& t, bool stored) {
  for (auto it = moves_.begin(); it != moves_.end(); ++it) {
    if (!it->second.sent || it->second.tracker != t) continue;
    const uint64_t sequence = it->first;
    moves_.erase(it);
    done_(sequence, stored);
    return;
  }
}

void DeadLetterMove::connectionLost() {
  open_ = false;
  moves_.clear();
}

void DeadLetterMove::connectionEnded() {
  connectionLost();
  sender_ = proton::sender();
}

void DeadLetterMove::transmit(Move& move) {
  move.tracker = sender_.send(move.message);
  move.sent = true;
}

}  // namespace messaging
