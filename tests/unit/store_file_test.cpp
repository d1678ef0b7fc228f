// Loading and saving the balance-history and account identity stores.
#include <gtest/gtest.h>

#include <cerrno>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "store/FinanceBalanceFile.h"
#include "store/FinanceBalanceStore.h"
#include "store/StoreCheck.h"
#include "store/UserInfoStore.h"
#include "test_util/TempDir.h"
#include "util/Platform.h"
#include "util/Json.h"

namespace {

using store::FinanceBalance;
using store::FinanceBalanceStore;
using store::HistoryKey;
using store::UserIdentity;
using store::UserInfoStore;

FinanceBalance makeRecord(const std::string& serial, const std::string& comment,
                          double amount, int login, int isHandle, int order) {
  return FinanceBalance{serial, comment, amount, login, isHandle, order, 0, 0};
}

// What the JSON library's compact writer makes of the same records.
std::string libraryText(const std::vector<FinanceBalance>& records) {
  Json::Value root(Json::arrayValue);
  for (const FinanceBalance& r : records) {
    Json::Value e;
    e["serial"] = r.serial;
    e["comment"] = r.comment;
    e["amount"] = r.amount;
    e["login"] = r.login;
    e["isHandle"] = r.isHandle;
    e["order"] = r.order;
    if (r.cmd != 0) e["cmd"] = r.cmd;
    if (r.requested != 0) e["requested"] = r.requested;
    root.append(e);
  }
  return util::writeCompactJson(root);
}

class StoreFileTest : public ::testing::Test {
 protected:
  test_util::TempDir dir_;
  std::string historyPath() const { return dir_.file("financeBalanceHistory"); }
  std::string userPath() const { return dir_.file("userInfo"); }
};

// ---- Loading -------------------------------------------------------------

TEST_F(StoreFileTest, MissingOrEmptyFilesGiveEmptyStores) {
  FinanceBalanceStore balances(historyPath());
  UserInfoStore users(userPath());
  EXPECT_EQ(1, store::loadFinanceBalanceHistory(balances));
  EXPECT_EQ(1, store::loadUserInfo(users));
  EXPECT_EQ(0u, balances.size());
  EXPECT_EQ(0u, users.size());

  dir_.write("financeBalanceHistory", "");
  dir_.write("userInfo", "");
  EXPECT_EQ(1, balances.load());
  EXPECT_EQ(1, users.load());
  EXPECT_EQ(0u, balances.size());
  EXPECT_EQ(0u, users.size());
}

TEST_F(StoreFileTest, ContentThatIsNotAnArrayFailsAndLeavesStoresEmpty) {
  FinanceBalanceStore balances(historyPath());
  UserInfoStore users(userPath());
  dir_.write("financeBalanceHistory",
             R"([{"serial":"s","comment":"c","amount":1,"login":1}])");
  dir_.write("userInfo", R"([{"login":7,"name":"n"}])");
  ASSERT_EQ(1, balances.load());
  ASSERT_EQ(1, users.load());
  ASSERT_EQ(1u, balances.size());

  for (const char* text : {R"({"serial":"s"})", "not json", "[1,", "42", "\"x\"",
                           "null", "   "}) {
    SCOPED_TRACE(text);
    dir_.write("financeBalanceHistory", text);
    dir_.write("userInfo", text);
    EXPECT_EQ(-1, balances.load());
    EXPECT_EQ(-1, users.load());
    EXPECT_EQ(0u, balances.size());
    EXPECT_EQ(0u, users.size());
    EXPECT_EQ(store::historyStoreProblem(historyPath()),
              "store file " + historyPath() + " is not a JSON array");
    EXPECT_EQ(store::userInfoProblem(userPath()), "store file " + userPath() + " is not a JSON array");
  }
}

TEST_F(StoreFileTest, ReadsFieldsAndMissingKeysReadAsEmptyOrZero) {
  dir_.write("financeBalanceHistory",
             R"([{"serial":"S1","comment":"dep","amount":12.5,"login":42,"isHandle":1,"order":900},
                 {"comment":"bare","login":3},
                 {"serial":"n","comment":null,"login":5,"amount":null}])");
  FinanceBalanceStore balances(historyPath());
  ASSERT_EQ(1, balances.load());
  ASSERT_EQ(3u, balances.size());
  FinanceBalance r;
  ASSERT_TRUE(balances.find(HistoryKey{"dep", 42}, &r));
  EXPECT_EQ(std::make_tuple(std::string("S1"), 12.5, 1, 900),
            std::tie(r.serial, r.amount, r.isHandle, r.order));
  ASSERT_TRUE(balances.find(HistoryKey{"bare", 3}, &r));
  EXPECT_EQ(std::make_tuple(std::string(""), 0.0, 0, 0),
            std::tie(r.serial, r.amount, r.isHandle, r.order));
  EXPECT_TRUE(balances.find(HistoryKey{"", 5}, &r));

