#include "sim/SimState.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "server/FieldText.h"
#include "sim/Codec.h"
#include "sim/WireJson.h"
#include "util/Platform.h"

namespace sim {

namespace {

template <typename T>
bool readRecords(const Json::Value& json, const char* name, std::vector<T>* out,
                 std::string* error) {
  out->clear();
  if (!json.isMember(name) || json[name].isNull()) return true;
  const Json::Value& list = json[name];
  if (!list.isArray()) {
    *error = std::string("'") + name + "' must be an array";
    return false;
  }
  for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
    T record{};
    std::string err;
    if (!fromJson(list[i], &record, &err)) {
      *error = std::string(name) + "[" + std::to_string(i) + "]: " + err;
      return false;
    }
    out->push_back(record);
  }
  return true;
}

bool readTrades(const Json::Value& json, const char* name,
                std::map<int, mt::TradeRecord>* out, int* maxOrder, std::string* error) {
  std::vector<mt::TradeRecord> list;
  if (!readRecords(json, name, &list, error)) return false;
  for (const mt::TradeRecord& t : list) {
    if (t.order <= 0) {
      *error = std::string(name) + ": order must be positive";
      return false;
    }
    (*out)[t.order] = t;
    if (t.order > *maxOrder) *maxOrder = t.order;
  }
  return true;
}

bool readOptionalInt(const Json::Value& json, const char* name, int* out,
                     std::string* error) {
  if (!json.isMember(name) || json[name].isNull()) return true;
  return readInt(json, name, out, error);
}

}  // namespace

Json::Value stateToJson(const SimState& state) {
  Json::Value out(Json::objectValue);
  Json::Value managers(Json::arrayValue);
  for (const ManagerAccount& m : state.managers) {
    Json::Value v = toJson(m.rights);
    v["password"] = textFromBytes(m.password.data(), m.password.size());
    managers.append(v);
  }
  out["managers"] = managers;
  Json::Value groups(Json::arrayValue);
  for (const mt::ConGroup& g : state.groups) groups.append(toJson(g));
  out["groups"] = groups;
  Json::Value symbols(Json::arrayValue);
  for (const mt::ConSymbol& s : state.symbols) symbols.append(toJson(s));
  out["symbols"] = symbols;
  Json::Value quotes(Json::arrayValue);
  for (const auto& [name, q] : state.quotes) {
    Json::Value v(Json::objectValue);
    v["symbol"] = textFromBytes(name.data(), name.size());
    v["bid"] = q.bid;
    v["ask"] = q.ask;
    v["time"] = static_cast<Json::Int64>(q.time);
    quotes.append(v);
  }
  out["quotes"] = quotes;
  Json::Value users(Json::arrayValue);
  for (const auto& [login, u] : state.users) users.append(toJson(u));
  out["users"] = users;
  Json::Value trades(Json::arrayValue);
  for (const auto& [order, t] : state.trades) trades.append(toJson(t));
  out["trades"] = trades;
  Json::Value history(Json::arrayValue);
  for (const auto& [order, t] : state.history) history.append(toJson(t));
  out["history"] = history;
  Json::Value mails(Json::arrayValue);
  for (const Mail& m : state.mails) {
    Json::Value v = toJson(m.header);
    v["body"] = textFromBytes(m.body.data(), m.body.size());
    Json::Value logins(Json::arrayValue);
    for (int login : m.logins) logins.append(login);
    v["logins"] = logins;
    mails.append(v);
  }
  out["mails"] = mails;
  out["next_ticket"] = state.nextTicket;
  out["next_login"] = state.nextLogin;
  out["time_offset"] = static_cast<Json::Int64>(state.timeOffset);
  return out;
}

