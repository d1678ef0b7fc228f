// Deciding from the balance-history store and the server's recent history
// whether a movement was already carried out.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FakeManager.h"
#include "server/ManagerLink.h"
#include "operations/balance/BalanceHistoryCheck.h"
#include "store/FinanceBalanceStore.h"
#include "test_util/Records.h"
#include "test_util/TempDir.h"
#include "util/Pause.h"

namespace {

using store::FinanceBalance;
using store::FinanceBalanceStore;
using store::HistoryKey;
using test_util::trade;
using testing_support::FakeManager;

constexpr int kLogin = 42;
constexpr mt::ServerTimeT kNow = 1765000000;

FinanceBalance request(const std::string& serial, const std::string& comment,
                       double amount) {
  FinanceBalance r;
  r.serial = serial;
  r.comment = comment;
  r.amount = amount;
  r.login = kLogin;
  return r;
}

// Returns the history of the next account: trades of another login.
class ForeignHistoryFake : public FakeManager {
 public:
  mt::TradeRecord* TradesUserHistory(int login, mt::ServerTimeT from,
                                     mt::ServerTimeT to, int* total) override {
    return FakeManager::TradesUserHistory(login + 1, from, to, total);
  }
};

class BalanceHistoryCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.setServerTime(kNow);
    fake_.setConnected(true);
    previousHook_ = util::setPauseHook([this](int ms) {
      pauses_.push_back(ms);
      events_.push_back("pause");
    });
  }
  void TearDown() override {
    util::setPauseHook(previousHook_);
    EXPECT_EQ(0, fake_.outstandingArrays());
    EXPECT_EQ(0, fake_.badFrees());
  }

  int check(FinanceBalance* record, server::ManagerLink* link = nullptr) {
    testing::internal::CaptureStdout();
    operations::RememberedAction movement(balances_, *record);
    int result = operations::checkFinanceBalanceHistory(link ? *link : link_, movement, [this] {
      ++reconnects_;
      events_.push_back("reconnect");
      return 1;
    });
    *record = movement.record();
    console_ = testing::internal::GetCapturedStdout();
    return result;
  }

  FinanceBalance stored(const std::string& comment) {
    FinanceBalance r;
    EXPECT_TRUE(balances_.find(HistoryKey{comment, kLogin}, &r));
    return r;
  }

  test_util::TempDir dir_;
  FakeManager fake_;  // outlives link_
  server::ManagerLink link_{&fake_};
  FinanceBalanceStore balances_{dir_.file("financeBalanceHistory")};
  util::PauseHook previousHook_;
  std::vector<int> pauses_;
  std::vector<std::string> events_;
  int reconnects_ = 0;
  std::string console_;
};

TEST_F(BalanceHistoryCheckTest, AbsentKeyIsStoredAndSavedThenFoundInHistory) {
  fake_.addHistory(trade(501, kLogin, 6, "other", 10));
  fake_.addHistory(trade(502, kLogin, 6, "dep-1", 10));
  fake_.addHistory(trade(503, kLogin, 6, "dep-1", 10));
  FinanceBalance record = request("S1", "dep-1", 10);

  EXPECT_EQ(502, check(&record));
  EXPECT_EQ(1, record.isHandle);
  EXPECT_EQ(502, record.order);
  EXPECT_EQ(
      "mapFinanceBalanceHistory.find start\n"
      "mapFinanceBalanceHistory.find end\n"
      "ite == mapFinanceBalanceHistory.end()\n"
      "outFinanceBalanceHistoryFile\n"
      "TradesUserHistory start\n"
      "TradesUserHistory end\n",
      console_);
  FinanceBalance r = stored("dep-1");
  EXPECT_EQ(1, r.isHandle);
  EXPECT_EQ(502, r.order);
  FinanceBalanceStore reloaded(balances_.path());
  ASSERT_EQ(1, reloaded.load());
  ASSERT_TRUE(reloaded.find(HistoryKey{"dep-1", kLogin}, &r));
  EXPECT_EQ(502, r.order);

  // One history call over the last three days of server time.
  ASSERT_EQ(1, fake_.count("TradesUserHistory"));
  for (const auto& call : fake_.calls()) {
    if (call.name != "TradesUserHistory") continue;
    EXPECT_EQ((std::vector<std::string>{"42", std::to_string(kNow - 259200),
                                        std::to_string(kNow)}),
              call.args);
  }
  EXPECT_TRUE(pauses_.empty());
}

