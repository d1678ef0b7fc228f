#include "messaging/AnsweredRequests.h"

#include <proton/message.hpp>
#include <proton/message_id.hpp>
#include <proton/value.hpp>

namespace messaging {

bool requestKey(const proton::message& message, const std::string& text, std::string* key) {
  const proton::message_id id = message.id();
  if (!id.empty()) {
    // The broker's ids are strings, taken as they are; other kinds are
    // written out.
    *key = id.type() == proton::STRING ? "id:" + proton::get<std::string>(id)
                                       : "id#" + proton::to_string(id);
    return true;
  }
  *key = "text:" + text;
  return message.delivery_count() > 0;
}

const Answer* AnsweredRequests::find(const std::string& key) const {
  auto it = answers_.find(key);
  return it == answers_.end() ? nullptr : &it->second;
}

void AnsweredRequests::remember(const std::string& key, Answer answer) {
  if (answers_.insert_or_assign(key, std::move(answer)).second) order_.push_back(key);
  while (order_.size() > kCapacity) {
    answers_.erase(order_.front());
    order_.pop_front();
  }
}

}  // namespace messaging
