#include "sim/Engine.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <utility>

#include "server/FieldText.h"
#include "sim/Codec.h"
#include "sim/WireJson.h"

namespace sim {

namespace {

constexpr std::size_t kCallLogMax = 10000;
constexpr std::size_t kCallLogArgsMax = 64u << 10;
constexpr std::size_t kMailBodyMax = 1u << 20;
constexpr int kMaxListArgument = 100000;

// Reads a typed argument; on failure puts the reason in out["error"].
bool argInt(const Json::Value& args, const char* name, int* v, Json::Value* out) {
  std::string err;
  if (readInt(args, name, v, &err)) return true;
  (*out)["error"] = err;
  return false;
}

bool argInt64(const Json::Value& args, const char* name, std::int64_t* v,
              Json::Value* out) {
  std::string err;
  if (readInt64(args, name, v, &err)) return true;
  (*out)["error"] = err;
  return false;
}

bool argString(const Json::Value& args, const char* name, std::string* v,
               Json::Value* out) {
  std::string err;
  if (readString(args, name, v, &err)) return true;
  (*out)["error"] = err;
  return false;
}

template <typename T>
bool argRecord(const Json::Value& args, const char* name, T* v, Json::Value* out) {
  std::string err;
  *v = T{};
  if (!args.isObject() || !args.isMember(name)) {
    (*out)["error"] = std::string("missing '") + name + "'";
    return false;
  }
  if (fromJson(args[name], v, &err)) return true;
  (*out)["error"] = std::string(name) + ": " + err;
  return false;
}

bool argIntList(const Json::Value& args, const char* name, std::vector<int>* v,
                Json::Value* out) {
  v->clear();
  if (!args.isObject() || !args.isMember(name) || !args[name].isArray() ||
      args[name].size() > static_cast<Json::ArrayIndex>(kMaxListArgument)) {
    (*out)["error"] = std::string("'") + name + "' must be an array of integers";
    return false;
  }
  for (const Json::Value& x : args[name]) {
    if (!x.isInt()) {
      (*out)["error"] = std::string("'") + name + "' must be an array of integers";
      return false;
    }
    v->push_back(x.asInt());
  }
  return true;
}

bool finitePositive(double x) { return std::isfinite(x) && x > 0; }

// What a trading server accepts of a symbol's settings: a known trade and
// expiry mode, a finite margin divider that is not negative, and session
// times within the day.
bool validSymbolSettings(const mt::ConSymbol& symbol) {
  auto within = [](int v, int low, int high) { return v >= low && v <= high; };
  if (!within(symbol.trade, mt::kTradeModeNone, mt::kTradeModeFull) ||
      !within(symbol.gtc_pendings, mt::kGtcDaily, mt::kGtcDailyNoStops) ||
      !std::isfinite(symbol.margin_divider) || symbol.margin_divider < 0) {
    return false;
  }
  for (const mt::ConSessions& day : symbol.sessions) {
    for (const mt::ConSession* list : {day.quote, day.trade}) {
      for (int i = 0; i < 3; ++i) {
        const mt::ConSession& s = list[i];
        if (!within(s.open_hour, 0, 24) || !within(s.close_hour, 0, 24) ||
            !within(s.open_min, 0, 59) || !within(s.close_min, 0, 59)) {
          return false;
        }
      }
    }
  }
  return true;
}

double round2(double x) { return std::round(x * 100.0) / 100.0; }

mt::UserRecord withoutPasswords(const mt::UserRecord& user) {
  mt::UserRecord copy = user;
  std::memset(copy.password, 0, sizeof(copy.password));
  std::memset(copy.password_investor, 0, sizeof(copy.password_investor));
  std::memset(copy.password_phone, 0, sizeof(copy.password_phone));
  return copy;
}

bool isBuy(int cmd) {
  return cmd == mt::OP_BUY || cmd == mt::OP_BUY_LIMIT || cmd == mt::OP_BUY_STOP;
}

// Calls that need no logged-in manager.
bool needsLogin(const std::string& call) {
  return call != "Connect" && call != "Login" && call != "Ping";
}

}  // namespace

Engine::Engine(std::string statePath, EventSink sink)
    : statePath_(std::move(statePath)), sink_(std::move(sink)) {}

bool Engine::load(std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  return loadStateFile(statePath_, &state_, error);
}

const std::map<std::string, Engine::Handler>& Engine::handlers() {
  static const std::map<std::string, Handler> table = {
      {"Connect", &Engine::onConnect},
      {"Login", &Engine::onLogin},
      {"Ping", &Engine::onPing},
      {"PumpingSwitchEx", &Engine::onPumpingSwitchEx},
      {"UserRecordGet", &Engine::onUserRecordGet},
      {"UsersGet", &Engine::onUsersGet},
      {"SymbolsGetAll", &Engine::onSymbolsGetAll},
      {"SymbolAdd", &Engine::onSymbolAdd},
      {"SymbolsRefresh", &Engine::onSymbolsRefresh},
      {"TradesGetByLogin", &Engine::onTradesGetByLogin},
      {"GroupRecordGet", &Engine::onGroupRecordGet},
      {"TradeTransaction", &Engine::onTradeTransaction},
      {"TradesUserHistory", &Engine::onTradesUserHistory},
      {"TradeRecordsRequest", &Engine::onTradeRecordsRequest},
      {"ServerTime", &Engine::onServerTime},
      {"AdmTradeRecordModify", &Engine::onAdmTradeRecordModify},
      {"AdmBalanceFix", &Engine::onAdmBalanceFix},
      {"AdmTradesDelete", &Engine::onAdmTradesDelete},
      {"UserRecordNew", &Engine::onUserRecordNew},
      {"UserRecordUpdate", &Engine::onUserRecordUpdate},
      {"UserPasswordCheck", &Engine::onUserPasswordCheck},
      {"UserPasswordSet", &Engine::onUserPasswordSet},
      {"UsersGroupOp", &Engine::onUsersGroupOp},
      {"CfgUpdateGroup", &Engine::onCfgUpdateGroup},
      {"CfgUpdateSymbol", &Engine::onCfgUpdateSymbol},
      {"ManagerRights", &Engine::onManagerRights},
      {"MailSend", &Engine::onMailSend},
  };
  return table;
}

Json::Value Engine::clientCall(ClientSession* session, const std::string& call,
                               const Json::Value& args) {
  std::lock_guard<std::mutex> lock(mutex_);
  Json::Value out(Json::objectValue);
  int result;
  auto it = handlers().find(call);
  if (it == handlers().end()) {
    result = mt::RET_ERROR;
    out["error"] = "unknown call";
  } else if (needsLogin(call) && session->login == 0) {
    result = mt::RET_NO_CONNECT;
  } else {
    auto script = scripts_.find(call);
    int scripted = 0;
    if (script != scripts_.end()) {
      scripted = script->second.front();
      script->second.pop_front();
      if (script->second.empty()) scripts_.erase(script);
    }
    if (scripted != 0) {
      result = scripted;
      if (call == "Login") session->login = 0;
    } else {
      try {
        result = (this->*(it->second))(session, args, &out);
      } catch (...) {
        commit();  // keeps what the handler changed before it failed
        throw;
      }
    }
  }
  out["result"] = result;
  logCall(*session, call, args, result);
  commit();
  return out;
}

void Engine::logCall(const ClientSession& session, const std::string& call,
                     const Json::Value& args, int result) {
  Json::Value entry(Json::objectValue);
  entry["seq"] = static_cast<Json::Int64>(++callSeq_);
  // When it was answered, in ms of a clock that never goes back.
  entry["ms"] = static_cast<Json::Int64>(std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch()).count());
  entry["session"] = session.id;
  entry["manager"] = session.login;
  entry["call"] = call;
  // Huge arguments are not kept: the log holds up to kCallLogMax entries.
  if (compactJsonText(args).size() <= kCallLogArgsMax) {
    entry["args"] = args;
  } else {
    entry["args"] = Json::Value(Json::objectValue);
    entry["args"]["omitted"] = "too large";
  }
  entry["result"] = result;
  callLog_.push_back(std::move(entry));
  while (callLog_.size() > kCallLogMax) callLog_.pop_front();
}