bool stateFromJson(const Json::Value& json, SimState* out, std::string* error) {
  std::string err;
  if (!json.isObject()) {
    *error = "the state must be an object";
    return false;
  }
  SimState s;
  std::vector<mt::ConManager> rights;
  if (!readRecords(json, "managers", &rights, &err)) {
    *error = err;
    return false;
  }
  for (Json::ArrayIndex i = 0; i < rights.size(); ++i) {
    ManagerAccount m;
    m.rights = rights[i];
    const Json::Value& v = json["managers"][i];
    if (v.isMember("password") && !readString(v, "password", &m.password, &err)) {
      *error = "managers: " + err;
      return false;
    }
    s.managers.push_back(m);
  }
  if (!readRecords(json, "groups", &s.groups, &err) ||
      !readRecords(json, "symbols", &s.symbols, &err)) {
    *error = err;
    return false;
  }
  if (json.isMember("quotes") && !json["quotes"].isNull()) {
    const Json::Value& list = json["quotes"];
    if (!list.isArray()) {
      *error = "'quotes' must be an array";
      return false;
    }
    for (const Json::Value& v : list) {
      std::string symbol;
      Quote q;
      if (!readString(v, "symbol", &symbol, &err) || !readDouble(v, "bid", &q.bid, &err) ||
          !readDouble(v, "ask", &q.ask, &err)) {
        *error = "quotes: " + err;
        return false;
      }
      if (v.isMember("time") && !readInt64(v, "time", &q.time, &err)) {
        *error = "quotes: " + err;
        return false;
      }
      s.quotes[symbol] = q;
    }
  }
  std::vector<mt::UserRecord> users;
  if (!readRecords(json, "users", &users, &err)) {
    *error = err;
    return false;
  }
  int maxLogin = 0;
  for (const mt::UserRecord& u : users) {
    if (u.login <= 0) {
      *error = "users: login must be positive";
      return false;
    }
    s.users[u.login] = u;
    if (u.login > maxLogin) maxLogin = u.login;
  }
  int maxOrder = 0;
  if (!readTrades(json, "trades", &s.trades, &maxOrder, &err) ||
      !readTrades(json, "history", &s.history, &maxOrder, &err)) {
    *error = err;
    return false;
  }
  if (json.isMember("mails") && !json["mails"].isNull()) {
    const Json::Value& list = json["mails"];
    if (!list.isArray()) {
      *error = "'mails' must be an array";
      return false;
    }
    for (const Json::Value& v : list) {
      Mail m;
      if (!fromJson(v, &m.header, &err) ||
          (v.isMember("body") && !readString(v, "body", &m.body, &err))) {
        *error = "mails: " + err;
        return false;
      }
      if (v.isMember("logins")) {
        if (!v["logins"].isArray()) {
          *error = "mails: 'logins' must be an array";
          return false;
        }
        for (const Json::Value& l : v["logins"]) {
          if (!l.isInt()) {
            *error = "mails: logins must be integers";
            return false;
          }
          m.logins.push_back(l.asInt());
        }
      }
      s.mails.push_back(m);
    }
  }
  if (!readOptionalInt(json, "next_ticket", &s.nextTicket, &err) ||
      !readOptionalInt(json, "next_login", &s.nextLogin, &err)) {
    *error = err;
    return false;
  }
  if (json.isMember("time_offset") && !json["time_offset"].isNull() &&
      !readInt64(json, "time_offset", &s.timeOffset, &err)) {
    *error = err;
    return false;
  }
  if (s.nextTicket <= maxOrder) s.nextTicket = maxOrder + 1;
  if (s.nextTicket < 1) s.nextTicket = 1;
  if (s.nextLogin < 1) s.nextLogin = 1;
  if (s.nextLogin <= maxLogin && maxLogin < 2147483647) s.nextLogin = maxLogin + 1;
  *out = std::move(s);
  return true;
}

bool loadStateFile(const std::string& path, SimState* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) {
      *out = SimState();
      return true;
    }
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  Json::Value root;
  std::string err;
  if (!parseJsonText(text.str(), &root, &err)) {
    *error = "cannot parse " + path + ": " + err;
    return false;
  }
  return stateFromJson(root, out, error);
}

bool saveStateFile(const std::string& path, const SimState& state, std::string* error) {
  return platform::replaceFileDurably(path, compactJsonText(stateToJson(state)), error);
}

}  // namespace sim
