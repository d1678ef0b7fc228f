// The request kinds in queue order: their request and reply queue keys, the
// labels printed at start-up, and the routing order. The fifteen requests
// come first; the three account reads after them are optional: served only
// when their keys are configured, and silent at start-up otherwise.
#ifndef MT4BRIDGE_CONFIG_QUEUE_TABLE_H_
#define MT4BRIDGE_CONFIG_QUEUE_TABLE_H_

#include <array>
#include <string>

#include "config/Config.h"

namespace config {

constexpr int kQueueCount = 15;      // the fifteen requests
constexpr int kReadQueueCount = 3;   // the optional account reads
constexpr int kRouteCount = kQueueCount + kReadQueueCount;

// Queue numbers (1-based, queue order).
enum QueueNumber : int {
  kUserRecordCreate = 1,
  kUserRecordUpdate = 2,
  kUserRecordPasswordUpdate = 3,
  kTradeTransInfo = 4,
  kUserLeverageUpdate = 5,
  kEmailSend = 6,
  kGroupLeverage = 7,
  kUpdateSymbol = 8,
  kCloseUserTrades = 9,
  kImportTrade = 10,
  kSymbolLeverageUpdate = 11,
  kSymbolTradeUpdate = 12,
  kSymboGtcPendingUpdate = 13,
  kSymboTraderDateUpdate = 14,
  kSymboQuoteDateUpdate = 15,
  kUserRecordGet = 16,
  kUserTradesGet = 17,
  kUserHistoryGet = 18,
};

struct QueueInfo {
  int number;                 // 1..18, queue order
  const char* requestKey;     // configuration key of the request queue
  const char* consumerLabel;  // printed in place of the request queue name
  const char* replyKey;       // configuration key of the reply queue
  const char* producerLabel;  // printed in place of the reply queue name
  std::string ConfigRecord::*requestName;
  std::string ConfigRecord::*replyName;
  // An account read: nothing is printed or opened for it while neither of
  // its keys is configured.
  bool optional;
};

// The kinds in queue order (index = number - 1).
const std::array<QueueInfo, kRouteCount>& queueTable();

// Queue numbers in routing order: the first configured request queue name
// equal to a message's queue selects its route.
const std::array<int, kRouteCount>& routingOrder();

// The kind with this queue number (1..18).
const QueueInfo& queueInfo(int number);

// The number of the route that serves the request queue requestName in cfg:
// the first in routing order whose configured request queue has that name;
// 0 when none has (or requestName is empty).
int routeFor(const ConfigRecord& cfg, const std::string& requestName);

}  // namespace config

#endif  // MT4BRIDGE_CONFIG_QUEUE_TABLE_H_
