#include "sim/Codec.h"

#include <cstring>
#include <limits>

#include "server/FieldText.h"

namespace sim {

namespace {

// Length of the valid UTF-8 sequence at s (at most n bytes), 0 if invalid.
std::size_t utf8SequenceLength(const unsigned char* s, std::size_t n) {
  unsigned char c = s[0];
  if (c < 0x80) return 1;
  std::size_t len;
  unsigned int cp;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (len > n) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  if (len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
  if (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
  return len;
}

class Encoder {
 public:
  explicit Encoder(Json::Value* out) : out_(out) {}
  void f(const char* name, const int& v) { (*out_)[name] = v; }
  void f(const char* name, const unsigned int& v) { (*out_)[name] = v; }
  void f(const char* name, const short& v) { (*out_)[name] = static_cast<int>(v); }
  void f(const char* name, const std::int64_t& v) {
    (*out_)[name] = static_cast<Json::Int64>(v);
  }
  void f(const char* name, const double& v) { (*out_)[name] = v; }
  template <std::size_t N>
  void f(const char* name, const char (&t)[N]) {
    (*out_)[name] = textFromBytes(t, N);
  }

 private:
  Json::Value* out_;
};

class Decoder {
 public:
  explicit Decoder(const Json::Value& in) : in_(in) {
    if (!in_.isObject()) fail("", "an object");
  }
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  void f(const char* name, int& v) {
    const Json::Value* x = member(name);
    if (x == nullptr) return;
    if (!x->isInt()) return fail(name, "a 32-bit integer");
    v = x->asInt();
  }
  void f(const char* name, unsigned int& v) {
    const Json::Value* x = member(name);
    if (x == nullptr) return;
    if (!x->isUInt()) return fail(name, "an unsigned 32-bit integer");
    v = x->asUInt();
  }
  void f(const char* name, short& v) {
    const Json::Value* x = member(name);
    if (x == nullptr) return;
    if (!x->isInt() || x->asInt() < std::numeric_limits<short>::min() ||
        x->asInt() > std::numeric_limits<short>::max()) {
      return fail(name, "a 16-bit integer");
    }
    v = static_cast<short>(x->asInt());
  }
  void f(const char* name, std::int64_t& v) {
    const Json::Value* x = member(name);
    if (x == nullptr) return;
    if (!x->isInt64()) return fail(name, "a 64-bit integer");
    v = x->asInt64();
  }
  void f(const char* name, double& v) {
    const Json::Value* x = member(name);
    if (x == nullptr) return;
    if (!x->isNumeric()) return fail(name, "a number");
    v = x->asDouble();
  }
  template <std::size_t N>
  void f(const char* name, char (&t)[N]) {
    const Json::Value* x = member(name);
    if (x == nullptr) return;
    if (!x->isString()) return fail(name, "a text");
    mt::setField(t, x->asString());
  }

  // The member name of the object, or null when absent (or null in JSON,
  // or after a failure).
  const Json::Value* member(const char* name) {
    if (!ok_) return nullptr;
    const Json::Value* x = in_.find(name, name + std::strlen(name));
    if (x == nullptr || x->isNull()) return nullptr;
    return x;
  }
  void fail(const char* name, const char* what) {
    if (!ok_) return;
    ok_ = false;
    error_ = std::string("field '") + name + "' must be " + what;
  }
  void failWith(const std::string& text) {
    if (!ok_) return;
    ok_ = false;
    error_ = text;
  }

 private:
  const Json::Value& in_;
  bool ok_ = true;
  std::string error_;
};

template <typename V, typename R>
void visit(V& v, R& r, const mt::UserRecord*) {
  v.f("login", r.login);
  v.f("group", r.group);
  v.f("password", r.password);
  v.f("enable", r.enable);
  v.f("enable_change_password", r.enable_change_password);
  v.f("enable_read_only", r.enable_read_only);
  v.f("password_investor", r.password_investor);
  v.f("password_phone", r.password_phone);
  v.f("name", r.name);
  v.f("country", r.country);
  v.f("city", r.city);
  v.f("state", r.state);
  v.f("zipcode", r.zipcode);
  v.f("address", r.address);
  v.f("lead_source", r.lead_source);
  v.f("phone", r.phone);
  v.f("email", r.email);
  v.f("comment", r.comment);
  v.f("id", r.id);
  v.f("status", r.status);
  v.f("regdate", r.regdate);
  v.f("lastdate", r.lastdate);
  v.f("leverage", r.leverage);
  v.f("agent_account", r.agent_account);
  v.f("timestamp", r.timestamp);
  v.f("balance", r.balance);
  v.f("prevmonthbalance", r.prevmonthbalance);
  v.f("prevbalance", r.prevbalance);
  v.f("credit", r.credit);
  v.f("interestrate", r.interestrate);
  v.f("taxes", r.taxes);
  v.f("send_reports", r.send_reports);
  v.f("user_color", r.user_color);
}

template <typename V, typename R>
void visit(V& v, R& r, const mt::ConGroupMargin*) {
  v.f("symbol", r.symbol);
  v.f("swap_long", r.swap_long);
  v.f("swap_short", r.swap_short);
  v.f("margin_divider", r.margin_divider);
}

template <typename V, typename R>
void visit(V& v, R& r, const mt::ConGroup*) {
  v.f("group", r.group);
  v.f("enable", r.enable);
  v.f("company", r.company);
  v.f("currency", r.currency);
  v.f("default_leverage", r.default_leverage);
  v.f("default_deposit", r.default_deposit);
  v.f("margin_call", r.margin_call);
  v.f("margin_stopout", r.margin_stopout);
  v.f("secmargins_total", r.secmargins_total);
}

template <typename V, typename R>
void visit(V& v, R& r, const mt::ConSession*) {
  v.f("open_hour", r.open_hour);
  v.f("open_min", r.open_min);
  v.f("close_hour", r.close_hour);
  v.f("close_min", r.close_min);
  v.f("open", r.open);
  v.f("close", r.close);
}

template <typename V, typename R>
void visit(V& v, R& r, const mt::ConSessions*) {
  v.f("quote_overnight", r.quote_overnight);
  v.f("trade_overnight", r.trade_overnight);
}

template <typename V, typename R>
void visit(V& v, R& r, const mt::ConSymbol*) {
  v.f("symbol", r.symbol);
  v.f("description", r.description);
  v.f("currency", r.currency);
  v.f("type", r.type);
  v.f("digits", r.digits);
  v.f("trade", r.trade);
  v.f("swap_enable", r.swap_enable);
  v.f("swap_type", r.swap_type);
  v.f("swap_long", r.swap_long);
  v.f("swap_short", r.swap_short);
  v.f("swap_rollover3days", r.swap_rollover3days);
  v.f("contract_size", r.contract_size);
  v.f("tick_value", r.tick_value);
  v.f("tick_size", r.tick_size);
  v.f("stops_level", r.stops_level);
  v.f("gtc_pendings", r.gtc_pendings);
  v.f("margin_mode", r.margin_mode);
  v.f("margin_initial", r.margin_initial);
  v.f("margin_divider", r.margin_divider);
  v.f("point", r.point);
}

template <typename V, typename R>
void visit(V& v, R& r, const mt::SymbolInfo*) {
  v.f("symbol", r.symbol);
  v.f("digits", r.digits);
  v.f("count", r.count);
  v.f("visible", r.visible);
  v.f("type", r.type);
  v.f("point", r.point);
  v.f("spread", r.spread);
  v.f("direction", r.direction);
  v.f("updateflag", r.updateflag);
  v.f("lasttime", r.lasttime);
  v.f("bid", r.bid);
  v.f("ask", r.ask);
  v.f("high", r.high);
  v.f("low", r.low);
}

template <typename V, typename R>
void visit(V& v, R& r, const mt::TradeRecord*) {
  v.f("order", r.order);
  v.f("login", r.login);
  v.f("symbol", r.symbol);
  v.f("digits", r.digits);
  v.f("cmd", r.cmd);
  v.f("volume", r.volume);
  v.f("open_time", r.open_time);
  v.f("state", r.state);
  v.f("open_price", r.open_price);
  v.f("sl", r.sl);
  v.f("tp", r.tp);
  v.f("close_time", r.close_time);
  v.f("expiration", r.expiration);
  v.f("commission", r.commission);
  v.f("commission_agent", r.commission_agent);
  v.f("storage", r.storage);
  v.f("close_price", r.close_price);
  v.f("profit", r.profit);
  v.f("taxes", r.taxes);
  v.f("magic", r.magic);
  v.f("comment", r.comment);
  v.f("margin_rate", r.margin_rate);
  v.f("timestamp", r.timestamp);
}

template <typename V, typename R>
void visit(V& v, R& r, const mt::TradeTransInfo*) {
  v.f("type", r.type);
  v.f("flags", r.flags);
  v.f("cmd", r.cmd);
  v.f("order", r.order);
  v.f("orderby", r.orderby);
  v.f("symbol", r.symbol);
  v.f("volume", r.volume);
  v.f("price", r.price);
  v.f("sl", r.sl);
  v.f("tp", r.tp);
  v.f("comment", r.comment);
  v.f("expiration", r.expiration);
}

template <typename V, typename R>
void visit(V& v, R& r, const mt::GroupCommandInfo*) {
  v.f("len", r.len);
  v.f("command", r.command);
  v.f("newgroup", r.newgroup);
  v.f("leverage", r.leverage);
}

template <typename V, typename R>
void visit(V& v, R& r, const mt::ConManager*) {
  v.f("login", r.login);
  v.f("manager", r.manager);
  v.f("money", r.money);
  v.f("online", r.online);
  v.f("riskman", r.riskman);
  v.f("broker", r.broker);
  v.f("admin", r.admin);
  v.f("logs", r.logs);
  v.f("reports", r.reports);
  v.f("trades", r.trades);
  v.f("market_watch", r.market_watch);
  v.f("email", r.email);
  v.f("user_details", r.user_details);
  v.f("see_trades", r.see_trades);
  v.f("news", r.news);
  v.f("plugins", r.plugins);
  v.f("mailbox", r.mailbox);
  v.f("name", r.name);
}

template <typename V, typename R>
void visit(V& v, R& r, const mt::MailBox*) {
  v.f("time", r.time);
  v.f("sender", r.sender);
  v.f("from", r.from);
  v.f("to", r.to);
  v.f("subject", r.subject);
  v.f("readed", r.readed);
  v.f("bodylen", r.bodylen);
}

template <typename T>
Json::Value encode(const T& value) {
  Json::Value out(Json::objectValue);
  Encoder e(&out);
  visit(e, value, static_cast<const T*>(nullptr));
  return out;
}

template <typename T>
bool finish(const Decoder& d, std::string* error) {
  if (!d.ok() && error != nullptr) *error = d.error();
  return d.ok();
}

template <typename T>
bool decode(const Json::Value& json, T* out, std::string* error) {
  Decoder d(json);
  if (d.ok()) visit(d, *out, static_cast<const T*>(nullptr));
  return finish<T>(d, error);
}

// Decodes the array member name of d's object into items (at most max);
// returns the number of elements read, or -1 after a failure.
template <typename T>
int decodeArray(Decoder& d, const char* name, T* items, int max) {
  const Json::Value* x = d.member(name);
  if (x == nullptr) return 0;
  if (!x->isArray()) {
    d.fail(name, "an array");
    return -1;
  }
  int count = 0;
  for (Json::ArrayIndex i = 0; i < x->size() && count < max; ++i) {
    std::string err;
    if (!fromJson((*x)[i], &items[count], &err)) {
      d.failWith(std::string(name) + "[" + std::to_string(i) + "]: " + err);
      return -1;
    }
    ++count;
  }
  if (x->size() > static_cast<Json::ArrayIndex>(max)) {
    d.failWith(std::string("field '") + name + "' has more than " +
               std::to_string(max) + " elements");
    return -1;
  }
  return count;
}

}  // namespace

std::string textFromBytes(const char* data, std::size_t maxLen) {
  std::size_t len = 0;
  while (len < maxLen && data[len] != '\0') ++len;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(data);
  std::string out;
  out.reserve(len);
  std::size_t i = 0;
  while (i < len) {
    std::size_t n = utf8SequenceLength(s + i, len - i);
    if (n > 0) {
      out.append(data + i, n);
      i += n;
    } else {
      out.push_back(static_cast<char>(0xC0 | (s[i] >> 6)));
      out.push_back(static_cast<char>(0x80 | (s[i] & 0x3F)));
      ++i;
    }
  }
  return out;
}

Json::Value toJson(const mt::UserRecord& value) { return encode(value); }
Json::Value toJson(const mt::ConGroupMargin& value) { return encode(value); }
Json::Value toJson(const mt::ConSession& value) { return encode(value); }
Json::Value toJson(const mt::SymbolInfo& value) { return encode(value); }
Json::Value toJson(const mt::TradeRecord& value) { return encode(value); }
Json::Value toJson(const mt::TradeTransInfo& value) { return encode(value); }
Json::Value toJson(const mt::GroupCommandInfo& value) { return encode(value); }
Json::Value toJson(const mt::ConManager& value) { return encode(value); }
Json::Value toJson(const mt::MailBox& value) { return encode(value); }

Json::Value toJson(const mt::ConGroup& value) {
  Json::Value out = encode(value);
  Json::Value margins(Json::arrayValue);
  // The used part: secmargins_total items, and at least every item up to
  // the first one with an empty symbol (readers may rely on either).
  int total = value.secmargins_total;
  if (total < 0) total = 0;
  if (total > mt::kGroupMarginsMax) total = mt::kGroupMarginsMax;
  int named = 0;
  while (named < mt::kGroupMarginsMax && value.secmargins[named].symbol[0] != '\0') ++named;
  if (named > total) total = named;
  for (int i = 0; i < total; ++i) margins.append(toJson(value.secmargins[i]));
  out["secmargins"] = margins;
  out["secmargins_total"] = total;
  return out;
}

Json::Value toJson(const mt::ConSessions& value) {
  Json::Value out = encode(value);
  Json::Value quote(Json::arrayValue);
  Json::Value trade(Json::arrayValue);
  for (int i = 0; i < 3; ++i) {
    quote.append(toJson(value.quote[i]));
    trade.append(toJson(value.trade[i]));
  }
  out["quote"] = quote;
  out["trade"] = trade;
  return out;
}

Json::Value toJson(const mt::ConSymbol& value) {
  Json::Value out = encode(value);
  Json::Value sessions(Json::arrayValue);
  for (int i = 0; i < mt::kSymbolSessionDays; ++i) {
    sessions.append(toJson(value.sessions[i]));
  }
  out["sessions"] = sessions;
  return out;
}

bool fromJson(const Json::Value& json, mt::UserRecord* out, std::string* error) {
  return decode(json, out, error);
}
bool fromJson(const Json::Value& json, mt::ConGroupMargin* out, std::string* error) {
  return decode(json, out, error);
}
bool fromJson(const Json::Value& json, mt::ConSession* out, std::string* error) {
  return decode(json, out, error);
}
bool fromJson(const Json::Value& json, mt::SymbolInfo* out, std::string* error) {
  return decode(json, out, error);
}
bool fromJson(const Json::Value& json, mt::TradeRecord* out, std::string* error) {
  return decode(json, out, error);
}
bool fromJson(const Json::Value& json, mt::TradeTransInfo* out, std::string* error) {
  return decode(json, out, error);
}
bool fromJson(const Json::Value& json, mt::GroupCommandInfo* out,
              std::string* error) {
  return decode(json, out, error);
}
bool fromJson(const Json::Value& json, mt::ConManager* out, std::string* error) {
  return decode(json, out, error);
}
bool fromJson(const Json::Value& json, mt::MailBox* out, std::string* error) {
  out->body = nullptr;
  return decode(json, out, error);
}

bool fromJson(const Json::Value& json, mt::ConGroup* out, std::string* error) {
  Decoder d(json);
  if (d.ok()) visit(d, *out, static_cast<const mt::ConGroup*>(nullptr));
  bool hasTotal = d.member("secmargins_total") != nullptr;
  int count = decodeArray(d, "secmargins", out->secmargins, mt::kGroupMarginsMax);
  if (d.ok()) {
    if (!hasTotal) out->secmargins_total = count;
    if (out->secmargins_total < 0 || out->secmargins_total > mt::kGroupMarginsMax) {
      d.fail("secmargins_total", "between 0 and 128");
    }
  }
  return finish<mt::ConGroup>(d, error);
}

bool fromJson(const Json::Value& json, mt::ConSessions* out, std::string* error) {
  Decoder d(json);
  if (d.ok()) visit(d, *out, static_cast<const mt::ConSessions*>(nullptr));
  decodeArray(d, "quote", out->quote, 3);
  decodeArray(d, "trade", out->trade, 3);
  return finish<mt::ConSessions>(d, error);
}

bool fromJson(const Json::Value& json, mt::ConSymbol* out, std::string* error) {
  Decoder d(json);
  if (d.ok()) visit(d, *out, static_cast<const mt::ConSymbol*>(nullptr));
  decodeArray(d, "sessions", out->sessions, mt::kSymbolSessionDays);
  return finish<mt::ConSymbol>(d, error);
}

namespace {

const Json::Value* findMember(const Json::Value& obj, const char* name,
                              std::string* error) {
  const Json::Value* x =
      obj.isObject() ? obj.find(name, name + std::strlen(name)) : nullptr;
  if (x == nullptr && error != nullptr) *error = std::string("missing '") + name + "'";
  return x;
}

bool wrongType(const char* name, const char* what, std::string* error) {
  if (error != nullptr) *error = std::string("'") + name + "' must be " + what;
  return false;
}

}  // namespace

bool readInt(const Json::Value& obj, const char* name, int* out, std::string* error) {
  const Json::Value* x = findMember(obj, name, error);
  if (x == nullptr) return false;
  if (!x->isInt()) return wrongType(name, "a 32-bit integer", error);
  *out = x->asInt();
  return true;
}

bool readInt64(const Json::Value& obj, const char* name, std::int64_t* out,
               std::string* error) {
  const Json::Value* x = findMember(obj, name, error);
  if (x == nullptr) return false;
  if (!x->isInt64()) return wrongType(name, "a 64-bit integer", error);
  *out = x->asInt64();
  return true;
}

bool readDouble(const Json::Value& obj, const char* name, double* out,
                std::string* error) {
  const Json::Value* x = findMember(obj, name, error);
  if (x == nullptr) return false;
  if (!x->isNumeric()) return wrongType(name, "a number", error);
  *out = x->asDouble();
  return true;
}

bool readString(const Json::Value& obj, const char* name, std::string* out,
                std::string* error) {
  const Json::Value* x = findMember(obj, name, error);
  if (x == nullptr) return false;
  if (!x->isString()) return wrongType(name, "a text", error);
  *out = x->asString();
  return true;
}

bool readBool(const Json::Value& obj, const char* name, bool* out, std::string* error) {
  const Json::Value* x = findMember(obj, name, error);
  if (x == nullptr) return false;
  if (!x->isBool()) return wrongType(name, "true or false", error);
  *out = x->asBool();
  return true;
}

}  // namespace sim
