// The simulated server's behaviour behind the manager calls, without the
// network: trades, balance operations, history, accounts, configuration,
// scripted answers and the saved state.
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "server/ManagerApi.h"
#include "sim/Engine.h"
#include "sim/WireJson.h"
#include "tests/unit/test_util/TempDir.h"

namespace {

const char* kSeed = R"({
  "managers": [{"login": 1, "password": "pw", "admin": 1, "money": 1}],
  "groups": [{"group": "demo", "default_leverage": 100,
              "secmargins": [{"symbol": "EURUSD", "margin_divider": 100}]}],
  "symbols": [{"symbol": "EURUSD", "digits": 5, "contract_size": 100000, "point": 0.00001},
              {"symbol": "XAUUSD", "digits": 2, "contract_size": 100, "point": 0.01}],
  "quotes": [{"symbol": "EURUSD", "bid": 1.1000, "ask": 1.1002},
             {"symbol": "XAUUSD", "bid": 2000.0, "ask": 2000.5}],
  "users": [{"login": 1001, "group": "demo", "password": "user1", "balance": 1000, "leverage": 100},
            {"login": 1002, "group": "demo", "balance": 50}],
  "history": [{"order": 1, "login": 1001, "cmd": 6, "profit": 1000, "close_time": 100, "state": 3}],
  "next_login": 2000
})";

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = std::make_unique<sim::Engine>(
        path_, [this](const sim::Event& e) {
          events_.push_back(e);
          if (onEvent_) onEvent_();
        });
    std::string error;
    ASSERT_TRUE(engine_->load(&error)) << error;
    Json::Value seed;
    ASSERT_TRUE(sim::parseJsonText(kSeed, &seed, &error)) << error;
    ASSERT_TRUE(engine_->seed(seed, &error)) << error;
    session_.id = 1;
    ASSERT_EQ(0, call("Login", R"({"login": 1, "password": "pw"})")["result"].asInt());
    events_.clear();
  }

  Json::Value call(const std::string& name, const std::string& args) {
    Json::Value parsed;
    EXPECT_TRUE(sim::parseJsonText(args, &parsed, nullptr)) << args;
    return engine_->clientCall(&session_, name, parsed);
  }

  Json::Value user(int login) {
    Json::Value state = engine_->stateJson();
    for (const Json::Value& u : state["users"]) {
      if (u["login"].asInt() == login) return u;
    }
    return Json::Value();
  }

  test_util::TempDir dir_;
  const std::string path_ = dir_.file("state.json");
  std::vector<sim::Event> events_;
  std::function<void()> onEvent_;  // run by the sink after each event
  sim::ClientSession session_;
  std::unique_ptr<sim::Engine> engine_;  // ends before what its sink uses
};

TEST_F(EngineTest, CallsBeforeLoginAndWrongPasswordsAreRefused) {
  sim::ClientSession other;
  other.id = 2;
  Json::Value args(Json::objectValue);
  args["login"] = 1001;
  EXPECT_EQ(mt::RET_NO_CONNECT,
            engine_->clientCall(&other, "UserRecordGet", args)["result"].asInt());
  Json::Value login;
  sim::parseJsonText(R"({"login": 1, "password": "nope"})", &login, nullptr);
  EXPECT_EQ(mt::RET_INVALID_LOGIN, engine_->clientCall(&other, "Login", login)["result"].asInt());
  EXPECT_EQ(mt::RET_NO_CONNECT, engine_->clientCall(&other, "UsersGet", args)["result"].asInt());
  EXPECT_EQ(mt::RET_ERROR, call("Nonsense", "{}")["result"].asInt());
}