std::int64_t Engine::now() const {
  return static_cast<std::int64_t>(std::time(nullptr)) + state_.timeOffset;
}

void Engine::save() {
  std::string error;
  if (!saveStateFile(statePath_, state_, &error)) {
    std::fprintf(stderr, "mt4sim: %s\n", error.c_str());
  }
}

void Engine::commit() {
  if (dirty_) {
    dirty_ = false;
    save();
  }
  std::vector<Event> events;
  events.swap(pending_);
  if (!sink_) return;
  for (const Event& e : events) sink_(e);
}

void Engine::emit(int code, int type, Json::Value data) {
  Event e;
  e.code = code;
  e.type = type;
  e.data = std::move(data);
  pending_.push_back(std::move(e));
}

void Engine::emitUser(int type, const mt::UserRecord& user) {
  emit(mt::PUMP_UPDATE_USERS, type, toJson(withoutPasswords(user)));
}

int Engine::newTicket() {
  if (state_.nextTicket >= std::numeric_limits<int>::max()) return 0;
  return state_.nextTicket++;
}

mt::UserRecord* Engine::findUser(int login) {
  auto it = state_.users.find(login);
  return it == state_.users.end() ? nullptr : &it->second;
}

const mt::ConSymbol* Engine::findSymbol(const std::string& name) const {
  for (const mt::ConSymbol& s : state_.symbols) {
    if (mt::fieldText(s.symbol) == name) return &s;
  }
  return nullptr;
}

