// The codes the operations reply with. 200 is the one success ("msg"
// "success"); every other code is a failure ("msg" "fail"). What each
// queue answers, and when, is in its row of the route table (Routes.h).
#ifndef MT4BRIDGE_OPERATIONS_REPLY_CODES_H_
#define MT4BRIDGE_OPERATIONS_REPLY_CODES_H_

#include "messaging/ReplyWriter.h"

namespace codes {

constexpr int kSuccess = messaging::kSuccessCode;
// A manager link without interface, or a failed rights check.
constexpr int kNoInterface = -1;
// A request the operation cannot carry out as asked (a password type it
// does not know); nothing is called.
constexpr int kNotCarriedOut = -1;
// Account creation: the login is known with another identity.
constexpr int kOtherIdentity = -2;
// Balance withdrawal: it would leave less than the request's margin.
constexpr int kBelowMargin = -1000;
// Balance withdrawal: the request reports floating profit, the account has
// no open trade.
constexpr int kFloatingWithoutTrades = -1001;
// Group leverage: the group could not be fetched or written.
constexpr int kGroupNotUpdated = -1001;
// Closing an account's trades: no trade list came back.
constexpr int kNoTradeList = -1002;
// Symbol changes: no symbol list, or no symbol of that exact name.
constexpr int kNoSymbolList = -1006;
constexpr int kSymbolNotFound = -1007;
// A trade record the server did not return, or a transaction it accepted
// without a ticket.
constexpr int kNoRecord = 0;

// Refusals that keep money safe; nothing is moved, imported or sent.
// A movement or import without its key: the comment (a movement's) or the
// serial (an import's) is empty as the server keeps it.
constexpr int kNoMovementKey = -1010;
// The key names another movement on the account: the same comment (or
// serial) came before with another amount or kind.
constexpr int kKeyConflict = -1011;
// The movement is on file and may have been carried out, but the server's
// history cannot be read to tell: sent again later, it is found or moved.
constexpr int kHistoryUnreadable = -1012;
// The service could not make its record of the request durable (a full
// disk, a removed file).
constexpr int kNotDurable = -1013;
// A login (or agent account) outside 1 to 2^31-1.
constexpr int kLoginOutOfRange = -1014;
// An amount, price or profit that is not finite or whose magnitude is
// 10^13 or more.
constexpr int kAmountOutOfRange = -1015;
// A trade import whose newOrder is a ticket of another account.
constexpr int kOtherAccountsTrade = -1016;

// A history read whose window ends before it starts or spans more than
// 31 days; nothing called.
constexpr int kBadWindow = -1017;

// The code that answers a failed manager call with result r: -r. A result
// that is not a manager result code (0 or negative) gives -1.
constexpr int failedCall(int result) { return result > 0 ? -result : -1; }

}  // namespace codes

#endif  // MT4BRIDGE_OPERATIONS_REPLY_CODES_H_
