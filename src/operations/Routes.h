// The fifteen request routes: each queue's operation, in queue order. The
// queues' configuration keys, labels and routing order are the queue
// table's (config/QueueTable.h); start-up installs every route of this
// table into the dispatcher.
#ifndef MT4BRIDGE_OPERATIONS_ROUTES_H_
#define MT4BRIDGE_OPERATIONS_ROUTES_H_

#include <json/json.h>

#include <array>

#include "config/QueueTable.h"
#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

struct Route {
  const config::QueueInfo* queue;  // keys and labels
  OperationFn operation;
};

// The routes in queue order (index = queue number - 1).
const std::array<Route, config::kQueueCount>& routeTable();

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ROUTES_H_
