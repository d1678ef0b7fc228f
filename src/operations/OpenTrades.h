// An account's open trades and pending orders, as the pumping manager holds
// them.
#ifndef MT4BRIDGE_OPERATIONS_OPEN_TRADES_H_
#define MT4BRIDGE_OPERATIONS_OPEN_TRADES_H_

#include <string>

#include "server/FieldText.h"
#include "server/ManagerApi.h"
#include "server/ManagerLink.h"

namespace operations {

// TradesGetByLogin(user.login, user.group) on link. The array is empty
// (returned() false) when the call returned none or link has no interface.
// link must outlive the array.
inline server::ManagerArray<mt::TradeRecord> openTradesOf(server::ManagerLink& link,
                                                          const mt::UserRecord& user) {
  const std::string group = mt::fieldText(user.group);
  return link.fetchArray<mt::TradeRecord>([&](mt::CManagerInterface& m, int* count) {
    return m.TradesGetByLogin(user.login, group.c_str(), count);
  });
}

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_OPEN_TRADES_H_
