// The pumping handler against real stores (files in a temporary folder)
// and a fake pumping manager.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "FakeManager.h"
#include "messaging/EventPublisher.h"
#include "server/Connections.h"
#include "server/FieldText.h"
#include "operations/PumpEvent.h"
#include "server/StopFlag.h"
#include "store/FinanceBalanceStore.h"
#include "store/UserInfoStore.h"
#include "test_util/Records.h"
#include "test_util/TempDir.h"

namespace {

using test_util::account;
using test_util::trade;
using testing_support::FakeManager;

class PumpEventTest : public ::testing::Test {
 protected:
  void SetUp() override { operations::setPumpTargets(&balances_, &users_, &pumping_); }
  void TearDown() override { operations::setPumpTargets(nullptr, nullptr, nullptr); }

  bool historyFileExists() const { return dir_.exists("financeBalanceHistory.journal"); }

  void remember(const std::string& comment, int login) {
    store::FinanceBalance record;
    record.serial = "s-" + comment;
    record.comment = comment;
    record.amount = 10;
    record.login = login;
    balances_.put(record);  // in memory only: no file yet
  }

  store::FinanceBalance stored(const std::string& comment, int login) {
    store::FinanceBalance out;
    EXPECT_TRUE(balances_.find(store::HistoryKey{comment, login}, &out));
    return out;
  }