  dir_.write("userInfo",
             R"([{"login":7,"name":"Ann","email":"a@x","group":"g1","comment":"c","leadSource":"web"},
                 {"login":8}])");
  UserInfoStore users(userPath());
  ASSERT_EQ(1, users.load());
  UserIdentity u;
  ASSERT_TRUE(users.find(7, &u));
  EXPECT_EQ((std::vector<std::string>{"Ann", "a@x", "g1", "c", "web"}),
            (std::vector<std::string>{u.name, u.email, u.group, u.comment, u.leadSource}));
  ASSERT_TRUE(users.find(8, &u));
  EXPECT_EQ("", u.name);
}

TEST_F(StoreFileTest, LaterElementWithTheSameKeyWins) {
  dir_.write("financeBalanceHistory",
             R"([{"serial":"first","comment":"c","login":1,"order":1},
                 {"serial":"other","comment":"c","login":2,"order":2},
                 {"serial":"second","comment":"c","login":1,"order":3}])");
  FinanceBalanceStore balances(historyPath());
  ASSERT_EQ(1, balances.load());
  EXPECT_EQ(2u, balances.size());
  FinanceBalance r;
  ASSERT_TRUE(balances.find(HistoryKey{"c", 1}, &r));
  EXPECT_EQ("second", r.serial);
  EXPECT_EQ(3, r.order);

  dir_.write("userInfo", R"([{"login":7,"name":"old"},{"login":7,"name":"new"}])");
  UserInfoStore users(userPath());
  ASSERT_EQ(1, users.load());
  UserIdentity u;
  ASSERT_TRUE(users.find(7, &u));
  EXPECT_EQ("new", u.name);
  EXPECT_EQ(1u, users.size());
}

TEST_F(StoreFileTest, CommentAndLoginThatRunTogetherAlikeStayApart) {
  // "ABC" + 42 and "ABC4" + 2 both read "ABC42" when run together.
  dir_.write("financeBalanceHistory",
             R"([{"serial":"a","comment":"ABC","login":42,"order":1},
                 {"serial":"b","comment":"ABC4","login":2,"order":2}])");
  FinanceBalanceStore balances(historyPath());
  ASSERT_EQ(1, balances.load());
  ASSERT_EQ(2u, balances.size());
  FinanceBalance r;
  ASSERT_TRUE(balances.find(HistoryKey{"ABC", 42}, &r));
  EXPECT_EQ("a", r.serial);
  ASSERT_TRUE(balances.find(HistoryKey{"ABC4", 2}, &r));
  EXPECT_EQ("b", r.serial);
  EXPECT_FALSE(balances.find(HistoryKey{"ABC42", 0}, &r));

  // Empty comments of one account share a key.
  balances.put(makeRecord("x", "", 1, 9, 1, 5));
  balances.put(makeRecord("y", "", 2, 9, 0, 0));
  ASSERT_TRUE(balances.find(HistoryKey{"", 9}, &r));
  EXPECT_EQ("y", r.serial);
  EXPECT_EQ(3u, balances.size());
}

