// The pumping handler: keeps the balance-history and account identity
// stores in step with what the trading server pushes to the pumping manager.
//   trade change (9), type 1, cmd 6 or 7: the one balance-history record
//     of the login that the trade can be (its comment, kind and amount,
//     see onTrade) is marked carried out with the trade's ticket and
//     journaled; none, or more than one, changes nothing.
//   account change (3), type 0 or 2: the account's identity entry is set;
//     type 1: it is removed (memory only).
//   quote change (5): the updated quotes are read and dropped.
// With an event sink, every trade and account change is also offered to it
// as {"event":"trade"|"account","action":"add"|"update"|"delete","data":
// the record's fields as the reads give them (reads/TradeFields.h,
// reads/AccountFields.h),"time": its timestamp as the reads give times},
// and every start of pumping (0) asks it for a resync. For a trade,
// "delete" means it left the open list: closed, deleted, or (a balance or
// credit operation) carried out. Quotes are never offered.
// Null data and every other event are ignored. Logs nothing.
//
// Runs on the plugin's pumping thread. It never takes a manager link's
// lock (quotes are read through interfaceForPumpHandler()), so it cannot
// deadlock against an operation or the reconnection thread; the stores
// take their own locks.
#ifndef MT4BRIDGE_OPERATIONS_PUMP_EVENT_H_
#define MT4BRIDGE_OPERATIONS_PUMP_EVENT_H_

#include "messaging/EventSink.h"
#include "server/ManagerLink.h"
#include "store/FinanceBalanceStore.h"
#include "store/UserInfoStore.h"

namespace operations {

// Room for quotes per SymbolInfoUpdated call, and the most calls made for
// one quote event (the plugin drains its queue long before that).
constexpr int kQuoteBatch = 32;
constexpr int kQuoteReadsMax = 1000;

// Tells the handler where the stores, the pumping manager and the event
// sink are, and the configured timeZone (seconds) of the events' times.
// Start-up calls it before any connection is made; every pointer may be
// null (that part of the handling is then skipped) and must outlive pumping
// (until the pumping manager is disconnected). Calling it again replaces
// them all.
void setPumpTargets(store::FinanceBalanceStore* balances,
                    store::UserInfoStore* users, server::ManagerLink* pumping,
                    messaging::EventSink* events = nullptr, int timeZone = 0);

// The handler given to PumpingSwitchEx; param is ignored.
void pumpEvent(int code, int type, void* data, void* param);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_PUMP_EVENT_H_
