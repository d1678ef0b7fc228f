// Routing of a request to its operation: the queue a message came from
// selects the route (queue order and routing order in config/QueueTable.h);
// nothing inside the message does.
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

// Installs the operation and the reply producer of route queueNumber
// (1..15). reply must outlive every dispatch (the producers are process-wide
// objects). Called by start-up before any consumer starts, for every route
// (operations/Routes.h). A route without a reply sender sends its replies
// nowhere (one console line each); a request for a route without an
// operation is dropped with one console and log line.
void setRoute(int queueNumber, Operation operation, ReplySender* reply);

// Removes every installed route; for tests.
void clearRoutes();

// Parses text and runs the operation of the first route, in routing order,
// whose configured request queue name equals destURI. Text that is not a
// JSON object, and a queue no route is configured for, are dropped without
// reply. A JSON conversion error raised while the operation reads its
// request ends that request without reply, with one console and log line.
void dispatchRequest(const std::string& destURI, const std::string& text);

// The text of an envelope member as the operations read it: absent or null
// reads as "", a number as its decimal text. A member that is an object or
// an array raises the JSON library's conversion error.
std::string envelopeText(const Json::Value& request, const char* key);

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_DISPATCH_H_
