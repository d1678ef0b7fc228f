// Trade import and closing an account's trades against the fake managers:
// what is sent to the server, the time-zone shift, and requests run twice.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "operations/balance/CloseUserTrades.h"
#include "operations/balance/ImportTrade.h"
#include "server/FieldText.h"
#include "test_util/OperationTest.h"
#include "test_util/Records.h"
#include "util/Platform.h"

namespace {

constexpr int kLogin = 42;

mt::TradeRecord openTrade(int order, int cmd, const std::string& comment) {
  mt::TradeRecord t = test_util::trade(order, kLogin, cmd, comment, 0);
  t.volume = 10;
  t.close_price = 1.25;
  mt::setField(t.symbol, "EURUSD");
  return t;
}

class TradeOps : public test_util::OperationTest {
 protected:
  TradeOps() {
    pumpFake.addUser(test_util::account(kLogin));
    normalFake.setNextTicket(500);
    config.timeZone = 7200;
  }
  Json::Value import(const std::string& fields) {
    Json::Value request;
    EXPECT_TRUE(util::parseJson("{\"login\":42," + fields + "}", &request));
    operations::importTrade(ctx, request, reply);
    return lastReply();
  }
};

TEST_F(TradeOps, ClosedBuyIsOpenedClosedRewrittenShiftedAndImportedOnce) {
  normalFake.addOpenTrade(openTrade(500, 0, "imp-1"));
  const std::string fields =
      R"("serial":"imp-1","cmd":0,"symbol":"EURUSD","volume":10,"openTime":1700000000123,)"
      R"("closeTime":1700003600000,"openPrice":1.1,"closePrice":1.2,"profit":50,)"
      R"("commission":-1,"storage":-2,"taxes":-0.5,"comment":"hello")";
  Json::Value first = import(fields);
  EXPECT_EQ(200, first["code"].asInt());
  EXPECT_EQ(500, first["data"]["newOrder"].asInt());
  EXPECT_EQ(1700000000, first["data"]["openTime"].asInt());  // no shift in the reply

  const auto sent = normalFake.transactions();
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ(mt::TT_BR_ORDER_OPEN, sent[0].type);
  EXPECT_EQ("imp-1", mt::fieldText(sent[0].comment));  // found by its serial until rewritten
  EXPECT_EQ(1.1, sent[0].price);
  EXPECT_EQ(mt::TT_BR_ORDER_CLOSE, sent[1].type);
  EXPECT_EQ(500, sent[1].order);
  EXPECT_EQ(1.2, sent[1].price);
  EXPECT_EQ(1700003600, sent[1].expiration);
  const mt::TradeRecord written = normalFake.lastTradeRecord();
  EXPECT_EQ(1700007200, written.open_time);
  EXPECT_EQ(1700010800, written.close_time);
  EXPECT_EQ(3, written.state);  // closed
  EXPECT_EQ(50, written.profit);
  EXPECT_EQ(-2, written.storage);
  EXPECT_EQ("hello", mt::fieldText(written.comment));
  EXPECT_EQ(1, normalFake.count("AdmBalanceFix"));

  Json::Value again = import(fields);
  EXPECT_EQ(200, again["code"].asInt());
  EXPECT_EQ(500, again["data"]["newOrder"].asInt());
  EXPECT_EQ(2u, normalFake.transactions().size());
  EXPECT_EQ(1, normalFake.count("AdmTradeRecordModify"));
}

TEST_F(TradeOps, ARefusedRewriteLeavesTheImportForARepeatToFinish) {
  normalFake.addOpenTrade(openTrade(500, 0, "imp-9"));
  normalFake.script("AdmTradeRecordModify", {3});
  const std::string fields = R"("serial":"imp-9","cmd":0,"symbol":"EURUSD","volume":10,)"
                             R"("openPrice":1.1,"profit":50)";
  EXPECT_EQ(-3, import(fields)["code"].asInt());
  EXPECT_EQ(0, normalFake.count("AdmBalanceFix"));
  Json::Value again = import(fields);
  EXPECT_EQ(200, again["code"].asInt());
  EXPECT_EQ(500, again["data"]["newOrder"].asInt());
  EXPECT_EQ(1u, normalFake.transactions().size());
  EXPECT_EQ(2, normalFake.count("AdmTradeRecordModify"));
}

TEST_F(TradeOps, ImportsThatCannotBeMadeSafeAreRefused) {
  mt::TradeRecord foreign = openTrade(800, 0, "x");
  foreign.login = kLogin + 1;
  normalFake.addOpenTrade(foreign);
  EXPECT_EQ(-1016, import(R"("serial":"n","cmd":0,"newOrder":800,"profit":5)")["code"].asInt());
  EXPECT_EQ(-1010, import(R"("serial":"","cmd":6,"openPrice":100)")["code"].asInt());
  EXPECT_EQ(-1010, import(R"("cmd":0,"symbol":"EURUSD","volume":10)")["code"].asInt());
  EXPECT_EQ(-1015, import(R"("serial":"p","cmd":0,"profit":-2e13)")["code"].asInt());
  EXPECT_EQ(0, normalFake.count("AdmTradeRecordModify"));
  EXPECT_TRUE(normalFake.transactions().empty());
  EXPECT_EQ(0u, balances.size() + imports.size());
}

TEST_F(TradeOps, ImportStoppedAfterOpeningIsFinishedWithoutASecondTrade) {
  imports.putAndSave({"imp-2", "imp-2", 1.1, kLogin, 0, 0});  // opened, ticket not saved
  mt::TradeRecord smaller = openTrade(599, 0, "imp-2");  // another trade, same comment
  smaller.volume = 5;
  pumpFake.addOpenTrade(smaller);
  pumpFake.addOpenTrade(openTrade(600, 0, "imp-2"));
  normalFake.addOpenTrade(openTrade(600, 0, "imp-2"));
  Json::Value answer =
      import(R"("serial":"imp-2","cmd":0,"symbol":"EURUSD","volume":10,"openPrice":1.1)");
  EXPECT_EQ(200, answer["code"].asInt());
  EXPECT_EQ(600, answer["data"]["newOrder"].asInt());
  EXPECT_TRUE(normalFake.transactions().empty());
  EXPECT_EQ(600, normalFake.lastTradeRecord().order);
  store::FinanceBalance done;
  ASSERT_TRUE(imports.find({"imp-2", kLogin}, &done));
  EXPECT_EQ(1, done.isHandle);
  EXPECT_EQ(600, done.order);

  // Opened, but its ticket not on disk (a full disk): not rewritten; a
  // repeat finds the trade by its serial instead of opening a second.
  pumpFake.addOpenTrade(openTrade(500, 0, "t-9"));
  normalFake.addOpenTrade(openTrade(500, 0, "t-9"));
  int appends = 0;
  const platform::AppendFaultHook previous = platform::setAppendFaultHook(
      [&](const std::string&) { return ++appends >= 2 ? ENOSPC : 0; });
  const std::string fields = R"("serial":"t-9","cmd":0,"symbol":"EURUSD","volume":10,)"
                             R"("openPrice":1.1)";
  EXPECT_EQ(-1013, import(fields)["code"].asInt());
  EXPECT_EQ(-1013, import(fields)["code"].asInt());  // found by its serial, still not on disk
  EXPECT_EQ(1, normalFake.count("AdmTradeRecordModify"));  // imp-2's only
  platform::setAppendFaultHook(previous);
  answer = import(fields);
  EXPECT_EQ(200, answer["code"].asInt());
  EXPECT_EQ(500, answer["data"]["newOrder"].asInt());
  EXPECT_EQ(1u, normalFake.transactions().size());
}

TEST_F(TradeOps, BalanceImportMovesOnceAndAnswersItsTicketInOrder) {
  normalFake.addOpenTrade(openTrade(500, 6, "bal-1"));  // the record it fetches
  const std::string fields = R"("serial":"bal-1","cmd":6,"openPrice":100,"order":7)";
  EXPECT_EQ(200, import(fields)["code"].asInt());
  EXPECT_EQ("bal-1", mt::fieldText(normalFake.lastTradeTransInfo().comment));
  Json::Value again = import(fields);
  EXPECT_EQ(200, again["code"].asInt());
  EXPECT_EQ(500, again["data"]["order"].asInt());
  EXPECT_EQ(1u, normalFake.transactions().size());
  // The serial reused for another amount is no repeat.
  EXPECT_EQ(-1011, import(R"("serial":"bal-1","cmd":6,"openPrice":101)")["code"].asInt());
  EXPECT_EQ(1u, normalFake.transactions().size());

  // Moved, but its ticket not on disk (a full disk): not rewritten, which
  // would take it out of the server's recent history; a repeat finishes it.
  normalFake.addOpenTrade(openTrade(501, 6, "bal-2"));
  int appends = 0;
  const platform::AppendFaultHook previous = platform::setAppendFaultHook(
      [&](const std::string&) { return ++appends >= 2 ? ENOSPC : 0; });
  const std::string moved = R"("serial":"bal-2","cmd":6,"openPrice":100)";
  const int rewrites = normalFake.count("AdmTradeRecordModify");
  EXPECT_EQ(-1013, import(moved)["code"].asInt());
  EXPECT_EQ(rewrites, normalFake.count("AdmTradeRecordModify"));
  EXPECT_EQ(-1013, import(moved)["code"].asInt());  // the mark still in memory only
  EXPECT_EQ(rewrites, normalFake.count("AdmTradeRecordModify"));
  platform::setAppendFaultHook(previous);
  EXPECT_EQ(200, import(moved)["code"].asInt());
  EXPECT_EQ(rewrites + 1, normalFake.count("AdmTradeRecordModify"));
  EXPECT_EQ(2u, normalFake.transactions().size());
}

TEST_F(TradeOps, BalanceImportStoppedBeforeItsRewriteIsRewrittenWithoutMovingAgain) {
  // Moved and remembered, then stopped: the record still has the server's times.
  balances.putAndSave({"bal-2", "bal-2", 100, kLogin, 1, 700});
  normalFake.addOpenTrade(openTrade(700, 6, "bal-2"));
  Json::Value answer = import(
      R"("serial":"bal-2","cmd":6,"openPrice":100,"openTime":1700000000000,"closeTime":1700000000000)");
  EXPECT_EQ(200, answer["code"].asInt());
  EXPECT_EQ(700, answer["data"]["order"].asInt());
  EXPECT_TRUE(normalFake.transactions().empty());
  EXPECT_EQ(700, normalFake.lastTradeRecord().order);
  EXPECT_EQ(1700007200, normalFake.lastTradeRecord().open_time);
  EXPECT_EQ(1700007200, normalFake.lastTradeRecord().close_time);
  EXPECT_EQ(1, normalFake.count("AdmBalanceFix"));

  // One already rewritten is answered without touching it.
  balances.putAndSave({"bal-3", "bal-3", 100, kLogin, 1, 701});
  mt::TradeRecord rewritten = openTrade(701, 6, "bal-3");
  rewritten.open_time = rewritten.close_time = 1700007200;
  normalFake.addOpenTrade(rewritten);
  EXPECT_EQ(200, import(R"("serial":"bal-3","cmd":6,"openPrice":100,)"
                        R"("openTime":1700000000000,"closeTime":1700000000000)")["code"].asInt());
  EXPECT_EQ(1, normalFake.count("AdmTradeRecordModify"));
  EXPECT_TRUE(normalFake.transactions().empty());
}

TEST_F(TradeOps, ClosingLiquidatesInOrderAndStopsAtTheFirstFailure) {
  pumpFake.addOpenTrade(openTrade(1, 0, ""));
  pumpFake.addOpenTrade(openTrade(2, 2, ""));  // buy limit
  Json::Value request;
  ASSERT_TRUE(util::parseJson(R"({"login":42.9,"serial":"c1"})", &request));
  EXPECT_EQ(200, operations::closeUserTrades(ctx, request, reply));
  EXPECT_EQ(42, lastReply()["data"]["login"].asInt());
  const mt::TradeTransInfo close = normalFake.lastTradeTransInfo();
  EXPECT_EQ(mt::TT_BR_ORDER_CLOSE, close.type);
  EXPECT_EQ(1.25, close.price);
  EXPECT_EQ("stopout", mt::fieldText(close.comment));
  EXPECT_EQ(1, normalFake.count("AdmTradesDelete"));

  normalFake.script("TradeTransaction", {3});
  EXPECT_EQ(-3, operations::closeUserTrades(ctx, request, reply));
  EXPECT_EQ(1, normalFake.count("AdmTradesDelete"));

  pumpFake.setDefault("TradesGetByLogin", 1);
  EXPECT_EQ(-1002, operations::closeUserTrades(ctx, request, reply));
}

}  // namespace