TEST_F(StoreFileTest, ValuesOfTheWrongKindFailTheWholeLoad) {
  FinanceBalanceStore balances(historyPath());
  const char* bad[] = {
      R"([{"comment":"c","login":1},7])",                       // not an object
      R"([null])",                                              // not an object
      R"([[1,2]])",                                             // an array
      R"([{"comment":{"a":1},"login":1}])",                     // object as text
      R"([{"comment":"c","login":[1]}])",                       // array as number
      R"([{"comment":"c","login":"12"}])",                      // text as number
      R"([{"comment":"c","login":1,"amount":"1.5"}])",          // text as amount
      R"([{"comment":"c","login":4294967296}])",                // beyond 32 bits
      R"([{"comment":"c","login":1,"order":1e300}])",           // beyond 32 bits
  };
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    dir_.write("financeBalanceHistory",
               R"([{"serial":"ok","comment":"ok","login":1}])");
    ASSERT_EQ(1, balances.load());
    dir_.write("financeBalanceHistory", text);
    EXPECT_EQ(-1, balances.load());
    EXPECT_EQ(0u, balances.size());
    EXPECT_EQ(store::historyStoreProblem(historyPath()),
              "store file " + historyPath() + " holds a record that does not read");
  }

  UserInfoStore users(userPath());
  for (const char* text : {R"([{"login":"7"}])", R"([{"login":7,"name":{}}])",
                           R"([3])"}) {
    SCOPED_TRACE(text);
    dir_.write("userInfo", text);
    EXPECT_EQ(-1, users.load());
    EXPECT_EQ(0u, users.size());
    EXPECT_EQ(store::userInfoProblem(userPath()),
              "store file " + userPath() + " holds a record that does not read");
  }
}

TEST_F(StoreFileTest, ChecksNameTheFileThatWouldNotLoadAndWriteNothing) {
  const std::string journal = store::journalPathOf(historyPath());
  const std::string record = R"({"comment":"c","login":1})";
  // A torn last line loads (load() cuts it); the check leaves it.
  dir_.write("financeBalanceHistory", "[" + record + "]");
  dir_.write("financeBalanceHistory.journal", record + "\n" + record);
  EXPECT_EQ(store::historyStoreProblem(historyPath()), "");
  EXPECT_EQ(dir_.read("financeBalanceHistory.journal"), record + "\n" + record);
  dir_.write("financeBalanceHistory.journal", record + "\n{\"login\":\n" + record + "\n");
  EXPECT_EQ(store::historyStoreProblem(historyPath()),
            "store file " + journal + " line 2 does not read");
  std::filesystem::remove(journal);
  std::filesystem::create_directory(journal);
  EXPECT_EQ(store::historyStoreProblem(historyPath()), "store file " + journal + " cannot be read");
  std::filesystem::create_directory(userPath());
  EXPECT_EQ(store::userInfoProblem(userPath()), "store file " + userPath() + " cannot be read");
}

TEST_F(StoreFileTest, HostileContentNeverCrashes) {
  FinanceBalanceStore balances(historyPath());
  UserInfoStore users(userPath());
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string deepObject = "[" + std::string(50000, '{') ;
  const std::string hugeNumber = "[{\"comment\":\"c\",\"login\":1,\"amount\":1" +
                                 std::string(5000, '0') + "}]";
  const std::string badUtf8 = "[{\"comment\":\"\xff\xfe\xc3(\",\"login\":1}]";
  const std::string nul = std::string("[{\"comment\":\"a", 14) + '\0' + "b\"}]";
  for (const std::string& text : {deep, deepObject, hugeNumber, badUtf8, nul}) {
    dir_.write("financeBalanceHistory", text);
    dir_.write("userInfo", text);
    int r = balances.load();
    EXPECT_TRUE(r == 1 || r == -1);
    r = users.load();
    EXPECT_TRUE(r == 1 || r == -1);
  }
  dir_.write("financeBalanceHistory", deep);
  EXPECT_EQ(-1, balances.load());

  // A directory in place of the file is not an empty store.
  std::filesystem::create_directory(dir_.file("asDir"));
  FinanceBalanceStore onDir(dir_.file("asDir"));
  EXPECT_EQ(-1, onDir.load());
}

