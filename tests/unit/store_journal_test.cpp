// The balance history's journal and compaction, and the fast reader of its
// files beside the JSON library's.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "store/FastHistoryReader.h"
#include "store/FinanceBalanceStore.h"
#include "test_util/TempDir.h"
#include "util/Json.h"

namespace {

using store::FinanceBalance;
using store::FinanceBalanceStore;
using store::HistoryKey;

FinanceBalance record(const std::string& comment, int login, int isHandle = 0, int order = 0) {
  FinanceBalance r;
  r.serial = "s-" + comment;
  r.comment = comment;
  r.amount = 12.5;
  r.login = login;
  r.isHandle = isHandle;
  r.order = order;
  return r;
}

std::vector<std::string> keysOf(const FinanceBalanceStore& store) {
  std::vector<std::string> keys;
  for (const FinanceBalance& r : store.snapshot()) {
    keys.push_back(r.comment + "/" + std::to_string(r.login) + "/" + std::to_string(r.order));
  }
  return keys;
}

class StoreJournalTest : public ::testing::Test {
 protected:
  test_util::TempDir dir_;
  std::string path() const { return dir_.file("financeBalanceHistory"); }
  std::vector<std::string> reloaded() const {
    FinanceBalanceStore again(path());
    EXPECT_EQ(1, again.load());
    return keysOf(again);
  }
};

TEST_F(StoreJournalTest, ChangesReplayOverTheSnapshotAndACutLastLineIsDropped) {
  dir_.write("financeBalanceHistory",
             R"([{"amount":1,"comment":"a","isHandle":0,"login":1,"order":0,"serial":"x"}])" "\n");
  dir_.write("financeBalanceHistory.journal",
             R"({"comment":"a","login":1,"isHandle":1,"order":7})" "\n"
             R"({"comment":"b","login":2,"order":8})" "\n"
             R"({"comment":"a","login":1,"isHandle":1,"order":9})" "\n"
             R"({"comment":"c","login":3,"ord)");
  FinanceBalanceStore balances(path());
  ASSERT_EQ(1, balances.load());
  EXPECT_EQ((std::vector<std::string>{"a/1/9", "b/2/8"}), keysOf(balances));
  // The cut line is gone from the file: the next change is a line of its own.
  balances.putAndSave(record("d", 4, 0, 10));
  EXPECT_EQ((std::vector<std::string>{"a/1/9", "b/2/8", "d/4/10"}), reloaded());

  // A whole last line that does not read is dropped the same way ...
  dir_.write("financeBalanceHistory.journal",
             std::string("{\"comment\":\"e\",\"login\":5}\n\0\0\0\n", 30));
  EXPECT_EQ((std::vector<std::string>{"a/1/0", "e/5/0"}), reloaded());
  // ... but one before the last means a damaged file: nothing is loaded.
  dir_.write("financeBalanceHistory.journal", "garbage\n{\"comment\":\"e\",\"login\":5}\n");
  FinanceBalanceStore damaged(path());
  EXPECT_EQ(-1, damaged.load());
  EXPECT_EQ(0u, damaged.size());
}

TEST_F(StoreJournalTest, CompactionWritesTheSnapshotAndKeepsChangesMadeMeanwhile) {
  FinanceBalanceStore balances(path());
  balances.putAndSave(record("first", 1));
  EXPECT_FALSE(dir_.exists("financeBalanceHistory"));
  // Four writers change the store while compactions run.
  std::atomic<bool> writing{true};
  std::thread compactor([&] {
    while (writing) balances.save();
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&balances, t] {
      for (int i = 0; i < 50; ++i) {
        const FinanceBalance r = record("c" + std::to_string(i), t);
        balances.insertIfAbsentAndSave(store::keyOf(r), r, nullptr);
        balances.markHandled(store::keyOf(r), i + 1);
      }
    });
  }
  for (std::thread& w : writers) w.join();
  writing = false;
  compactor.join();
  const std::vector<std::string> all = keysOf(balances);
  EXPECT_EQ(201u, all.size());
  EXPECT_EQ(all, reloaded());
  // A clean stop leaves everything in the snapshot and an empty journal.
  balances.close();
  EXPECT_EQ("", dir_.read("financeBalanceHistory.journal"));
  EXPECT_EQ(all, reloaded());
}

