// A request's way from its message text to its operation.
#ifndef MT4BRIDGE_MESSAGING_DISPATCH_H_
#define MT4BRIDGE_MESSAGING_DISPATCH_H_

#include <json/json.h>

#include <functional>
#include <string>

#include "messaging/ReplySender.h"
#include "messaging/ReplyWriter.h"

namespace messaging {

// One request kind's operation: reads its request from the parsed object
// and sends exactly one reply through reply before it returns.
using Operation = std::function<void(const Json::Value& request, ReplySender& reply)>;

// Parses text and runs operation on it, replying through reply. Returns
// false when the request could not be taken: text that is not a JSON
// object (dropped without reply or line), a conversion error raised while
// the operation reads its request or any other exception, and a route
// without operation (each without reply, with one console and log line
// naming destURI, the request queue).
bool dispatchRequest(const std::string& destURI, const Operation& operation, ReplySender& reply,
                     const std::string& text);

// The text of an envelope member as the operations read it: absent or null
// reads as "", a number as its decimal text. A member that is an object or
// an array raises the JSON library's conversion error.
std::string envelopeText(const Json::Value& request, const char* key);

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_DISPATCH_H_