mt::ConGroup* Engine::findGroup(const std::string& name) {
  for (mt::ConGroup& g : state_.groups) {
    if (mt::fieldText(g.group) == name) return &g;
  }
  return nullptr;
}

mt::SymbolInfo Engine::symbolInfo(const std::string& name, const Quote& quote) const {
  mt::SymbolInfo info{};
  mt::setField(info.symbol, name);
  const mt::ConSymbol* symbol = findSymbol(name);
  if (symbol != nullptr) {
    info.digits = symbol->digits;
    info.type = symbol->type;
    info.point = symbol->point;
  }
  info.visible = 1;
  info.updateflag = 1;
  info.bid = quote.bid;
  info.ask = quote.ask;
  info.high = quote.ask;
  info.low = quote.bid;
  info.lasttime = quote.time;
  if (info.point > 0) info.spread = std::round((quote.ask - quote.bid) / info.point);
  return info;
}

double Engine::tradeProfit(const mt::TradeRecord& trade, double closePrice) const {
  if (trade.cmd != mt::OP_BUY && trade.cmd != mt::OP_SELL) return 0;
  const mt::ConSymbol* symbol = findSymbol(mt::fieldText(trade.symbol));
  double contract = symbol != nullptr ? symbol->contract_size : 0;
  double diff = closePrice - trade.open_price;
  if (trade.cmd == mt::OP_SELL) diff = -diff;
  return round2(diff * (trade.volume / 100.0) * contract);
}

mt::TradeRecord Engine::withCurrentPrices(const mt::TradeRecord& trade) const {
  mt::TradeRecord t = trade;
  auto q = state_.quotes.find(mt::fieldText(trade.symbol));
  if (q != state_.quotes.end()) {
    t.close_price = isBuy(trade.cmd) ? q->second.bid : q->second.ask;
    t.profit = tradeProfit(trade, t.close_price);
  }
  return t;
}

int Engine::balanceLocked(int login, int cmd, double amount, const char (&comment)[32],
                          std::int64_t expiration, int* order) {
  *order = 0;
  if (cmd != mt::OP_BALANCE && cmd != mt::OP_CREDIT) return mt::RET_INVALID_DATA;
  if (!std::isfinite(amount) || amount == 0) return mt::RET_INVALID_DATA;
  mt::UserRecord* user = findUser(login);
  if (user == nullptr) return mt::RET_NOT_FOUND;
  double& target = cmd == mt::OP_BALANCE ? user->balance : user->credit;
  if (amount < 0 && target + amount < -1e-9) return mt::RET_TRADE_NO_MONEY;
  int ticket = newTicket();
  if (ticket == 0) return mt::RET_TECH_PROBLEM;
  std::int64_t t = now();
  mt::TradeRecord r{};
  r.order = ticket;
  r.login = login;
  r.cmd = cmd;
  r.open_time = t;
  r.close_time = t;
  r.state = mt::kTradeStateClosed;
  r.profit = amount;
  r.expiration = expiration;
  r.timestamp = t;
  std::memcpy(r.comment, comment, sizeof(r.comment));
  target = round2(target + amount);
  user->timestamp = t;
  state_.history[ticket] = r;
  dirty_ = true;
  emit(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, toJson(r));
  emitUser(mt::TRANS_UPDATE, *user);
  *order = ticket;
  return mt::RET_OK;
}

// ---- client calls ----

int Engine::onConnect(ClientSession*, const Json::Value&, Json::Value*) {
  return mt::RET_OK;
}