TEST_F(StoreJournalTest, AJournalLongerThanItsBoundIsCompactedInTheBackground) {
  FinanceBalanceStore balances(path());
  const std::string longText(400, 'x');
  // About 1.5 MiB of journal: past its 1 MiB bound.
  for (int i = 0; i < 3500; ++i) balances.putAndSave(record(longText + std::to_string(i), i));
  balances.putAndSave(record("last", 1));
  // Several compactions run while it is written. The files are read once the
  // journal is back under its bound: the compaction that cut it was the last,
  // and none replaces them while they are read.
  const std::string journal = dir_.file("financeBalanceHistory.journal");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::filesystem::file_size(journal) >= 1u << 20 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_LT(std::filesystem::file_size(journal), 1u << 20);
  EXPECT_TRUE(dir_.exists("financeBalanceHistory"));
  EXPECT_EQ(3501u, reloaded().size());
}

// What the JSON library makes of one element, as the store's loader reads it.
bool libraryRecord(const std::string& text, FinanceBalance* r) {
  Json::Value e;
  if (!util::parseJson(text, &e) || !e.isObject()) return false;
  try {
    *r = FinanceBalance{e.get("serial", "").asString(), e.get("comment", "").asString(),
                        e.get("amount", 0).asDouble(), e.get("login", 0).asInt(),
                        e.get("isHandle", 0).asInt(), e.get("order", 0).asInt(),
                        e.get("cmd", 0).asInt(), e.get("requested", 0).asDouble()};
  } catch (const Json::Exception&) {
    return false;
  }
  return true;
}

TEST(FastHistoryReader, ReadsOnlyWhatItReadsExactlyAsTheJsonLibrary) {
  const std::vector<std::string> read = {
      R"({"amount":1e-7,"comment":"caf\u00e9 \ud83d\ude00","isHandle":1,"login":-2147483648,"order":2147483647,"serial":"s"})",
      R"({"login":5})",
      R"({"amount":-0,"amount":18446744073709551615,"comment":"a\"\\\/\b\f\n\r\t\u0000z","x":[{"y":null}]})",
      R"({"comment":"first","comment":"second","serial":""})",
      R"({"cmd":7,"requested":-2.5e3,"login":1})",
  };
  const std::vector<std::string> refused = {
      R"({"login":1.0})", R"({"login":2147483648})", R"({"login":"5"})", R"({"login":true})",
      R"({"serial":5})", R"({"comment":null})", R"({"amount":"1"})", R"({"amount":1e400})",
      R"({"cmd":6.5})", R"({"requested":"1"})",
      R"(/* note */ {"login":1})", "\xef\xbb\xbf{\"login\":1}", R"({"login":1} x)",
      R"({"login":1,})", R"([{"login":1}])", R"({"serial":"\xff"})",
      "{\"x\":" + std::string(100, '[') + std::string(100, ']') + "}",
  };
  store::FastHistoryReader fast;
  for (const std::string& text : read) {
    FinanceBalance mine;
    FinanceBalance theirs;
    ASSERT_TRUE(fast.readRecord(text, &mine)) << text;
    ASSERT_TRUE(libraryRecord(text, &theirs)) << text;
    EXPECT_EQ(theirs.serial, mine.serial) << text;
    EXPECT_EQ(theirs.comment, mine.comment) << text;
    EXPECT_EQ(theirs.amount, mine.amount) << text;
    EXPECT_EQ(theirs.requested, mine.requested) << text;
    EXPECT_EQ((std::vector<int>{theirs.login, theirs.isHandle, theirs.order, theirs.cmd}),
              (std::vector<int>{mine.login, mine.isHandle, mine.order, mine.cmd}))
        << text;
  }
  for (const std::string& text : refused) {
    FinanceBalance r;
    EXPECT_FALSE(fast.readRecord(text, &r)) << text;
  }
  std::vector<FinanceBalance> records;
  EXPECT_TRUE(fast.readArray("[" + read[0] + "," + read[1] + "]\n", &records));
  EXPECT_EQ(2u, records.size());
  EXPECT_FALSE(fast.readArray("[" + read[0] + ",3]", &records));
}

}  // namespace
