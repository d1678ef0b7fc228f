// The simulated trading server's behaviour: the manager calls, the admin
// operations on its state, the scripted answers and the log of calls. One
// lock guards the state. Handlers only mark the state changed and collect
// the events their changes cause; at the end of each client call or admin
// operation the state file is rewritten once (only when something changed)
// and then the collected events are handed to the event sink in the order
// of the changes, still under the lock, so that an event never precedes the
// saved state that causes it and events keep their order across calls.
#ifndef MT4BRIDGE_SIM_ENGINE_H_
#define MT4BRIDGE_SIM_ENGINE_H_

#include <json/json.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/SimState.h"

namespace sim {

// One pushed event: a pump code, a transaction type and the record it is
// about (a TradeRecord or UserRecord object, an array of SymbolInfo objects
// for quotes, or null).
struct Event {
  int code = 0;
  int type = 0;
  Json::Value data;
};

// Receives events; must not block and must not call back into the engine.
using EventSink = std::function<void(const Event&)>;

// What the engine knows of one client connection. Owned by the server.
struct ClientSession {
  int id = 0;
  int login = 0;  // the manager logged in on it; 0 = none yet
};

class Engine {
 public:
  // statePath is where the state is loaded from and saved to; sink must
  // outlive the engine.
  Engine(std::string statePath, EventSink sink);
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Loads the state file (a missing file gives the empty state).
  bool load(std::string* error);

  // Carries out one client call (name and arguments as received) for
  // session and returns the response object, whose "result" is the call's
  // result code. Malformed arguments give RET_INVALID_DATA with "error";
  // an unknown call gives RET_ERROR. Every call is logged. What it changed
  // is saved and its events are emitted before it returns.
  Json::Value clientCall(ClientSession* session, const std::string& call,
                         const Json::Value& args);

  // Admin operations; like a client call, each one that changes the state
  // saves it once and then emits its events before it returns.
  Json::Value stateJson();
  bool seed(const Json::Value& state, std::string* error);
  // The next calls named call answer results in order (0 = carry out).
  void script(const std::string& call, const std::vector<int>& results);
  void unscript();
  bool setManagerPassword(int login, const std::string& password);
  bool pushQuote(const std::string& symbol, double bid, double ask, std::string* error);
  // A balance (cmd 6) or credit (cmd 7) operation as another manager would
  // do it. Returns the result code; *order gets the new ticket.
  int balanceOperation(int login, int cmd, double amount, const std::string& comment,
                       int* order);
  bool deleteUser(int login);
  void setTimeOffset(std::int64_t seconds);
  // The call log (oldest first); cleared afterwards when clear is set.
  Json::Value calls(bool clear);
  // The current quotes as an array of SymbolInfo objects.
  Json::Value quotesJson();

 private:
  using Handler = int (Engine::*)(ClientSession*, const Json::Value&, Json::Value*);
  static const std::map<std::string, Handler>& handlers();

  std::int64_t now() const;
  // Rewrites the state file now (a failure is reported on stderr).
  void save();
  // Ends a client call or admin operation, under the lock: saves once when
  // dirty_ is set, then hands the pending events to the sink, oldest first.
  void commit();
  // Queues an event for the sink until the call's commit.
  void emit(int code, int type, Json::Value data);
  void emitUser(int type, const mt::UserRecord& user);
  int newTicket();
  mt::UserRecord* findUser(int login);
  const mt::ConSymbol* findSymbol(const std::string& name) const;
  mt::ConGroup* findGroup(const std::string& name);
  mt::SymbolInfo symbolInfo(const std::string& name, const Quote& quote) const;
  mt::TradeRecord withCurrentPrices(const mt::TradeRecord& trade) const;
  double tradeProfit(const mt::TradeRecord& trade, double closePrice) const;
  int balanceLocked(int login, int cmd, double amount, const char (&comment)[32],
                    std::int64_t expiration, int* order);
  void logCall(const ClientSession& session, const std::string& call,
               const Json::Value& args, int result);

  int onConnect(ClientSession*, const Json::Value&, Json::Value*);
  int onLogin(ClientSession*, const Json::Value&, Json::Value*);
  int onPing(ClientSession*, const Json::Value&, Json::Value*);
  int onPumpingSwitchEx(ClientSession*, const Json::Value&, Json::Value*);
  int onUserRecordGet(ClientSession*, const Json::Value&, Json::Value*);
  int onUsersGet(ClientSession*, const Json::Value&, Json::Value*);
  int onSymbolsGetAll(ClientSession*, const Json::Value&, Json::Value*);
  int onSymbolAdd(ClientSession*, const Json::Value&, Json::Value*);
  int onSymbolsRefresh(ClientSession*, const Json::Value&, Json::Value*);
  int onTradesGetByLogin(ClientSession*, const Json::Value&, Json::Value*);
  int onGroupRecordGet(ClientSession*, const Json::Value&, Json::Value*);
  int onTradeTransaction(ClientSession*, const Json::Value&, Json::Value*);
  int onTradesUserHistory(ClientSession*, const Json::Value&, Json::Value*);
  int onTradeRecordsRequest(ClientSession*, const Json::Value&, Json::Value*);
  int onServerTime(ClientSession*, const Json::Value&, Json::Value*);
  int onAdmTradeRecordModify(ClientSession*, const Json::Value&, Json::Value*);
  int onAdmBalanceFix(ClientSession*, const Json::Value&, Json::Value*);
  int onAdmTradesDelete(ClientSession*, const Json::Value&, Json::Value*);
  int onUserRecordNew(ClientSession*, const Json::Value&, Json::Value*);
  int onUserRecordUpdate(ClientSession*, const Json::Value&, Json::Value*);
  int onUserPasswordCheck(ClientSession*, const Json::Value&, Json::Value*);
  int onUserPasswordSet(ClientSession*, const Json::Value&, Json::Value*);
  int onUsersGroupOp(ClientSession*, const Json::Value&, Json::Value*);
  int onCfgUpdateGroup(ClientSession*, const Json::Value&, Json::Value*);
  int onCfgUpdateSymbol(ClientSession*, const Json::Value&, Json::Value*);
  int onManagerRights(ClientSession*, const Json::Value&, Json::Value*);
  int onMailSend(ClientSession*, const Json::Value&, Json::Value*);

  const std::string statePath_;
  const EventSink sink_;
  std::mutex mutex_;
  SimState state_;
  bool dirty_ = false;          // state_ changed since the last save
  std::vector<Event> pending_;  // events of the running call, in order
  std::map<std::string, std::deque<int>> scripts_;
  std::deque<Json::Value> callLog_;
  std::int64_t callSeq_ = 0;
};

}  // namespace sim

#endif  // MT4BRIDGE_SIM_ENGINE_H_