int Engine::onLogin(ClientSession* session, const Json::Value& args, Json::Value* out) {
  int login = 0;
  std::string password;
  session->login = 0;
  if (!argInt(args, "login", &login, out) || !argString(args, "password", &password, out)) {
    return mt::RET_INVALID_DATA;
  }
  for (const ManagerAccount& m : state_.managers) {
    if (m.rights.login == login && login != 0 && m.password == password) {
      session->login = login;
      return mt::RET_OK;
    }
  }
  return mt::RET_INVALID_LOGIN;
}

int Engine::onPing(ClientSession*, const Json::Value&, Json::Value*) { return mt::RET_OK; }

int Engine::onPumpingSwitchEx(ClientSession*, const Json::Value& args, Json::Value* out) {
  int flags = 0;
  if (!argInt(args, "flags", &flags, out)) return mt::RET_INVALID_DATA;
  return mt::RET_OK;
}

int Engine::onUserRecordGet(ClientSession*, const Json::Value& args, Json::Value* out) {
  int login = 0;
  if (!argInt(args, "login", &login, out)) return mt::RET_INVALID_DATA;
  mt::UserRecord* user = findUser(login);
  if (user == nullptr) return mt::RET_NOT_FOUND;
  (*out)["user"] = toJson(withoutPasswords(*user));
  return mt::RET_OK;
}

int Engine::onUsersGet(ClientSession*, const Json::Value&, Json::Value* out) {
  Json::Value list(Json::arrayValue);
  for (const auto& [login, user] : state_.users) list.append(toJson(withoutPasswords(user)));
  (*out)["users"] = list;
  return mt::RET_OK;
}

int Engine::onSymbolsGetAll(ClientSession*, const Json::Value&, Json::Value* out) {
  Json::Value list(Json::arrayValue);
  for (const mt::ConSymbol& s : state_.symbols) list.append(toJson(s));
  (*out)["symbols"] = list;
  return mt::RET_OK;
}

int Engine::onSymbolAdd(ClientSession*, const Json::Value& args, Json::Value* out) {
  std::string symbol;
  if (!argString(args, "symbol", &symbol, out)) return mt::RET_INVALID_DATA;
  return findSymbol(symbol) != nullptr ? mt::RET_OK : mt::RET_INVALID_DATA;
}

int Engine::onSymbolsRefresh(ClientSession*, const Json::Value&, Json::Value*) {
  return mt::RET_OK;
}

int Engine::onTradesGetByLogin(ClientSession*, const Json::Value& args, Json::Value* out) {
  int login = 0;
  if (!argInt(args, "login", &login, out)) return mt::RET_INVALID_DATA;
  Json::Value list(Json::arrayValue);
  for (const auto& [order, trade] : state_.trades) {
    if (trade.login == login) list.append(toJson(withCurrentPrices(trade)));
  }
  (*out)["trades"] = list;
  return mt::RET_OK;
}

int Engine::onGroupRecordGet(ClientSession*, const Json::Value& args, Json::Value* out) {
  std::string name;
  if (!argString(args, "name", &name, out)) return mt::RET_INVALID_DATA;
  mt::ConGroup* group = findGroup(name);
  if (group == nullptr) return mt::RET_NOT_FOUND;
  (*out)["group"] = toJson(*group);
  return mt::RET_OK;
}

