#include "config/QueueTable.h"

namespace config {

#define MT4BRIDGE_QUEUE_OF(num, key, replyField, replyLabel, optional)      \
  QueueInfo {                                                               \
    num, #key, "config." #key, #replyField, "config." replyLabel,          \
        &ConfigRecord::key, &ConfigRecord::replyField, optional             \
  }
#define MT4BRIDGE_QUEUE(num, key, replyField, replyLabel) \
  MT4BRIDGE_QUEUE_OF(num, key, replyField, replyLabel, false)
#define MT4BRIDGE_READ(num, key) MT4BRIDGE_QUEUE_OF(num, key, key##Callback, #key "Callback", true)

const std::array<QueueInfo, kRouteCount>& queueTable() {
  static const std::array<QueueInfo, kRouteCount> table = {{
      MT4BRIDGE_QUEUE(1, userRecordCreate, userRecordCreateCallback, "userRecordCreateCallback"),
      MT4BRIDGE_QUEUE(2, userRecordUpdate, userRecordUpdateCallback, "userRecordUpdateCallback"),
      MT4BRIDGE_QUEUE(3, userRecordPasswordUpdate, userRecordPasswordUpdateCallback, "userRecordPasswordUpdateCallback"),
      MT4BRIDGE_QUEUE(4, tradeTransInfo, tradeTransInfoCallback, "tradeTransInfoCallback"),
      MT4BRIDGE_QUEUE(5, userLeverageUpdate, userLeverageUpdateCallback, "userLeverageUpdateCallback"),
      MT4BRIDGE_QUEUE(6, emailSend, emailSendCallback, "emailSendCallback"),
      MT4BRIDGE_QUEUE(7, groupLeverage, groupLeverageCallback, "groupLeverageCallback"),
      MT4BRIDGE_QUEUE(8, updateSymbol, updateSymbolCallback, "updateSymbolCallback"),
      MT4BRIDGE_QUEUE(9, closeUserTrades, closeUserTradesCallback, "closeUserTradesCallback"),
      MT4BRIDGE_QUEUE(10, importTrade, importTradeCallback, "importTradeCallback"),
      MT4BRIDGE_QUEUE(11, symbolLeverageUpdate, symbolLeverageUpdateCallback, "symbolLeverageUpdateCallback"),
      MT4BRIDGE_QUEUE(12, symbolTradeUpdate, symbolTradeUpdateCallback, "symbolTradeUpdateCallback"),
      MT4BRIDGE_QUEUE(13, symboGtcPendingUpdate, symboGtcPendingUpdateCallback, "symboGtcPendingUpdateCallback"),
      // The reply key doubles the e; the label does not.
      MT4BRIDGE_QUEUE(14, symboTraderDateUpdate, symboTraderDateUpdateeCallback, "symboTraderDateUpdateCallback"),
      MT4BRIDGE_QUEUE(15, symboQuoteDateUpdate, symboQuoteDateUpdateCallback, "symboQuoteDateUpdateCallback"),
      MT4BRIDGE_READ(16, userRecordGet),
      MT4BRIDGE_READ(17, userTradesGet),
      MT4BRIDGE_READ(18, userHistoryGet),
  }};
  return table;
}

#undef MT4BRIDGE_READ
#undef MT4BRIDGE_QUEUE
#undef MT4BRIDGE_QUEUE_OF

const std::array<int, kRouteCount>& routingOrder() {
  // Group leverage (7) is routed before e-mail (6); the reads come last.
  static const std::array<int, kRouteCount> order = {
      1, 2, 3, 4, 5, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  return order;
}

const QueueInfo& queueInfo(int number) {
  return queueTable()[static_cast<size_t>(number - 1)];
}

int routeFor(const ConfigRecord& cfg, const std::string& requestName) {
  if (requestName.empty()) return 0;
  for (int number : routingOrder()) {
    if (cfg.*(queueInfo(number).requestName) == requestName) return number;
  }
  return 0;
}

}  // namespace config