// ---- Saving --------------------------------------------------------------

TEST_F(StoreFileTest, SaveWritesTheCompactArrayInKeyOrder) {
  FinanceBalanceStore balances(historyPath());
  balances.put(makeRecord("s2", "b", -20.25, 7, 0, 0));
  balances.put(makeRecord("s1", "a", 100, 9, 1, 12345));
  balances.put(makeRecord("s0", "a", 0.1, 10, 1, 5));
  FinanceBalance knowsItsRequest = makeRecord("s3", "c", -30, 7, 0, 0);
  knowsItsRequest.cmd = 7;
  knowsItsRequest.requested = -50;
  balances.put(knowsItsRequest);
  EXPECT_EQ(1, store::saveFinanceBalanceHistory(balances));
  EXPECT_EQ(
      "[{\"amount\":100.0,\"comment\":\"a\",\"isHandle\":1,\"login\":9,\"order\":12345,\"serial\":\"s1\"},"
      "{\"amount\":0.10000000000000001,\"comment\":\"a\",\"isHandle\":1,\"login\":10,\"order\":5,\"serial\":\"s0\"},"
      "{\"amount\":-20.25,\"comment\":\"b\",\"isHandle\":0,\"login\":7,\"order\":0,\"serial\":\"s2\"},"
      "{\"amount\":-30.0,\"cmd\":7,\"comment\":\"c\",\"isHandle\":0,\"login\":7,\"order\":0,"
      "\"requested\":-50.0,\"serial\":\"s3\"}]\n",
      dir_.read("financeBalanceHistory"));
  EXPECT_FALSE(dir_.exists("financeBalanceHistory.tmp"));
  EXPECT_EQ(libraryText(balances.snapshot()), dir_.read("financeBalanceHistory"));
  FinanceBalanceStore reloaded(historyPath());
  ASSERT_EQ(1, reloaded.load());
  FinanceBalance r;
  ASSERT_TRUE(reloaded.find(HistoryKey{"c", 7}, &r));
  EXPECT_EQ(7, r.cmd);
  EXPECT_EQ(-50, r.requested);
}

TEST_F(StoreFileTest, SavedTextMatchesTheJsonLibraryForAnyValidText) {
  const std::vector<std::string> texts = {
      "", "plain", "quote\" back\\ slash/", "\b\f\n\r\t\x01\x1f\x7f",
      std::string("nul\0inside", 10), "caf\xc3\xa9", "\xe4\xb8\xad\xe6\x96\x87",
      "\xf0\x9f\x98\x80 emoji", "\xef\xbf\xbf", "\xf4\x8f\xbf\xbf"};
  const std::vector<double> amounts = {0, -0.0, 1, -1, 0.1, 1e-7, 123456789.125,
                                       1e21, -3.5e-300, 1.7976931348623157e308};
  std::mt19937 rng(7);
  store::FinanceBalanceMap map;
  std::vector<FinanceBalance> inOrder;
  for (size_t i = 0; i < 200; ++i) {
    FinanceBalance r = makeRecord(texts[rng() % texts.size()] + std::to_string(i),
                                  texts[rng() % texts.size()] + std::to_string(i),
                                  amounts[rng() % amounts.size()],
                                  static_cast<int>(rng()), static_cast<int>(rng() % 2),
                                  static_cast<int>(rng()));
    map[store::keyOf(r)] = r;
  }
  for (const auto& e : map) inOrder.push_back(e.second);
  EXPECT_EQ(libraryText(inOrder), store::encodeFinanceBalanceHistory(inOrder));
}