TEST_F(EngineTest, BalanceOperationsMoveMoneyIntoHistoryAndArePumpedAsDeletes) {
  Json::Value r = call("TradeTransaction",
                       R"({"info": {"type": 83, "cmd": 6, "orderby": 1001, "price": -250.5,
                                    "comment": "wd-1"}})");
  ASSERT_EQ(0, r["result"].asInt());
  int order = r["info"]["order"].asInt();
  EXPECT_GT(order, 1);
  EXPECT_DOUBLE_EQ(749.5, user(1001)["balance"].asDouble());
  ASSERT_EQ(2u, events_.size());
  EXPECT_EQ(mt::PUMP_UPDATE_TRADES, events_[0].code);
  EXPECT_EQ(mt::TRANS_DELETE, events_[0].type);
  EXPECT_EQ(6, events_[0].data["cmd"].asInt());
  EXPECT_EQ("wd-1", events_[0].data["comment"].asString());
  EXPECT_EQ(events_[0].data["open_time"], events_[0].data["close_time"]);
  EXPECT_EQ(mt::PUMP_UPDATE_USERS, events_[1].code);
  EXPECT_EQ("", events_[1].data["password"].asString());  // never pumped

  // Credit with an expiry, and money that is not there.
  r = call("TradeTransaction", R"({"info": {"type": 83, "cmd": 7, "orderby": 1002,
                                            "price": 10, "expiration": 99}})");
  EXPECT_EQ(0, r["result"].asInt());
  EXPECT_DOUBLE_EQ(10, user(1002)["credit"].asDouble());
  EXPECT_EQ(mt::RET_TRADE_NO_MONEY,
            call("TradeTransaction", R"({"info": {"type": 83, "cmd": 6, "orderby": 1002,
                                                  "price": -50.01}})")["result"].asInt());
  EXPECT_EQ(mt::RET_NOT_FOUND,
            call("TradeTransaction", R"({"info": {"type": 83, "cmd": 6, "orderby": 4242,
                                                  "price": 5}})")["result"].asInt());
  EXPECT_EQ(mt::RET_INVALID_DATA,
            call("TradeTransaction", R"({"info": {"type": 83, "cmd": 6, "orderby": 1001,
                                                  "price": 0}})")["result"].asInt());
  EXPECT_EQ(mt::RET_INVALID_DATA,
            call("TradeTransaction", R"({"info": {"type": 99}})")["result"].asInt());

  // History by close time, and the record by ticket.
  Json::Value h = call("TradesUserHistory", R"({"login": 1001, "from": 0, "to": 200})");
  ASSERT_EQ(1u, h["trades"].size());
  EXPECT_EQ(1, h["trades"][0]["order"].asInt());
  h = call("TradesUserHistory", R"({"login": 1001, "from": 0, "to": 9999999999})");
  EXPECT_EQ(2u, h["trades"].size());
  Json::Value t = call("TradeRecordsRequest", "{\"orders\": [" + std::to_string(order) + "]}");
  ASSERT_EQ(1u, t["trades"].size());
  EXPECT_DOUBLE_EQ(-250.5, t["trades"][0]["profit"].asDouble());
  EXPECT_EQ(mt::RET_NOT_FOUND, call("TradeRecordsRequest", R"({"orders": [77777]})")
                                   ["result"].asInt());
}

