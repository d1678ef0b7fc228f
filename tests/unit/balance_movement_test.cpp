// Balance and credit movements against the fake managers: the choice of the
// working amount, the refusals, the bounded waits, and a request run twice.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "operations/balance/TradeTransInfo.h"
#include "server/FieldText.h"
#include "test_util/OperationTest.h"
#include "test_util/Records.h"
#include "util/Platform.h"

namespace {

constexpr int kLogin = 42;

class Movement : public test_util::OperationTest {
 protected:
  Movement() {
    mt::UserRecord user = test_util::account(kLogin, "", "", "demo");
    user.balance = 100;
    user.credit = 50;
    pumpFake.addUser(user);
    normalFake.setNextTicket(500);
  }
  void setAccount(double balance, double credit) {
    mt::UserRecord user = pumpFake.user(kLogin);
    user.balance = balance;
    user.credit = credit;
    pumpFake.addUser(user);
  }
  // Runs one request; returns its reply.
  Json::Value run(const std::string& fields) {
    Json::Value request;
    EXPECT_TRUE(util::parseJson("{\"serial\":\"s1\",\"login\":42," + fields + "}", &request));
    operations::tradeTransInfo(ctx, request, reply);
    return lastReply();
  }
  // The amount moved by the only transaction since the last look, or
  // "none".
  std::string moved() {
    const auto sent = normalFake.transactions();
    const size_t fresh = sent.size() - seen_;
    seen_ = sent.size();
    if (fresh == 0) return "none";
    EXPECT_EQ(1u, fresh);
    return std::to_string(sent.back().cmd) + ":" + std::to_string(sent.back().price);
  }
  size_t seen_ = 0;
};

TEST_F(Movement, WorkingAmountFollowsTheRouteTheTypeAndBothCreditLimits) {
  config.tradeCancellationCreditTransInfo = "CANCEL";
  struct Case {
    const char* fields;
    double balance, credit;
    std::string moved;
  };
  const Case cases[] = {
      {R"("type":1,"amount":0.00001,"comment":"a")", 100, 50, "none"},
      {R"("type":1,"amount":0.0000101,"comment":"b")", 100, 50, "6:0.000010"},
      {R"("type":1,"amount":-500,"comment":"c","routeType":"TRADE_TRANS_ACTIVITY_GIVE_INFO","margin":-1000)",
       100, 50, "6:-100.000000"},
      {R"("type":2,"amount":100,"comment":"d","creditLimit":80)", 100, 50, "7:30.000000"},
      {R"("type":2,"amount":100,"comment":"e","creditLimit":0)", 100, 50, "7:100.000000"},
      {R"("type":2,"amount":-80,"comment":"f")", 100, 50, "7:-50.000000"},
      {R"("type":2,"amount":-80,"comment":"g")", 100, 0.000005, "none"},
      {R"("type":1,"amount":10,"comment":"h","routeType":"CANCEL")", 100, 50, "7:-50.000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    setAccount(c.balance, c.credit);
    const Json::Value answer = run(c.fields);
    EXPECT_EQ(200, answer["code"].asInt());
    EXPECT_EQ(c.moved, moved());
    if (c.moved == "none") {
      EXPECT_EQ(-1, answer["data"]["order"].asInt());
    }
  }
  // Without a configured cancellation route, no routeType is no removal.
  config.tradeCancellationCreditTransInfo.clear();
  EXPECT_EQ(200, run(R"("type":1,"amount":10,"comment":"i")")["code"].asInt());
  EXPECT_EQ("6:10.000000", moved());
}

TEST_F(Movement, DepositIsRecordedAndASecondRunAnswersTheFirstTicket) {
  const std::string fields = R"("type":1,"amount":25,"comment":"dep-1","routeType":"R")";
  Json::Value first = run(fields);
  EXPECT_EQ(200, first["code"].asInt());
  EXPECT_EQ(500, first["data"]["order"].asInt());
  const mt::TradeTransInfo info = normalFake.lastTradeTransInfo();
  EXPECT_EQ(mt::TT_BR_BALANCE, info.type);
  EXPECT_EQ(kLogin, info.orderby);
  EXPECT_EQ("dep-1", mt::fieldText(info.comment));
  EXPECT_EQ(0, info.expiration);
  store::FinanceBalance stored;
  ASSERT_TRUE(balances.find({"dep-1", kLogin}, &stored));
  EXPECT_EQ(1, stored.isHandle);
  EXPECT_EQ(500, stored.order);

  Json::Value second = run(fields);
  EXPECT_EQ(200, second["code"].asInt());
  EXPECT_EQ(500, second["data"]["order"].asInt());
  EXPECT_EQ(1u, normalFake.transactions().size());

  // The same comment for another movement is no repeat: refused, nothing
  // moved, the record on file unchanged.
  for (const char* other : {R"("type":1,"amount":26,"comment":"dep-1")",
                            R"("type":2,"amount":25,"comment":"dep-1")"}) {
    EXPECT_EQ(-1011, run(other)["code"].asInt()) << other;
  }
  EXPECT_EQ(1u, normalFake.transactions().size());
  ASSERT_TRUE(balances.find({"dep-1", kLogin}, &stored));
  EXPECT_EQ(25, stored.amount);
  EXPECT_EQ(500, stored.order);

  // Carried out without a known ticket, and not in the history: done, not
  // moved again.
  balances.putAndSave({"s2", "dep-2", 25, kLogin, 1, 0});
  Json::Value third = run(R"("type":1,"amount":25,"comment":"dep-2")");
  EXPECT_EQ(200, third["code"].asInt());
  EXPECT_EQ(0, third["data"]["order"].asInt());
  EXPECT_EQ(1u, normalFake.transactions().size());
}

TEST_F(Movement, WithdrawalChecksRefuseAndCreditsExpire) {
  // Floating reported, no open trades: ten reads 100 ms apart, then -1001.
  EXPECT_EQ(-1001, run(R"("type":1,"amount":-10,"comment":"w1","routeType":"R","floating":5)")["code"].asInt());
  EXPECT_EQ(10, pumpFake.count("TradesGetByLogin"));
  // What would be left against the margin, within the tolerance.
  EXPECT_EQ(-1000, run(R"("type":1,"amount":-50,"comment":"w2","margin":50.00002)")["code"].asInt());
  EXPECT_EQ("none", moved());
  EXPECT_EQ(200, run(R"("type":1,"amount":-50,"comment":"w3","margin":50.000005)")["code"].asInt());
  // Open losses count: 100 - 30 - 50 - 25 < 0.
  pumpFake.addOpenTrade(test_util::trade(0, kLogin, mt::OP_BUY, "", -30));
  EXPECT_EQ(-1000, run(R"("type":1,"amount":-50,"comment":"w4","margin":25)")["code"].asInt());

  normalFake.setServerTime(1000);
  EXPECT_EQ(200, run(R"("type":2,"amount":5,"comment":"c5")")["code"].asInt());
  EXPECT_EQ(1000 + 315360000, normalFake.lastTradeTransInfo().expiration);
}

TEST_F(Movement, ARepeatIsAnsweredWithTheMovementOnFileWhateverTheAccountHoldsNow) {
  // A grant cut to its limit, and a removal of all that is left.
  Json::Value grant = run(R"("type":2,"amount":100,"comment":"g1","creditLimit":80)");
  EXPECT_EQ("7:30.000000", moved());
  setAccount(100, 80);
  Json::Value removal = run(R"("type":2,"amount":-200,"comment":"r1")");
  EXPECT_EQ("7:-80.000000", moved());
  setAccount(100, 0);
  for (const auto& [fields, first] :
       {std::pair{R"("type":2,"amount":100,"comment":"g1","creditLimit":80)", grant},
        std::pair{R"("type":2,"amount":-200,"comment":"r1")", removal}}) {
    const Json::Value again = run(fields);
    EXPECT_EQ(200, again["code"].asInt());
    EXPECT_EQ(first["data"]["order"], again["data"]["order"]);
    EXPECT_EQ(first["data"]["amount"], again["data"]["amount"]);
    EXPECT_EQ("none", moved());
  }
}

TEST_F(Movement, WhatCannotBeMadeSafeIsRefusedBeforeAnyCall) {
  struct Case {
    const char* fields;
    int code;
  };
  const Case cases[] = {
      // No key: the history could never find it, nor tell two apart.
      {R"("type":1,"amount":5,"comment":"")", -1010},
      {R"("type":1,"amount":5,"comment":"\u0000x")", -1010},
      {R"("type":1,"amount":5,"comment":"k","login":4294967338)", -1014},  // 2^32 + 42
      {R"("type":1,"amount":5,"comment":"k","login":0)", -1014},
      {R"("type":1,"amount":1e300,"comment":"k")", -1015},
      {R"("type":1,"amount":-1e13,"comment":"k")", -1015},
      {R"("type":2,"amount":5,"comment":"k","creditLimit":1e300)", -1015},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    Json::Value request;
    ASSERT_TRUE(util::parseJson(std::string("{\"serial\":\"s1\",\"login\":42,") + c.fields + "}",
                                &request));
    operations::tradeTransInfo(ctx, request, reply);
    EXPECT_EQ(c.code, lastReply()["code"].asInt());
  }
  EXPECT_EQ(0, managerCalls());
  EXPECT_EQ(0u, balances.size());
}

TEST_F(Movement, AMovementThatCannotBeRecordedDoesNotMove) {
  int faults = 1;
  const platform::AppendFaultHook previous =
      platform::setAppendFaultHook([&](const std::string&) { return faults-- > 0 ? ENOSPC : 0; });
  EXPECT_EQ(-1013, run(R"("type":1,"amount":5,"comment":"full")")["code"].asInt());
  EXPECT_EQ("none", moved());
  EXPECT_FALSE(balances.find({"full", kLogin}, nullptr));
  // Sent again once the disk has room: moved once.
  EXPECT_EQ(200, run(R"("type":1,"amount":5,"comment":"full")")["code"].asInt());
  EXPECT_EQ("6:5.000000", moved());
  platform::setAppendFaultHook(previous);
}

TEST_F(Movement, BusyAccountReadIsBoundedAndAFailedTransactionIsNegated) {
  pumpFake.setDefault("UserRecordGet", 2);
  EXPECT_EQ(-2, run(R"("type":1,"amount":5,"comment":"x")")["code"].asInt());
  EXPECT_EQ(51, pumpFake.count("UserRecordGet"));
  EXPECT_EQ(std::vector<int>(50, 100), pauses);

  pumpFake.setDefault("UserRecordGet", 0);
  normalFake.script("TradeTransaction", {134});
  EXPECT_EQ(-134, run(R"("type":1,"amount":5,"comment":"y")")["code"].asInt());
  store::FinanceBalance stored;
  ASSERT_TRUE(balances.find({"y", kLogin}, &stored));
  EXPECT_EQ(0, stored.isHandle);
}

}  // namespace