TEST_F(BalanceHistoryCheckTest, AbsentKeyWithoutHistoryCostsSixCallsAndFivePauses) {
  FinanceBalance record = request("S1", "dep-1", 10);
  EXPECT_EQ(0, check(&record));
  EXPECT_EQ(0, record.isHandle);
  EXPECT_EQ(0, record.order);
  EXPECT_EQ(6, fake_.count("TradesUserHistory"));
  EXPECT_EQ(std::vector<int>(5, 1000), pauses_);
  EXPECT_EQ(0, reconnects_);
  std::string expected =
      "mapFinanceBalanceHistory.find start\n"
      "mapFinanceBalanceHistory.find end\n"
      "ite == mapFinanceBalanceHistory.end()\n"
      "outFinanceBalanceHistoryFile\n"
      "TradesUserHistory start\n";
  for (int i = 0; i < 6; ++i) expected += "TradesUserHistory fail\n";
  expected += "TradesUserHistory end\n";
  EXPECT_EQ(expected, console_);

  // The record was saved unhandled before the search.
  FinanceBalanceStore reloaded(balances_.path());
  ASSERT_EQ(1, reloaded.load());
  FinanceBalance r;
  ASSERT_TRUE(reloaded.find(HistoryKey{"dep-1", kLogin}, &r));
  EXPECT_EQ(0, r.isHandle);
  EXPECT_EQ("S1", r.serial);
}

TEST_F(BalanceHistoryCheckTest, HistoryThatComesBackLateIsStillSearched) {
  fake_.script("TradesUserHistory", {2, 2});
  fake_.addHistory(trade(700, kLogin, 6, "dep-1", 10));
  FinanceBalance record = request("S1", "dep-1", 10);
  EXPECT_EQ(700, check(&record));
  EXPECT_EQ(3, fake_.count("TradesUserHistory"));
  EXPECT_EQ(std::vector<int>(2, 1000), pauses_);
}

TEST_F(BalanceHistoryCheckTest, PresentUnhandledRecordIsNeverGuessedMoved) {
  // Left unhandled by a stop: maybe moved, for the amount on file.
  FinanceBalance earlier = request("S0", "dep-1", 10);
  balances_.put(earlier);
  FinanceBalance record = request("S1", "dep-1", 99);

  // The history cannot be read: it fails, or comes back empty while the
  // link is down. Refused, the store unchanged.
  fake_.script("TradesUserHistory", std::vector<int>(6, 6));
  EXPECT_EQ(-1012, check(&record));
  fake_.setConnected(false);
  EXPECT_EQ(-1012, check(&record));
  EXPECT_EQ(12, fake_.count("TradesUserHistory"));
  EXPECT_NE(std::string::npos, console_.find("request refused (-1012)"));
  EXPECT_FALSE(dir_.exists("financeBalanceHistory.journal"));

  // Read and without it: never moved; the record becomes this movement.
  fake_.setConnected(true);
  fake_.addHistory(trade(800, kLogin, 6, "dep-2", 10));
  EXPECT_EQ(0, check(&record));
  EXPECT_EQ(
      "mapFinanceBalanceHistory.find start\n"
      "mapFinanceBalanceHistory.find end\n"
      "ite != mapFinanceBalanceHistory.end()\n"
      "TradesUserHistory start\n"
      "TradesUserHistory end\n",
      console_);
  FinanceBalanceStore reloaded(balances_.path());
  ASSERT_EQ(1, reloaded.load());
  FinanceBalance r;
  ASSERT_TRUE(reloaded.find(HistoryKey{"dep-1", kLogin}, &r));
  EXPECT_EQ(99, r.amount);

  // Moved for the amount on file: found, whatever this run would move.
  fake_.addHistory(trade(801, kLogin, 6, "dep-1", 99));
  record = request("S1", "dep-1", 5);
  EXPECT_EQ(801, check(&record));
  EXPECT_EQ(99, record.amount);
}

