// The look-up every symbol change shares: the server's symbol list, and a
// working copy of the one symbol a request names.
//
// A change is a request record that holds a SymbolLookup beside its keys,
// and a few lines that change the copy and write it:
//
//   return changeSymbol(ctx, record, [&](mt::ConSymbol& copy) {
//     copy.margin_divider = record.value / 100.0;
//     return replyCode(writeSymbolRetrying(ctx, copy), server::kSuccessZeroOnly);
//   });
//
// The record outlives the reply (OperationRunner.h), so the list it holds
// is given back after the reply, on every path that fetched one.
#ifndef MT4BRIDGE_OPERATIONS_SYMBOLS_SYMBOL_LOOKUP_H_
#define MT4BRIDGE_OPERATIONS_SYMBOLS_SYMBOL_LOOKUP_H_

#include <string>

#include "operations/OperationContext.h"
#include "operations/ReplyCodes.h"
#include "server/ManagerLink.h"

namespace operations {

// SymbolsGetAll on the pumping manager, a pause before each call, a few
// calls at most, until one returns at least one item. Empty when none did.
// Makes no reconnect of its own.
server::ManagerArray<mt::ConSymbol> fetchSymbols(OperationContext& ctx);

class SymbolLookup {
 public:
  // fetchSymbols, then the first item whose name equals name exactly
  // (case-sensitive) copied whole over a zeroed working copy. Returns 0,
  // codes::kNoSymbolList or codes::kSymbolNotFound.
  int find(OperationContext& ctx, const std::string& name);

  // The working copy; zero-filled until find() succeeds.
  mt::ConSymbol& copy() { return copy_; }

 private:
  // Held until the lookup is destroyed, then given back to the pumping
  // manager that returned it.
  server::ManagerArray<mt::ConSymbol> list_;
  mt::ConSymbol copy_{};
};

// CfgUpdateSymbol of copy on the normal manager, a few calls at most with
// short pauses between, until one answers 0 (1 is retried like any
// failure); no reconnect. Returns the last call's outcome.
CallResult writeSymbolRetrying(OperationContext& ctx, const mt::ConSymbol& copy);

// record.lookup.find(ctx, record.symbol); when found, change(copy) -> the
// reply's code, else the look-up's code.
template <typename Record, typename Change>
int changeSymbol(OperationContext& ctx, Record& record, Change&& change) {
  const int found = record.lookup.find(ctx, record.symbol);
  if (found != 0) return found;
  return change(record.lookup.copy());
}

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_SYMBOLS_SYMBOL_LOOKUP_H_
