// The request records of the symbol changes: the symbol's name, the values
// to set, and the look-up of that symbol (not a request key; it holds the
// server's list until the record, and with it the request, is done).
#ifndef MT4BRIDGE_OPERATIONS_SYMBOLS_SYMBOL_ENTITIES_H_
#define MT4BRIDGE_OPERATIONS_SYMBOLS_SYMBOL_ENTITIES_H_

#include <array>
#include <string>

#include "operations/symbols/SymbolLookup.h"
#include "server/ManagerApi.h"

namespace operations {

// The swaps of a symbol.
struct UpdateSymbolEntity {
  std::string symbol;
  double swapLong = 0.0;
  double swapShort = 0.0;
  std::string serial;
  std::string routeType;
  SymbolLookup lookup;

  template <typename Fields>
  void fields(Fields& f) {
    f.text("symbol", &symbol);
    f.real("swapLong", &swapLong);
    f.real("swapShort", &swapShort);
    f.text("serial", &serial);
    f.routeType(&routeType);
  }
};

// One integer setting of a symbol, under the key ValueKey.
template <const char* ValueKey>
struct SymbolSettingEntity {
  std::string symbol;
  int value = 0;  // as received
  std::string serial;
  std::string routeType;
  SymbolLookup lookup;

  template <typename Fields>
  void fields(Fields& f) {
    f.text("symbol", &symbol);
    f.int32(ValueKey, &value);
    f.text("serial", &serial);
    f.routeType(&routeType);
  }
};

inline constexpr char kTradeKey[] = "trade";
inline constexpr char kGtcPendingKey[] = "gtcPending";
inline constexpr char kLeverageKey[] = "leverage";
using SymbolTradeEntity = SymbolSettingEntity<kTradeKey>;
using SymbolGtcPendingEntity = SymbolSettingEntity<kGtcPendingKey>;
using SymbolLeverageEntity = SymbolSettingEntity<kLeverageKey>;

// One session of a day, as received (the server keeps 16 bits of each).
struct SessionTimeEntity {
  int openHour = 0;
  int openMin = 0;
  int closeHour = 0;
  int closeMin = 0;

  template <typename Fields>
  void fields(Fields& f) {
    f.int32("openHour", &openHour);
    f.int32("openMin", &openMin);
    f.int32("closeHour", &closeHour);
    f.int32("closeMin", &closeMin);
  }
};

// One session per day, day 0 to 6 in the order of ConSymbol::sessions.
struct SymbolSessionsEntity {
  std::string symbol;
  std::array<SessionTimeEntity, mt::kSymbolSessionDays> days;
  std::string serial;
  std::string routeType;
  SymbolLookup lookup;

  template <typename Fields>
  void fields(Fields& f) {
    static constexpr const char* kDayKeys[mt::kSymbolSessionDays] = {
        "conSessions0", "conSessions1", "conSessions2", "conSessions3",
        "conSessions4", "conSessions5", "conSessions6"};
    f.text("symbol", &symbol);
    for (int day = 0; day < mt::kSymbolSessionDays; ++day) f.object(kDayKeys[day], &days[day]);
    f.text("serial", &serial);
    f.routeType(&routeType);
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_SYMBOLS_SYMBOL_ENTITIES_H_