TEST_F(BalanceHistoryCheckTest, HandledRecordAnswersItsStoredTicketWithoutServer) {
  FinanceBalance earlier = request("S0", "dep-1", 12.5);
  earlier.isHandle = 1;
  earlier.order = 900;
  balances_.put(earlier);
  FinanceBalance record = request("S1", "dep-1", 12.5);

  EXPECT_EQ(900, check(&record));
  EXPECT_EQ(900, record.order);
  EXPECT_EQ(
      "mapFinanceBalanceHistory.find start\n"
      "mapFinanceBalanceHistory.find end\n"
      "ite != mapFinanceBalanceHistory.end()\n"
      "ite->second.isHandle == 1\n"
      "crm balance:dep-1, order 900,balacne Operation completed 12.50 for 42\n",
      console_);
  EXPECT_TRUE(fake_.calls().empty());
}

TEST_F(BalanceHistoryCheckTest, HandledWithoutTicketIsFoundBySerialAfterReconnects) {
  FinanceBalance earlier = request("SER-9", "SER-9", 5);
  earlier.isHandle = 1;
  balances_.put(earlier);
  fake_.script("TradesUserHistory", {6, 6});
  fake_.addHistory(trade(1200, kLogin, 0, "SER-9", 5));  // a buy: never matched
  fake_.addHistory(trade(1201, kLogin, 7, "SER-9", 5));  // a credit is a movement too
  FinanceBalance record = request("SER-9", "SER-9", 5);

  EXPECT_EQ(1201, check(&record));
  EXPECT_EQ(1, record.isHandle);
  EXPECT_EQ(1201, record.order);
  EXPECT_EQ(3, fake_.count("TradesUserHistory"));
  EXPECT_EQ((std::vector<std::string>{"pause", "reconnect", "pause", "reconnect"}),
            events_);
  EXPECT_EQ(1201, stored("SER-9").order);
  FinanceBalanceStore reloaded(balances_.path());
  ASSERT_EQ(1, reloaded.load());
  EXPECT_EQ(1u, reloaded.size());
}

TEST_F(BalanceHistoryCheckTest, HandledWithoutTicketAndNoHistoryAnswersZero) {
  FinanceBalance earlier = request("SER-9", "c", 5);
  earlier.isHandle = 1;
  balances_.put(earlier);
  FinanceBalance record = request("SER-9", "c", 5);

  EXPECT_EQ(0, check(&record));
  EXPECT_EQ(0, record.order);
  EXPECT_EQ(6, fake_.count("TradesUserHistory"));
  EXPECT_EQ(std::vector<int>(5, 1000), pauses_);
  EXPECT_EQ(5, reconnects_);
  EXPECT_NE(std::string::npos,
            console_.find("crm balance:c, order 0,balacne Operation completed "
                          "5.00 for 42\n"));
}

TEST_F(BalanceHistoryCheckTest, OnlyTheMovementItselfMatches) {
  fake_.addHistory(trade(2, kLogin, 0, "grant", 1));     // a buy
  fake_.addHistory(trade(3, kLogin, 6, "grant2", 1));    // longer comment
  fake_.addHistory(trade(4, kLogin, 6, "gran", 1));      // shorter comment
  fake_.addHistory(trade(6, kLogin, 7, "grant", 1.02));  // another amount
  fake_.addHistory(trade(7, kLogin, 6, "grant", 1));     // a deposit, not a credit
  fake_.addHistory(trade(8, kLogin, 7, "grant", 1));     // the ticket of another record
  FinanceBalance other = request("S0", "other", 1);
  other.isHandle = 1;
  other.order = 8;
  balances_.put(other);
  FinanceBalance record = request("S", "grant", 1);
  record.cmd = 7;
  EXPECT_EQ(0, check(&record));
  EXPECT_EQ(0, stored("grant").isHandle);

  // The credit itself, its amount as the server keeps it in cents.
  fake_.addHistory(trade(5, kLogin, 7, "grant", 1.004));
  EXPECT_EQ(5, check(&record));
  EXPECT_EQ(5, stored("grant").order);
}

