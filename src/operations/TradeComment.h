// The comment of a trade as the server keeps it.
#ifndef MT4BRIDGE_OPERATIONS_TRADE_COMMENT_H_
#define MT4BRIDGE_OPERATIONS_TRADE_COMMENT_H_

#include <string>

#include "server/FieldText.h"
#include "server/ManagerApi.h"
#include "util/TextConvert.h"

namespace operations {

// A request's UTF-8 text converted to the server's single-byte text and cut
// to what a trade's comment field holds (31 bytes): what a transaction is
// given, and what the server's records then carry.
inline std::string tradeComment(const std::string& utf8) {
  return mt::terminatedFieldText(mt::TradeRecord{}.comment, util::toServerText(utf8));
}

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_TRADE_COMMENT_H_