TEST_F(EngineTest, TradesOpenCloseWithProfitAndPendingOrdersAreDeleted) {
  Json::Value r = call("TradeTransaction",
                       R"({"info": {"type": 75, "cmd": 0, "orderby": 1001, "symbol": "EURUSD",
                                    "volume": 100, "price": 1.0950, "comment": "imp"}})");
  ASSERT_EQ(0, r["result"].asInt());
  int buy = r["info"]["order"].asInt();
  EXPECT_EQ(mt::TRANS_ADD, events_.back().type);
  r = call("TradeTransaction",
           R"({"info": {"type": 75, "cmd": 3, "orderby": 1001, "symbol": "XAUUSD",
                        "volume": 10, "price": 2100}})");
  int pending = r["info"]["order"].asInt();
  Json::Value open = call("TradesGetByLogin", R"({"login": 1001, "group": "demo"})");
  ASSERT_EQ(2u, open["trades"].size());
  // An open buy shows the current bid as its closing price and its profit.
  EXPECT_DOUBLE_EQ(1.1, open["trades"][0]["close_price"].asDouble());
  EXPECT_NEAR(500.0, open["trades"][0]["profit"].asDouble(), 1e-6);
  EXPECT_DOUBLE_EQ(2000.5, open["trades"][1]["close_price"].asDouble());  // sell side: ask
  EXPECT_EQ(0u, call("TradesGetByLogin", R"({"login": 1002, "group": "demo"})")["trades"].size());

  // Closing a pending order is refused; deleting it works.
  EXPECT_EQ(mt::RET_INVALID_DATA,
            call("TradeTransaction", "{\"info\": {\"type\": 76, \"order\": " +
                                         std::to_string(pending) + ", \"price\": 2000}}")
                ["result"].asInt());
  EXPECT_EQ(0, call("TradeTransaction", "{\"info\": {\"type\": 77, \"order\": " +
                                            std::to_string(pending) + "}}")["result"].asInt());
  EXPECT_EQ(mt::TRANS_DELETE, events_.back().type);

  events_.clear();
  EXPECT_EQ(0, call("TradeTransaction", "{\"info\": {\"type\": 76, \"order\": " +
                                            std::to_string(buy) + ", \"price\": 1.0900}}")
                   ["result"].asInt());
  ASSERT_EQ(2u, events_.size());
  EXPECT_EQ(mt::TRANS_DELETE, events_[0].type);
  EXPECT_NEAR(-500.0, events_[0].data["profit"].asDouble(), 1e-6);
  EXPECT_NEAR(500.0, user(1001)["balance"].asDouble(), 1e-6);
  EXPECT_EQ(0u, call("TradesGetByLogin", R"({"login": 1001, "group": ""})")["trades"].size());
  EXPECT_EQ(mt::RET_NOT_FOUND,
            call("TradeTransaction", "{\"info\": {\"type\": 76, \"order\": " +
                                         std::to_string(buy) + ", \"price\": 1.1}}")
                ["result"].asInt());

  // Rewrite the closed record, then rebuild the balance from history.
  Json::Value rec = call("TradeRecordsRequest", "{\"orders\": [" + std::to_string(buy) + "]}")
                        ["trades"][0];
  rec["profit"] = 20.0;
  rec["commission"] = -2.0;
  Json::Value modify(Json::objectValue);
  modify["trade"] = rec;
  EXPECT_EQ(0, engine_->clientCall(&session_, "AdmTradeRecordModify", modify)["result"].asInt());
  EXPECT_EQ(0, call("AdmBalanceFix", R"({"logins": [1001]})")["result"].asInt());
  EXPECT_NEAR(1018.0, user(1001)["balance"].asDouble(), 1e-6);
  EXPECT_EQ(mt::RET_NOT_FOUND, call("AdmBalanceFix", R"({"logins": [5]})")["result"].asInt());
  EXPECT_EQ(0, call("AdmTradesDelete", "{\"orders\": [" + std::to_string(buy) + "]}")
                   ["result"].asInt());
  EXPECT_EQ(mt::RET_NOT_FOUND,
            call("TradeRecordsRequest", "{\"orders\": [" + std::to_string(buy) + "]}")
                ["result"].asInt());
}

TEST_F(EngineTest, AccountsAreCreatedUpdatedAndCheckedLikeOnTheServer) {
  Json::Value r = call("UserRecordNew", R"({"user": {"login": 0, "group": "demo",
                                                     "name": "N", "password": "p1",
                                                     "balance": 1e6}})");
  ASSERT_EQ(0, r["result"].asInt());
  int login = r["user"]["login"].asInt();
  EXPECT_EQ(2000, login);
  EXPECT_DOUBLE_EQ(0, user(login)["balance"].asDouble());  // money only via trades
  EXPECT_EQ(100, user(login)["leverage"].asInt());          // the group's default
  EXPECT_EQ(mt::RET_INVALID_DATA,
            call("UserRecordNew", R"({"user": {"login": 1001, "group": "demo"}})")
                ["result"].asInt());
  EXPECT_EQ(mt::RET_INVALID_DATA,
            call("UserRecordNew", R"({"user": {"group": "nosuch"}})")["result"].asInt());
  EXPECT_EQ(0, call("UserRecordNew", R"({"user": {"login": 3000, "group": "demo"}})")
                   ["result"].asInt());

  EXPECT_EQ(0, call("UserRecordUpdate", R"({"user": {"login": 1001, "group": "demo",
                                                     "name": "Renamed", "balance": 5}})")
                   ["result"].asInt());
  EXPECT_EQ("Renamed", user(1001)["name"].asString());
  EXPECT_DOUBLE_EQ(1000, user(1001)["balance"].asDouble());
  EXPECT_EQ("user1", user(1001)["password"].asString());

  EXPECT_EQ(0, call("UserPasswordCheck", R"({"login": 1001, "password": "user1"})")
                   ["result"].asInt());
  EXPECT_EQ(mt::RET_INVALID_DATA,
            call("UserPasswordCheck", R"({"login": 1001, "password": "x"})")["result"].asInt());
  EXPECT_EQ(0, call("UserPasswordSet", R"({"login": 1001, "password": "inv9", "investor": 1,
                                          "clean_pubkey": 0})")["result"].asInt());
  EXPECT_EQ("inv9", user(1001)["password_investor"].asString());
  EXPECT_EQ("user1", user(1001)["password"].asString());
  EXPECT_EQ(mt::RET_INVALID_DATA,
            call("UserPasswordSet", R"({"login": 1001, "password": "0123456789abcdef",
                                       "investor": 0})")["result"].asInt());

  EXPECT_EQ(0, call("UsersGroupOp", R"({"info": {"len": 2, "command": 3, "leverage": 33},
                                       "logins": [1001, 1002]})")["result"].asInt());
  EXPECT_EQ(33, user(1002)["leverage"].asInt());
  EXPECT_EQ(mt::RET_INVALID_DATA,
            call("UsersGroupOp", R"({"info": {"command": 1, "leverage": 33},
                                    "logins": [1001]})")["result"].asInt());
}