int Engine::onTradeTransaction(ClientSession*, const Json::Value& args, Json::Value* out) {
  mt::TradeTransInfo info{};
  if (!argRecord(args, "info", &info, out)) return mt::RET_INVALID_DATA;
  int result = mt::RET_INVALID_DATA;
  switch (info.type) {
    case mt::TT_BR_BALANCE: {
      int order = 0;
      result = balanceLocked(info.orderby, info.cmd, info.price, info.comment,
                             info.expiration, &order);
      if (result == mt::RET_OK) info.order = order;
      break;
    }
    case mt::TT_BR_ORDER_OPEN: {
      const mt::ConSymbol* symbol = findSymbol(mt::fieldText(info.symbol));
      if (info.cmd < mt::OP_BUY || info.cmd > mt::OP_SELL_STOP || symbol == nullptr ||
          info.volume <= 0 || !finitePositive(info.price)) {
        break;
      }
      mt::UserRecord* user = findUser(info.orderby);
      if (user == nullptr) {
        result = mt::RET_NOT_FOUND;
        break;
      }
      int ticket = newTicket();
      if (ticket == 0) {
        result = mt::RET_TECH_PROBLEM;
        break;
      }
      mt::TradeRecord r{};
      r.order = ticket;
      r.login = info.orderby;
      std::memcpy(r.symbol, info.symbol, sizeof(r.symbol));
      r.digits = symbol->digits;
      r.cmd = info.cmd;
      r.volume = info.volume;
      r.open_time = now();
      r.state = mt::kTradeStateOpen;
      r.open_price = info.price;
      r.sl = info.sl;
      r.tp = info.tp;
      r.expiration = info.expiration;
      r.margin_rate = 1.0;
      r.timestamp = r.open_time;
      std::memcpy(r.comment, info.comment, sizeof(r.comment));
      state_.trades[ticket] = r;
      dirty_ = true;
      emit(mt::PUMP_UPDATE_TRADES, mt::TRANS_ADD, toJson(r));
      info.order = ticket;
      result = mt::RET_OK;
      break;
    }
    case mt::TT_BR_ORDER_CLOSE:
    case mt::TT_BR_ORDER_DELETE: {
      auto it = state_.trades.find(info.order);
      if (it == state_.trades.end()) {
        result = mt::RET_NOT_FOUND;
        break;
      }
      mt::TradeRecord r = it->second;
      bool closing = info.type == mt::TT_BR_ORDER_CLOSE;
      bool market = r.cmd == mt::OP_BUY || r.cmd == mt::OP_SELL;
      if (closing != market || (closing && !finitePositive(info.price))) break;
      mt::UserRecord* user = findUser(r.login);
      r.close_time = now();
      r.timestamp = r.close_time;
      r.state = mt::kTradeStateClosed;
      if (closing) {
        // A close by the broker gives the trade its comment ("stopout").
        if (info.comment[0] != '\0') std::memcpy(r.comment, info.comment, sizeof(r.comment));
        r.close_price = info.price;
        r.profit = tradeProfit(r, info.price);
        if (user != nullptr) {
          user->balance = round2(user->balance + r.profit);
          user->timestamp = r.close_time;
        }
      }
      state_.trades.erase(it);
      state_.history[r.order] = r;
      dirty_ = true;
      emit(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, toJson(r));
      if (closing && user != nullptr) emitUser(mt::TRANS_UPDATE, *user);
      result = mt::RET_OK;
      break;
    }
    default:
      break;
  }
  (*out)["info"] = toJson(info);
  return result;
}

int Engine::onTradesUserHistory(ClientSession*, const Json::Value& args, Json::Value* out) {
  int login = 0;
  std::int64_t from = 0;
  std::int64_t to = 0;
  if (!argInt(args, "login", &login, out) || !argInt64(args, "from", &from, out) ||
      !argInt64(args, "to", &to, out)) {
    return mt::RET_INVALID_DATA;
  }
  Json::Value list(Json::arrayValue);
  for (const auto& [order, trade] : state_.history) {
    if (trade.login == login && trade.close_time >= from && trade.close_time <= to) {
      list.append(toJson(trade));
    }
  }
  (*out)["trades"] = list;
  return mt::RET_OK;
}

int Engine::onTradeRecordsRequest(ClientSession*, const Json::Value& args,
                                  Json::Value* out) {
  std::vector<int> orders;
  if (!argIntList(args, "orders", &orders, out)) return mt::RET_INVALID_DATA;
  Json::Value list(Json::arrayValue);
  for (int order : orders) {
    auto open = state_.trades.find(order);
    if (open != state_.trades.end()) {
      list.append(toJson(withCurrentPrices(open->second)));
      continue;
    }
    auto closed = state_.history.find(order);
    if (closed != state_.history.end()) list.append(toJson(closed->second));
  }
  if (list.empty()) return mt::RET_NOT_FOUND;
  (*out)["trades"] = list;
  return mt::RET_OK;
}

int Engine::onServerTime(ClientSession*, const Json::Value&, Json::Value* out) {
  (*out)["time"] = static_cast<Json::Int64>(now());
  return mt::RET_OK;
}

int Engine::onAdmTradeRecordModify(ClientSession*, const Json::Value& args,
                                   Json::Value* out) {
  mt::TradeRecord r{};
  if (!argRecord(args, "trade", &r, out)) return mt::RET_INVALID_DATA;
  auto open = state_.trades.find(r.order);
  if (open != state_.trades.end()) {
    if (r.state == mt::kTradeStateClosed && r.close_time > 0) {
      state_.trades.erase(open);
      state_.history[r.order] = r;
    } else {
      open->second = r;
    }
  } else {
    auto closed = state_.history.find(r.order);
    if (closed == state_.history.end()) return mt::RET_NOT_FOUND;
    closed->second = r;
  }
  dirty_ = true;
  emit(mt::PUMP_UPDATE_TRADES, mt::TRANS_UPDATE, toJson(r));
  return mt::RET_OK;
}