  test_util::TempDir dir_;
  FakeManager fake_;
  server::ManagerLink pumping_{&fake_};
  store::FinanceBalanceStore balances_{dir_.file("financeBalanceHistory")};
  store::UserInfoStore users_{dir_.file("userInfo")};
};

TEST_F(PumpEventTest, BalanceAndCreditTradesMarkTheirRecordHandled) {
  remember("dep-1", 5001);
  remember("cred-1", 5001);
  mt::TradeRecord balance = trade(9001, 5001, mt::OP_BALANCE, "dep-1", 10);
  operations::pumpEvent(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, &balance,
                    nullptr);
  store::FinanceBalance r = stored("dep-1", 5001);
  EXPECT_EQ(1, r.isHandle);
  EXPECT_EQ(9001, r.order);
  EXPECT_TRUE(historyFileExists());

  mt::TradeRecord credit = trade(9002, 5001, mt::OP_CREDIT, "cred-1", 10);
  operations::pumpEvent(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, &credit,
                    nullptr);
  EXPECT_EQ(9002, stored("cred-1", 5001).order);

  // The saved file holds both.
  store::FinanceBalanceStore reread(balances_.path());
  ASSERT_EQ(1, reread.load());
  EXPECT_EQ(2u, reread.size());
}

TEST_F(PumpEventTest, UnknownKeyChangesNothingAndWritesNoFile) {
  remember("ABC", 42);
  // Same characters run together, different movement.
  mt::TradeRecord other = trade(1, 2, mt::OP_BALANCE, "ABC4", 10);
  operations::pumpEvent(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, &other, nullptr);
  mt::TradeRecord otherLogin = trade(1, 43, mt::OP_BALANCE, "ABC", 10);
  operations::pumpEvent(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, &otherLogin,
                    nullptr);
  EXPECT_EQ(0, stored("ABC", 42).isHandle);
  EXPECT_EQ(1u, balances_.size());
  EXPECT_FALSE(historyFileExists());
}

TEST_F(PumpEventTest, ATradeThatMayBeAnotherMovementMarksNothing) {
  remember("ABC", 42);
  store::FinanceBalance credit = stored("ABC", 42);
  credit.cmd = mt::OP_CREDIT;
  balances_.put(credit);
  // Two movements whose comments share the 31 bytes the server keeps.
  const std::string shared(31, 'S');
  remember(shared + "-A", 42);
  remember(shared + "-B", 42);
  store::FinanceBalance holder = stored(shared + "-A", 42);
  holder.comment = "held";
  holder.isHandle = 1;
  holder.order = 3;
  balances_.put(holder);
  for (mt::TradeRecord t : {trade(1, 42, mt::OP_CREDIT, "ABC", 11),      // another amount
                            trade(2, 42, mt::OP_BALANCE, "ABC", 10),     // another kind
                            trade(3, 42, mt::OP_CREDIT, "ABC", 10),      // held by "held"
                            trade(4, 42, mt::OP_BALANCE, shared, 10)}) {  // -A or -B
    operations::pumpEvent(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, &t, nullptr);
  }
  for (const char* comment : {"ABC", "SSSSSSSSSSSSSSSSSSSSSSSSSSSSSSS-A",
                              "SSSSSSSSSSSSSSSSSSSSSSSSSSSSSSS-B"}) {
    EXPECT_EQ(0, stored(comment, 42).isHandle) << comment;
  }
  EXPECT_FALSE(historyFileExists());
}

TEST_F(PumpEventTest, OtherTransactionTypesAndCommandsAreIgnored) {
  remember("dep", 7);
  for (int type : {0, 2, 3, -1}) {
    mt::TradeRecord t = trade(5, 7, mt::OP_BALANCE, "dep", 10);
    operations::pumpEvent(mt::PUMP_UPDATE_TRADES, type, &t, nullptr);
  }
  for (int cmd : {0, 1, 5, 8}) {
    mt::TradeRecord t = trade(5, 7, cmd, "dep", 10);
    operations::pumpEvent(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, &t, nullptr);
  }
  // The same record as an account event or an unknown event: ignored.
  mt::TradeRecord t = trade(5, 7, mt::OP_BALANCE, "dep", 10);
  operations::pumpEvent(mt::PUMP_UPDATE_ONLINE, mt::TRANS_DELETE, &t, nullptr);
  EXPECT_EQ(0, stored("dep", 7).isHandle);
  EXPECT_FALSE(historyFileExists());
}

TEST_F(PumpEventTest, CommentIsReadWithinItsFieldAndComparedAsTheServerKeepsIt) {
  const std::string full(sizeof(mt::TradeRecord::comment), 'x');
  remember(full + "yz", 8);
  mt::TradeRecord t = trade(77, 8, mt::OP_BALANCE, full, 10);  // no terminator
  operations::pumpEvent(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, &t, nullptr);
  EXPECT_EQ(0, stored(full + "yz", 8).order);  // 32 bytes: not what was sent
  t = trade(78, 8, mt::OP_BALANCE, full.substr(1), 10);
  operations::pumpEvent(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, &t, nullptr);
  EXPECT_EQ(78, stored(full + "yz", 8).order);
}

TEST_F(PumpEventTest, AccountChangesUpdateIdentitiesInMemoryOnly) {
  mt::UserRecord added = account(100, "Ann", "ann@example.com", "demo", "c", "web");
  operations::pumpEvent(mt::PUMP_UPDATE_USERS, mt::TRANS_ADD, &added, nullptr);
  store::UserIdentity id;
  ASSERT_TRUE(users_.find(100, &id));
  EXPECT_EQ("Ann", id.name);
  EXPECT_EQ("ann@example.com", id.email);
  EXPECT_EQ("demo", id.group);
  EXPECT_EQ("c", id.comment);
  EXPECT_EQ("web", id.leadSource);

  mt::UserRecord updated = account(100, "Bob");
  mt::setField(updated.lead_source, std::string(40, 'L'));  // fills field
  operations::pumpEvent(mt::PUMP_UPDATE_USERS, mt::TRANS_UPDATE, &updated,
                    nullptr);
  ASSERT_TRUE(users_.find(100, &id));
  EXPECT_EQ("Bob", id.name);
  EXPECT_EQ(std::string(sizeof(updated.lead_source), 'L'), id.leadSource);

  mt::UserRecord unknownType = account(100, "Eve");
  operations::pumpEvent(mt::PUMP_UPDATE_USERS, 7, &unknownType, nullptr);
  ASSERT_TRUE(users_.find(100, &id));
  EXPECT_EQ("Bob", id.name);

  operations::pumpEvent(mt::PUMP_UPDATE_USERS, mt::TRANS_DELETE, &updated,
                    nullptr);
  EXPECT_FALSE(users_.find(100, &id));
  EXPECT_FALSE(dir_.exists("userInfo"));
}

TEST_F(PumpEventTest, MissingDataOrTargetsAreIgnored) {
  remember("dep", 7);
  operations::pumpEvent(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, nullptr,
                    nullptr);
  operations::pumpEvent(mt::PUMP_UPDATE_USERS, mt::TRANS_ADD, nullptr, nullptr);
  operations::pumpEvent(mt::PUMP_UPDATE_USERS, mt::TRANS_DELETE, nullptr,
                    nullptr);
  EXPECT_EQ(0u, users_.size());
  operations::setPumpTargets(nullptr, nullptr, nullptr);
  mt::TradeRecord t = trade(5, 7, mt::OP_BALANCE, "dep", 10);
  mt::UserRecord u = account(1, "A");
  operations::pumpEvent(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, &t, nullptr);
  operations::pumpEvent(mt::PUMP_UPDATE_USERS, mt::TRANS_ADD, &u, nullptr);
  operations::pumpEvent(mt::PUMP_UPDATE_BIDASK, 0, nullptr, nullptr);
  EXPECT_EQ(0, stored("dep", 7).isHandle);
  EXPECT_EQ(0u, users_.size());
  EXPECT_EQ(0, fake_.count("SymbolInfoUpdated"));
}

TEST_F(PumpEventTest, QuotesAreReadUntilNoneAreLeftAndTheLoopIsBounded) {
  fake_.script("SymbolInfoUpdated", {32, 32, 5, 0});
  operations::pumpEvent(mt::PUMP_UPDATE_BIDASK, 0, nullptr, nullptr);
  auto calls = fake_.calls();
  ASSERT_EQ(4u, calls.size());
  for (const auto& c : calls) {
    EXPECT_EQ("SymbolInfoUpdated", c.name);
    EXPECT_EQ(std::vector<std::string>{"32"}, c.args);
  }
  fake_.clearCalls();
  fake_.script("SymbolInfoUpdated", {-1});
  operations::pumpEvent(mt::PUMP_UPDATE_BIDASK, 0, nullptr, nullptr);
  EXPECT_EQ(1, fake_.count("SymbolInfoUpdated"));

  // An interface that always has more never keeps the handler forever.
  fake_.clearCalls();
  fake_.script("SymbolInfoUpdated", {});
  fake_.setDefault("SymbolInfoUpdated", 32);
  operations::pumpEvent(mt::PUMP_UPDATE_BIDASK, 0, nullptr, nullptr);
  EXPECT_EQ(1000, fake_.count("SymbolInfoUpdated"));
}

TEST_F(PumpEventTest, QuoteEventNeverWaitsForTheLinkLock) {
  fake_.script("SymbolInfoUpdated", {3, 0});
  // The handler runs while another thread is inside a call on the link.
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  pumping_.call(0, [&](mt::CManagerInterface&) {
    std::thread([&done] {
      operations::pumpEvent(mt::PUMP_UPDATE_BIDASK, 0, nullptr, nullptr);
      done.set_value();
    }).detach();
    EXPECT_EQ(std::future_status::ready,
              finished.wait_for(std::chrono::seconds(10)));
    return 0;
  });
  EXPECT_EQ(2, fake_.count("SymbolInfoUpdated"));
}

TEST_F(PumpEventTest, HandlerGivenToPumpingReachesTheStores) {
  server::clearStop();
  remember("w-1", 3);
  ASSERT_EQ(1, server::connectPumpingManager(pumping_, &operations::pumpEvent));
  mt::TradeRecord t = trade(4242, 3, mt::OP_BALANCE, "w-1", 10);
  ASSERT_TRUE(fake_.firePump(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, &t));
  EXPECT_EQ(4242, stored("w-1", 3).order);
}

// The events reach the sink as the reads give the records, a pumping start
// asks for a resync, quotes never reach it; a full buffer drops events and
// owes a resync instead of queuing one.
TEST_F(PumpEventTest, ChangesAreOfferedAsEventsAndAFullBufferDropsThem) {
  messaging::EventPublisher events;
  events.configure(3);
  operations::setPumpTargets(&balances_, &users_, &pumping_, &events, 3600);
  remember("dep-1", 5001);
  mt::TradeRecord balance = trade(9001, 5001, mt::OP_BALANCE, "dep-1", 10);
  balance.timestamp = 1700003600;
  mt::UserRecord user = account(5001, "Ann");
  operations::pumpEvent(mt::PUMP_START_PUMPING, 0, nullptr, nullptr);
  operations::pumpEvent(mt::PUMP_UPDATE_BIDASK, 0, nullptr, nullptr);
  operations::pumpEvent(mt::PUMP_UPDATE_TRADES, mt::TRANS_DELETE, &balance, nullptr);
  operations::pumpEvent(mt::PUMP_UPDATE_USERS, mt::TRANS_UPDATE, &user, nullptr);
  EXPECT_EQ(9001, stored("dep-1", 5001).order);  // the store is kept as before
  std::deque<Json::Value> waiting = events.waiting();
  ASSERT_EQ(3u, waiting.size());
  EXPECT_EQ("resync", waiting[0]["event"].asString());
  EXPECT_EQ("start", waiting[0]["action"].asString());
  EXPECT_EQ("trade", waiting[1]["event"].asString());
  EXPECT_EQ("delete", waiting[1]["action"].asString());
  EXPECT_EQ(9001, waiting[1]["data"]["order"].asInt());
  EXPECT_EQ(1700000000000LL, waiting[1]["time"].asInt64());
  EXPECT_EQ("account", waiting[2]["event"].asString());
  EXPECT_EQ("update", waiting[2]["action"].asString());
  EXPECT_EQ("Ann", waiting[2]["data"]["name"].asString());

  // Full: the next change and the next resync are not queued.
  operations::pumpEvent(mt::PUMP_UPDATE_USERS, mt::TRANS_ADD, &user, nullptr);
  operations::pumpEvent(mt::PUMP_START_PUMPING, 0, nullptr, nullptr);
  EXPECT_EQ(3u, events.waiting().size());
  events.stop();
  operations::pumpEvent(mt::PUMP_START_PUMPING, 0, nullptr, nullptr);
  EXPECT_TRUE(events.waiting().empty());
  operations::setPumpTargets(nullptr, nullptr, nullptr);
}

}  // namespace
