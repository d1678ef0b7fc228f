// Structure <-> JSON conversion of the simulated server and its plugin.
#include <gtest/gtest.h>

#include <cstring>
#include <typeinfo>

#include "server/FieldText.h"
#include "sim/Codec.h"
#include "sim/SimState.h"
#include "sim/WireJson.h"

namespace {

// Fills a text field completely (no terminator), distinct per field, with
// ASCII (bytes that are not UTF-8 are carried as code points, see Codec.h).
template <std::size_t N>
void fillFull(char (&field)[N], char first) {
  for (std::size_t i = 0; i < N; ++i) field[i] = static_cast<char>(first + i % 10);
}

// Through the wire: encode, write, parse, decode.
template <typename T>
T throughText(const T& in) {
  std::string text = sim::compactJsonText(sim::toJson(in));
  Json::Value parsed;
  EXPECT_TRUE(sim::parseJsonText(text, &parsed, nullptr));
  T out{};
  std::string error;
  EXPECT_TRUE(sim::fromJson(parsed, &out, &error)) << error;
  return out;
}

template <typename T>
void expectSameBytes(const T& a, const T& b) {
  EXPECT_EQ(0, std::memcmp(&a, &b, sizeof(T))) << typeid(T).name();
}

TEST(SimCodec, RoundTripsEveryStructureWithFullWidthTexts) {
  mt::UserRecord u{};
  u.login = 123456;
  fillFull(u.group, 'a');
  fillFull(u.password, 'b');
  fillFull(u.name, 'c');
  fillFull(u.email, 'd');
  fillFull(u.comment, 'e');
  fillFull(u.lead_source, 'f');
  fillFull(u.status, 'g');
  u.regdate = 1767225600123LL;
  u.leverage = 500;
  u.balance = 12345.67;
  u.credit = -0.01;
  u.user_color = 0xFFFFFFFFu;
  expectSameBytes(u, throughText(u));

  mt::ConGroup g{};
  fillFull(g.group, 'A');
  fillFull(g.company, 'B');
  g.default_leverage = 100;
  g.secmargins_total = mt::kGroupMarginsMax;
  for (int i = 0; i < mt::kGroupMarginsMax; ++i) {
    fillFull(g.secmargins[i].symbol, static_cast<char>('A' + i % 26));
    g.secmargins[i].margin_divider = i + 0.5;
    g.secmargins[i].swap_long = -i;
  }
  expectSameBytes(g, throughText(g));

  mt::ConSymbol s{};
  fillFull(s.symbol, 'S');
  fillFull(s.description, 'D');
  s.digits = 5;
  s.trade = 2;
  s.gtc_pendings = 1;
  s.contract_size = 100000;
  s.margin_divider = 0.25;
  for (int d = 0; d < mt::kSymbolSessionDays; ++d) {
    for (int i = 0; i < 3; ++i) {
      s.sessions[d].quote[i].open_hour = static_cast<short>(d);
      s.sessions[d].quote[i].close_min = static_cast<short>(i * 10);
      s.sessions[d].trade[i].close_hour = 24;
      s.sessions[d].trade[i].close = 1440;
    }
    s.sessions[d].trade_overnight = d;
  }
  expectSameBytes(s, throughText(s));

  mt::TradeRecord t{};
  t.order = 77;
  t.login = 1001;
  fillFull(t.symbol, 'X');
  fillFull(t.comment, 'k');
  t.cmd = mt::OP_SELL;
  t.volume = 150;
  t.open_time = -5;
  t.close_time = 4102444800LL;
  t.open_price = 1.23456;
  t.profit = -1e-9;
  expectSameBytes(t, throughText(t));

  mt::TradeTransInfo info{};
  info.type = mt::TT_BR_BALANCE;
  info.cmd = mt::OP_CREDIT;
  info.orderby = 5;
  info.price = 1e12;
  fillFull(info.comment, 'q');
  info.expiration = 315360000;
  expectSameBytes(info, throughText(info));

  mt::SymbolInfo q{};
  fillFull(q.symbol, 'E');
  q.bid = 1.1;
  q.ask = 1.1002;
  q.lasttime = 99;
  expectSameBytes(q, throughText(q));

  mt::GroupCommandInfo gc{};
  gc.len = 3;
  gc.command = mt::kGroupCommandLeverage;
  fillFull(gc.newgroup, 'n');
  gc.leverage = 33;
  expectSameBytes(gc, throughText(gc));

  mt::ConManager m{};
  m.login = 1;
  m.admin = 1;
  m.plugins = 1;
  fillFull(m.mailbox, 'm');
  fillFull(m.name, 'N');
  expectSameBytes(m, throughText(m));

  mt::MailBox mail{};
  mail.time = 5;
  mail.to = 2;
  fillFull(mail.subject, 's');
  fillFull(mail.from, 'f');
  mail.bodylen = 10;
  expectSameBytes(mail, throughText(mail));
}

TEST(SimCodec, BytesThatAreNotUtf8BecomeValidJson) {
  mt::UserRecord u{};
  u.login = 1;
  const char raw[] = "Jos\xE9 \xFF\xC3";  // Latin-1 e-acute, a stray byte, a cut sequence
  mt::setField(u.name, raw);
  mt::setField(u.city, "Z\xC3\xBCrich");  // valid UTF-8 stays as it is
  std::string text = sim::compactJsonText(sim::toJson(u));
  Json::Value parsed;
  ASSERT_TRUE(sim::parseJsonText(text, &parsed, nullptr));
  EXPECT_EQ("Jos\xC3\xA9 \xC3\xBF\xC3\x83", parsed["name"].asString());
  mt::UserRecord back{};
  ASSERT_TRUE(sim::fromJson(parsed, &back, nullptr));
  EXPECT_EQ("Z\xC3\xBCrich", mt::fieldText(back.city));
}

TEST(SimCodec, OverlongTextsAreCutToTheField) {
  Json::Value v(Json::objectValue);
  v["group"] = std::string(1000, 'g');
  v["login"] = 9;
  mt::UserRecord u{};
  ASSERT_TRUE(sim::fromJson(v, &u, nullptr));
  EXPECT_EQ(std::string(16, 'g'), mt::fieldText(u.group));
  EXPECT_EQ(0, u.password[0]);  // the next field is untouched
}

TEST(SimCodec, WrongTypesAndRangesFailWithAReason) {
  struct Case {
    const char* json;
  } cases[] = {
      {R"({"login":"1001"})"},
      {R"({"login":1.5})"},
      {R"({"login":4294967296})"},
      {R"({"balance":"much"})"},
      {R"({"name":17})"},
      {R"({"regdate":1e40})"},
      {R"({"user_color":-1})"},
      {"[1,2]"},
  };
  for (const Case& c : cases) {
    Json::Value v;
    ASSERT_TRUE(sim::parseJsonText(c.json, &v, nullptr)) << c.json;
    mt::UserRecord u{};
    std::string error;
    EXPECT_FALSE(sim::fromJson(v, &u, &error)) << c.json;
    EXPECT_FALSE(error.empty()) << c.json;
  }
  Json::Value group;
  ASSERT_TRUE(sim::parseJsonText(R"({"secmargins_total":129})", &group, nullptr));
  mt::ConGroup g{};
  EXPECT_FALSE(sim::fromJson(group, &g, nullptr));
  Json::Value tooMany(Json::objectValue);
  for (int i = 0; i < 200; ++i) tooMany["secmargins"].append(Json::Value(Json::objectValue));
  EXPECT_FALSE(sim::fromJson(tooMany, &g, nullptr));
  Json::Value symbol;
  ASSERT_TRUE(sim::parseJsonText(R"({"sessions":[{"quote":[{"open_hour":70000}]}]})",
                                 &symbol, nullptr));
  mt::ConSymbol s{};
  EXPECT_FALSE(sim::fromJson(symbol, &s, nullptr));
}

TEST(SimCodec, GroupKeepsItemsUpToTheFirstEmptySymbolEvenWithoutTotal) {
  mt::ConGroup g{};
  mt::setField(g.group, "g1");
  mt::setField(g.secmargins[0].symbol, "EURUSD");
  mt::setField(g.secmargins[1].symbol, "ForeignExchange");
  g.secmargins[1].margin_divider = 50;
  mt::ConGroup back = throughText(g);
  EXPECT_EQ(2, back.secmargins_total);
  EXPECT_EQ(50, back.secmargins[1].margin_divider);
}

TEST(SimCodec, MalformedJsonTextIsRefusedWithoutThrowing) {
  const char* texts[] = {"", "{", "{\"a\":}", "[1,]", "nul", "{\"a\":1} trailing",
                         "\xFF\xFE"};
  for (const char* text : texts) {
    Json::Value v;
    std::string error;
    EXPECT_FALSE(sim::parseJsonText(text, &v, &error)) << text;
  }
  std::string deep(100000, '[');
  Json::Value v;
  EXPECT_FALSE(sim::parseJsonText(deep, &v, nullptr));
}

TEST(SimState, RoundTripsAndRaisesCounters) {
  sim::SimState s;
  sim::ManagerAccount m;
  m.rights.login = 1;
  m.rights.admin = 1;
  m.password = "pw";
  s.managers.push_back(m);
  mt::UserRecord u{};
  u.login = 5000;
  mt::setField(u.group, "demo");
  s.users[u.login] = u;
  mt::TradeRecord t{};
  t.order = 40;
  t.login = 5000;
  s.history[t.order] = t;
  s.quotes["EURUSD"] = sim::Quote{1.1, 1.2, 3};
  sim::Mail mail;
  mail.body = "hello";
  mail.logins = {5000};
  s.mails.push_back(mail);
  s.nextTicket = 3;  // below the highest order held
  s.nextLogin = 10;
  s.timeOffset = -3600;
  sim::SimState back;
  std::string error;
  ASSERT_TRUE(sim::stateFromJson(sim::stateToJson(s), &back, &error)) << error;
  EXPECT_EQ(41, back.nextTicket);
  EXPECT_EQ(5001, back.nextLogin);
  EXPECT_EQ(-3600, back.timeOffset);
  ASSERT_EQ(1u, back.managers.size());
  EXPECT_EQ("pw", back.managers[0].password);
  EXPECT_EQ(1u, back.users.count(5000));
  EXPECT_EQ(1u, back.history.count(40));
  EXPECT_EQ(1.2, back.quotes["EURUSD"].ask);
  ASSERT_EQ(1u, back.mails.size());
  EXPECT_EQ("hello", back.mails[0].body);

  Json::Value bad = sim::stateToJson(s);
  bad["users"][0]["login"] = 0;
  EXPECT_FALSE(sim::stateFromJson(bad, &back, &error));
  EXPECT_EQ(1u, back.users.count(5000));  // untouched on failure
}

}  // namespace