int Engine::onAdmBalanceFix(ClientSession*, const Json::Value& args, Json::Value* out) {
  std::vector<int> logins;
  if (!argIntList(args, "logins", &logins, out)) return mt::RET_INVALID_DATA;
  int result = mt::RET_OK;
  for (int login : logins) {
    mt::UserRecord* user = findUser(login);
    if (user == nullptr) {
      result = mt::RET_NOT_FOUND;
      continue;
    }
    double balance = 0;
    for (const auto& [order, t] : state_.history) {
      if (t.login != login) continue;
      if (t.cmd == mt::OP_BALANCE) balance += t.profit;
      if (t.cmd == mt::OP_BUY || t.cmd == mt::OP_SELL) {
        balance += t.profit + t.commission + t.storage + t.taxes;
      }
    }
    balance = round2(balance);
    if (balance != user->balance) {
      user->balance = balance;
      user->timestamp = now();
      dirty_ = true;
      emitUser(mt::TRANS_UPDATE, *user);
    }
  }
  return result;
}

int Engine::onAdmTradesDelete(ClientSession*, const Json::Value& args, Json::Value* out) {
  std::vector<int> orders;
  if (!argIntList(args, "orders", &orders, out)) return mt::RET_INVALID_DATA;
  int result = mt::RET_OK;
  for (int order : orders) {
    mt::TradeRecord r{};
    auto open = state_.trades.find(order);
    auto closed = state_.history.find(order);
    if (open != state_.trades.end()) {
      r = open->second;
      state_.trades.erase(open);
    } else if (closed != state_.history.end()) {
      r = closed->second;
      state_.history.erase(closed);
    } else {
      result = mt::RET_NOT_FOUND;
      continue;
    }
    dirty_ = true;
    emit(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, toJson(r));
  }
  return result;
}

int Engine::onUserRecordNew(ClientSession*, const Json::Value& args, Json::Value* out) {
  mt::UserRecord user{};
  if (!argRecord(args, "user", &user, out)) return mt::RET_INVALID_DATA;
  if (user.login < 0) return mt::RET_INVALID_DATA;
  if (user.login > 0 && findUser(user.login) != nullptr) {
    (*out)["error"] = "account exists";
    return mt::RET_INVALID_DATA;
  }
  mt::ConGroup* group = findGroup(mt::fieldText(user.group));
  if (group == nullptr) {
    (*out)["error"] = "unknown group";
    return mt::RET_INVALID_DATA;
  }
  if (user.login == 0) {
    int login = state_.nextLogin;
    while (login > 0 && login < std::numeric_limits<int>::max() && findUser(login) != nullptr) {
      ++login;
    }
    if (login <= 0 || findUser(login) != nullptr) return mt::RET_TECH_PROBLEM;
    user.login = login;
  }
  if (user.login >= state_.nextLogin && user.login < std::numeric_limits<int>::max()) {
    state_.nextLogin = user.login + 1;
  }
  if (user.leverage <= 0) user.leverage = group->default_leverage;
  user.balance = 0;
  user.credit = 0;
  user.prevbalance = 0;
  user.prevmonthbalance = 0;
  user.regdate = now();
  user.timestamp = user.regdate;
  state_.users[user.login] = user;
  dirty_ = true;
  emitUser(mt::TRANS_ADD, user);
  (*out)["user"] = toJson(withoutPasswords(user));
  return mt::RET_OK;
}

int Engine::onUserRecordUpdate(ClientSession*, const Json::Value& args, Json::Value* out) {
  mt::UserRecord user{};
  if (!argRecord(args, "user", &user, out)) return mt::RET_INVALID_DATA;
  mt::UserRecord* stored = findUser(user.login);
  if (stored == nullptr) return mt::RET_NOT_FOUND;
  if (findGroup(mt::fieldText(user.group)) == nullptr) {
    (*out)["error"] = "unknown group";
    return mt::RET_INVALID_DATA;
  }
  // Passwords and money change only through their own calls.
  std::memcpy(user.password, stored->password, sizeof(user.password));
  std::memcpy(user.password_investor, stored->password_investor,
              sizeof(user.password_investor));
  user.balance = stored->balance;
  user.credit = stored->credit;
  user.prevbalance = stored->prevbalance;
  user.prevmonthbalance = stored->prevmonthbalance;
  user.regdate = stored->regdate;
  user.timestamp = now();
  *stored = user;
  dirty_ = true;
  emitUser(mt::TRANS_UPDATE, user);
  return mt::RET_OK;
}

