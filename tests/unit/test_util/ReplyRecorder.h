// A reply sender that keeps every text it is given, for tests.
#ifndef MT4BRIDGE_TESTS_REPLY_RECORDER_H_
#define MT4BRIDGE_TESTS_REPLY_RECORDER_H_

#include <string>
#include <vector>

#include "messaging/ReplySender.h"

namespace test_util {

class ReplyRecorder : public messaging::ReplySender {
 public:
  bool send(const std::string& text) override {
    sent.push_back(text);
    return true;
  }
  std::vector<std::string> sent;
};

}  // namespace test_util

#endif  // MT4BRIDGE_TESTS_REPLY_RECORDER_H_