TEST_F(EngineTest, ConfigurationIsReplacedWholeAndUnknownSymbolsRefused) {
  Json::Value g = call("GroupRecordGet", R"({"name": "demo"})");
  ASSERT_EQ(0, g["result"].asInt());
  Json::Value group = g["group"];
  group["secmargins"][0]["margin_divider"] = 25.0;
  Json::Value args(Json::objectValue);
  args["group"] = group;
  EXPECT_EQ(0, engine_->clientCall(&session_, "CfgUpdateGroup", args)["result"].asInt());
  EXPECT_DOUBLE_EQ(25.0, call("GroupRecordGet", R"({"name": "demo"})")["group"]["secmargins"][0]
                             ["margin_divider"].asDouble());
  EXPECT_EQ(mt::RET_NOT_FOUND, call("GroupRecordGet", R"({"name": "x"})")["result"].asInt());

  Json::Value symbols = call("SymbolsGetAll", "{}")["symbols"];
  ASSERT_EQ(2u, symbols.size());
  Json::Value symbol = symbols[0];
  symbol["trade"] = 1;
  symbol["sessions"][1]["trade"][0]["open_hour"] = 8;
  symbol["sessions"][1]["trade"][0]["open_min"] = 30;
  args = Json::Value(Json::objectValue);
  args["symbol"] = symbol;
  EXPECT_EQ(0, engine_->clientCall(&session_, "CfgUpdateSymbol", args)["result"].asInt());
  Json::Value stored = call("SymbolsGetAll", "{}")["symbols"][0];
  EXPECT_EQ(1, stored["trade"].asInt());
  EXPECT_EQ(510, stored["sessions"][1]["trade"][0]["open"].asInt());  // derived
  args["symbol"]["symbol"] = "NOSUCH";
  EXPECT_EQ(mt::RET_INVALID_DATA,
            engine_->clientCall(&session_, "CfgUpdateSymbol", args)["result"].asInt());
}

TEST_F(EngineTest, ScriptedResultsComeFirstThenNormalBehaviour) {
  engine_->script("CfgUpdateSymbol", {2, 0, 6});
  Json::Value args(Json::objectValue);
  args["symbol"] = call("SymbolsGetAll", "{}")["symbols"][0];
  EXPECT_EQ(2, engine_->clientCall(&session_, "CfgUpdateSymbol", args)["result"].asInt());
  EXPECT_EQ(0, engine_->clientCall(&session_, "CfgUpdateSymbol", args)["result"].asInt());
  EXPECT_EQ(6, engine_->clientCall(&session_, "CfgUpdateSymbol", args)["result"].asInt());
  EXPECT_EQ(0, engine_->clientCall(&session_, "CfgUpdateSymbol", args)["result"].asInt());
  engine_->script("UserRecordNew", {3});
  EXPECT_EQ(3, call("UserRecordNew", R"({"user": {"group": "demo"}})")["result"].asInt());
  EXPECT_TRUE(user(2000).isNull());  // nothing was done
  engine_->script("Login", {64});
  engine_->unscript();
  EXPECT_EQ(0, call("Login", R"({"login": 1, "password": "pw"})")["result"].asInt());

  Json::Value log = engine_->calls(true);
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ("Login", log[log.size() - 1]["call"].asString());
  EXPECT_EQ(1, log[log.size() - 1]["manager"].asInt());
  EXPECT_EQ(0u, engine_->calls(false).size());
}