int Engine::onUserPasswordCheck(ClientSession*, const Json::Value& args, Json::Value* out) {
  int login = 0;
  std::string password;
  if (!argInt(args, "login", &login, out) || !argString(args, "password", &password, out)) {
    return mt::RET_INVALID_DATA;
  }
  mt::UserRecord* user = findUser(login);
  if (user == nullptr) return mt::RET_NOT_FOUND;
  return mt::fieldText(user->password) == password && !password.empty()
             ? mt::RET_OK
             : mt::RET_INVALID_DATA;
}

int Engine::onUserPasswordSet(ClientSession*, const Json::Value& args, Json::Value* out) {
  int login = 0;
  int investor = 0;
  std::string password;
  if (!argInt(args, "login", &login, out) || !argString(args, "password", &password, out) ||
      !argInt(args, "investor", &investor, out)) {
    return mt::RET_INVALID_DATA;
  }
  mt::UserRecord* user = findUser(login);
  if (user == nullptr) return mt::RET_NOT_FOUND;
  if (password.empty() || password.size() >= sizeof(user->password) ||
      password.find('\0') != std::string::npos) {
    (*out)["error"] = "password must have 1 to 15 characters";
    return mt::RET_INVALID_DATA;
  }
  if (investor != 0) {
    mt::setField(user->password_investor, password);
  } else {
    mt::setField(user->password, password);
  }
  user->timestamp = now();
  dirty_ = true;
  emitUser(mt::TRANS_UPDATE, *user);
  return mt::RET_OK;
}

int Engine::onUsersGroupOp(ClientSession*, const Json::Value& args, Json::Value* out) {
  mt::GroupCommandInfo info{};
  std::vector<int> logins;
  if (!argRecord(args, "info", &info, out) || !argIntList(args, "logins", &logins, out)) {
    return mt::RET_INVALID_DATA;
  }
  if (info.command != mt::kGroupCommandLeverage || info.leverage <= 0) {
    (*out)["error"] = "only the leverage command with a positive leverage is served";
    return mt::RET_INVALID_DATA;
  }
  int changed = 0;
  for (int login : logins) {
    mt::UserRecord* user = findUser(login);
    if (user == nullptr) continue;
    user->leverage = info.leverage;
    user->timestamp = now();
    ++changed;
    emitUser(mt::TRANS_UPDATE, *user);
  }
  if (changed > 0) dirty_ = true;
  return mt::RET_OK;
}

int Engine::onCfgUpdateGroup(ClientSession*, const Json::Value& args, Json::Value* out) {
  mt::ConGroup group{};
  if (!argRecord(args, "group", &group, out)) return mt::RET_INVALID_DATA;
  std::string name = mt::fieldText(group.group);
  if (name.empty()) return mt::RET_INVALID_DATA;
  mt::ConGroup* stored = findGroup(name);
  if (stored != nullptr) {
    *stored = group;
  } else {
    state_.groups.push_back(group);
  }
  dirty_ = true;
  emit(mt::PUMP_UPDATE_GROUPS, stored != nullptr ? mt::TRANS_UPDATE : mt::TRANS_ADD,
       Json::Value());
  return mt::RET_OK;
}

int Engine::onCfgUpdateSymbol(ClientSession*, const Json::Value& args, Json::Value* out) {
  mt::ConSymbol symbol{};
  if (!argRecord(args, "symbol", &symbol, out)) return mt::RET_INVALID_DATA;
  if (!validSymbolSettings(symbol)) {
    (*out)["error"] = "trade mode, expiry mode, margin divider or session time out of range";
    return mt::RET_INVALID_DATA;
  }
  std::string name = mt::fieldText(symbol.symbol);
  for (mt::ConSymbol& stored : state_.symbols) {
    if (mt::fieldText(stored.symbol) != name) continue;
    for (mt::ConSessions& day : symbol.sessions) {
      for (mt::ConSession* list : {day.quote, day.trade}) {
        for (int i = 0; i < 3; ++i) {
          list[i].open = list[i].open_hour * 60 + list[i].open_min;
          list[i].close = list[i].close_hour * 60 + list[i].close_min;
        }
      }
    }
    stored = symbol;
    dirty_ = true;
    emit(mt::PUMP_UPDATE_SYMBOLS, mt::TRANS_UPDATE, Json::Value());
    return mt::RET_OK;
  }
  (*out)["error"] = "unknown symbol";
  return mt::RET_INVALID_DATA;
}

