// The request record of a group's leverage change: the group's leverage per
// symbol, and the accounts that get the leverage of "ForeignExchange".
#ifndef MT4BRIDGE_OPERATIONS_GROUPS_GROUP_LEVERAGE_ENTITY_H_
#define MT4BRIDGE_OPERATIONS_GROUPS_GROUP_LEVERAGE_ENTITY_H_

#include <map>
#include <string>
#include <vector>

#include "operations/FieldCheck.h"

namespace operations {

// One element of "symbols".
struct GroupSymbolLeverage {
  std::string symbol;
  int leverage = 0;

  const std::string& name() const { return symbol; }

  template <typename Fields>
  void fields(Fields& f) {
    f.text("symbol", &symbol, "a symbol of the group's margin settings, by exact name");
    f.int32("leverage", &leverage, "the symbol's margin divider in the group");
  }
};

// The pseudo-symbol whose leverage goes to the listed accounts.
constexpr const char* kForeignExchange = "ForeignExchange";

struct GroupLeverageEntity {
  std::string group;
  // By exact symbol name; the last element of a name wins.
  std::map<std::string, GroupSymbolLeverage> symbols;
  std::vector<int> logins;
  std::string serial;
  std::string routeType;

  template <typename Fields>
  void fields(Fields& f) {
    f.text("group", &group, "the trading group");
    f.namedObjects("symbols", &symbols,
                   "the group's leverage per symbol; ForeignExchange's also goes to logins");
    f.intList("logins", &logins, "the accounts given the ForeignExchange leverage", Check::kLogin);
    f.text("serial", &serial, "echoed only");
    f.routeType(&routeType, "echoed only");
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_GROUPS_GROUP_LEVERAGE_ENTITY_H_
