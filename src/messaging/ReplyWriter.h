// The reply envelope shared by every operation.
#ifndef MT4BRIDGE_MESSAGING_REPLY_WRITER_H_
#define MT4BRIDGE_MESSAGING_REPLY_WRITER_H_

#include <json/json.h>

#include <string>

namespace messaging {

// The one code of success; every other code is a failure.
constexpr int kSuccessCode = 200;

// {"code":code,"data":data,"msg":"success"|"fail"} written compactly, keys
// in ascending byte order at every level, followed by one line feed. "msg"
// is "success" exactly when code is 200.
std::string writeReply(const Json::Value& data, int code);

// The code of a reply writeReply wrote (its first member), read without
// parsing the rest; 0 when text does not begin like one.
int replyCode(const std::string& text);

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_REPLY_WRITER_H_