int Engine::onManagerRights(ClientSession* session, const Json::Value&, Json::Value* out) {
  for (const ManagerAccount& m : state_.managers) {
    if (m.rights.login == session->login) {
      (*out)["manager"] = toJson(m.rights);
      return mt::RET_OK;
    }
  }
  return mt::RET_NOT_FOUND;
}

int Engine::onMailSend(ClientSession* session, const Json::Value& args, Json::Value* out) {
  Mail mail;
  if (!argRecord(args, "mail", &mail.header, out) ||
      !argString(args, "body", &mail.body, out) ||
      !argIntList(args, "logins", &mail.logins, out)) {
    return mt::RET_INVALID_DATA;
  }
  if (mail.body.size() > kMailBodyMax) {
    (*out)["error"] = "mail body too long";
    return mt::RET_INVALID_DATA;
  }
  mail.header.body = nullptr;
  mail.header.bodylen = static_cast<int>(mail.body.size());
  mail.header.to = static_cast<int>(mail.logins.size());
  mail.header.time = now();
  if (mail.header.sender == 0) mail.header.sender = session->login;
  state_.mails.push_back(std::move(mail));
  dirty_ = true;
  return mt::RET_OK;
}

// ---- admin operations ----

Json::Value Engine::stateJson() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stateToJson(state_);
}

bool Engine::seed(const Json::Value& state, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimState parsed;
  if (!stateFromJson(state, &parsed, error)) return false;
  state_ = std::move(parsed);
  dirty_ = true;
  commit();
  return true;
}

void Engine::script(const std::string& call, const std::vector<int>& results) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (results.empty()) {
    scripts_.erase(call);
    return;
  }
  scripts_[call] = std::deque<int>(results.begin(), results.end());
}

void Engine::unscript() {
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_.clear();
}

bool Engine::setManagerPassword(int login, const std::string& password) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (ManagerAccount& m : state_.managers) {
    if (m.rights.login == login) {
      m.password = password;
      dirty_ = true;
      commit();
      return true;
    }
  }
  return false;
}

bool Engine::pushQuote(const std::string& symbol, double bid, double ask,
                       std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (findSymbol(symbol) == nullptr) {
    *error = "unknown symbol";
    return false;
  }
  if (!finitePositive(bid) || !finitePositive(ask) || ask < bid) {
    *error = "bid and ask must be positive with ask >= bid";
    return false;
  }
  Quote& q = state_.quotes[symbol];
  q.bid = bid;
  q.ask = ask;
  q.time = now();
  dirty_ = true;
  Json::Value list(Json::arrayValue);
  list.append(toJson(symbolInfo(symbol, q)));
  emit(mt::PUMP_UPDATE_BIDASK, 0, list);
  commit();
  return true;
}

int Engine::balanceOperation(int login, int cmd, double amount, const std::string& comment,
                             int* order) {
  std::lock_guard<std::mutex> lock(mutex_);
  char field[32];
  mt::setField(field, comment);
  int result = balanceLocked(login, cmd, amount, field, 0, order);
  commit();
  return result;
}

bool Engine::deleteUser(int login) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = state_.users.find(login);
  if (it == state_.users.end()) return false;
  mt::UserRecord user = it->second;
  state_.users.erase(it);
  dirty_ = true;
  emitUser(mt::TRANS_DELETE, user);
  commit();
  return true;
}

void Engine::setTimeOffset(std::int64_t seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_.timeOffset = seconds;
  dirty_ = true;
  commit();
}

Json::Value Engine::calls(bool clear) {
  std::lock_guard<std::mutex> lock(mutex_);
  Json::Value list(Json::arrayValue);
  for (const Json::Value& entry : callLog_) list.append(entry);
  if (clear) callLog_.clear();
  return list;
}

Json::Value Engine::quotesJson() {
  std::lock_guard<std::mutex> lock(mutex_);
  Json::Value list(Json::arrayValue);
  for (const auto& [name, q] : state_.quotes) list.append(toJson(symbolInfo(name, q)));
  return list;
}

}  // namespace sim