TEST_F(EngineTest, EveryChangeIsInTheStateFileAtOnce) {
  int order = 0;
  ASSERT_EQ(0, engine_->balanceOperation(1002, 6, 7.25, "adm", &order));
  sim::Engine reloaded(path_, nullptr);
  std::string error;
  ASSERT_TRUE(reloaded.load(&error)) << error;
  Json::Value state = reloaded.stateJson();
  EXPECT_DOUBLE_EQ(57.25, state["users"][1]["balance"].asDouble());
  EXPECT_EQ(order + 1, state["next_ticket"].asInt());
  EXPECT_TRUE(engine_->deleteUser(1002));
  EXPECT_FALSE(engine_->deleteUser(1002));
  EXPECT_EQ(mt::TRANS_DELETE, events_.back().type);
}

TEST_F(EngineTest, OneCallChangingManyItemsSavesOnceBeforeItsEvents) {
  int a = 0, b = 0;
  ASSERT_EQ(0, engine_->balanceOperation(1001, 6, 1, "", &a));
  ASSERT_EQ(0, engine_->balanceOperation(1002, 6, 2, "", &b));
  // The sink looks at the state file as each event arrives.
  std::vector<Json::ArrayIndex> historyOnDisk;
  onEvent_ = [&] {
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    Json::Value state;
    EXPECT_TRUE(sim::parseJsonText(text.str(), &state, nullptr));
    historyOnDisk.push_back(state["history"].size());
  };
  // Each rewrite is a rename onto the file (watching both ends of the
  // renames keeps inotify from merging repeated ones).
  int watch = ::inotify_init1(IN_NONBLOCK);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, dir_.path().c_str(), IN_MOVED_FROM | IN_MOVED_TO), 0);
  auto rewrites = [&] {
    alignas(inotify_event) char buf[4096];
    int n = 0;
    for (ssize_t len; (len = ::read(watch, buf, sizeof(buf))) > 0;) {
      for (char* p = buf; p < buf + len;) {
        auto* ev = reinterpret_cast<inotify_event*>(p);
        if ((ev->mask & IN_MOVED_TO) && std::string(ev->name) == "state.json") ++n;
        p += sizeof(inotify_event) + ev->len;
      }
    }
    return n;
  };
  std::string orders = "{\"orders\": [1, " + std::to_string(a) + ", " + std::to_string(b) + "]}";
  EXPECT_EQ(0, call("AdmTradesDelete", orders)["result"].asInt());
  EXPECT_EQ(1, rewrites());
  EXPECT_EQ((std::vector<Json::ArrayIndex>{0, 0, 0}), historyOnDisk);
  // Nothing left to change: no rewrite, no event.
  EXPECT_EQ(mt::RET_NOT_FOUND, call("AdmTradesDelete", orders)["result"].asInt());
  EXPECT_EQ(0, rewrites());
  EXPECT_EQ(3u, historyOnDisk.size());
  ::close(watch);
  onEvent_ = nullptr;
}

TEST_F(EngineTest, ServerTimeFollowsTheOffsetAndQuotesAreChecked) {
  std::int64_t before = call("ServerTime", "{}")["time"].asInt64();
  engine_->setTimeOffset(3600);
  std::int64_t after = call("ServerTime", "{}")["time"].asInt64();
  EXPECT_GE(after - before, 3600);
  EXPECT_LE(after - before, 3602);
  std::string error;
  EXPECT_FALSE(engine_->pushQuote("NOPE", 1, 2, &error));
  EXPECT_FALSE(engine_->pushQuote("EURUSD", 2, 1, &error));
  EXPECT_TRUE(engine_->pushQuote("EURUSD", 1.3, 1.3002, &error));
  EXPECT_EQ(mt::PUMP_UPDATE_BIDASK, events_.back().code);
  EXPECT_DOUBLE_EQ(1.3, events_.back().data[0]["bid"].asDouble());
}

}  // namespace
