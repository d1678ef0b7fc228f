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
    f.text("symbol", &symbol, "the symbol's exact name");
    f.real("swapLong", &swapLong, "the symbol's long swap (its trade mode becomes full)");
    f.real("swapShort", &swapShort, "the symbol's short swap");
    f.text("serial", &serial, "echoed only");
    f.routeType(&routeType, "echoed only");
  }
};

// One integer setting of a symbol, under the key ValueKey, which means
// ValueMeaning.
template <const char* ValueKey, const char* ValueMeaning>
struct SymbolSettingEntity {
  std::string symbol;
  int value = 0;  // as received
  std::string serial;
  std::string routeType;
  SymbolLookup lookup;

  template <typename Fields>
  void fields(Fields& f) {
    f.text("symbol", &symbol, "the symbol's exact name");
    f.int32(ValueKey, &value, ValueMeaning);
    f.text("serial", &serial, "echoed only");
    f.routeType(&routeType, "echoed only");
  }
};

inline constexpr char kTradeKey[] = "trade";
inline constexpr char kGtcPendingKey[] = "gtcPending";
inline constexpr char kLeverageKey[] = "leverage";
inline constexpr char kTradeMeaning[] =
    "the symbol's trade mode, as received: 0 no trading, 1 close only, 2 full trading";
inline constexpr char kGtcPendingMeaning[] =
    "pending orders expire: 0 daily, 1 good till cancelled, anything else daily without stops";
inline constexpr char kLeverageMeaning[] =
    "the symbol's margin divider times 100 (it becomes leverage / 100)";
using SymbolTradeEntity = SymbolSettingEntity<kTradeKey, kTradeMeaning>;
using SymbolGtcPendingEntity = SymbolSettingEntity<kGtcPendingKey, kGtcPendingMeaning>;
using SymbolLeverageEntity = SymbolSettingEntity<kLeverageKey, kLeverageMeaning>;

// One session of a day, as received (the server keeps 16 bits of each).
struct SessionTimeEntity {
  int openHour = 0;
  int openMin = 0;
  int closeHour = 0;
  int closeMin = 0;

  template <typename Fields>
  void fields(Fields& f) {
    f.int32("openHour", &openHour, "the hour the session opens");
    f.int32("openMin", &openMin, "the minute the session opens");
    f.int32("closeHour", &closeHour, "the hour the session closes");
    f.int32("closeMin", &closeMin, "the minute the session closes");
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
    f.text("symbol", &symbol, "the symbol's exact name");
    for (int day = 0; day < mt::kSymbolSessionDays; ++day) {
      f.object(kDayKeys[day], &days[day],
               "the first quote or trade session (by queue) of the day the digit names");
    }
    f.text("serial", &serial, "echoed only");
    f.routeType(&routeType, "echoed only");
  }
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_SYMBOLS_SYMBOL_ENTITIES_H_