TEST_F(StoreFileTest, SaveAndLoadRoundTripEveryText) {
  FinanceBalanceStore balances(historyPath());
  // Valid and invalid UTF-8, control bytes, a lone surrogate's bytes.
  const std::vector<std::string> texts = {
      "caf\xc3\xa9", "\xff\xfe", "\xc3(", "\xed\xa0\x80", "\xc0\xaf", "a\"b\\c\n",
      std::string("x\0y", 3), "\xf0\x9f\x98\x80", "\xf0\x9f\x98"};
  int login = 1;
  for (const std::string& t : texts) {
    balances.put(makeRecord(t, t, login * 1.25, login, login % 2, login * 10));
    ++login;
  }
  balances.save();
  FinanceBalanceStore reloaded(historyPath());
  ASSERT_EQ(1, reloaded.load());
  std::vector<FinanceBalance> before = balances.snapshot();
  std::vector<FinanceBalance> after = reloaded.snapshot();
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(before[i].serial, after[i].serial) << i;
    EXPECT_EQ(before[i].comment, after[i].comment) << i;
    EXPECT_EQ(before[i].amount, after[i].amount) << i;
    EXPECT_EQ(before[i].login, after[i].login) << i;
    EXPECT_EQ(before[i].isHandle, after[i].isHandle) << i;
    EXPECT_EQ(before[i].order, after[i].order) << i;
  }
}

TEST_F(StoreFileTest, AmountsOutOfRangeStillLoadBack) {
  FinanceBalanceStore balances(historyPath());
  balances.put(makeRecord("a", "a", std::numeric_limits<double>::infinity(), 1, 1, 1));
  balances.put(makeRecord("b", "b", -std::numeric_limits<double>::infinity(), 1, 1, 2));
  balances.put(makeRecord("c", "c", std::numeric_limits<double>::quiet_NaN(), 1, 1, 3));
  balances.save();
  FinanceBalanceStore reloaded(historyPath());
  ASSERT_EQ(1, reloaded.load());
  ASSERT_EQ(3u, reloaded.size());
  FinanceBalance r;
  ASSERT_TRUE(reloaded.find(HistoryKey{"a", 1}, &r));
  EXPECT_EQ(std::numeric_limits<double>::max(), r.amount);
  ASSERT_TRUE(reloaded.find(HistoryKey{"b", 1}, &r));
  EXPECT_EQ(std::numeric_limits<double>::lowest(), r.amount);
  ASSERT_TRUE(reloaded.find(HistoryKey{"c", 1}, &r));
  EXPECT_EQ(0, r.amount);
  EXPECT_EQ(3, r.order);
}

TEST_F(StoreFileTest, EmptyStoreSavesAnEmptyFileThatLoadsBack) {
  dir_.write("financeBalanceHistory", R"([{"comment":"c","login":1}])");
  FinanceBalanceStore balances(historyPath());
  FinanceBalanceStore empty(historyPath());
  empty.save();
  EXPECT_EQ("", dir_.read("financeBalanceHistory"));
  EXPECT_EQ(1, balances.load());
  EXPECT_EQ(0u, balances.size());
}

TEST_F(StoreFileTest, FailedCompactionKeepsTheOldFilesAndIsReported) {
  FinanceBalanceStore balances(historyPath());
  balances.putAndSave(makeRecord("s", "c", 1, 1, 0, 0));
  balances.save();
  const std::string before = dir_.read("financeBalanceHistory");
  // A directory where the temporary file goes makes the write fail.
  std::filesystem::create_directory(dir_.file("financeBalanceHistory.tmp"));
  balances.putAndSave(makeRecord("s2", "c2", 2, 2, 0, 0));
  testing::internal::CaptureStdout();
  balances.save();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(before, dir_.read("financeBalanceHistory"));
  EXPECT_NE(std::string::npos, out.find("financeBalanceHistory save failed"));
  EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n'));
  // The change stays in the journal.
  FinanceBalanceStore reloaded(historyPath());
  ASSERT_EQ(1, reloaded.load());
  EXPECT_EQ(2u, reloaded.size());
}

