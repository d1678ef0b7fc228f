// The request routes, one row per queue: its operation, the schema
// of the record it reads and the codes it replies with, each with when it is
// replied. The queues' configuration keys, labels and routing order are the
// queue table's (config/QueueTable.h). Start-up builds the service's queues
// from this table (messaging/QueueSet.h), and the back office's reference
// (mt4bridge_schemas) is written from it.
#ifndef MT4BRIDGE_OPERATIONS_ROUTES_H_
#define MT4BRIDGE_OPERATIONS_ROUTES_H_

#include <json/json.h>

#include <array>
#include <climits>
#include <vector>

#include "config/QueueTable.h"
#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"
#include "operations/SchemaWriter.h"

namespace operations {

// The code of a row for a failed manager call: minus its result r
// (codes::failedCall), written "-r".
constexpr int kFailedCallCode = INT_MIN;

struct CodeRow {
  int code;
  const char* when;
};

struct Route {
  const config::QueueInfo* queue;  // keys and labels
  OperationFn operation;
  Json::Value (*schema)(SchemaSide);  // of the record the operation reads
  std::vector<CodeRow> codes;         // beside -1 without an interface (every route's)
};

// The routes in queue order (index = queue number - 1).
const std::array<Route, config::kRouteCount>& routeTable();

// The codes that keep money safe, with what the back office does about
// each; the queues that may answer one list it among their codes.
struct SafetyCode {
  int code;
  const char* when;
  const char* action;
};

const std::vector<SafetyCode>& safetyCodes();

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ROUTES_H_
