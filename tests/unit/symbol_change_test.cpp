// Group leverage and the symbol changes against the fake managers: the
// retry counts and result classes, what is written back, and requests run
// twice.
#include <gtest/gtest.h>

#include <string>

#include "operations/groups/GroupLeverage.h"
#include "operations/symbols/SymbolChanges.h"
#include "server/FieldText.h"
#include "test_util/OperationTest.h"

namespace {

using operations::OperationFn;

mt::ConSymbol symbol(const std::string& name) {
  mt::ConSymbol s{};
  mt::setField(s.symbol, name);
  s.trade = mt::kTradeModeCloseOnly;
  s.gtc_pendings = mt::kGtcGoodTillCancel;
  s.margin_divider = 1.0;
  s.swap_long = -1.5;
  s.digits = 5;
  for (mt::ConSessions& day : s.sessions) {
    for (int i = 0; i < 3; ++i) {
      day.quote[i] = {static_cast<short>(i + 1), 15, 23, 45, 0, 0};
      day.trade[i] = {static_cast<short>(i + 2), 30, 22, 30, 0, 0};
    }
  }
  return s;
}

class SymbolChange : public test_util::OperationTest {
 protected:
  SymbolChange() {
    mt::ConGroup group{};
    mt::setField(group.group, "demoforex-longer");
    const char* names[] = {"EURUSD", "GBPUSD", "XAUUSD"};
    for (int i = 0; i < 3; ++i) {
      mt::setField(group.secmargins[i].symbol, names[i]);
      group.secmargins[i].margin_divider = 100;
    }
    pumpFake.addGroup(group);
    pumpFake.addSymbol(symbol("EURUSD"));
    pumpFake.addSymbol(symbol("GBPUSD"));
  }
  Json::Value run(OperationFn op, const std::string& fields) {
    Json::Value request;
    EXPECT_TRUE(util::parseJson("{\"serial\":\"s1\"," + fields + "}", &request));
    reply.sent.clear();
    op(ctx, request, reply);
    return lastReply();
  }
  int code(OperationFn op, const std::string& fields) { return run(op, fields)["code"].asInt(); }
  mt::ConSymbol written() const { return normalFake.lastConSymbol(); }
};

constexpr const char* kGroupRequest =
    R"("group":"demoforex-longer","logins":[7,8],"symbols":[{"symbol":"GBPUSD","leverage":50},)"
    R"({"symbol":"EURUSD","leverage":300},{"symbol":"NOPE","leverage":1},)"
    R"({"symbol":"ForeignExchange","leverage":400},{"symbol":"EURUSD","leverage":250}])";

TEST_F(SymbolChange, GroupLeverageSetsDividersUnchangedThenTheAccountsOnceChanged) {
  const Json::Value first = run(&operations::groupLeverage, kGroupRequest);
  EXPECT_EQ(200, first["code"].asInt());
  // Sorted, each name once, the later EURUSD kept.
  ASSERT_EQ(4u, first["data"]["symbols"].size());
  EXPECT_EQ("EURUSD", first["data"]["symbols"][0]["symbol"].asString());
  EXPECT_EQ(250, first["data"]["symbols"][0]["leverage"].asInt());
  EXPECT_EQ(7, first["data"]["logins"][0].asInt());

  const mt::ConGroup group = normalFake.lastConGroup();
  EXPECT_EQ(250.0, group.secmargins[0].margin_divider);
  EXPECT_EQ(50.0, group.secmargins[1].margin_divider);
  EXPECT_EQ(100.0, group.secmargins[2].margin_divider);
  const mt::GroupCommandInfo info = normalFake.lastGroupCommandInfo();
  EXPECT_EQ((std::vector<int>{2, 3, 400}), (std::vector<int>{info.len, info.command, info.leverage}));
  EXPECT_EQ("demoforex-longe", mt::fieldText(info.newgroup));
  EXPECT_EQ((std::vector<int>{7, 8}), normalFake.lastGroupLogins());

  // Run again on the changed group: nothing to write but the accounts.
  pumpFake.addGroup(group);
  normalFake.clearCalls();
  normalFake.script("UsersGroupOp", {3});
  EXPECT_EQ(-3, code(&operations::groupLeverage, kGroupRequest));
  EXPECT_EQ((std::vector<std::string>{"UsersGroupOp"}), normalFake.names());
  // Without a "ForeignExchange" entry the accounts are left alone.
  EXPECT_EQ(200, code(&operations::groupLeverage,
                      R"("group":"demoforex-longer","logins":[7],"symbols":{"a":1})"));
  EXPECT_TRUE(run(&operations::groupLeverage, R"("group":"demoforex-longer")")["data"]["symbols"].isNull());
  EXPECT_EQ(1, normalFake.count("UsersGroupOp"));
  EXPECT_TRUE(pauses.empty());
}

TEST_F(SymbolChange, GroupFetchAndWriteRetriesAndReconnects) {
  pumpFake.setDefault("GroupRecordGet", mt::RET_NO_CONNECT);
  pumpFake.setDefault("Login", mt::RET_NO_CONNECT);  // every reconnect fails
  EXPECT_EQ(-1001, code(&operations::groupLeverage, kGroupRequest));
  EXPECT_EQ(100, pumpFake.count("GroupRecordGet"));
  EXPECT_EQ(99, pumpFake.count("Connect"));
  EXPECT_EQ(0, normalFake.count("CfgUpdateGroup"));

  pumpFake.setDefault("GroupRecordGet", mt::RET_OK);
  pumpFake.script("GroupRecordGet", {mt::RET_ERROR, 65});  // 65 is not retried
  EXPECT_EQ(-1001, code(&operations::groupLeverage, kGroupRequest));
  EXPECT_EQ(102, pumpFake.count("GroupRecordGet"));

  normalFake.setDefault("CfgUpdateGroup", mt::RET_ERROR);
  EXPECT_EQ(-1001, code(&operations::groupLeverage, kGroupRequest));
  EXPECT_EQ(3, normalFake.count("CfgUpdateGroup"));
  EXPECT_EQ(0, normalFake.count("Connect"));  // only a 6 reconnects
  normalFake.script("CfgUpdateGroup", {mt::RET_NO_CONNECT, mt::RET_OK_NONE});
  EXPECT_EQ(200, code(&operations::groupLeverage, kGroupRequest));
  EXPECT_EQ(1, normalFake.count("Connect"));
  EXPECT_EQ(1, normalFake.count("UsersGroupOp"));
}

TEST_F(SymbolChange, SwapUpdateFetchesExactNamesAndFreesTheListAfterTheReply) {
  pumpFake.script("SymbolsGetAll", {mt::RET_ERROR});  // the first fetch gives nothing
  int repliesAtFree = -1;
  pumpFake.setHook("MemFree", [&] { repliesAtFree = static_cast<int>(reply.sent.size()); });
  EXPECT_EQ(200, code(&operations::updateSymbol, R"("symbol":"EURUSD","swapLong":2.5)"));
  EXPECT_EQ((std::vector<int>{1000, 1000}), pauses);
  EXPECT_EQ((std::vector<double>{2.5, 0.0}), (std::vector<double>{written().swap_long, written().swap_short}));
  EXPECT_EQ(2, written().trade);  // full trading
  EXPECT_EQ(5, written().digits);  // the rest as the server gave it
  EXPECT_EQ(1, repliesAtFree);

  normalFake.script("CfgUpdateSymbol", {mt::RET_OK_NONE, 3});
  EXPECT_EQ(200, code(&operations::updateSymbol, R"("symbol":"EURUSD")"));
  EXPECT_EQ(-3, code(&operations::updateSymbol, R"("symbol":"EURUSD")"));
  EXPECT_EQ(-1007, code(&operations::updateSymbol, R"("symbol":"eurusd")"));
  EXPECT_EQ(3, normalFake.count("CfgUpdateSymbol"));
  EXPECT_EQ(0, pumpFake.outstandingArrays());
  EXPECT_EQ(0, pumpFake.badFrees());

  pauses.clear();
  pumpFake.setDefault("SymbolsGetAll", mt::RET_ERROR);
  EXPECT_EQ(-1006, code(&operations::updateSymbol, R"("symbol":"EURUSD")"));
  EXPECT_EQ(std::vector<int>(6, 1000), pauses);
}

TEST_F(SymbolChange, SettingsConvertRefreshWhereTheirMemberSaysAndRetryOnlyUntilZero) {
  EXPECT_EQ(200, code(&operations::symbolLeverageUpdate, R"("symbol":"EURUSD","leverage":250)"));
  EXPECT_EQ(2.5, written().margin_divider);
  EXPECT_EQ(0, pumpFake.count("SymbolsRefresh"));
  const Json::Value gtc = run(&operations::symboGtcPendingUpdate, R"("symbol":"EURUSD","gtcPending":7)");
  EXPECT_EQ(7, gtc["data"]["gtcPending"].asInt());
  EXPECT_EQ(2, written().gtc_pendings);  // daily, stops excluded
  EXPECT_EQ(1, written().trade);         // close only, as it was
  EXPECT_EQ(200, code(&operations::symbolTradeUpdate, R"("symbol":"GBPUSD","trade":9)"));
  EXPECT_EQ(9, written().trade);
  EXPECT_EQ(2, pumpFake.count("SymbolsRefresh"));

  // The trade mode refreshes before its request is read, the expiry after.
  Json::Value bad;
  ASSERT_TRUE(util::parseJson(R"({"symbol":"EURUSD","trade":"x","gtcPending":"x"})", &bad));
  EXPECT_THROW(operations::symbolTradeUpdate(ctx, bad, reply), Json::LogicError);
  EXPECT_THROW(operations::symboGtcPendingUpdate(ctx, bad, reply), Json::LogicError);
  EXPECT_EQ(3, pumpFake.count("SymbolsRefresh"));

  pauses.clear();
  normalFake.script("CfgUpdateSymbol", {1, 1, 1, 1, 1, 2, 0});
  EXPECT_EQ(-1, code(&operations::symbolTradeUpdate, R"("symbol":"EURUSD","trade":2)"));
  EXPECT_EQ((std::vector<int>{1000, 100, 100, 100, 100}), pauses);
  EXPECT_EQ(200, code(&operations::symbolLeverageUpdate, R"("symbol":"EURUSD","leverage":0)"));
  EXPECT_EQ(0.0, written().margin_divider);
  EXPECT_EQ(10, normalFake.count("CfgUpdateSymbol"));
  EXPECT_EQ(-1007, code(&operations::symboGtcPendingUpdate, R"("symbol":"XAUUSD","gtcPending":1)"));
  EXPECT_EQ(10, normalFake.count("CfgUpdateSymbol"));
  EXPECT_EQ(0, pumpFake.outstandingArrays());
}

TEST_F(SymbolChange, SessionsSetTheFirstOfTheirKindEachDayAndEchoAsReceived) {
  testing::internal::CaptureStdout();
  const Json::Value answer = run(&operations::symboQuoteDateUpdate,
                                 R"("symbol":"EURUSD","conSessions1":{"openHour":65537,"openMin":5,)"
                                 R"("closeHour":20,"closeMin":59}})");
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(200, answer["code"].asInt());
  EXPECT_EQ(65537, answer["data"]["conSessions1"]["openHour"].asInt());
  EXPECT_EQ(0, answer["data"]["conSessions6"]["closeMin"].asInt());
  EXPECT_NE(std::string::npos,
            console.find("EURUSD update  quote date success,trade:" + reply.sent.back()));

  const mt::ConSymbol s = written();
  const mt::ConSession day1 = s.sessions[1].quote[0];
  EXPECT_EQ((std::vector<int>{1, 5, 20, 59}),
            (std::vector<int>{day1.open_hour, day1.open_min, day1.close_hour, day1.close_min}));
  for (int day = 0; day < 7; ++day) {
    if (day != 1) {
      EXPECT_EQ(0, s.sessions[day].quote[0].close_hour) << day;
    }
    // Sessions the request does not name stay as the server gave them.
    EXPECT_EQ(3, s.sessions[day].quote[2].open_hour);
    EXPECT_EQ(30, s.sessions[day].trade[0].open_min);
  }

  EXPECT_EQ(200, code(&operations::symboTraderDateUpdate, R"("symbol":"EURUSD")"));
  EXPECT_EQ(0, written().sessions[3].trade[0].open_hour);
  EXPECT_EQ(1, written().sessions[3].quote[0].open_hour);
  Json::Value bad;
  ASSERT_TRUE(util::parseJson(R"({"symbol":"EURUSD","conSessions2":"09:00"})", &bad));
  EXPECT_THROW(operations::symboTraderDateUpdate(ctx, bad, reply), Json::LogicError);
  EXPECT_EQ(2, normalFake.count("CfgUpdateSymbol"));
}

}  // namespace