TEST_F(StoreFileTest, MarkHandledChangesAndSavesOnlyAPresentRecord) {
  FinanceBalanceStore balances(historyPath());
  balances.put(makeRecord("s", "c", 1, 1, 0, 0));
  EXPECT_FALSE(balances.markHandled(HistoryKey{"c", 2}, 77));
  EXPECT_FALSE(dir_.exists("financeBalanceHistory.journal"));
  EXPECT_TRUE(balances.markHandled(HistoryKey{"c", 1}, 77));
  FinanceBalanceStore reloaded(historyPath());
  ASSERT_EQ(1, reloaded.load());
  FinanceBalance r;
  ASSERT_TRUE(reloaded.find(HistoryKey{"c", 1}, &r));
  EXPECT_EQ(1, r.isHandle);
  EXPECT_EQ(77, r.order);

  // A change the journal cannot take (a full disk) is not made, except a
  // movement marked carried out: kept, and written by the first snapshot
  // that can be written.
  testing::internal::CaptureStdout();  // the failures reported
  const platform::AppendFaultHook previous =
      platform::setAppendFaultHook([](const std::string&) { return ENOSPC; });
  const bool marked = balances.markHandled(HistoryKey{"c", 1}, 78);
  const bool put = balances.putAndSave(makeRecord("s", "d", 1, 1, 0, 0));
  const FinanceBalanceStore::Insert inserted = balances.insertIfAbsentAndSave(
      HistoryKey{"e", 1}, makeRecord("s", "e", 1, 1, 0, 0), nullptr);
  platform::setAppendFaultHook(previous);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(marked);
  EXPECT_FALSE(put);
  EXPECT_EQ(FinanceBalanceStore::Insert::kNotDurable, inserted);
  EXPECT_EQ(1u, balances.recordsOf(1).size());
  EXPECT_TRUE(balances.putAndSave(makeRecord("s", "f", 1, 2, 0, 0)));  // asks again
  for (int i = 0; i < 500 && r.order != 78; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    FinanceBalanceStore again(historyPath());
    ASSERT_TRUE(again.load() == 1 && again.find(HistoryKey{"c", 1}, &r));
  }
  EXPECT_EQ(78, r.order);
}

TEST_F(StoreFileTest, ConcurrentChangesAndSavesStayConsistent) {
  FinanceBalanceStore balances(historyPath());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&balances, t] {
      for (int i = 0; i < 10; ++i) {
        balances.putAndSave(makeRecord("s", "c" + std::to_string(i), i, t, 0, 0));
        balances.markHandled(HistoryKey{"c" + std::to_string(i), t}, i + 1);
        FinanceBalance r;
        balances.find(HistoryKey{"c0", t}, &r);
      }
    });
  }
  for (auto& th : threads) th.join();
  FinanceBalanceStore reloaded(historyPath());
  ASSERT_EQ(1, reloaded.load());
  EXPECT_EQ(40u, reloaded.size());
  for (const FinanceBalance& r : reloaded.snapshot()) EXPECT_EQ(1, r.isHandle);
}

TEST_F(StoreFileTest, IdentityStoreChangesInMemoryOnly) {
  dir_.write("userInfo", R"([{"login":7,"name":"a"}])");
  UserInfoStore users(userPath());
  ASSERT_EQ(1, users.load());
  UserIdentity u;
  u.login = 8;
  u.name = "b";
  users.set(u);
  users.remove(7);
  EXPECT_FALSE(users.find(7, &u));
  EXPECT_TRUE(users.find(8, &u));
  EXPECT_EQ(R"([{"login":7,"name":"a"}])", dir_.read("userInfo"));
}

}  // namespace