TEST_F(BalanceHistoryCheckTest, EmptyCommentNeverMatchesTheHistory) {
  fake_.addHistory(trade(9, kLogin, 6, "", 1));
  FinanceBalance record = request("S", "", 1);
  EXPECT_EQ(0, check(&record));
}

TEST_F(BalanceHistoryCheckTest, TradesOfAnotherAccountNeverMatch) {
  ForeignHistoryFake foreign;
  foreign.setServerTime(kNow);
  foreign.setConnected(true);
  foreign.addHistory(trade(77, kLogin + 1, 6, "dep", 1));
  {
    server::ManagerLink link(&foreign);
    FinanceBalance record = request("S", "dep", 1);
    EXPECT_EQ(0, check(&record, &link));
    EXPECT_EQ(1, foreign.count("TradesUserHistory"));
  }
  EXPECT_EQ(0, foreign.outstandingArrays());
}

TEST_F(BalanceHistoryCheckTest, CommentIsComparedAsTheServerKeepsIt) {
  // The server keeps 31 bytes of a longer comment, in its own text.
  mt::TradeRecord kept = trade(55, kLogin, 6, std::string(31, 'A'), 1);
  kept.margin_rate = 1;  // the bytes after the field are not zero
  fake_.addHistory(kept);
  FinanceBalance longer = request("S", std::string(40, 'A'), 1);
  EXPECT_EQ(55, check(&longer));
  // Another comment with the same 31 bytes is another movement: the trade
  // is the first one's, and only a trade of its own answers it.
  FinanceBalance sibling = request("S2", std::string(31, 'A') + "-B", 1);
  EXPECT_EQ(0, check(&sibling));
  fake_.addHistory(trade(57, kLogin, 6, std::string(31, 'A'), 1));
  EXPECT_EQ(57, check(&sibling));

  // A field filled without terminator is read within its 32 bytes, which
  // no cut comment equals.
  fake_.clearHistory();
  mt::TradeRecord full = trade(56, kLogin, 6, "", 1);
  std::memset(full.comment, 'B', sizeof(full.comment));
  fake_.addHistory(full);
  FinanceBalance exact = request("S", std::string(32, 'B'), 1);
  EXPECT_EQ(0, check(&exact));
}

TEST_F(BalanceHistoryCheckTest, CommentsThatRunTogetherAlikeAreDifferentMovements) {
  FinanceBalance first = request("S1", "ABC", 1);
  first.login = 42;
  first.isHandle = 1;
  first.order = 11;
  balances_.put(first);
  FinanceBalance second = request("S2", "ABC4", 1);
  second.login = 2;
  testing::internal::CaptureStdout();
  operations::RememberedAction movement(balances_, second);
  int result = operations::checkFinanceBalanceHistory(link_, movement, [] { return 1; });
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(0, result);  // not answered with the ticket of ("ABC", 42)
  EXPECT_EQ(2u, balances_.size());
}

TEST_F(BalanceHistoryCheckTest, WithoutInterfaceSearchGivesUpAfterSixAttempts) {
  server::ManagerLink empty(static_cast<mt::CManagerInterface*>(nullptr));
  FinanceBalance record = request("S", "dep", 1);
  EXPECT_EQ(0, check(&record, &empty));
  EXPECT_EQ(std::vector<int>(5, 1000), pauses_);
}

}  // namespace
