// The six changes of one symbol's configuration. Each finds the symbol by
// its exact name in the server's list (SymbolLookup.h: -1006 without a
// list, -1007 when no symbol has that name, nothing written then), changes
// a copy of it and writes the copy back whole. A second run sets the same
// values again.
#ifndef MT4BRIDGE_OPERATIONS_SYMBOLS_SYMBOL_CHANGES_H_
#define MT4BRIDGE_OPERATIONS_SYMBOLS_SYMBOL_CHANGES_H_

#include <json/json.h>

#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"

namespace operations {

// The swaps, and the trade mode set to full trading. One write; 0 and 1
// give 200, any other result r gives -r.
int updateSymbol(OperationContext& ctx, const Json::Value& request,
                 messaging::ReplySender& reply);

// One setting each; the write is retried, only 0 gives 200, else -r. A
// console line names the symbol and the value as received.
// The trade mode, as received, after the server's symbol list is
// refreshed.
int symbolTradeUpdate(OperationContext& ctx, const Json::Value& request,
                      messaging::ReplySender& reply);
// The pending orders' expiry: 0 daily, 1 good till cancelled, any other
// value daily without stops; the symbol list is refreshed first.
int symboGtcPendingUpdate(OperationContext& ctx, const Json::Value& request,
                          messaging::ReplySender& reply);
// margin_divider = leverage / 100.0; no refresh.
int symbolLeverageUpdate(OperationContext& ctx, const Json::Value& request,
                         messaging::ReplySender& reply);

// The first quote, or trade, session of each of the seven days; a day the
// request lacks becomes 00:00-00:00, and every other session is kept. Each
// time is stored as its low 16 bits. Written like the settings above; the
// console line carries the text of the success reply.
int symboQuoteDateUpdate(OperationContext& ctx, const Json::Value& request,
                         messaging::ReplySender& reply);
int symboTraderDateUpdate(OperationContext& ctx, const Json::Value& request,
                          messaging::ReplySender& reply);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_SYMBOLS_SYMBOL_CHANGES_H_
